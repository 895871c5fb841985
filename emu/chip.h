// The STM32G070 emulated: the Cortex-M0+ (core.h), the memory map of the reference manual (main
// flash with its alias at 0, SRAM, the engineering bytes of system memory, the peripherals' blocks)
// and the register fronts of the peripherals over the simulated board's device models. A front is
// reached only while its bus clock is on: with the clock gated a block reads zero and ignores writes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core.h"
#include "elf_image.h"
#include "front.h"

namespace sim {
class Board;
class DmaMemory;
}  // namespace sim

namespace emu {

class RccFront;
class PwrFront;
class FlashFront;
class GpioFront;
class UsartFront;
class DmaFront;
class DmamuxFront;
class AdcFront;
class SpiFront;
class RtcFront;
class TampFront;
class Tim6Front;
class ScsFront;

// A peripheral block on the bus: its base, size, front and the RCC enable bit its clock needs.
struct Block {
  uint32_t base;
  uint32_t size;
  Front* front;
  uint32_t enableRegister;  // offset of the RCC_xxxENR register, 0: always clocked
  uint32_t enableBit;
};

class Chip {
 public:
  static constexpr uint32_t kFlashBase = 0x08000000;
  static constexpr uint32_t kFlashSize = 0x20000;     // 128 KiB
  static constexpr uint32_t kConfigPage = 0x0801F800;  // the last 2 KiB page: the configuration record
  static constexpr uint32_t kSramBase = 0x20000000;
  static constexpr uint32_t kSramSize = 0x9000;  // 36 KiB

  // The image's loadable segments go to flash (a segment elsewhere is refused with a message).
  Chip(sim::Board& board, const ElfImage& image);
  ~Chip();
  Chip(const Chip&) = delete;
  Chip& operator=(const Chip&) = delete;

  // The one chip of the process (the board's clock tree and configuration page are its own).
  static Chip& instance();

  // Runs the image from its reset vector; never returns (the board restarts or ends the process).
  [[noreturn]] void run() { core_.run(); }
  void runUntil(const std::function<bool()>& done) { core_.runUntil(done); }

  sim::Board& board() { return board_; }
  Core& core() { return core_; }
  RccFront& rcc() { return *rcc_; }
  PwrFront& pwr() { return *pwr_; }
  FlashFront& flash() { return *flash_; }
  ScsFront& scs() { return *scs_; }
  GpioFront& gpio(int port);
  // Every block of the bus, for the register tests.
  const std::vector<Block>& blocks() const { return blocks_; }
  // A bus access as the core makes it (tests reach the registers this way), and a register as it
  // stands without the side effects of a read.
  uint32_t busRead(uint32_t address, unsigned size);
  void busWrite(uint32_t address, unsigned size, uint32_t value);
  uint32_t peek(uint32_t address);
  // Every write the core makes to a peripheral, in order (a bus monitor for tests).
  void watchWrites(std::function<void(uint32_t address, uint32_t value)> watcher) { writeWatcher_ = std::move(watcher); }

  // Emulated memory for the DMA channels.
  sim::DmaMemory& memory() { return *memory_; }

 private:
  void mapMemory(const ElfImage& image);
  void mapBlock(uint32_t base, uint32_t size, Front& front, uint32_t enableRegister, uint32_t enableBit);
  const Block* blockAt(uint32_t address) const;
  bool clocked(const Block& block);
  void enterStandby();
  static uint64_t onRead(uc_engine* uc, uint64_t offset, unsigned size, void* block);
  static void onWrite(uc_engine* uc, uint64_t offset, unsigned size, uint64_t value, void* block);

  sim::Board& board_;
  Core core_;
  std::unique_ptr<sim::DmaMemory> memory_;
  std::vector<uint8_t> flashImage_;  // the program pages (0..62), as read by the core
  std::vector<uint8_t> systemMemory_;
  std::unique_ptr<RccFront> rcc_;
  std::unique_ptr<PwrFront> pwr_;
  std::unique_ptr<FlashFront> flash_;
  std::vector<std::unique_ptr<GpioFront>> gpio_;
  std::unique_ptr<UsartFront> usart1_;
  std::unique_ptr<DmaFront> dma_;
  std::unique_ptr<DmamuxFront> dmamux_;
  std::unique_ptr<AdcFront> adc_;
  std::unique_ptr<SpiFront> spi1_;
  std::unique_ptr<RtcFront> rtc_;
  std::unique_ptr<TampFront> tamp_;
  std::unique_ptr<Tim6Front> tim6_;
  std::unique_ptr<ScsFront> scs_;
  std::vector<Block> blocks_;
  std::function<void(uint32_t, uint32_t)> writeWatcher_;
  std::vector<std::unique_ptr<Block>> mapped_;  // stable addresses for Unicorn's callbacks
};

}  // namespace emu
