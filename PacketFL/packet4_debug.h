// Console line of an outgoing packet 4 frame.
#pragma once

#include "packet4.h"

namespace LoRaPacket4 {
void debugPkt(const Payload& payload);
}
