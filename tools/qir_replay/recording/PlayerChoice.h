// PlayerChoice.h - which player component replays a recording, and what the
// unit client needs to be told for its samples.
#pragma once

#include "Recording.h"

#include <string>

namespace qir::replay {

struct PlayerChoice {
    std::string model;          ///< the player component
    std::string unitProperties; ///< more properties of the unit client: ", Name = value" each
};

PlayerChoice playerChoice(const Recording& recording);

} // namespace qir::replay
