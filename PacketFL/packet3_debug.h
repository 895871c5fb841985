// Console line of an outgoing packet 3.
#pragma once

#include "packet3.h"

namespace LoRaPacket3 {
void debugPkt(const Payload& payload);
}
