// USART1 of the emulated STM32G070.
#include "usart_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "console.h"
#include "rcc_front.h"
#include "reg_usart.h"
#include "uart_model.h"

namespace emu {

namespace {

constexpr uint32_t kCR1 = offsetof(USART_TypeDef, CR1);
constexpr uint32_t kCR2 = offsetof(USART_TypeDef, CR2);
constexpr uint32_t kCR3 = offsetof(USART_TypeDef, CR3);
constexpr uint32_t kBRR = offsetof(USART_TypeDef, BRR);
constexpr uint32_t kRQR = offsetof(USART_TypeDef, RQR);
constexpr uint32_t kISR = offsetof(USART_TypeDef, ISR);
constexpr uint32_t kICR = offsetof(USART_TypeDef, ICR);
constexpr uint32_t kRDR = offsetof(USART_TypeDef, RDR);
constexpr uint32_t kTDR = offsetof(USART_TypeDef, TDR);
constexpr uint32_t kPRESC = offsetof(USART_TypeDef, PRESC);

// The receiver's flags are the model's, at the manual's positions.
static_assert(sim::Uart::kParityError == USART_ISR_PE && sim::Uart::kFramingError == USART_ISR_FE &&
              sim::Uart::kNoise == USART_ISR_NE && sim::Uart::kOverrun == USART_ISR_ORE &&
              sim::Uart::kIdle == USART_ISR_IDLE && sim::Uart::kRxNotEmpty == USART_ISR_RXNE);

constexpr uint16_t kPrescalerDivider[12] = {1, 2, 4, 6, 8, 10, 12, 16, 32, 64, 128, 256};

sim::Uart& model(Chip& chip) { return chip.board().uart1(); }

}  // namespace

UsartFront::UsartFront(Chip& chip) : chip_(chip) { reset(); }

void UsartFront::reset() {
  regs_.fill(0);
  tdrFull_ = false;
  shiftEndsNs_ = 0;
  tcCleared_ = false;
  applyReceiver();
}

uint64_t UsartFront::nowNs() const { return chip_.core().nowNs(); }

uint64_t UsartFront::frameNs() const {
  const uint32_t cr1 = regs_[kCR1 / 4];
  const uint32_t presc = regs_[kPRESC / 4] & USART_PRESC_PRESCALER;
  const uint64_t kernel = chip_.rcc().usart1KernelHz() / (presc < 12 ? kPrescalerDivider[presc] : 256u);
  const uint32_t brr = regs_[kBRR / 4] & USART_BRR_BRR;
  // 16x oversampling: baud = kernel / BRR; 8x: USARTDIV = BRR[15:4] BRR[2:0] << 1, baud = 2 kernel / USARTDIV.
  const uint64_t div = (cr1 & USART_CR1_OVER8) ? ((brr & 0xFFF0u) | ((brr & 7u) << 1)) : brr;
  if (kernel == 0 || div == 0) return 0;
  const uint32_t m = cr1 & USART_CR1_M;
  const unsigned dataBits = m == USART_CR1_M0 ? 9 : m == USART_CR1_M1 ? 7 : 8;
  // Stop bits in halves: 1, 0.5, 2, 1.5.
  static constexpr unsigned kStopHalves[4] = {2, 1, 4, 3};
  const unsigned halfBits = 2 * (1 + dataBits) + kStopHalves[(regs_[kCR2 / 4] & USART_CR2_STOP) >> USART_CR2_STOP_Pos];
  const uint64_t bitsPerSecondX2 = 2 * kernel * ((cr1 & USART_CR1_OVER8) ? 2u : 1u) / div;
  return halfBits * 1000000000ull / bitsPerSecondX2;
}

void UsartFront::applyReceiver() {
  const uint32_t cr1 = regs_[kCR1 / 4];
  const uint32_t cr3 = regs_[kCR3 / 4];
  sim::Uart& uart = model(chip_);
  uart.setReceiverEnabled((cr1 & USART_CR1_UE) && (cr1 & USART_CR1_RE));
  const uint64_t frame = frameNs();
  // The line's frames are ten bits: the rate the receiver samples at follows from its frame time.
  if (frame != 0) uart.setBaud(10e9 / static_cast<double>(frame));
  uart.setInterrupts((cr1 & USART_CR1_RXNEIE) != 0, (cr1 & USART_CR1_IDLEIE) != 0,
                     (cr3 & USART_CR3_EIE) != 0 || (cr1 & USART_CR1_PEIE) != 0);
  uart.setDmaRequests((cr3 & USART_CR3_DMAR) != 0);
}

// The byte in TDR moves into the shift register once the one before has gone out.
void UsartFront::shiftOut(uint64_t now) {
  while (tdrFull_ && now >= shiftEndsNs_) {
    chip_.board().console().write(&tdr_, 1);
    shiftEndsNs_ += frameNs();
    tdrFull_ = false;
    tcCleared_ = false;
  }
}

uint32_t UsartFront::peek(uint32_t offset) {
  if (offset == kISR || offset == kRDR) return 0;
  return offset / 4 < regs_.size() ? regs_[offset / 4] : 0;
}

uint32_t UsartFront::read(uint32_t offset) {
  switch (offset) {
    case kISR: {
      const uint64_t now = nowNs();
      shiftOut(now);
      const uint32_t cr1 = regs_[kCR1 / 4];
      uint32_t isr = model(chip_).status();
      if (!tdrFull_) isr |= USART_ISR_TXE;
      if (!tdrFull_ && now >= shiftEndsNs_ && !tcCleared_) isr |= USART_ISR_TC;
      if (cr1 & USART_CR1_UE) {
        if (cr1 & USART_CR1_TE) isr |= USART_ISR_TEACK;
        if (cr1 & USART_CR1_RE) isr |= USART_ISR_REACK;
      }
      if ((cr1 & USART_CR1_FIFOEN) && !tdrFull_) isr |= USART_ISR_TXFE;
      return isr;
    }
    case kRDR: return model(chip_).readData();
    case kTDR: return tdr_;
    default: return peek(offset);
  }
}

void UsartFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kISR:
    case kRDR: return;  // read-only
    case kICR:
      model(chip_).clearStatus(value & (USART_ICR_PECF | USART_ICR_FECF | USART_ICR_NECF | USART_ICR_ORECF |
                                        USART_ICR_IDLECF));
      if (value & USART_ICR_TCCF) tcCleared_ = true;
      return;
    case kRQR:
      if (value & USART_RQR_RXFRQ) (void)model(chip_).readData();
      return;
    case kTDR: {
      const uint32_t cr1 = regs_[kCR1 / 4];
      if (!(cr1 & USART_CR1_UE) || !(cr1 & USART_CR1_TE)) return;
      const uint64_t now = nowNs();
      shiftOut(now);
      tdr_ = static_cast<uint8_t>(value);
      if (!tdrFull_ && now >= shiftEndsNs_) {  // the shift register is free: the byte goes at once
        shiftEndsNs_ = now;
        tdrFull_ = true;
        shiftOut(now);
      } else {
        tdrFull_ = true;  // waits for the shift register (a second write before TXE overwrites it)
      }
      tcCleared_ = false;
      return;
    }
    default:
      if (offset / 4 >= regs_.size()) return;
      regs_[offset / 4] = value;
      applyReceiver();
      return;
  }
}

}  // namespace emu
