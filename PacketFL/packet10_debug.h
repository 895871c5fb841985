// Console printout of a packet 10.
#pragma once

#include "packet10.h"

namespace LoRaPacket10 {
void debugPkt(const Payload& payload);
}
