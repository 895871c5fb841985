// Console printout of a packet 9 frame: header, every decoded sample, tag and wire bytes.
#pragma once

#include "packet9.h"

namespace LoRaPacket9 {
void debugPkt(const Payload& payload);
}
