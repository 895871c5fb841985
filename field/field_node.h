// The field build's unattended cycle: on every start provision when needed, take one reading with
// the reading logic not forced, transmit when there is something measured to tell, and sleep in
// standby for the configured sleep limit. RAM is lost in standby, so each start is one cycle.
#pragma once

#include <cstdint>

namespace FieldNode {

// One wake-up period of the RTC's standby timer (ck_spre, LSI 32 kHz / 128 / 256), in ms.
constexpr uint32_t kWakeUpPeriodMs = 1024;
// The wake-up counter is 16 bits and the hardware wakes after counter + 1 periods.
constexpr uint32_t kMaxWakeUpPeriods = 65536;
// The node sends a packet 3 at least this often, measured or not otherwise due (seconds).
constexpr uint32_t kSignOfLifeSec = 3600;

// Provisioning with no answer: attempts per start (10 s windows each), then standby this long
// before the next try, so that a node installed before its receiving node does not drain its cell.
constexpr uint16_t kProvisionAttemptsPerStart = 6;
constexpr float kProvisionRetrySec = 3600.0f;
// Nodes powered on together, or whose windows the same frame ended, would ask at the same moment
// again and again: before each attempt a node pauses a random share of a window that doubles with
// every attempt of the start (binary exponential backoff), from this ...
constexpr uint32_t kProvisionPauseWindowMs = 1000;
// ... to 32 times it.
constexpr uint16_t kProvisionPauseDoublings = 5;

// Why this start transmits (or not).
enum class Send : uint8_t { nothing = 0, newReading = 1, afterReset = 2, signOfLife = 3 };

// Wake-up periods of the longest standby that stays within `sleepMaxSec` (at least one period,
// at most the counter's reach; a value that is not a number counts as the default 600 s).
uint32_t standbyPeriods(float sleepMaxSec);
// The cycle's decision: a full reading is always told; a start that is not a standby wake-up
// (power-on, reset pin, software reset) is told so the receiver sees the restart; otherwise a
// quiet node speaks when its silence would have passed the sign-of-life interval by the next wake.
Send whatToSend(bool fullReading, bool wokeFromStandby, uint16_t secSinceLastTxAtNextWake);
// The pause before a provisioning attempt, after `attemptsMade` attempts of this start, for a
// random number `random`: below kProvisionPauseWindowMs << min(attemptsMade, doublings).
uint32_t provisionPauseMs(uint32_t random, uint16_t attemptsMade);
// A time field of the RTC memory after `elapsedMs` more: whole seconds rounded up, saturating.
uint16_t advancedSeconds(uint16_t seconds, uint64_t elapsedMs);
const char* sendLabel(Send send);

// One start of the field build, from the banner to standby; does not return.
[[noreturn]] void run();

}  // namespace FieldNode
