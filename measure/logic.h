// Reading logic: a quick one-cycle read of the clamp current decides, against a band held across
// sleeps in the RTC registers, whether a full reading is worth its energy; the state of charge
// decides whether a receive window may follow a transmission.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "functions.h"

// Accepted band of the quick-read current (A) and its half-width.
struct THS {
  float min;
  float max;
  float ths;
};

extern const std::array<TablePoint, 4> currentMultTable;   // baseline current (A) -> multiplier
extern const std::array<TablePoint, 5> socMultTable;       // state of charge -> multiplier
extern const std::array<TablePoint, 6> stableMultTable;    // stable reading count -> multiplier
extern const std::array<TablePoint, 4> rxDelayBySocTable;  // state of charge -> seconds

// One mains cycle on the high-power range; the clamp RMS current in amperes (20 ohm burden).
// Each read takes a capture that is not whole once more; NaN when the second fails too.
float quickRead();
// Four mains cycles, front end off, power computation, and the "high power read" log line;
// without a whole capture nothing is computed (captureComplete() tells).
void fullRead();
// The band from the three tables above, or an impossible one while the configuration forces listening.
THS sendThs(float soc, uint8_t stableReadCount, float baselineCurrent);
// The band from any three tables; the configuration plays no part.
THS sendThs(float soc, uint8_t stableReadCount, float baselineCurrent, const TablePoint* currentMult,
            size_t currentMultCount, const TablePoint* socMult, size_t socMultCount, const TablePoint* stableMult,
            size_t stableMultCount);
// True when the time since the last receive window (s) is beyond the state of charge's delay.
bool enableLoraRX(uint16_t curDelay, float SoC);
bool enableLoraRX(uint16_t curDelay, float SoC, const TablePoint* rxDelayBySoc, size_t count);
// Returns true when a full reading was taken. False also when no whole capture could be taken
// (captureComplete() is then false): nothing was measured and the stable run is left as it was.
bool powerReadingLogic(bool force);
