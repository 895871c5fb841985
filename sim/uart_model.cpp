// Receive path of the console UART in virtual time.
#include "uart_model.h"

#include "stm32g0xx_hal_uart.h"

namespace sim {

void Uart::hostSend(const std::string& bytes) {
  if (bytes.empty()) return;
  const uint64_t nowNs = board_.nowUs() * 1000;
  if (wire_.empty()) nextByteNs_ = nowNs + kByteTimeNs;
  for (char c : bytes) wire_.push_back(static_cast<uint8_t>(c));
}

void Uart::startReceive(uint8_t* buf, uint16_t size) {
  buf_ = buf;
  size_ = size;
  count_ = 0;
  active_ = true;
  half_ = full_ = idle_ = false;
}

void Uart::stopReceive() { active_ = false; }

bool Uart::takeHalf() {
  const bool v = half_;
  half_ = false;
  return v;
}
bool Uart::takeFull() {
  const bool v = full_;
  full_ = false;
  return v;
}
bool Uart::takeIdle() {
  const bool v = idle_;
  idle_ = false;
  return v;
}
uint32_t Uart::takeError() {
  const uint32_t v = error_;
  error_ = 0;
  return v;
}

void Uart::injectError(uint32_t errorCode) {
  error_ |= errorCode;
  active_ = false;
  board_.pendIrq(USART1_IRQn);
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
    if (!active_) {
      // Nobody is receiving: the byte is overwritten in the data register and lost.
      continue;
    }
    buf_[count_++] = byte;
    if (count_ == size_ / 2 && size_ >= 2) {
      half_ = true;
      board_.pendIrq(DMA1_Channel2_3_IRQn);
    }
    if (count_ == size_) {
      full_ = true;
      active_ = false;
      board_.pendIrq(DMA1_Channel2_3_IRQn);
    }
  }
  if (idleAtNs_ != 0 && idleAtNs_ <= nowNs && (wire_.empty() || nextByteNs_ > idleAtNs_)) {
    idleAtNs_ = 0;
    if (active_ && count_ > 0) {
      idle_ = true;
      active_ = false;
      board_.pendIrq(USART1_IRQn);
    }
  } else if (idleAtNs_ != 0 && !wire_.empty() && nextByteNs_ <= idleAtNs_) {
    idleAtNs_ = 0;  // the next byte follows back to back: no idle gap
  }
}

}  // namespace sim
