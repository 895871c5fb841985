// Packet 9 frames.
#include "packet9.h"

namespace LoRaPacket9 {
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodeCapture(payload, key); }
}  // namespace LoRaPacket9
