// "Sending packet 7".
#include "packet7_debug.h"

#include "Debug.h"

namespace LoRaPacket7 {
void debugPkt(const Payload&) { debug("Sending packet 7\n"); }
}  // namespace LoRaPacket7
