// orvane-sim on orvane-air (--air): the board's medium becomes a mirror of the shared air, the core
// tells the air when it could next act, and a restart (a standby's wake-up, a reset, a power cut)
// ends the process and leaves its start to the air, so a sleeping node costs nothing.
#pragma once

#include <string>

namespace sim {

class Board;

// Joins the board to the air of its --air option. False with a message for orvane-sim's error
// output when the air cannot be reached or refuses the node.
bool joinAir(Board& board, std::string& message);

}  // namespace sim
