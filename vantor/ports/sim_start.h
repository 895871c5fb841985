// Starting the Vantor inside orvane-sim: its options, its database, its radio on the medium.
#pragma once

#include <string>

#include "board.h"
#include "options.h"

namespace vantor {

// The database orvane-sim uses: --vantor-db, else vantor.sqlite in the state folder (in memory
// without a state folder).
std::string simDatabasePath(const sim::Board& board);
// Checks --vantor-fault; false with a message for orvane-sim's error output.
bool checkSimOptions(const sim::Options& options, std::string& message);
// Opens the database and puts the Vantor on the board's medium for the rest of the process
// (unless --no-vantor). False with a message when the database cannot be used.
bool startInSim(sim::Board& board, std::string& message);

}  // namespace vantor
