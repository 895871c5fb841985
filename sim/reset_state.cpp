// Reset flags and the state folder's restart record.
#include "reset_state.h"

#include <cstdio>

#include "state_store.h"
#include "hal_added.h"

namespace sim {

std::string ResetState::path(const std::string& name) const {
  if (dir_.empty()) return std::string();
  return dir_ + "/" + name;
}

void ResetState::load(uint64_t& clockUs) {
  // A new state folder is a board that has never had power: power-on reset, erased flash,
  // cleared backup domain. An existing one without a restart record is the same board started
  // again by its reset pin. A restart record says exactly how the previous run ended.
  csr_ = HAL_RESET_FLAG_POWER_ON | HAL_RESET_FLAG_PIN;
  sr1_ = 0;
  if (dir_.empty()) return;
  const bool fresh = !holdsBoardState(dir_);
  makeStateDir(dir_);
  uint64_t clock = 0;
  if (readU64(path(kClockFile), clock)) clockUs = clock;
  if (fresh) return;
  std::string boot;
  if (readText(path("restart"), boot)) {
    unsigned long csr = 0, sr1 = 0;
    if (std::sscanf(boot.c_str(), "csr=%lx sr1=%lx", &csr, &sr1) == 2) {
      csr_ = static_cast<uint32_t>(csr);
      sr1_ = static_cast<uint32_t>(sr1);
    }
    removeFile(path("restart"));
  } else {
    csr_ = HAL_RESET_FLAG_PIN;
  }
}

void ResetState::save(ResetKind kind, uint32_t sr1Flags, uint64_t clockUs) {
  for (auto& hook : persistHooks_) hook(kind);
  if (dir_.empty()) return;
  writeU64(path(kClockFile), clockUs);
  uint32_t csr = 0;
  switch (kind) {
    case ResetKind::powerOn: csr = HAL_RESET_FLAG_POWER_ON | HAL_RESET_FLAG_PIN; break;
    case ResetKind::pin: csr = HAL_RESET_FLAG_PIN; break;
    case ResetKind::software: csr = HAL_RESET_FLAG_SOFTWARE | HAL_RESET_FLAG_PIN; break;
    case ResetKind::standbyWake: csr = 0; break;
  }
  // PWR_SR1 is cleared only by a power-on (or by software): flags not yet cleared stay.
  const uint32_t sr1 = kind == ResetKind::powerOn ? sr1Flags : (sr1_ | sr1Flags);
  char text[64];
  std::snprintf(text, sizeof text, "csr=%08x sr1=%08x\n", static_cast<unsigned>(csr), static_cast<unsigned>(sr1));
  writeText(path("restart"), text);
}

void ResetState::saveForExit(uint64_t clockUs) {
  for (auto& hook : persistHooks_) hook(ResetKind::pin);
  if (!dir_.empty()) writeU64(path(kClockFile), clockUs);
}

void ResetState::writeCsr(uint32_t value) {
  if (value & HAL_RESET_FLAGS_CLEAR) csr_ &= 0x00FFFFFFu;  // remove-reset-flags clears bits 24..31
}

}  // namespace sim
