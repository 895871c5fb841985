// Inbound dispatch: a frame that passed the radio's CRC is checked for length and addressee, then
// handed to the decoder of its packet code; remote settings are answered with packet 17.
#include "lora_inbound.h"

#include "Debug.h"
#include "gstate.h"
#include "packet_debug.h"
#include "packethandler.h"
#include "rxpacket13_debug.h"
#include "rxpacket13_node.h"
#include "rxpacket14_debug.h"
#include "rxpacket14_node.h"

namespace {

volatile bool gLoraProvisioningActive = false;
volatile LoraProvisionPhaseAck gLoraProvisionPhaseAck = LoraProvisionPhaseAck::None;
volatile bool gReArmRequested = false;
constexpr unsigned kMaxReArmWindows = 8;
constexpr uint16_t kReArmWindowMs = 500;

using Reason = LoRaPacket17::Reason;
using Outcome = LoRaRXPacket14::ApplyOutcome;

bool handlePacket14(const uint8_t* data, size_t len) {
  // Without a valid record the key is the zero key anyone can use, and a commit would make a
  // record valid that no provisioning gave: not dispatched, as the shell warns.
  if (!gstate().config.ok()) return false;
  LoRaRXPacket14::Payload payload{};
  if (!LoRaRXPacket14::decode(payload, data, len)) return false;
  LoRaRXPacket14::debugPkt(payload);
  // The answer goes under the identity and key the frame came under, also when a failed commit
  // has reloaded the live record (then lost) in between: the receiving node must learn of it.
  const UID uid = gstate().config.uid;
  const HMAC::Key key = HMAC::liveKey();
  const auto answer = [&](bool ok, Reason reason) { sendPacket17(ok, reason, uid, key); };
  if (!LoRaRXPacket14::verifyFecCopies(payload)) {
    answer(false, Reason::FECFail);
    debug("LoRa RX: RXPacket14 cross-check mismatch, sent packet17 nack\n");
    return true;
  }
  const auto opcode = static_cast<unsigned>(payload.opcode);
  if (!LoRaRXPacket14::isSupportedOpcode(payload.opcode)) {
    answer(false, Reason::InvalidOpcode);
    debugV2("LoRa RX: RXPacket14 unsupported opcode 0x%04X, sent packet17 nack\n", opcode);
    return true;
  }
  switch (LoRaRXPacket14::applyDecoded(payload)) {
    case Outcome::Applied:
      answer(true, Reason::Applied);
      debugV2("LoRa RX: applied RXPacket14 (opcode=0x%04X), acked\n", opcode);
      return true;
    case Outcome::Unchanged: answer(true, Reason::Unchanged); return true;
    case Outcome::RejectedValue: answer(false, Reason::RejectedValue); return true;
    case Outcome::UnknownOpcode: answer(false, Reason::InvalidOpcode); return true;
    case Outcome::CommitFailed: answer(false, Reason::CommitFailed); return true;
    default: return false;  // stale or for another identity: never answered
  }
}

bool handlePacket13(const uint8_t* data, size_t len) {
  const bool active = gLoraProvisioningActive;
  if (gstate().config.ok() && !active) return false;
  LoRaRXPacket13::Payload payload{};
  if (!LoRaRXPacket13::decode(payload, data, len)) {
    if (active) {
      debugV2("LoRa RX: P13 decode failed reason=%s len=%u (expected %u)\n",
              LoRaRXPacket13::decodeFailLabel(LoRaRXPacket13::decodeFailReason(data, len)), static_cast<unsigned>(len),
              static_cast<unsigned>(LoRaRXPacket13::WIRE_MAX_BYTES));
      if (len != 0) debugPacketHexLine("  P13 RX wire: ", data, len);
    }
    return false;
  }
  LoRaRXPacket13::debugPkt(payload);
  if (!active) return false;  // shown, never applied outside the handshake
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  if (LoRaRXPacket13::applyAssignDecoded(payload)) {
    gLoraProvisionPhaseAck = LoraProvisionPhaseAck::Assign;
    debugTsPrefix(ts, sizeof ts);
    debugV2("%sLoRa RX: applied RXPacket13 assign (uid + HMAC)\n", ts);
    return true;
  }
  if (LoRaRXPacket13::applyConfirmDecoded(payload)) {
    gLoraProvisionPhaseAck = LoraProvisionPhaseAck::Confirm;
    debugTsPrefix(ts, sizeof ts);
    debugV2("%sLoRa RX: applied RXPacket13 confirm\n", ts);
    return true;
  }
  debugV2("LoRa RX: P13 rejected phaseTag=0x%04X len=%u\n", static_cast<unsigned>(payload.phaseTag[0]),
          static_cast<unsigned>(len));
  return false;
}

void onLoraRx(const uint8_t* data, uint8_t len, void*) {
  if (handleLoraRawPayload(data, len)) {
    gReArmRequested = true;
    return;
  }
  if (!gLoraProvisioningActive) return;
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  debugTsPrefix(ts, sizeof ts);
  const unsigned code = (data != nullptr && len != 0) ? data[0] : 0;
  debugV2("%sLoRa RX: ignored len=%u code=0x%02X (wake +%lums)\n", ts, static_cast<unsigned>(len), code,
          static_cast<unsigned long>(debugWakeMs()));
}

void ensureRxCallbackRegistered() {
  static bool registered = false;
  if (registered) return;
  llcc68HandlerInstance().setRxCallback(onLoraRx, nullptr);
  registered = true;
}

}  // namespace

