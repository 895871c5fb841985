// Field-by-field printout of a received packet 13: copies, phase tags, keys and the wire bytes.
#include "rxpacket13_debug.h"

#include <cstdio>

#include "Debug.h"
#include "packet10_debug.h"
#include "packet_debug.h"

namespace LoRaRXPacket13 {

void debugPkt(const Payload& p) {
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  debugTsPrefix(ts, sizeof ts);
  printV2("%sPayload (RX packet 13 %s):", ts, LoRaPacket10::isConfirmPhaseTag(p.phaseTag[0]) ? "confirm" : "assign");
  LoRaPacket10::debugPktFields(p);
  printV2("  confirmPhaseTag: %s", LoRaPacket10::isConfirmPhaseTag(p.phaseTag[0]) ? "yes" : "no");
  char label[24];
  for (unsigned i = 0; i < HMAC_KEY_COPIES; ++i) {
    std::snprintf(label, sizeof label, "  hmacKey[%u]: ", i);
    debugPacketHexLine(label, p.hmacKey[i].data(), HMAC_KEY_BYTES);
  }
  printV2("  hmacKeyCopiesOk: %s", verifyHmacKeyCopies(p) ? "yes" : "no");
  uint8_t body[WIRE_BODY_BYTES];
  writeWireBody(body, p);
  debugPacketRawHexWithHmac("  ", body, sizeof body);
}

}  // namespace LoRaRXPacket13
