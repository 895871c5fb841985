// The Vantor's decisions on one frame: verdict, counters, provisioning, settings, answers.
#include "decide.h"

#include <algorithm>
#include <bit>
#include <random>

#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet9.h"
#include "rxpacket13.h"
#include "rxpacket14.h"
#include "uplink_decode.h"

namespace vantor {

namespace {

constexpr uint32_t kCounterMask = 0xFFFFFF;
const HMAC::Key kZeroKey{0, 0};

bool isDownlinkCode(uint8_t code) { return code == LoRaRXPacket13::PACKET_CODE || code == LoRaRXPacket14::PACKET_CODE; }

std::vector<uint8_t> bytesOf(const LoRaFrameBuffer& b) {
  return std::vector<uint8_t>(b.data(), b.data() + b.used_bytes());
}

// The decision on one frame, step by step, on a working copy of what the store knows.
class Decider {
 public:
  Decider(const std::vector<uint8_t>& frame, const Reception& rx, const Behaviour& behaviour, const FrameFacts& facts,
          uint64_t seed)
      : frame_(frame), rx_(rx), behaviour_(behaviour), facts_(facts), seed_(seed), open_(facts.open) {}

  Decision run();

 private:
  std::optional<Answer> provisioning(const DecodedUplink& d, bool underNodeKey);
  std::optional<Answer> nextSetting();
  void answered(const DecodedUplink& d);
  std::vector<uint8_t> packet13(NodeRecord& node, uint16_t phaseTag, const HMAC::Key& key);
  // The node this frame changes, from what the store holds on its first change.
  NodeRecord& changed(const NodeRecord& from) {
    if (!out_.writes.node) out_.writes.node = from;
    return *out_.writes.node;
  }
  void itemChanged(const QueueItem& q);

