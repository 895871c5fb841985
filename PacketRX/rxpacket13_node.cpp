// Packet 13 on the node: the live key, the chip's unique ID, the live configuration and its flash commit.
#include "rxpacket13_node.h"

#include "DeviceConfig.h"
#include "functionsMCU.h"
#include "gstate.h"

namespace LoRaRXPacket13 {

namespace {
LoRaPacket10::StUid thisChip() { return LoRaPacket10::packStUidBytes(readChipID()); }
bool commitLive(FlashConfig& config) { return DeviceConfig::commitToFlash(config); }
}  // namespace

bool decode(Payload& p, const uint8_t* wire, size_t len) {
  return decodeWithKey(p, wire, len, HMAC::liveKey()) == DecodeFail::None;
}

DecodeFail decodeFailReason(const uint8_t* wire, size_t len) {
  Payload scratch{};
  return decodeWithKey(scratch, wire, len, HMAC::liveKey());
}

bool verifyLocalStUid(const Payload& p) { return verifyLocalStUid(p, thisChip()); }

bool confirmWireHmacKeyMatchesFlash(const HmacKey& wireKey) {
  return confirmWireHmacKeyMatchesFlash(gstate().config, wireKey);
}

bool applyAssignDecoded(const Payload& p) { return applyAssignTo(p, thisChip(), setGstate().config, commitLive); }

bool applyConfirmDecoded(const Payload& p) { return applyConfirmTo(p, thisChip(), gstate().config); }

}  // namespace LoRaRXPacket13
