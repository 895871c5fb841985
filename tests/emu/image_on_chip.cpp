// The image on the emulated chip for the image tests.
#include "image_on_chip.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "elf_image.h"
#include "options.h"
#include "uart_model.h"

namespace emu_test {

namespace {

// Something will happen at the run's limit, so an idle firmware keeps its board stepping (the board
// would otherwise wait for console input that a captured console never gets).
class Deadline final : public sim::Device {
 public:
  uint64_t atUs = sim::kNever;
  uint64_t nextEventUs() const override { return atUs; }
  void fire(uint64_t) override { atUs = sim::kNever; }
};

sim::Board& freshBoard(const std::string& load) {
  sim::Options options;
  options.console = sim::ConsoleMode::capture;
  options.stateDir.clear();
  options.speed = 0;
  options.vantor = false;
  options.scenario = load;
  return sim::Board::create(options);
}

}  // namespace

std::string& imagePath() {
  static std::string path;
  return path;
}

std::string& metaPath() {
  static std::string path;
  return path;
}

ImageOnChip::ImageOnChip(const std::string& load) : board_(freshBoard(load)) {
  emu::ElfImage image;
  std::string error;
  if (!emu::readElfImage(imagePath(), image, error)) {
    std::fprintf(stderr, "%s (run with --image FILE)\n", error.c_str());
    std::abort();
  }
  board_.setRestartHandler([](sim::ResetKind kind, uint32_t) { throw Restarted{kind}; });
  chip_ = std::make_unique<emu::Chip>(board_, image);
  deadline_ = std::make_unique<Deadline>();
  board_.addDevice(deadline_.get());
}

ImageOnChip::~ImageOnChip() { chip_.reset(); }

const std::string& ImageOnChip::console() {
  console_ += board_.console().takeOutput();
  return console_;
}

bool ImageOnChip::runUntil(const std::function<bool(const std::string&)>& done, uint64_t limitMs) {
  auto& deadline = static_cast<Deadline&>(*deadline_);
  const uint64_t limitUs = board_.nowUs() + limitMs * 1000;
  deadline.atUs = limitUs;
  bool met = false;
  chip_->runUntil([&] {
    met = done(console());
    return met || board_.nowUs() >= limitUs;
  });
  deadline.atUs = sim::kNever;
  return met;
}

bool ImageOnChip::runUntilTime(uint64_t atUs) {
  auto& deadline = static_cast<Deadline&>(*deadline_);
  deadline.atUs = atUs;
  chip_->runUntil([&] { return board_.nowUs() >= atUs; });
  deadline.atUs = sim::kNever;
  return board_.nowUs() == atUs;
}

bool ImageOnChip::runUntilShown(const std::string& text, uint64_t limitMs, size_t from) {
  return runUntil([&](const std::string& out) { return out.find(text, from) != std::string::npos; }, limitMs);
}

void ImageOnChip::type(const std::string& line) { board_.uart1().hostSend(line); }

}  // namespace emu_test

