// The field build's unattended cycle.
#include "field_node.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "Debug.h"
#include "DeviceConfig.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "build_info.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "logic.h"
#include "main.h"
#include "packethandler.h"
#include "sleep.h"

namespace FieldNode {

namespace {

constexpr float kDefaultSleepMaxSec = 600.0f;  // the configuration's default
constexpr uint32_t kFrontEndSettleMs = 20;
constexpr char kNoReading[] = "no reading (capture incomplete), nothing sent";
constexpr uint32_t kResetFlags = HAL_RESET_FLAG_OPTION_BYTES | HAL_RESET_FLAG_PIN | HAL_RESET_FLAG_POWER_ON |
                                 HAL_RESET_FLAG_SOFTWARE | HAL_RESET_FLAG_IWDG | HAL_RESET_FLAG_WWDG |
                                 HAL_RESET_FLAG_LOW_POWER;

// A timed log line of this build: the wake-time prefix, "field: ", then the text.
__attribute__((format(printf, 1, 2))) void logLine(const char* format, ...) {
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  debugTsPrefix(ts, sizeof ts);
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  debugV2("%sfield: %s", ts, line);
}

// A standby wake-up shows no reset flag and the standby flag; every other start is a reset.
bool wokeFromStandby() {
  return (mcustate().resetCause & kResetFlags) == 0 && (mcustate().bootCause & HAL_WAKE_FLAG_STANDBY) != 0;
}

// A full reading for a frame that must carry measured values, leaving the stable run as it is.
// False when no whole capture could be taken.
bool takeFullReading() {
  const Stage1& stage1 = mcustate().pin.switch_.stage1;
  stage1.setOn();
  delayMsLowPower(kFrontEndSettleMs);
  fullRead();
  stage1.setOff();
  return captureComplete();
}

[[noreturn]] void sleepUntilNextCycle(uint32_t periods) {
  const uint64_t sleepMs = static_cast<uint64_t>(periods) * kWakeUpPeriodMs;
  // RAM does not survive standby: the time fields of the RTC memory carry this cycle forward.
  const uint64_t elapsedMs = debugWakeMs() + sleepMs;
  RTCMem& rtc = rtcMem();
  rtc.timeSinceLastLoraTX.set(advancedSeconds(rtc.timeSinceLastLoraTX.get(), elapsedMs));
  rtc.timeSinceLastLoraRX.set(advancedSeconds(rtc.timeSinceLastLoraRX.get(), elapsedMs));
  logLine("standby %lu ms (%lu wake-up periods)", static_cast<unsigned long>(sleepMs),
          static_cast<unsigned long>(periods));
  standBy(static_cast<uint16_t>(periods - 1));
  // No standby (the wake-up timer refused): wait as long in low-power sleep, then start afresh.
  logLine("standby refused, waiting %lu ms awake", static_cast<unsigned long>(sleepMs));
  delayMsLowPower(static_cast<uint32_t>(sleepMs));
  NVIC_SystemReset();
  for (;;) {
  }
}

// A random number per call, from a generator (xorshift32) seeded with the chip's unique ID: no two
// nodes draw the same pauses, and the firmware needs no noise source for it.
uint32_t nextRandom() {
  static uint32_t state = 0;
  if (state == 0) {
    const std::array<uint32_t, 3> id = readChipID();
    state = id[0] ^ ((id[1] << 11) | (id[1] >> 21)) ^ ((id[2] << 22) | (id[2] >> 10)) ^ 0x9E3779B9u;
    if (state == 0) state = 1;
  }
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

uint32_t provisionPause(uint16_t attemptsMade) { return provisionPauseMs(nextRandom(), attemptsMade); }

void provision(bool buttonHeld) {
  logLine("provisioning over the air (%s)", buttonHeld ? "provisioning button held" : "configuration not valid");
  // A node without identity asks as a fresh one: no stale key or replay counter goes with it.
  if (gstate().config.uid.toU24() == 0) setGstate().config.clearProvisionedIdentity();
  const bool done = loraProvisionWithin(kProvisionAttemptsPerStart, provisionPause);
  mcustate().pin.switch_.lora.setOff();
  if (done) {
    logLine("provisioned (uid 0x%06lX)", static_cast<unsigned long>(gstate().config.uid.toU24()));
    return;
  }
  if (gstate().config.ok()) {
    // The button asked again and nobody answered: the identity it holds still serves.
    logLine("no answer to provisioning after %u attempts, going on as uid 0x%06lX",
            static_cast<unsigned>(kProvisionAttemptsPerStart), static_cast<unsigned long>(gstate().config.uid.toU24()));
    return;
  }
  logLine("no answer to provisioning after %u attempts, trying again in %lu s",
          static_cast<unsigned>(kProvisionAttemptsPerStart), static_cast<unsigned long>(kProvisionRetrySec));
  sleepUntilNextCycle(standbyPeriods(kProvisionRetrySec));
}

}  // namespace

uint32_t standbyPeriods(float sleepMaxSec) {
  const float seconds = std::isnan(sleepMaxSec) ? kDefaultSleepMaxSec : sleepMaxSec;
  const float periods = std::floor(seconds * 1000.0f / static_cast<float>(kWakeUpPeriodMs));
  if (!(periods >= 1.0f)) return 1;
  if (periods >= static_cast<float>(kMaxWakeUpPeriods)) return kMaxWakeUpPeriods;
  return static_cast<uint32_t>(periods);
}

uint32_t provisionPauseMs(uint32_t random, uint16_t attemptsMade) {
  const uint16_t doublings = attemptsMade < kProvisionPauseDoublings ? attemptsMade : kProvisionPauseDoublings;
  return random % (kProvisionPauseWindowMs << doublings);
}

uint16_t advancedSeconds(uint16_t seconds, uint64_t elapsedMs) {
  const uint64_t total = seconds + (elapsedMs + 999) / 1000;
  return total > UINT16_MAX ? UINT16_MAX : static_cast<uint16_t>(total);
}

Send whatToSend(bool fullReading, bool wokeFromStandby, uint16_t secSinceLastTxAtNextWake) {
  if (fullReading) return Send::newReading;
  if (!wokeFromStandby) return Send::afterReset;
  if (secSinceLastTxAtNextWake > kSignOfLifeSec) return Send::signOfLife;
  return Send::nothing;
}

const char* sendLabel(Send send) {
  switch (send) {
    case Send::newReading: return "new reading";
    case Send::afterReset: return "first cycle after a reset";
    case Send::signOfLife: return "sign of life";
    default: return "nothing";
  }
}

void run() {
  print("");
  print("=== Orvane field node ===");
  printBuildInfo();
  DeviceConfig::init();
  readSupplyAtStart();
  debugV2Uid(gstate().config.uid, true);

  const bool buttonHeld = mcustate().pin.button.provisioning.read();
  if (!gstate().config.ok() || buttonHeld) provision(buttonHeld);

  const bool fullReading = powerReadingLogic(false);
  const uint32_t periods = standbyPeriods(gstate().config.sleepMaxSec);
  const uint16_t sinceTx = rtcMem().timeSinceLastLoraTX.get();
  const uint64_t untilNextWakeMs = debugWakeMs() + static_cast<uint64_t>(periods) * kWakeUpPeriodMs;
  const Send send = whatToSend(fullReading, wokeFromStandby(), advancedSeconds(sinceTx, untilNextWakeMs));
  // A frame carries only values of a whole capture: without one (each read is tried twice) the
  // cycle sends nothing, and its silence is what the receiver sees of a node that cannot measure.
  if (!captureComplete()) {
    logLine("%s", kNoReading);
  } else if (send == Send::nothing) {
    logLine("reading in band, nothing sent (%u s since the last transmission)", static_cast<unsigned>(sinceTx));
  } else {
    logLine("transmitting: %s", sendLabel(send));
    if (fullReading || takeFullReading()) {
      loraBlock();
    } else {
      logLine("%s", kNoReading);
    }
  }
  // A remote setting received in this cycle's window counts from this standby on.
  sleepUntilNextCycle(standbyPeriods(gstate().config.sleepMaxSec));
}

}  // namespace FieldNode
