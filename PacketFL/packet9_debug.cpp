// Printout of a packet 9 frame. A readings count above the frame's maximum is shown as read, but
// only the samples the payload holds are printed, tagged and dumped.
#include "packet9_debug.h"

#include "Debug.h"
#include "HMAC.h"
#include "packet_debug.h"

namespace LoRaPacket9 {

void debugPkt(const Payload& p) {
  debug("Payload (packet 9):\n");
  debugV2("  readEvent (u24): %lu\n", static_cast<unsigned long>(p.header.packetCounter.toU32()));
  debugV2Uid(p.header.uid, true);
  debugV2("  sequence: %u  readings: %u\r\n", static_cast<unsigned>(p.header.sequence),
          static_cast<unsigned>(p.header.readings));
  const unsigned shown = p.header.readings < MaxReadings ? p.header.readings : static_cast<unsigned>(MaxReadings);
  for (unsigned i = 0; i < shown; ++i) {
    const SampleValues v = decodeAdcSampleValues(p.adc[i].word());
    debugV2("  %03u: b=%+04d eInd=%04u eCap=%04u", i, static_cast<int>(v.bField), static_cast<unsigned>(v.eFieldInd),
            static_cast<unsigned>(v.eFieldCap));
  }
  const uint8_t* body = reinterpret_cast<const uint8_t*>(&p);
  const uint32_t tag = HMAC::compute(body, p.bodyBytes());
  debugV2("  HMAC: %02X %02X %02X %02X\n", static_cast<unsigned>(tag & 0xFF), static_cast<unsigned>((tag >> 8) & 0xFF),
          static_cast<unsigned>((tag >> 16) & 0xFF), static_cast<unsigned>(tag >> 24));
  debugPacketRawHexWithHmac("  ", body, p.bodyBytes());
}

}  // namespace LoRaPacket9
