// The node's tag key: the first 8 bytes of the live configuration's key, zeros while it is not valid.
#include "HMAC.h"
#include "flashconfig.h"
#include "gstate.h"

namespace HMAC {

Key keyFor(const FlashConfig& config) {
  if (!config.ok()) return Key{0, 0};
  return keyFromBytes(config.hmacKey.data());
}

Key liveKey() { return keyFor(gstate().config); }

uint32_t compute(const uint8_t* data, size_t len) { return compute(liveKey(), data, len); }
bool appendTag(LoRaFrameBuffer& buffer, size_t len) { return appendTag(liveKey(), buffer, len); }
bool verifyTag(const uint8_t* wire, size_t bodyLen, size_t wireLen) {
  return verifyTag(liveKey(), wire, bodyLen, wireLen);
}

}  // namespace HMAC
