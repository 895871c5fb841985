// Console printout of a received packet 13.
#pragma once

#include "rxpacket13.h"

namespace LoRaRXPacket13 {
void debugPkt(const Payload& payload);
}
