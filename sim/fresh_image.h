// Every start of the firmware runs in a fresh process image, as a reset or a standby wake-up loses
// RAM on the real board. Loading the program again for each start (exec and its dynamic linking)
// cost most of a field cycle, so the first process stays as the loader left it, before anything of
// the firmware or the board ran, and each start runs in a copy of it (fork). A start that ends in a
// restart hands the next copy what exec would have carried: the environment and the descriptors
// that are not closed on exec.
#pragma once

#include <string>
#include <vector>

namespace sim {

// Called first in main with its argv. Returns in a fresh copy for each start of the firmware; the
// first process stays behind and leaves with the status of the last start (or dies of its signal).
void runStartsInFreshImages(char** argv);

// Ends this start: the next one begins from the entry point in a fresh image. Without the keeper
// of runStartsInFreshImages, the program is executed again with `argv`.
[[noreturn]] void startInFreshImage(const std::vector<std::string>& argv);

}  // namespace sim