  const std::vector<uint8_t>& frame_;
  const Reception& rx_;
  const Behaviour& behaviour_;
  const FrameFacts& facts_;
  uint64_t seed_;
  std::vector<QueueItem> open_;  // the node's items not finished, as they stand
  Decision out_;
};

Decision Decider::run() {
  FrameWrites& w = out_.writes;
  w.nowUs = rx_.tUs;
  UplinkRecord& u = w.uplink;
  u.tUs = rx_.tUs;
  u.len = frame_.size();
  u.rssiDbm = rx_.rssiDbm;
  u.snrDb = rx_.snrDb;
  u.hex = hexText(frame_.data(), frame_.size());
  u.port = rx_.port;
  u.receiver = rx_.receiver;
  u.tmst = rx_.tmst;
  u.rxTime = rx_.time;

  const std::optional<NodeRecord>& node = facts_.node;
  DecodedUplink d = decodeUplink(frame_.data(), frame_.size(), node ? tagKey(node->key) : kZeroKey);
  const bool underNodeKey = node.has_value() && d.tagOk;
  if (node && !d.tagOk && d.lengthOk && d.code == LoRaPacket10::PACKET_CODE) {
    // A node that lost its provisioning asks again under the zero key, still naming its old identity.
    d = decodeUplink(frame_.data(), frame_.size(), kZeroKey);
  }
  u.uid = d.uid;
  u.code = d.code;
  if (d.hasHeader) u.counter = d.counter;
  u.tagOk = d.tagOk;
  u.fields = d.fields;

  const bool repeat = facts_.acceptedCopyUs.has_value();
  // Another Vantor of the registry stored this transmission (the node's first or a repeat) and
  // answered it; a second answer would collide with the first at the node.
  const bool sameTransmission = repeat && facts_.lastCopyUs &&
                                (rx_.tUs > *facts_.lastCopyUs ? rx_.tUs - *facts_.lastCopyUs
                                                              : *facts_.lastCopyUs - rx_.tUs) < kSameTransmissionUs;
  const auto accept = [&] {
    NodeRecord& n = changed(*node);
    n.lastCounter = d.counter;
    n.lastSeenUs = rx_.tUs;
  };
  if (!d.hasHeader || (!d.lengthOk && !isUplinkCode(d.code))) {
    u.verdict = d.hasHeader ? kUnknownCode : kBadLength;
  } else if (!d.lengthOk) {
    u.verdict = kBadLength;
  } else if (!d.tagOk) {
    u.verdict = kBadTag;
  } else if (!d.copiesOk) {
    u.verdict = kBadCopies;
  } else if (sameTransmission) {
    u.verdict = kDuplicate;  // the Vantor that stored it first has acted on it and answered
  } else if (d.code == LoRaPacket10::PACKET_CODE) {
    if (underNodeKey && node->chipId != chipIdText(d.chip)) {
      u.verdict = kWrongChip;
    } else if (underNodeKey && node->lastCounter &&
               compareCounter(d.counter, *node->lastCounter) == CounterOrder::behind) {
      u.verdict = kReplay;
    } else {
      u.verdict = repeat ? kDuplicate : kAccepted;
      if (underNodeKey && !repeat) accept();
      // A repeated request is answered too: the answer to the one before may have been lost.
      out_.answer = provisioning(d, underNodeKey);
    }
  } else if (!node) {
    u.verdict = kUnregistered;
  } else if (node->lastCounter && compareCounter(d.counter, *node->lastCounter) == CounterOrder::behind) {
    u.verdict = kReplay;
  } else if (node->lastCounter && compareCounter(d.counter, *node->lastCounter) == CounterOrder::same && repeat) {
    u.verdict = kDuplicate;
  } else {
    u.verdict = kAccepted;
    accept();
    // Its tag verified under the key it was assigned: the node holds it, as a confirm request
    // would show (one whose confirm never came through goes on with that key).
    if (NodeRecord& n = changed(*node); n.state == "assigned") n.state = "confirmed";
    switch (d.code) {
      case LoRaPacket3::PACKET_CODE_OPEN_RX: out_.answer = nextSetting(); break;
      case LoRaPacket17::PACKET_CODE:
        answered(d);
        out_.answer = nextSetting();  // the node listens once more after each handled frame
        break;
      case LoRaPacket4::PACKET_CODE:
      case LoRaPacket9::PACKET_CODE: {
        CaptureFrame c{d.uid, d.code, d.counter, rx_.tUs, d.sequence, d.maxReadings, {}};
        for (size_t i = 0; i < d.rows.size(); ++i) {
          const CaptureRow& r = d.rows[i];
          c.samples.push_back(CaptureSample{static_cast<int>(d.sequence * d.maxReadings + i), r.bField, r.eFieldInd,
                                            r.eFieldCap ? std::optional<int>(*r.eFieldCap) : std::nullopt});
        }
        w.capture = std::move(c);
        break;
      }
      default: break;
    }
  }
  return std::move(out_);
}

std::vector<uint8_t> Decider::packet13(NodeRecord& node, uint16_t phaseTag, const HMAC::Key& key) {
  const uint32_t counter = (node.downlinkCounter + 1) & kCounterMask;
  node.downlinkCounter = counter;
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

std::optional<Answer> Decider::provisioning(const DecodedUplink& d, bool underNodeKey) {
  if (behaviour_.silent) return std::nullopt;
  if (underNodeKey) {
    // The node asks under the identity and key it was given: it holds them, confirm.
    NodeRecord& n = changed(*facts_.node);
    n.state = "confirmed";
    return Answer{packet13(n, LoRaPacket10::kPhaseTagConfirm, tagKey(n.key)), kProvisionWindowMs, "confirm"};
  }
  NodeRecord* known = nullptr;
  if (facts_.chipNode) {
    // A chip it knows gets its identity and key again; its counters start over with them.
    known = &changed(*facts_.chipNode);
    known->state = "assigned";
    known->lastCounter.reset();
  } else {
    if (facts_.freeUid == 0) return std::nullopt;  // every identity is taken
    NodeRecord fresh;
    fresh.uid = facts_.freeUid;
    fresh.chipId = chipIdText(d.chip);
    fresh.key = freshKey(seed_, fresh.uid);
    fresh.state = "assigned";
    out_.writes.newNode = true;
    known = &changed(fresh);
  }
  return Answer{packet13(*known, LoRaPacket10::kPhaseTagAssign, kZeroKey), kProvisionWindowMs, "assign"};
}

void Decider::itemChanged(const QueueItem& q) {
  for (QueueItem& i : out_.writes.items) {
    if (i.id == q.id) {
      i = q;
      return;
    }
  }
  out_.writes.items.push_back(q);
}

std::optional<Answer> Decider::nextSetting() {
  if (behaviour_.silent) return std::nullopt;
  NodeRecord& node = changed(*facts_.node);
  if (behaviour_.replay && !node.lastDownlink.empty()) return Answer{node.lastDownlink, kSettingsWindowMs, "replay"};
  // Items out of attempts or time expire.
  for (QueueItem& q : open_) {
    if (!q.finished() && (q.attempts >= q.maxAttempts || q.expiresUs <= rx_.tUs)) {
      q.state = "expired";
      itemChanged(q);
    }
  }
  QueueItem* item = nullptr;
  for (QueueItem& q : open_) {
    if (!q.finished()) {
      item = &q;
      break;
    }
  }
  if (item == nullptr) return std::nullopt;
  // The node accepts only a counter above every one it has seen; past the top there is none.
  if (node.downlinkCounter >= kCounterMask) return std::nullopt;
  const uint32_t counter = node.downlinkCounter + 1;
  UID uid;
  uid.storeU24(node.uid);
  const auto p = LoRaRXPacket14::makePayload(LoRaPacketCounterU24::fromU32(counter), uid, item->op, item->args);
  std::vector<uint8_t> frame = bytesOf(LoRaRXPacket14::encode(p, tagKey(node.key)));
  item->state = "sent";
  ++item->attempts;
  item->sentUs = rx_.tUs;
  item->downlinkCounter = counter;
  itemChanged(*item);
  node.downlinkCounter = counter;
  node.lastDownlink = frame;
  Answer a{std::move(frame), kSettingsWindowMs, "setting #" + std::to_string(item->id)};
  a.itemId = item->id;
  a.downlinkCounter = counter;
  return a;
}

void Decider::answered(const DecodedUplink& d) {
  // The item sent last is the one answered.
  QueueItem* item = nullptr;
  for (QueueItem& q : open_) {
    if (q.state != "sent") continue;
    if (item == nullptr || *q.sentUs > *item->sentUs || (*q.sentUs == *item->sentUs && q.id > item->id)) item = &q;
  }
  if (item == nullptr) return;  // an answer to nothing outstanding: kept in the uplinks only
  item->state = d.ackOk ? "done" : "failed";
  item->reason = ackReasonName(d.ackReason);
  itemChanged(*item);
  out_.answered = *item;
  if (d.ackOk && item->op == LoRaRXPacket14::Op::SET_SleepForceRX) {
    const float seconds = std::bit_cast<float>(item->args[0]);
    changed(*facts_.node).expectedIntervalS = static_cast<double>(seconds);
  }
}

}  // namespace

HMAC::Key tagKey(const NodeKey& key) { return HMAC::keyFromBytes(key.data()); }

CounterOrder compareCounter(uint32_t counter, uint32_t lastAccepted) {
  const uint32_t ahead = (counter - lastAccepted) & kCounterMask;
  if (ahead == 0) return CounterOrder::same;
  return ahead < kCounterWrapWindow ? CounterOrder::ahead : CounterOrder::behind;
}

NodeKey freshKey(uint64_t seed, uint32_t uid) {
  std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32), uid, 0x4B455931u};
  std::mt19937 rng(seq);
  NodeKey key{};
  for (size_t i = 0; i < key.size(); i += 4) {
    const uint32_t w = rng();
    for (size_t b = 0; b < 4; ++b) key[i + b] = static_cast<uint8_t>(w >> (8 * b));
  }
  return key;
}

