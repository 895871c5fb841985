// A fresh board with the emulated chip around it and nothing in its flash, for the register-level
// tests: registers are read and written as the core's bus would, and virtual time is moved on by
// hand (the core stalled meanwhile).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#include "board.h"
#include "chip.h"
#include "options.h"

namespace emu_test {

// The clock-enable registers every test starts its peripheral with (RM0454: RCC).
constexpr uint32_t kRccIopenr = RCC_BASE + offsetof(RCC_TypeDef, IOPENR);
constexpr uint32_t kRccAhbenr = RCC_BASE + offsetof(RCC_TypeDef, AHBENR);
constexpr uint32_t kRccApbenr1 = RCC_BASE + offsetof(RCC_TypeDef, APBENR1);
constexpr uint32_t kRccApbenr2 = RCC_BASE + offsetof(RCC_TypeDef, APBENR2);

class ChipTest : public testing::Test {
 protected:
  void SetUp() override {
    sim::Options options;
    options.console = sim::ConsoleMode::capture;
    options.stateDir.clear();
    options.speed = 0;
    options.vantor = false;
    options.scenario = scenario();
    board_ = &sim::Board::create(options);
    chip_ = std::make_unique<emu::Chip>(*board_, emu::ElfImage{});
  }
  void TearDown() override { chip_.reset(); }
  // The analog front end's scenario of the test.
  virtual std::string scenario() const { return ""; }

  // The chip starts again on the same board (a reset or a wake-up from standby), with `image` in its
  // flash.
  void newChip(const emu::ElfImage& image = {}) {
    chip_.reset();
    chip_ = std::make_unique<emu::Chip>(*board_, image);
  }
  sim::Board& board() { return *board_; }
  emu::Chip& chip() { return *chip_; }
  uint32_t read(uint32_t address) { return chip_->busRead(address, 4); }
  void write(uint32_t address, uint32_t value) { chip_->busWrite(address, 4, value); }
  void setBits(uint32_t address, uint32_t bits) { write(address, read(address) | bits); }
  // Virtual time goes on by `us` (devices fire as they fall due).
  void advance(uint64_t us) {
    board_->busyWait(us);
    chip_->core().afterAccess();
  }

 private:
  sim::Board* board_ = nullptr;
  std::unique_ptr<emu::Chip> chip_;
};

}  // namespace emu_test
