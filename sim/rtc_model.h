// The RTC domain: the five backup registers (kept through reset and standby, cleared by a
// power-on, write-protected until backup-domain access is enabled) and the wake-up timer that
// ends standby.
#pragma once

#include <array>
#include <cstdint>

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class RtcModel {
 public:
  static constexpr uint32_t kLsiHz = 32000;  // nominal LSI, the RTC clock of this board
  static constexpr unsigned kBackupRegisters = 5;

  explicit RtcModel(DeviceHost& board);
  // The LSI this chip has (the datasheet allows 29.5 to 34 kHz; the firmware counts on 32 kHz).
  void setLsiHz(uint32_t hz) { lsiHz_ = hz; }

  void init(uint32_t asyncPrediv, uint32_t syncPrediv);
  bool initialised() const { return initialised_; }

  // PWR_CR1 DBP: cleared by every reset.
  void setBackupAccess(bool enabled) { backupAccess_ = enabled; }
  bool backupAccess() const { return backupAccess_; }
  void writeBackup(uint32_t index, uint32_t value);
  uint32_t readBackup(uint32_t index) const;

  // Wake-up timer: `clock` is the WUCKSEL code of RTC_CR. False for a counter the clock cannot take.
  bool armWakeUp(uint32_t counter, uint32_t clock, bool interrupt);
  void disarmWakeUp() { wakeUpArmed_ = false; }
  // Time from now until the wake-up timer raises its interrupt, or kNever.
  uint64_t wakeUpDelayUs() const;
  // Length of one wake-up clock period in nanoseconds.
  uint64_t wakeUpClockPeriodNs() const;
  // Wake-up clock periods from arming to the event.
  uint64_t wakeUpPeriods() const;

  // Tests: the wake-up timer refuses to be programmed.
  void failWakeUpTimer(bool fail) { failWakeUp_ = fail; }

 private:
  void save() const;

  DeviceHost& board_;
  std::array<uint32_t, kBackupRegisters> backup_{};
  bool backupAccess_ = false;
  bool initialised_ = false;
  uint32_t asyncPrediv_ = 127;  // reset values of RTC_PRER
  uint32_t syncPrediv_ = 255;
  bool wakeUpArmed_ = false;
  bool wakeUpInterrupt_ = false;
  uint32_t wakeUpCounter_ = 0;
  uint32_t wakeUpClock_ = 0;
  bool failWakeUp_ = false;
  uint32_t lsiHz_ = kLsiHz;
};

}  // namespace sim
