// Packet 7 filled from the live measurement state.
#pragma once

#include "packet7.h"

struct GState;
struct Measure;

namespace LoRaPacket7 {

MeasurePayload makeMeasurePayload(const Measure& measure);
PowerPayload makePowerPayload(const GState& gstate);
Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const GState& gstate);

}  // namespace LoRaPacket7
