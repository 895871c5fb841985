// Console printout of a packet 10.
#pragma once

#include "packet10.h"

namespace LoRaPacket10 {
void debugPkt(const Payload& payload);
// The lines from "packetCode" to "assignPhaseTag", shared with downlink packet 13's printout.
void debugPktFields(const Payload& payload);
}  // namespace LoRaPacket10
