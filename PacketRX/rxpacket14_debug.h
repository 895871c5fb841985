// Console texts of packet 14: the printout of a received frame and the log line of each change.
#pragma once

#include <cstdint>

#include "rxpacket14.h"

namespace LoRaRXPacket14 {

void debugPkt(const Payload& payload);

void logTxDebugPacketRateChange(uint16_t before, uint16_t after);
void logSleepForceRXChange(float secondsBefore, float secondsAfter, bool forceBefore, bool forceAfter);
void logPhaseShiftChange(float before, float after);
void logTxPowerDbmChange(int before, int after);

}  // namespace LoRaRXPacket14
