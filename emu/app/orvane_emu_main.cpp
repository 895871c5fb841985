// orvane-emu: the image as it is flashed, run from its reset vector on an emulated STM32G070 whose
// peripherals are the simulated board's device models, with the Vantor on the air (in this process,
// or on orvane-air with --air). It takes orvane-sim's options with the same meaning, and --image.
#include <cstdio>
#include <cstdlib>
#include <memory>
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
    "                     (default: the bench image of this build, " ORVANE_EMU_DEFAULT_IMAGE
    ")\n"
    "  --fault-at MS[:IRQ]  at MS milliseconds of virtual time the core takes a HardFault at the\n"
    "                     instruction it is at, or with :IRQ, interrupt IRQ (0..31), enabled and\n"
    "                     pending, arrives with no handler of its own; once in a run\n"
    "and the options of orvane-sim, with the same meaning:\n";

// orvane-sim's own messages, with this program's name.
std::string renamed(std::string text) {
  const std::string from = "orvane-sim";
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
    text.replace(at, from.size(), "orvane-emu");
  }
  return text;
}

// --fault-at: at its time the core faults, or an interrupt the image has no handler for arrives.
class FaultAt final : public sim::Device {
 public:
  FaultAt(uint64_t atUs, int irq) : atUs_(atUs), irq_(irq) {}
  void attach(sim::Board& board, emu::Chip& chip) {
    board_ = &board;
    chip_ = &chip;
    if (board.nowUs() > atUs_) atUs_ = sim::kNever;  // a start after it: it happened once already
  }
  uint64_t nextEventUs() const override { return atUs_; }
  void fire(uint64_t) override {
    atUs_ = sim::kNever;
    if (irq_ < 0) {
      chip_->core().injectFault();
      return;
    }
    board_->enableIrq(static_cast<IRQn_Type>(irq_), true);
    board_->pendIrq(static_cast<IRQn_Type>(irq_));
  }

 private:
  uint64_t atUs_;
  int irq_;
  sim::Board* board_ = nullptr;
  emu::Chip* chip_ = nullptr;
};

// MS[:IRQ] -> the fault; false for anything else.
bool parseFaultAt(const std::string& text, std::unique_ptr<FaultAt>& out) {
  char* end = nullptr;
  const double ms = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(ms >= 0.0) || ms > 1e12) return false;
  long irq = -1;
  if (*end == ':') {
    const char* n = end + 1;
    irq = std::strtol(n, &end, 10);
    if (end == n || irq < 0 || irq > 31) return false;
  }
  if (*end != '\0') return false;
  out = std::make_unique<FaultAt>(static_cast<uint64_t>(ms * 1000.0 + 0.5), static_cast<int>(irq));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string image = ORVANE_EMU_DEFAULT_IMAGE;
  std::unique_ptr<FaultAt> faultAt;
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
    if (std::string(argv[i]) == "--fault-at") {
      if (i + 1 >= argc || !parseFaultAt(argv[i + 1], faultAt)) {
        std::fputs("orvane-emu: --fault-at takes MS (milliseconds of virtual time), optionally :IRQ (0..31)\n", stderr);
        return 2;
      }
      ++i;
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
  if (faultAt) {
    faultAt->attach(board, chip);
    board.addDevice(faultAt.get());
  }
  chip.run();
}
