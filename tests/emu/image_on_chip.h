// The image itself on the emulated chip, in the test's own process: a fresh board (nothing kept,
// the console captured), the image from its reset vector, and the means to run it until something
// shows, type into its console and look at its registers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "board.h"
#include "chip.h"

namespace emu_test {

// The image file the image tests run, and the build identity header of its build (set from their
// command line: --image FILE --meta FILE).
std::string& imagePath();
std::string& metaPath();

// A restart the board was asked for: the test's process stays, so it ends the run instead.
struct Restarted {
  sim::ResetKind kind;
};

class ImageOnChip {
 public:
  // `load`: the analog front end's scenario (orvane-sim --load).
  explicit ImageOnChip(const std::string& load = "current=5,pf=0.8");
  ~ImageOnChip();

  emu::Chip& chip() { return *chip_; }
  sim::Board& board() { return board_; }
  // Everything the firmware has written to its console so far.
  const std::string& console();
  // Runs until `done(console)` holds; false when `limitMs` of virtual time passed first. A restart
  // the firmware asks for ends the run with Restarted.
  bool runUntil(const std::function<bool(const std::string&)>& done, uint64_t limitMs);
  // Until the board's clock reads `atUs` (to the microsecond, the firmware idle or not).
  bool runUntilTime(uint64_t atUs);
  // Until the console shows `text` after the first `from` bytes.
  bool runUntilShown(const std::string& text, uint64_t limitMs, size_t from = 0);
  // The bytes of a line on the console's receive line.
  void type(const std::string& line);

 private:
  sim::Board& board_;
  std::unique_ptr<emu::Chip> chip_;
  std::unique_ptr<sim::Device> deadline_;
  std::string console_;
};

}  // namespace emu_test
