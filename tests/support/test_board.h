// In-process simulated board for unit tests: console output captured, input injected.
#pragma once

#include <string>
#include <vector>

#include "board.h"
#include "console.h"

namespace testing_support {

// A fresh board with a capturing console, no state folder, speed 0; firmware records reset and
// the board brought up as every start does (bringUpBoard: pins, peripherals, handles, reception).
sim::Board& freshBoard();
// What the firmware printed since the last call.
std::string takeOutput();
// Forget what the firmware printed since the last call (a fuzz target's inputs).
void dropOutput();
// Type `text` on the console and let the board run until it is idle again, polling the
// firmware's line transport so each complete line is dispatched.
void typeAndPoll(const std::string& text);
// The lines of a console transcript, without their CR LF.
std::vector<std::string> lines(const std::string& out);
// Let virtual time pass (interrupts delivered).
void runFor(uint64_t us);

}  // namespace testing_support
