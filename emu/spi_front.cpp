// SPI1 of the emulated STM32G070.
#include "spi_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "gpio_model.h"
#include "rcc_front.h"
#include "reg_spi.h"
#include "spi_bus.h"
#include "wiring.h"

namespace emu {

namespace {

constexpr uint32_t kCR1 = offsetof(SPI_TypeDef, CR1);
constexpr uint32_t kCR2 = offsetof(SPI_TypeDef, CR2);
constexpr uint32_t kSR = offsetof(SPI_TypeDef, SR);
constexpr uint32_t kDR = offsetof(SPI_TypeDef, DR);
constexpr uint32_t kCRCPR = offsetof(SPI_TypeDef, CRCPR);
constexpr size_t kFifoBytes = 4;  // 32-bit FIFOs

}  // namespace

SpiFront::SpiFront(Chip& chip) : chip_(chip) {
  reset();
  // A frame on the bus begins where its chip select falls (the chip selects are driven by hand).
  csWatch_ = chip_.board().gpio().watch(Wiring::radioCs, [this](bool high) {
    if (!high) frameStart_ = true;
    if (high) stalled_ = false;
  });
}

// The board can outlive the chip (a test makes a new chip on it).
SpiFront::~SpiFront() { chip_.board().gpio().unwatch(csWatch_); }

void SpiFront::reset() {
  regs_.fill(0);
  regs_[kCR2 / 4] = SPI_CR2_DS_8BIT;
  regs_[kCRCPR / 4] = 7;
  rx_.clear();
  busyUntilNs_ = 0;
  overrun_ = false;
  stalled_ = false;
}

uint64_t SpiFront::nowNs() const { return chip_.core().nowNs(); }

uint64_t SpiFront::frameNs() const {
  const uint32_t divider = 2u << ((regs_[kCR1 / 4] & SPI_CR1_BR) >> SPI_CR1_BR_Pos);
  const uint64_t pclk = chip_.rcc().pclkHz();
  return pclk == 0 ? 0 : 8ull * divider * 1000000000ull / pclk;
}

void SpiFront::send(uint8_t byte) {
  const uint32_t cr1 = regs_[kCR1 / 4];
  if (!(cr1 & SPI_CR1_SPE) || !(cr1 & SPI_CR1_MSTR) || stalled_) return;
  sim::SpiDevice* device = chip_.board().spi1().selected();
  if (device != nullptr && frameStart_ && !device->spiTransferAllowed(byte)) {
    stalled_ = true;  // an injected bus fault: SCK never finishes this frame
    return;
  }
  frameStart_ = false;
  const uint8_t in = device != nullptr ? device->spiExchange(byte) : 0x00;
  const uint64_t now = nowNs();
  const uint64_t start = busyUntilNs_ > now ? busyUntilNs_ : now;
  busyUntilNs_ = start + frameNs();
  // A byte finding the receive FIFO full is lost (OVR).
  size_t unread = rx_.size();
  if (unread >= kFifoBytes) {
    overrun_ = true;
    return;
  }
  rx_.push_back({in, busyUntilNs_});
}

uint8_t SpiFront::receive() {
  const uint64_t now = nowNs();
  if (rx_.empty() || rx_.front().atNs > now) return 0;
  const uint8_t b = rx_.front().byte;
  rx_.pop_front();
  return b;
}

uint32_t SpiFront::status() {
  const uint64_t now = nowNs();
  unsigned arrived = 0, inFlight = 0;
  for (const Received& r : rx_) (r.atNs <= now ? arrived : inFlight)++;
  uint32_t sr = 0;
  if (arrived > 0) sr |= SPI_SR_RXNE;
  sr |= (arrived > 3 ? 3u : arrived) << SPI_SR_FRLVL_Pos;
  // Frames waiting behind the one on the wire sit in the transmit FIFO; TXE while it is half empty.
  const unsigned queued = inFlight > 0 ? inFlight - 1 : 0;
  sr |= (queued > 3 ? 3u : queued) << SPI_SR_FTLVL_Pos;
  if (queued * 2 <= kFifoBytes) sr |= SPI_SR_TXE;
  if (inFlight > 0 || stalled_) sr |= SPI_SR_BSY;
  if (overrun_) sr |= SPI_SR_OVR;
  return sr;
}

uint32_t SpiFront::peek(uint32_t offset) {
  if (offset == kSR || offset == kDR) return 0;
  return offset / 4 < regs_.size() ? regs_[offset / 4] : 0;
}

uint32_t SpiFront::readSized(uint32_t offset, unsigned size) {
  if (offset != kDR) return Front::readSized(offset, size);
  // 8-bit frames: a byte access takes one, a half-word access two.
  const uint32_t first = receive();
  return size == 1 ? first : first | (static_cast<uint32_t>(receive()) << 8);
}

void SpiFront::writeSized(uint32_t offset, unsigned size, uint32_t value) {
  if (offset != kDR) {
    Front::writeSized(offset, size, value);
    return;
  }
  send(static_cast<uint8_t>(value));
  if (size != 1) send(static_cast<uint8_t>(value >> 8));
}

uint32_t SpiFront::read(uint32_t offset) {
  switch (offset) {
    case kSR: {
      const uint32_t sr = status();
      overrun_ = false;  // OVR clears by reading DR then SR
      return sr;
    }
    case kDR: return readSized(kDR, 2);
    default: return peek(offset);
  }
}

void SpiFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kSR: return;  // read-only
    case kDR: writeSized(kDR, 2, value); return;
    default:
      if (offset / 4 >= regs_.size()) return;
      regs_[offset / 4] = value;
      if (offset == kCR1 && !(value & SPI_CR1_SPE)) stalled_ = false;
      return;
  }
}

}  // namespace emu
