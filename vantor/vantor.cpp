// The Vantor's handling of one received frame: store, check, act, answer.
#include "vantor.h"

#include <bit>

#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet9.h"
#include "rxpacket13.h"
#include "rxpacket14.h"

namespace vantor {

namespace {

constexpr uint32_t kCounterMask = 0xFFFFFF;
const HMAC::Key kZeroKey{0, 0};

bool isDownlinkCode(uint8_t code) { return code == LoRaRXPacket13::PACKET_CODE || code == LoRaRXPacket14::PACKET_CODE; }

std::vector<uint8_t> bytesOf(const LoRaFrameBuffer& b) {
  return std::vector<uint8_t>(b.data(), b.data() + b.used_bytes());
}

}  // namespace

HMAC::Key tagKey(const NodeKey& key) { return HMAC::keyFromBytes(key.data()); }

CounterOrder compareCounter(uint32_t counter, uint32_t lastAccepted) {
  const uint32_t ahead = (counter - lastAccepted) & kCounterMask;
  if (ahead == 0) return CounterOrder::same;
  return ahead < kCounterWrapWindow ? CounterOrder::ahead : CounterOrder::behind;
}

NodeKey Vantor::keyFor(uint32_t uid) const {
  std::seed_seq seq{static_cast<uint32_t>(seed_), static_cast<uint32_t>(seed_ >> 32), uid, 0x4B455931u};
  std::mt19937 rng(seq);
  NodeKey key{};
  for (size_t i = 0; i < key.size(); i += 4) {
    const uint32_t w = rng();
    for (size_t b = 0; b < 4; ++b) key[i + b] = static_cast<uint8_t>(w >> (8 * b));
  }
  return key;
}

std::optional<Answer> Vantor::onFrame(const std::vector<uint8_t>& frame, const Reception& rx,
                                      const Behaviour& behaviour) {
  if (frame.empty() || isDownlinkCode(frame[0])) return std::nullopt;  // not an uplink: nothing to keep
  Database::Transaction tx(registry_.db());
  registry_.advanceNow(rx.tUs);

  UplinkRecord u;
  u.tUs = rx.tUs;
  u.len = frame.size();
  u.rssiDbm = rx.rssiDbm;
  u.snrDb = rx.snrDb;
  u.hex = hexText(frame.data(), frame.size());

  PacketHeader header{};
  std::optional<NodeRecord> node;
  if (PacketHeader::read(header, frame.data(), frame.size())) node = registry_.nodeByUid(header.uid.toU24());
  DecodedUplink d = decodeUplink(frame.data(), frame.size(), node ? tagKey(node->key) : kZeroKey);
  const bool underNodeKey = node.has_value() && d.tagOk;
  if (node && !d.tagOk && d.lengthOk && d.code == LoRaPacket10::PACKET_CODE) {
    // A node that lost its provisioning asks again under the zero key, still naming its old identity.
    d = decodeUplink(frame.data(), frame.size(), kZeroKey);
  }
  u.uid = d.uid;
  u.code = d.code;
  if (d.hasHeader) u.counter = d.counter;
  u.tagOk = d.tagOk;
  u.fields = d.fields;

  std::optional<Answer> answer;
  if (!d.hasHeader || (!d.lengthOk && !isUplinkCode(d.code))) {
    u.verdict = d.hasHeader ? kUnknownCode : kBadLength;
  } else if (!d.lengthOk) {
    u.verdict = kBadLength;
  } else if (!d.tagOk) {
    u.verdict = kBadTag;
  } else if (!d.copiesOk) {
    u.verdict = kBadCopies;
  } else if (d.code == LoRaPacket10::PACKET_CODE) {
    const bool repeat = registry_.hasAcceptedFrame(d.uid, d.counter, u.hex);
    if (underNodeKey && node->chipId != chipIdText(d.chip)) {
      u.verdict = kWrongChip;
    } else if (underNodeKey && node->lastCounter &&
               compareCounter(d.counter, *node->lastCounter) == CounterOrder::behind) {
      u.verdict = kReplay;
    } else {
      u.verdict = repeat ? kDuplicate : kAccepted;
      if (underNodeKey && !repeat) registry_.acceptCounter(d.uid, d.counter, rx.tUs);
      // A repeated request is answered too: the answer to the one before may have been lost.
      answer = provisioning(d, node, underNodeKey, rx, behaviour);
    }
  } else if (!node) {
    u.verdict = kUnregistered;
  } else if (node->lastCounter && compareCounter(d.counter, *node->lastCounter) == CounterOrder::behind) {
    u.verdict = kReplay;
  } else if (node->lastCounter && compareCounter(d.counter, *node->lastCounter) == CounterOrder::same &&
             registry_.hasAcceptedFrame(d.uid, d.counter, u.hex)) {
    u.verdict = kDuplicate;
  } else {
    u.verdict = kAccepted;
    registry_.acceptCounter(d.uid, d.counter, rx.tUs);
    // Its tag verified under the key it was assigned: the node holds it, as a confirm request
    // would show (one whose confirm never came through goes on with that key).
    if (node->state == "assigned") registry_.setNodeState(node->uid, "confirmed");
    switch (d.code) {
      case LoRaPacket3::PACKET_CODE_OPEN_RX: answer = nextSetting(*node, rx.tUs, behaviour); break;
      case LoRaPacket17::PACKET_CODE:
        answered(*node, d);
        answer = nextSetting(*node, rx.tUs, behaviour);  // the node listens once more after each handled frame
        break;
      case LoRaPacket4::PACKET_CODE:
      case LoRaPacket9::PACKET_CODE: {
        std::vector<CaptureSample> samples;
        for (size_t i = 0; i < d.rows.size(); ++i) {
          const CaptureRow& r = d.rows[i];
          samples.push_back(CaptureSample{static_cast<int>(d.sequence * d.maxReadings + i), r.bField, r.eFieldInd,
                                          r.eFieldCap ? std::optional<int>(*r.eFieldCap) : std::nullopt});
        }
        registry_.addCaptureFrame(d.uid, d.code, d.counter, rx.tUs, d.sequence, d.maxReadings, samples);
        break;
      }
      default: break;
    }
  }
  registry_.insertUplink(u);
  tx.commit();
  return answer;
}

std::vector<uint8_t> Vantor::packet13(const NodeRecord& node, uint16_t phaseTag, const HMAC::Key& key) {
  const uint32_t counter = (node.downlinkCounter + 1) & kCounterMask;
  registry_.recordDownlink(node.uid, counter, nullptr);
  UID uid;
  uid.storeU24(node.uid);
  LoRaPacket10::StUid chip{};
  for (size_t i = 0; i < chip.size() && 2 * i + 1 < node.chipId.size(); ++i) {
    chip[i] = static_cast<uint8_t>(std::stoul(node.chipId.substr(2 * i, 2), nullptr, 16));
  }
  const LoRaRXPacket13::Payload p =
      LoRaRXPacket13::makePayload(LoRaPacketCounterU24::fromU32(counter), uid, chip, phaseTag, node.key);
  return bytesOf(LoRaRXPacket13::encode(p, key));
}

std::optional<Answer> Vantor::provisioning(const DecodedUplink& d, const std::optional<NodeRecord>& node,
                                           bool underNodeKey, const Reception& rx, const Behaviour& behaviour) {
  if (behaviour.silent) return std::nullopt;
  if (underNodeKey) {
    // The node asks under the identity and key it was given: it holds them, confirm.
    registry_.setNodeState(node->uid, "confirmed");
    return Answer{packet13(*node, LoRaPacket10::kPhaseTagConfirm, tagKey(node->key)), kProvisionWindowMs, "confirm"};
  }
  const std::string chip = chipIdText(d.chip);
  std::optional<NodeRecord> known = registry_.nodeByChip(chip);
  if (known) {
    // A chip it knows gets its identity and key again; its counters start over with them.
    registry_.reassignNode(known->uid, "assigned");
  } else {
    NodeRecord fresh;
    fresh.uid = registry_.nextFreeUid();
    if (fresh.uid == 0) return std::nullopt;  // every identity is taken
    fresh.chipId = chip;
    fresh.key = keyFor(fresh.uid);
    fresh.state = "assigned";
    registry_.insertNode(fresh, rx.tUs);
    known = fresh;
  }
  return Answer{packet13(*known, LoRaPacket10::kPhaseTagAssign, kZeroKey), kProvisionWindowMs, "assign"};
}

std::optional<Answer> Vantor::nextSetting(const NodeRecord& node, uint64_t nowUs, const Behaviour& behaviour) {
  if (behaviour.silent) return std::nullopt;
  if (behaviour.replay && !node.lastDownlink.empty()) return Answer{node.lastDownlink, kSettingsWindowMs, "replay"};
  registry_.expireQueue(node.uid, nowUs);
  const std::optional<QueueItem> item = registry_.nextQueued(node.uid);
  if (!item) return std::nullopt;
  // The node accepts only a counter above every one it has seen; past the top there is none.
  if (node.downlinkCounter >= kCounterMask) return std::nullopt;
  const uint32_t counter = node.downlinkCounter + 1;
  UID uid;
  uid.storeU24(node.uid);
  const auto p = LoRaRXPacket14::makePayload(LoRaPacketCounterU24::fromU32(counter), uid, item->op, item->args);
  std::vector<uint8_t> frame = bytesOf(LoRaRXPacket14::encode(p, tagKey(node.key)));
  registry_.markSent(item->id, nowUs, counter);
  registry_.recordDownlink(node.uid, counter, &frame);
  return Answer{std::move(frame), kSettingsWindowMs, "setting #" + std::to_string(item->id)};
}

void Vantor::answered(const NodeRecord& node, const DecodedUplink& d) {
  const std::optional<QueueItem> item = registry_.awaitingAnswer(node.uid);
  if (!item) return;  // an answer to nothing outstanding: kept in the uplinks only
  registry_.markAnswered(item->id, d.ackOk, ackReasonName(d.ackReason));
  if (d.ackOk && item->op == LoRaRXPacket14::Op::SET_SleepForceRX) {
    const float seconds = std::bit_cast<float>(item->args[0]);
    registry_.setExpectedInterval(node.uid, static_cast<double>(seconds));
  }
}

}  // namespace vantor
