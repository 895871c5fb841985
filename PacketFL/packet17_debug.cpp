// Field-by-field printout of a packet 17, with its copies checked and its wire bytes.
#include "packet17_debug.h"

#include "Debug.h"
#include "packet_debug.h"

namespace LoRaPacket17 {

void debugPkt(const Payload& p) {
  debug("Payload (packet 17):\n");
  debugV2("  packetCode: %u\r\n", static_cast<unsigned>(p.packetCode));
  debugV2("  packetCounter (u24): %lu\r\n", static_cast<unsigned long>(p.packetCounter.toU32()));
  debugV2Uid(p.uid, true);
  debugV2("  ok: %s (copiesOk=%s)\r\n", p.ok[0] != 0 ? "true" : "false", verifyOkCopies(p) ? "yes" : "no");
  debugV2("  reason: %s (copiesOk=%s)\r\n", reasonLabel(p.reason[0]), verifyReasonCopies(p) ? "yes" : "no");
  debugPacketRawHexWithHmac("  ", reinterpret_cast<const uint8_t*>(&p), WIRE_BODY_BYTES);
}

}  // namespace LoRaPacket17
