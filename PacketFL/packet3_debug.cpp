// "Sending packet 3" / "Sending packet 5 (telemetry + RX window signal)".
#include "packet3_debug.h"

#include "Debug.h"

namespace LoRaPacket3 {

void debugPkt(const Payload& payload) {
  debugV2("Sending packet %u%s\n", static_cast<unsigned>(payload.packetCode),
          payload.packetCode == PACKET_CODE_OPEN_RX ? " (telemetry + RX window signal)" : "");
}

}  // namespace LoRaPacket3
