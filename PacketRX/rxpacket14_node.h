// Packet 14 applied on the node: the live configuration (committed to flash) and the RTC power.
#pragma once

#include "rxpacket14.h"

namespace LoRaRXPacket14 {
ApplyOutcome applyDecoded(const Payload& p);
}
