// Console line of an outgoing packet 7.
#pragma once

#include "packet7.h"

namespace LoRaPacket7 {
void debugPkt(const Payload& payload);
}
