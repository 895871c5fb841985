// The vantor command: the registry, uplinks, captures and settings queue of a Vantor database,
// as text tables or one JSON object per line. Exit codes: 0 done, 1 refused, 2 usage.
#pragma once

#include <ostream>

namespace vantor {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

// The database of orvane-sim's default state folder.
constexpr const char* kDefaultDatabase = ".orvane-sim/vantor.sqlite";

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace vantor
