// Command line of orvane-sim (and the same settings for in-process tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class ConsoleMode { stdio, pty, capture };

struct Options {
  std::string stateDir = ".orvane-sim";
  double speed = -1.0;  // <0: decide from the console (1 on a terminal, else 0)
  ConsoleMode console = ConsoleMode::stdio;
  std::string ptyLink;  // with --console pty: keep a symlink to the pty here
  bool burst = false;   // send piped input all at once instead of line by line
  uint64_t seed = 1;
  std::string chipId;   // 96-bit unique ID as 24 hex digits (empty: derived from the seed)
  std::string scenario;  // analog front end: --load-file text, then --load items (key=value,...)
  std::vector<std::string> argv;  // the command line, for restarting the process
};

// Parses argv into `out`; on error or --help returns false with a message in `message`.
bool parseOptions(int argc, char** argv, Options& out, std::string& message);
const char* usageText();

}  // namespace sim
