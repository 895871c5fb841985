// Field-by-field printout of a packet 10, with its copies checked and its wire bytes.
#include "packet10_debug.h"

#include <cstdio>

#include "Debug.h"
#include "packet_debug.h"

namespace LoRaPacket10 {

void debugPkt(const Payload& p) {
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  debugTsPrefix(ts, sizeof ts);
  printV2("%sPayload (packet 10 STM32 UID):", ts);
  debugPktFields(p);
  uint8_t body[WIRE_BODY_BYTES];
  writeWireBody(body, p);
  debugPacketRawHexWithHmac("  ", body, sizeof body);
}

void debugPktFields(const Payload& p) {
  char label[32];
  printV2("  packetCode: %u", static_cast<unsigned>(p.header.packetCode));
  printV2("  packetCounter (u24): %lu", static_cast<unsigned long>(p.header.packetCounter.toU32()));
  debugV2Uid(p.header.uid, false);
  for (unsigned i = 0; i < PROVISIONED_UID_COPIES; ++i) {
    std::snprintf(label, sizeof label, "  provisionedUid[%u]: ", i);
    printPacketHexLine(label, p.provisionedUid[i].bytes.data(), 3);
  }
  printV2("  provisionedUidCopiesOk: %s", verifyProvisionedUidCopies(p) ? "yes" : "no");
  for (unsigned i = 0; i < ST_UID_COPIES; ++i) {
    std::snprintf(label, sizeof label, "  stUid[%u]: ", i);
    printPacketHexLine(label, p.stUid[i].data(), ST_UID_BYTES);
  }
  printV2("  stUidCopiesOk: %s", verifyStUidCopies(p) ? "yes" : "no");
  for (unsigned i = 0; i < PHASE_TAG_COPIES; ++i) printV2("  phaseTag[%u]: 0x%04X", i, p.phaseTag[i]);
  printV2("  phaseTagCopiesOk: %s", verifyPhaseTagCopies(p) ? "yes" : "no");
  printV2("  assignPhaseTag: %s", isAssignPhaseTag(p.phaseTag[0]) ? "yes" : "no");
}

}  // namespace LoRaPacket10
