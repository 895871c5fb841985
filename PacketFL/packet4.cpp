// Packet 4 frames.
#include "packet4.h"

namespace LoRaPacket4 {
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodeCapture(payload, key); }
}  // namespace LoRaPacket4