bool isStored(const std::vector<uint8_t>& frame) { return !frame.empty() && !isDownlinkCode(frame[0]); }

FrameKeys frameKeys(const std::vector<uint8_t>& frame) {
  FrameKeys k;
  PacketHeader header{};
  if (!PacketHeader::read(header, frame.data(), frame.size())) return k;
  k.hasHeader = true;
  k.uid = header.uid.toU24();
  k.counter = header.packetCounter.toU32();
  k.hex = hexText(frame.data(), frame.size());
  if (header.packetCode == LoRaPacket10::PACKET_CODE && frame.size() == LoRaPacket10::WIRE_MAX_BYTES) {
    LoRaPacket10::StUid chip{};
    std::copy_n(frame.begin() + LoRaPacket10::kOffStUid, chip.size(), chip.begin());
    k.chipId = chipIdText(chip);
  }
  k.queue = header.packetCode == LoRaPacket3::PACKET_CODE_OPEN_RX || header.packetCode == LoRaPacket17::PACKET_CODE;
  return k;
}

Decision decide(const std::vector<uint8_t>& frame, const Reception& rx, const Behaviour& behaviour,
                const FrameFacts& facts, uint64_t seed) {
  return Decider(frame, rx, behaviour, facts, seed).run();
}

}  // namespace vantor
