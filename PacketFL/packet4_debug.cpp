// "Sending packet 4".
#include "packet4_debug.h"

#include "Debug.h"

namespace LoRaPacket4 {
void debugPkt(const Payload&) { debug("Sending packet 4\n"); }
}  // namespace LoRaPacket4
