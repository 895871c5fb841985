// orvane-sim: the unmodified firmware booting on the simulated board.
#include <cstdio>

#include "board.h"
#include "options.h"

extern "C++" int orvane_firmware_main();

int main(int argc, char** argv) {
  sim::Options options;
  std::string message;
  if (!sim::parseOptions(argc, argv, options, message)) {
    const bool help = message == sim::usageText();
    std::fputs(message.c_str(), help ? stdout : stderr);
    return help ? 0 : 2;
  }
  sim::Board::create(options);
  return orvane_firmware_main();
}
