// DMA1 and DMAMUX of the emulated STM32G070.
#include "dma_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "dma_model.h"
#include "reg_dma.h"

namespace emu {

namespace {

constexpr uint32_t kISR = offsetof(DMA_TypeDef, ISR);
constexpr uint32_t kIFCR = offsetof(DMA_TypeDef, IFCR);
constexpr uint32_t kFirstChannel = offsetof(DMA_TypeDef, CH);
constexpr uint32_t kChannelStride = sizeof(DMA_Channel_TypeDef);
constexpr uint32_t kCCR = offsetof(DMA_Channel_TypeDef, CCR);
constexpr uint32_t kCNDTR = offsetof(DMA_Channel_TypeDef, CNDTR);
constexpr uint32_t kCPAR = offsetof(DMA_Channel_TypeDef, CPAR);
constexpr uint32_t kCMAR = offsetof(DMA_Channel_TypeDef, CMAR);
constexpr uint32_t kCcrBits = 0x7FFFu;

// The model's channel control is DMA_CCRx itself.
static_assert(sim::Dma::kEnable == DMA_CCR_EN && sim::Dma::kTransferCompleteInterrupt == DMA_CCR_TCIE &&
              sim::Dma::kHalfTransferInterrupt == DMA_CCR_HTIE && sim::Dma::kTransferErrorInterrupt == DMA_CCR_TEIE);
static_assert(sim::Dma::flags(3, sim::Dma::kHalfFlag) == DMA_ISR_HTIF(3U) &&
              sim::Dma::flags(7, sim::Dma::kGlobalFlag) == DMA_ISR_GIF(7U));

constexpr uint32_t kMuxRGxCR = offsetof(DMAMUX_TypeDef, RGxCR);

// Channel 1..7 and register offset of an access in the channels' area; false outside it.
bool channelOf(uint32_t offset, int& n, uint32_t& reg) {
  if (offset < kFirstChannel || offset >= kFirstChannel + DMA_CHANNEL_COUNT * kChannelStride) return false;
  n = static_cast<int>((offset - kFirstChannel) / kChannelStride) + 1;
  reg = (offset - kFirstChannel) % kChannelStride;
  return true;
}

}  // namespace

uint32_t DmaFront::read(uint32_t offset) {
  sim::Dma& dma = chip_.board().dma1();
  if (offset == kISR) return dma.status();
  int n = 0;
  uint32_t reg = 0;
  if (!channelOf(offset, n, reg)) return 0;
  const sim::Dma::Channel& c = dma.channel(n);
  switch (reg) {
    case kCCR: return c.control;
    case kCNDTR: return c.count;
    case kCPAR: return static_cast<uint32_t>(c.peripheralAddress);
    case kCMAR: return static_cast<uint32_t>(c.memoryAddress);
    default: return 0;
  }
}

void DmaFront::write(uint32_t offset, uint32_t value) {
  sim::Dma& dma = chip_.board().dma1();
  if (offset == kIFCR) {
    dma.clearFlags(value);
    return;
  }
  int n = 0;
  uint32_t reg = 0;
  if (!channelOf(offset, n, reg)) return;
  sim::Dma::Channel& c = dma.channel(n);
  const bool enabled = (c.control & sim::Dma::kEnable) != 0;
  switch (reg) {
    case kCCR: dma.setControl(n, value & kCcrBits); break;
    case kCNDTR: dma.setCount(n, value & DMA_CNDTR_NDT); break;
    // The address registers take writes only while the channel is off.
    case kCPAR:
      if (!enabled) c.peripheralAddress = value;
      break;
    case kCMAR:
      if (!enabled) c.memoryAddress = value;
      break;
    default: break;
  }
}

void DmaFront::reset() {
  sim::Dma& dma = chip_.board().dma1();
  for (int n = 1; n <= sim::Dma::kChannels; ++n) {
    dma.setControl(n, 0);
    dma.setCount(n, 0);
    dma.channel(n).peripheralAddress = 0;
    dma.channel(n).memoryAddress = 0;
    dma.clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
  }
}

uint32_t DmamuxFront::read(uint32_t offset) {
  if (offset < DMA_CHANNEL_COUNT * 4) return channelControl_[offset / 4];
  if (offset >= kMuxRGxCR && offset < kMuxRGxCR + 16) return generatorControl_[(offset - kMuxRGxCR) / 4];
  return 0;  // CSR, RGSR: no synchronisation or generator overrun happens on this board
}

void DmamuxFront::write(uint32_t offset, uint32_t value) {
  if (offset < DMA_CHANNEL_COUNT * 4) {
    channelControl_[offset / 4] = value;
    chip_.board().dma1().setRequest(static_cast<int>(offset / 4) + 1,
                                    static_cast<uint8_t>(value & DMAMUX_CxCR_DMAREQ_ID));
  } else if (offset >= kMuxRGxCR && offset < kMuxRGxCR + 16) {
    generatorControl_[(offset - kMuxRGxCR) / 4] = value;
  }
}

void DmamuxFront::reset() {
  for (int n = 1; n <= sim::Dma::kChannels; ++n) chip_.board().dma1().setRequest(n, 0);
  channelControl_.fill(0);
  generatorControl_.fill(0);
}

}  // namespace emu
