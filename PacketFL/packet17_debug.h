// Console printout of a packet 17.
#pragma once

#include "packet17.h"

namespace LoRaPacket17 {
void debugPkt(const Payload& payload);
}
