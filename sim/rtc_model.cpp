// RTC domain model of the simulated board.
#include "rtc_model.h"

#include <cstdio>
#include <string>

#include "state_store.h"

namespace sim {

namespace {
constexpr const char* kBackupFile = kBackupRegistersFile;
}  // namespace

RtcModel::RtcModel(DeviceHost& board) : board_(board) {
  // The file holds the five registers in hex: "bkp 00000000 00000000 00000000 00000000 00000000".
  std::string text;
  if (readText(board_.statePath(kBackupFile), text)) {
    unsigned long r[kBackupRegisters] = {};
    if (std::sscanf(text.c_str(), "bkp %lx %lx %lx %lx %lx", &r[0], &r[1], &r[2], &r[3], &r[4]) ==
        static_cast<int>(kBackupRegisters)) {
      for (unsigned i = 0; i < kBackupRegisters; ++i) backup_[i] = static_cast<uint32_t>(r[i]);
    } else {
      std::fprintf(stderr, "orvane-sim: %s unreadable; the backup registers start at 0\n", kBackupFile);
    }
  }
  // A power-on loses the backup domain.
  board_.addPersistHook([this](ResetKind kind) {
    if (kind == ResetKind::powerOn) {
      backup_.fill(0);
      removeFile(board_.statePath(kBackupFile));
    }
  });
}

void RtcModel::save() const {
  const std::string path = board_.statePath(kBackupFile);
  if (path.empty()) return;
  char text[80];
  std::snprintf(text, sizeof text, "bkp %08x %08x %08x %08x %08x\n", static_cast<unsigned>(backup_[0]),
                static_cast<unsigned>(backup_[1]), static_cast<unsigned>(backup_[2]), static_cast<unsigned>(backup_[3]),
                static_cast<unsigned>(backup_[4]));
  writeText(path, text);
}

void RtcModel::init(uint32_t asyncPrediv, uint32_t syncPrediv) {
  asyncPrediv_ = asyncPrediv & 0x7Fu;
  syncPrediv_ = syncPrediv & 0x7FFFu;
  initialised_ = true;
}

void RtcModel::writeBackup(uint32_t index, uint32_t value) {
  if (!backupAccess_ || index >= kBackupRegisters) return;  // write-protected: ignored, as on the chip
  backup_[index] = value;
  save();
}

uint32_t RtcModel::readBackup(uint32_t index) const { return index < kBackupRegisters ? backup_[index] : 0; }

bool RtcModel::armWakeUp(uint32_t counter, uint32_t clock, bool interrupt) {
  if (failWakeUp_ || !initialised_ || clock > 7) return false;
  if (counter > 0xFFFFu) return false;  // RTC_WUTR WUT is 16 bits
  wakeUpCounter_ = counter;
  wakeUpClock_ = clock;
  wakeUpInterrupt_ = interrupt;
  wakeUpArmed_ = true;
  return true;
}

uint64_t RtcModel::wakeUpClockPeriodNs() const {
  // RTCCLK / 16, 8, 4, 2 for codes 0..3; ck_spre = RTCCLK / (PREDIV_A + 1) / (PREDIV_S + 1) otherwise.
  const uint64_t divider =
      wakeUpClock_ < 4 ? (16u >> wakeUpClock_) : static_cast<uint64_t>(asyncPrediv_ + 1) * (syncPrediv_ + 1);
  return divider * 1000000000ull / lsiHz_;
}

uint64_t RtcModel::wakeUpPeriods() const {
  // The event comes after WUT + 1 periods; ck_spre with 17 bits (WUCKSEL 11x) adds 2^16 to WUT.
  return static_cast<uint64_t>(wakeUpCounter_) + 1 + (wakeUpClock_ >= 6 ? 0x10000u : 0u);
}

uint64_t RtcModel::wakeUpDelayUs() const {
  if (!wakeUpArmed_ || !wakeUpInterrupt_) return kNever;
  return (wakeUpPeriods() * wakeUpClockPeriodNs() + 999) / 1000;
}

}  // namespace sim
