// USART1, reference manual section "Universal synchronous/asynchronous receiver transmitter": the
// frame and baud rate settings, the transmitter (TDR into the shift register, TXE and TC at the
// configured baud rate, each byte out on the console) and the receiver's flags, data register,
// interrupts and DMA requests over the board's UART model.
#pragma once

#include <array>

#include "front.h"

namespace emu {

class Chip;

class UsartFront final : public Front {
 public:
  explicit UsartFront(Chip& chip);

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t peek(uint32_t offset) override;
  void reset() override;

  // Nanoseconds one frame (start, data, parity and stop bits) takes at the configured baud rate.
  uint64_t frameNs() const;

 private:
  void applyReceiver();
  void shiftOut(uint64_t nowNs);
  uint64_t nowNs() const;

  Chip& chip_;
  std::array<uint32_t, 12> regs_{};
  // The transmitter: a byte waiting in TDR, and the shift register busy until this time.
  bool tdrFull_ = false;
  uint8_t tdr_ = 0;
  uint64_t shiftEndsNs_ = 0;
  bool tcCleared_ = false;  // TCCF written since the last frame
};

}  // namespace emu
