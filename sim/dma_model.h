// DMA1 with its request multiplexer (DMAMUX): seven channels, each routed by the multiplexer to one
// peripheral request line. A peripheral with a datum ready raises its request; the channel routed to
// it moves the datum into memory (or fetches one from it), counts down, sets its half- and
// full-transfer flags and raises its interrupt line. Where memory lives is not the model's business:
// host memory for the simulated board's hardware layer, the emulated chip's memory for the emulator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device_host.h"

namespace sim {

// The memory a channel's memory side addresses.
class DmaMemory {
 public:
  virtual ~DmaMemory() = default;
  virtual void write(uint64_t address, const uint8_t* bytes, size_t n) = 0;
  virtual void read(uint64_t address, uint8_t* bytes, size_t n) = 0;
};

// Host memory: addresses are the host's own pointers (the simulated board's hardware layer).
DmaMemory& hostMemory();

class Dma {
 public:
  static constexpr int kChannels = 7;

  // DMA_CCRx as the reference manual lays it out. The hardware layer's DMA_* initialisation
  // constants (stm32g0xx_hal_dma.h) are its configuration bits; these are the rest.
  static constexpr uint32_t kEnable = 0x1;
  static constexpr uint32_t kTransferCompleteInterrupt = 0x2;
  static constexpr uint32_t kHalfTransferInterrupt = 0x4;
  static constexpr uint32_t kTransferErrorInterrupt = 0x8;
  static constexpr uint32_t kInterrupts = 0xE;
  // DMA_ISR: four flags per channel, channel n at bits 4 (n - 1) ...
  static constexpr uint32_t kGlobalFlag = 0x1;
  static constexpr uint32_t kCompleteFlag = 0x2;
  static constexpr uint32_t kHalfFlag = 0x4;
  static constexpr uint32_t kErrorFlag = 0x8;
  static constexpr uint32_t flags(int channel, uint32_t which) { return which << (4 * (channel - 1)); }

  struct Channel {
    uint32_t control = 0;  // DMA_CCRx
    uint32_t count = 0;    // DMA_CNDTRx: items still to move
    uint64_t peripheralAddress = 0;
    uint64_t memoryAddress = 0;
    uint8_t request = 0;  // DMAMUX_CxCR DMAREQ_ID (0: none)
    uint32_t length = 0;  // the count it was enabled with: half and full transfer, circular reload
    uint32_t moved = 0;   // items moved since then
  };

  Dma(DeviceHost& board, DmaMemory& memory) : board_(board), memory_(&memory) {}
  void setMemory(DmaMemory& memory) { memory_ = &memory; }

  // Channel n = 1..7, as the manual numbers them.
  Channel& channel(int n) { return channels_[static_cast<size_t>(n - 1)]; }
  const Channel& channel(int n) const { return channels_[static_cast<size_t>(n - 1)]; }
  // Writes DMA_CCRx: enabling starts a transfer of the count set (address and count registers take
  // writes only while the channel is off); the interrupt enables may change at any time.
  void setControl(int n, uint32_t control);
  void setCount(int n, uint32_t count);
  void setRequest(int n, uint8_t requestId) { channel(n).request = requestId; }

  uint32_t status() const { return isr_; }
  // DMA_IFCR: the global flag clears all four of its channel.
  void clearFlags(uint32_t mask);

  // Peripheral side. A datum of `line` ready (a peripheral-to-memory request): true when an enabled
  // channel routed to it took it.
  bool request(uint8_t line, uint32_t value);
  // Items an enabled channel routed to `line` will still take (0: none will).
  uint32_t itemsWanted(uint8_t line) const;

 private:
  Channel* routedTo(uint8_t line);
  void raise(int n, uint32_t which);
  void updateLine(int n);
  static IRQn_Type lineOf(int n);

  DeviceHost& board_;
  DmaMemory* memory_;
  std::array<Channel, kChannels> channels_{};
  uint32_t isr_ = 0;
};

}  // namespace sim
