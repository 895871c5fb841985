// USART1's receiver in virtual time.
#include "uart_model.h"

#include <cmath>

#include "dma_model.h"
#include "stm32g0xx_hal_uart.h"

namespace sim {

namespace {

// Receiver tolerance to a clock deviation (reference manual, USART receiver tolerance table: 16x
// oversampling, 8-bit frames, three-sample bit detection, worst case over the divider's fraction).
constexpr double kBaudTolerance = 0.0341;

}  // namespace

void Uart::hostSend(const std::string& bytes) {
  if (bytes.empty()) return;
  const uint64_t nowNs = board_.nowUs() * 1000;
  if (wire_.empty()) nextByteNs_ = nowNs + kByteTimeNs;
  for (char c : bytes) wire_.push_back(static_cast<uint8_t>(c));
}

void Uart::setInterrupts(bool rxNotEmpty, bool idle, bool errors) {
  rxneInterrupt_ = rxNotEmpty;
  idleInterrupt_ = idle;
  errorInterrupt_ = errors;
  updateLine();
}

void Uart::setDmaRequests(bool on) {
  dmaRequests_ = on;
  // A byte already waiting in the data register goes as soon as its request is enabled.
  if (on && (status_ & kRxNotEmpty) != 0 && dma_.request(kRxRequest, data_)) status_ &= ~kRxNotEmpty;
}

void Uart::clearStatus(uint32_t mask) {
  status_ &= ~(mask & (kErrors | kIdle));
  updateLine();
}

uint8_t Uart::readData() {
  status_ &= ~kRxNotEmpty;
  return data_;
}

void Uart::injectError(uint32_t errorCode) {
  uint32_t flags = 0;
  if (errorCode & HAL_UART_ERROR_PE) flags |= kParityError;
  if (errorCode & HAL_UART_ERROR_NE) flags |= kNoise;
  if (errorCode & HAL_UART_ERROR_FE) flags |= kFramingError;
  if (errorCode & HAL_UART_ERROR_ORE) flags |= kOverrun;
  raise(flags);
}

void Uart::raise(uint32_t flags) {
  status_ |= flags;
  updateLine();
}

void Uart::updateLine() {
  const bool asserted = ((status_ & kRxNotEmpty) != 0 && rxneInterrupt_) || ((status_ & kIdle) != 0 && idleInterrupt_) ||
                        ((status_ & kErrors) != 0 && errorInterrupt_) || ((status_ & kOverrun) != 0 && rxneInterrupt_);
  if (asserted) board_.pendIrq(USART1_IRQn);
}

void Uart::receive(uint8_t byte) {
  byteSinceIdle_ = true;
  // Sampled at a rate too far from the line's, the stop bit is not where the receiver looks for it.
  const bool framing = std::fabs(baud_ / kWireBaud - 1.0) > kBaudTolerance;
  if (framing) byte = static_cast<uint8_t>(byte ^ 0x55u);
  if ((status_ & kRxNotEmpty) != 0) {
    raise(kOverrun | (framing ? kFramingError : 0));  // the register still holds the last one
    return;
  }
  data_ = byte;
  if (framing) raise(kFramingError);  // the byte still goes where a good one would
  if (dmaRequests_ && dma_.request(kRxRequest, byte)) return;
  raise(kRxNotEmpty);
}

uint64_t Uart::nextEventUs() const {
  uint64_t next = kNever;
  if (!wire_.empty()) next = (nextByteNs_ + 999) / 1000;
  if (idleAtNs_ != 0) {
    const uint64_t idle = (idleAtNs_ + 999) / 1000;
    if (idle < next) next = idle;
  }
  return next;
}

void Uart::fire(uint64_t nowUs) {
  const uint64_t nowNs = nowUs * 1000;
  while (!wire_.empty() && nextByteNs_ <= nowNs) {
    const uint8_t byte = wire_.front();
    wire_.pop_front();
    const uint64_t arrived = nextByteNs_;
    nextByteNs_ += kByteTimeNs;
    idleAtNs_ = arrived + kByteTimeNs;  // one idle frame after the stop bit
    if (receiverOn_) receive(byte);
  }
  if (idleAtNs_ != 0 && idleAtNs_ <= nowNs && (wire_.empty() || nextByteNs_ > idleAtNs_)) {
    idleAtNs_ = 0;
    if (byteSinceIdle_) {
      byteSinceIdle_ = false;
      raise(kIdle);
    }
  } else if (idleAtNs_ != 0 && !wire_.empty() && nextByteNs_ <= idleAtNs_) {
    idleAtNs_ = 0;  // the next byte follows back to back: no idle gap
  }
}

}  // namespace sim
