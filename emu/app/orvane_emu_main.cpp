// orvane-emu: the image as it is flashed, run from its reset vector on an emulated STM32G070 whose
// peripherals are the simulated board's device models, with the Vantor on the air (in this process,
// or on orvane-air with --air). It takes orvane-sim's options with the same meaning, and --image.
#include <cstdio>
#include <string>
#include <vector>

#include "air_join.h"
#include "board.h"
#include "chip.h"
#include "elf_image.h"
#include "options.h"
#include "sim_start.h"

namespace {

constexpr const char* kUsage =
    "usage: orvane-emu [--image FILE] [options]\n"
    "  --image FILE       the image to run, orvane-node.elf or orvane-node-field.elf\n"
    "                     (default: the bench image of this build, " ORVANE_EMU_DEFAULT_IMAGE ")\n"
    "and the options of orvane-sim, with the same meaning:\n";

// orvane-sim's own messages, with this program's name.
std::string renamed(std::string text) {
  const std::string from = "orvane-sim";
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
    text.replace(at, from.size(), "orvane-emu");
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string image = ORVANE_EMU_DEFAULT_IMAGE;
  std::vector<char*> simArgs{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--image") {
      if (i + 1 >= argc) {
        std::fputs("orvane-emu: --image needs a file\n", stderr);
        return 2;
      }
      image = argv[++i];
      continue;
    }
    simArgs.push_back(argv[i]);
  }
  sim::Options options;
  std::string message;
  if (!sim::parseOptions(static_cast<int>(simArgs.size()), simArgs.data(), options, message) ||
      !vantor::checkSimOptions(options, message)) {
    const bool help = message == sim::usageText();
    if (help) {
      std::fputs(kUsage, stdout);
      const std::string options = sim::usageText();
      std::fputs(options.substr(options.find('\n') + 1).c_str(), stdout);
      return 0;
    }
    std::fputs(renamed(message).c_str(), stderr);
    return 2;
  }
  options.argv.assign(argv, argv + argc);  // a restart runs the whole command line again
  emu::ElfImage elf;
  if (!emu::readElfImage(image, elf, message)) {
    std::fprintf(stderr, "orvane-emu: %s\n", message.c_str());
    return 2;
  }
  sim::Board& board = sim::Board::create(options);
  // On orvane-air the Vantor is a participant of its own (vantor listen), and every restart of the
  // image (standby, reset, power cut) is a process the air starts again, as for orvane-sim.
  if (!options.air.empty() ? !sim::joinAir(board, message) : !vantor::startInSim(board, message)) {
    std::fputs(renamed(message).c_str(), stderr);
    return 2;
  }
  static emu::Chip chip(board, elf);
  chip.run();
}
