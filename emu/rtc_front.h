// Real-time clock (RTC) and tamper block (TAMP), reference manual sections "Real-time clock" and
// "Tamper and backup registers": the write protection (RTC_WPR keys, PWR_CR1.DBP), initialisation
// mode and the prescalers, the shadow registers' synchronisation, the wake-up timer (WUTR, WUCKSEL,
// WUTE, WUTIE, WUTWF) that ends standby, and the backup registers, over the board's RTC model,
// which keeps the domain through resets and standby.
#pragma once

#include <array>
#include <cstdint>

#include "front.h"

namespace emu {

class Chip;

class RtcFront final : public Front {
 public:
  explicit RtcFront(Chip& chip);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t peek(uint32_t offset) override;

 private:
  bool writable() const;
  void keep();
  uint64_t nowNs() const;
  uint64_t rtcClockNs(unsigned periods) const;

  Chip& chip_;
  std::array<uint32_t, 0x60 / 4> regs_{};
  int keyStage_ = 0;  // RTC_WPR: 0 locked, 1 first key seen, 2 unlocked
  uint64_t initfAtNs_ = 0, rsfAtNs_ = 0;
};

class TampFront final : public Front {
 public:
  explicit TampFront(Chip& chip) : chip_(chip) {}
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;

 private:
  Chip& chip_;
  std::array<uint32_t, 0x30 / 4> regs_{};
};

}  // namespace emu
