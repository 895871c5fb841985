// DMA1 and its request multiplexer, reference manual sections "Direct memory access controller"
// and "DMA request multiplexer": the channels' configuration, count and address registers, the
// interrupt flags and their clear register, and the request line routed to each channel, over the
// board's DMA model (which moves the data in the emulated memory).
#pragma once

#include <array>

#include "front.h"

namespace emu {

class Chip;

class DmaFront final : public Front {
 public:
  explicit DmaFront(Chip& chip) : chip_(chip) {}
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void reset() override;

 private:
  Chip& chip_;
};

class DmamuxFront final : public Front {
 public:
  explicit DmamuxFront(Chip& chip) : chip_(chip) {}
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void reset() override;

 private:
  Chip& chip_;
  std::array<uint32_t, 7> channelControl_{};  // DMAMUX_CxCR as written
  std::array<uint32_t, 4> generatorControl_{};
};

}  // namespace emu