bool handleLoraRawPayload(const uint8_t* data, size_t len) {
  if (data == nullptr || len <= PacketHeader::WIRE_BYTES - 1) {
    debugV2("LoRa RX: frame too short len=%u (header is %u)\n", static_cast<unsigned>(len),
            static_cast<unsigned>(PacketHeader::WIRE_BYTES));
    return false;
  }
  const uint8_t code = data[0];
  // Packet 13 carries the identity being assigned, so it cannot be addressed by ours.
  if (code != LoRaRXPacket13::PACKET_CODE) {
    const auto& uid = gstate().config.uid.bytes;
    if (data[1] != uid[0] || data[2] != uid[1] || data[3] != uid[2]) {
      debugV2("LoRa RX: uid mismatch, frame is for %02X%02X%02X, we are %02X%02X%02X (code %u)\n", data[1], data[2],
              data[3], uid[0], uid[1], uid[2], static_cast<unsigned>(code));
      return false;
    }
  }
  switch (code) {
    case LoRaRXPacket14::PACKET_CODE: return handlePacket14(data, len);
    case LoRaRXPacket13::PACKET_CODE: return handlePacket13(data, len);
    default:
      debugV2("LoRa RX: unhandled packetCode %u len=%u (uid matched)\n", static_cast<unsigned>(code),
              static_cast<unsigned>(len));
      return false;
  }
}

LoraListenResult loraListen(uint16_t listenTimeMs) {
  ensureRxCallbackRegistered();
  gReArmRequested = false;
  LoraListenResult result = lora_listen(listenTimeMs);
  for (unsigned extra = 0; gReArmRequested && extra < kMaxReArmWindows; ++extra) {
    gReArmRequested = false;
    const unsigned dropped = result.droppedFrames + lora_listen(kReArmWindowMs).droppedFrames;
    result.droppedFrames = static_cast<uint8_t>(dropped > 255 ? 255 : dropped);
  }
  if (gReArmRequested) debugV2("LoRa RX: re-arm capped at %u extra windows\n", kMaxReArmWindows);
  gReArmRequested = false;
  return result;
}

void setLoraProvisioningActive(bool active) { gLoraProvisioningActive = active; }
bool isLoraProvisioningActive() { return gLoraProvisioningActive; }
void clearLoraProvisionAck() { gLoraProvisionPhaseAck = LoraProvisionPhaseAck::None; }
bool loraProvisionAssignReceived() { return gLoraProvisionPhaseAck == LoraProvisionPhaseAck::Assign; }
bool loraProvisionConfirmReceived() { return gLoraProvisionPhaseAck == LoraProvisionPhaseAck::Confirm; }
