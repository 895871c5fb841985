// orvane-sim: the unmodified firmware booting on the simulated board, with the Vantor on the air.
#include <cstdio>

#include "air_join.h"
#include "board.h"
#include "fresh_image.h"
#include "options.h"
#include "sim_start.h"

extern "C++" int orvane_firmware_main();

int main(int argc, char** argv) {
  sim::runStartsInFreshImages(argv);
  sim::Options options;
  std::string message;
  if (!sim::parseOptions(argc, argv, options, message) || !vantor::checkSimOptions(options, message)) {
    const bool help = message == sim::usageText();
    std::fputs(message.c_str(), help ? stdout : stderr);
    return help ? 0 : 2;
  }
  sim::Board& board = sim::Board::create(options);
  // On orvane-air the Vantor is a participant of its own (vantor listen).
  if (!options.air.empty() ? !sim::joinAir(board, message) : !vantor::startInSim(board, message)) {
    std::fputs(message.c_str(), stderr);
    return 2;
  }
  return orvane_firmware_main();
}
