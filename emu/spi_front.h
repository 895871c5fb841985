// SPI1, reference manual section "Serial peripheral interface": master mode with software slave
// select, the baud rate divider, 8-bit frames through the transmit and receive FIFOs (TXE, RXNE,
// FTLVL, FRLVL, BSY, OVR), each frame exchanged with the device on the board's SPI bus whose chip
// select is low (with none, nobody drives MISO and the master reads zeros).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "front.h"

namespace emu {

class Chip;

class SpiFront final : public Front {
 public:
  explicit SpiFront(Chip& chip);
  ~SpiFront() override;

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t readSized(uint32_t offset, unsigned size) override;
  void writeSized(uint32_t offset, unsigned size, uint32_t value) override;
  uint32_t peek(uint32_t offset) override;
  void reset() override;

  // Nanoseconds one 8-bit frame takes at the configured SCK.
  uint64_t frameNs() const;

 private:
  struct Received {
    uint8_t byte;
    uint64_t atNs;  // when its last bit is in
  };
  void send(uint8_t byte);
  uint8_t receive();
  uint32_t status();
  uint64_t nowNs() const;

  Chip& chip_;
  size_t csWatch_ = 0;  // the radio's chip select, watched on the board
  std::array<uint32_t, 9> regs_{};
  std::deque<Received> rx_;
  uint64_t busyUntilNs_ = 0;
  bool overrun_ = false;
  bool frameStart_ = true;  // the next byte is the first since the chip select fell
  bool stalled_ = false;    // the selected device refused the transfer: it never completes
};

}  // namespace emu
