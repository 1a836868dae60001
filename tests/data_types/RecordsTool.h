// The qir-records program the tool tests run: the one this tree built.
#pragma once

#include <string>

namespace qir::data_types {

inline const std::string kTool = QIR_RECORDS_TOOL;

} // namespace qir::data_types
