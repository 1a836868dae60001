// FormGenerators.h - the record file and image sequence forms of qir-gen.
#pragma once

#include "RecordingGenerator.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qir::gen {

/// checkGenSpec for record files and image sequences.
std::string checkFormSpec(const GenSpec& spec);
/// Bytes of one frame: a Video record (with the CAN record before it), or
/// the pixels of one image.
uint64_t formFrameBytes(const GenSpec& spec);

/// Video records of chunk containers: per frame one data chunk per line of
/// width x bpp / 8 bytes, with meta data, frame start and frame end chunks.
uint32_t generateRecordFile(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop);

/// A directory of one image file per frame, written as a temporary
/// directory beside `path` and renamed to it when complete. `path` must not
/// exist yet.
uint32_t generateImageDirectory(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop);

/// The name of image `frame` of `spec` in its directory.
std::string imageFileName(const GenSpec& spec, uint32_t frame);

} // namespace qir::gen
