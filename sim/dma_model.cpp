// DMA1 and DMAMUX: requests routed to channels, items moved into memory, flags and interrupt lines.
#include "dma_model.h"

#include <cstring>

#include "stm32g0xx_hal_dma.h"

namespace sim {

namespace {

constexpr uint32_t kDirectionToPeripheral = DMA_MEMORY_TO_PERIPH;
constexpr uint32_t kCircular = DMA_CIRCULAR;
constexpr uint32_t kMemoryIncrement = DMA_MINC_ENABLE;

// Bytes of an item: the PSIZE and MSIZE codes 00, 01, 10 are 8, 16 and 32 bits.
unsigned memoryBytes(uint32_t control) { return 1u << ((control >> 10) & 3u); }

class HostMemory final : public DmaMemory {
 public:
  void write(uint64_t address, const uint8_t* bytes, size_t n) override {
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), bytes, n);
  }
  void read(uint64_t address, uint8_t* bytes, size_t n) override {
    std::memcpy(bytes, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), n);
  }
};

}  // namespace

DmaMemory& hostMemory() {
  static HostMemory memory;
  return memory;
}

IRQn_Type Dma::lineOf(int n) {
  if (n == 1) return DMA1_Channel1_IRQn;
  if (n <= 3) return DMA1_Channel2_3_IRQn;
  return DMA1_Ch4_7_DMAMUX1_OVR_IRQn;
}

void Dma::setControl(int n, uint32_t control) {
  Channel& c = channel(n);
  const bool starting = (control & kEnable) != 0 && (c.control & kEnable) == 0;
  // With the channel on, only the interrupt enables (and EN itself) take a write.
  if ((c.control & kEnable) != 0 && (control & kEnable) != 0) control = (c.control & ~kInterrupts) | (control & kInterrupts);
  c.control = control;
  if (starting) {
    c.length = c.count;
    c.moved = 0;
  }
  updateLine(n);
}

void Dma::setCount(int n, uint32_t count) {
  Channel& c = channel(n);
  if ((c.control & kEnable) == 0) c.count = count & 0xFFFFu;
}

void Dma::clearFlags(uint32_t mask) {
  for (int n = 1; n <= kChannels; ++n) {
    if (mask & flags(n, kGlobalFlag)) mask |= flags(n, kCompleteFlag | kHalfFlag | kErrorFlag);
  }
  isr_ &= ~mask;
  // A line whose other flags are still up stays asserted: the interrupt comes again.
  for (int n = 1; n <= kChannels; ++n) {
    if (mask & flags(n, 0xF)) updateLine(n);
  }
}

Dma::Channel* Dma::routedTo(uint8_t line) {
  for (Channel& c : channels_) {
    if (c.request == line && (c.control & kEnable) != 0 && c.count != 0) return &c;
  }
  return nullptr;
}

uint32_t Dma::itemsWanted(uint8_t line) const {
  for (const Channel& c : channels_) {
    if (c.request == line && (c.control & kEnable) != 0 && c.count != 0) {
      return (c.control & kCircular) != 0 ? UINT32_MAX : c.count;
    }
  }
  return 0;
}

bool Dma::request(uint8_t line, uint32_t value) {
  Channel* c = routedTo(line);
  if (c == nullptr || (c->control & kDirectionToPeripheral) != 0) return false;
  const int n = static_cast<int>(c - channels_.data()) + 1;
  const unsigned bytes = memoryBytes(c->control);
  const uint64_t at = c->memoryAddress + ((c->control & kMemoryIncrement) != 0 ? uint64_t{c->moved} * bytes : 0);
  uint8_t item[4];
  for (unsigned i = 0; i < bytes; ++i) item[i] = static_cast<uint8_t>(value >> (8 * i));
  memory_->write(at, item, bytes);
  ++c->moved;
  --c->count;
  if (c->length >= 2 && c->moved == c->length / 2) raise(n, kHalfFlag);
  if (c->count == 0) {
    if ((c->control & kCircular) != 0) {
      c->count = c->length;
      c->moved = 0;
    }
    raise(n, kCompleteFlag);
  }
  return true;
}

void Dma::raise(int n, uint32_t which) {
  isr_ |= flags(n, which | kGlobalFlag);
  updateLine(n);
}

void Dma::updateLine(int n) {
  const uint32_t control = channel(n).control;
  const uint32_t asserted = ((isr_ >> (4 * (n - 1))) & (kCompleteFlag | kHalfFlag | kErrorFlag)) & control;
  if (asserted != 0) board_.pendIrq(lineOf(n));
}

}  // namespace sim
