// The Vantor over arbitrary bytes from the air, with its registry and settings queue: nothing may
// crash or read outside the frame, and the registry keeps its rules:
// - a node's uplink counter and downlink counter never go back;
// - a frame tagged under a key the Vantor does not hold for that node is never accepted, and
//   neither is an accepted frame played again (it changes nothing: no counter, no queue item, no
//   answer but the repeated provisioning answer);
// - every answer is a downlink the node can decode under the key it holds, a setting one counter
//   above the last one sent (the replay fault sends the last one again);
// - a queue item never exceeds its attempts and, once finished, never changes again.
// Input: byte 0 shapes the frame (bits 0-1: as it is, tagged under node 1's key (twice as often), or
// under the zero key; bit 6: under a forged key instead), bit 2 queues a setting first when none
// waits (byte 1 picks it), bit 3 plays the frame again, bits 4-5 the silent and replay faults; the rest is the frame.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rxpacket13.h"
#include "rxpacket14.h"
#include "settings.h"
#include "vantor.h"

namespace {

constexpr uint32_t kNode = 1;
const HMAC::Key kZeroKey{0, 0};
const HMAC::Key kForgedKey{0x89ABCDEFu, 0x01234567u};

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "vantor_fuzz: %s\n", what);
    std::abort();
  }
}

struct World {
  std::unique_ptr<vantor::Store> store = vantor::openStore(":memory:", true);
  vantor::Store& registry = *store;
  vantor::Vantor vantor{registry, 5};
  HMAC::Key key{};
  uint64_t now = 0;
  size_t frames = 0;
  std::map<int64_t, std::string> finished;  // queue items that reached a final state

  World() {
    const vantor::NodeKey k = vantor.keyFor(kNode);
    registry.importNode(kNode, "0D0000007856341248BADCAF", k, "confirmed");
    key = vantor::tagKey(k);
  }
};

std::unique_ptr<World> gWorld;

// The settings a queue may hold, by the CLI's words.
const std::vector<std::vector<std::string>> kSettings = {
    {"phase", "0.5"}, {"debug-rate", "7"}, {"sleep", "60", "force-rx"}, {"tx-power", "5"}, {"dbg1"}, {"sleep", "86400"},
};

void queueSetting(World& w, uint8_t pick) {
  vantor::Setting s;
  std::string error;
  check(vantor::parseSetting(kSettings[pick % kSettings.size()], s, error), "a setting of the table is refused");
  const int attempts = 1 + (pick >> 4) % 5;
  const uint64_t ttl = (pick & 0x08) ? 5000 : vantor::Vantor::kDefaultTtlUs;
  w.registry.addQueueItem(vantor::queueItem(kNode, s, attempts, w.now, ttl));
}

size_t waiting(World& w) {
  size_t n = 0;
  for (const vantor::QueueItem& q : w.registry.queue(kNode)) n += q.finished() ? 0 : 1;
  return n;
}

void tag(std::vector<uint8_t>& frame, const HMAC::Key& key) {
  if (frame.size() < 11) return;
  const size_t body = frame.size() - 4;
  const uint32_t t = HMAC::compute(key, frame.data(), body);
  for (size_t i = 0; i < 4; ++i) frame[body + i] = static_cast<uint8_t>(t >> (8 * i));
}

struct NodeView {
  std::optional<uint32_t> lastCounter;
  uint32_t downlinkCounter = 0;
  std::vector<vantor::QueueItem> queue;
};

NodeView view(World& w) {
  const auto n = w.registry.nodeByUid(kNode);
  return NodeView{n->lastCounter, n->downlinkCounter, w.registry.queue(kNode)};
}

bool sameQueue(const std::vector<vantor::QueueItem>& a, const std::vector<vantor::QueueItem>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].state != b[i].state || a[i].attempts != b[i].attempts ||
        a[i].reason != b[i].reason) {
      return false;
    }
  }
  return true;
}

// The latest stored row: its id and verdict.
struct Row {
  int64_t id = 0;
  std::string verdict;
};
Row lastRow(World& w) {
  const auto rows = w.registry.uplinks(std::nullopt, 1);
  return rows.empty() ? Row{} : Row{rows.back().id, rows.back().verdict};
}
// The stored verdict of the frame just handled; none for a frame the Vantor keeps no row of (a
// downlink code), whose latest row is still the one before.
std::string verdictSince(World& w, const Row& before) {
  const Row now = lastRow(w);
  return now.id != before.id ? now.verdict : std::string();
}

void checkAnswer(World& w, const std::optional<vantor::Answer>& answer, const NodeView& before, const NodeView& after) {
  check(vantor::compareCounter(after.downlinkCounter, before.downlinkCounter) != vantor::CounterOrder::behind,
        "the downlink counter went back");
  if (!answer) return;
  check(!answer->frame.empty(), "an empty answer");
  const uint8_t code = answer->frame[0];
  if (code == LoRaRXPacket14::PACKET_CODE) {
    LoRaRXPacket14::Payload p{};
    check(LoRaRXPacket14::decodeWithKey(p, answer->frame.data(), answer->frame.size(), w.key),
          "a setting the node cannot decode");
    check(p.uid.toU24() == kNode, "a setting for another node");
    if (answer->what != "replay") {
      check(p.packetCounter.toU32() == after.downlinkCounter && after.downlinkCounter == before.downlinkCounter + 1,
            "a setting not one counter above the last one");
    }
    return;
  }
  check(code == LoRaRXPacket13::PACKET_CODE, "an answer that is no downlink");
  LoRaRXPacket13::Payload p{};
  const bool assign = LoRaRXPacket13::decodeWithKey(p, answer->frame.data(), answer->frame.size(), kZeroKey) ==
                      LoRaRXPacket13::DecodeFail::None;
  if (!assign) {
    // A confirm goes under the key of the identity it names.
    const auto target = w.registry.nodeByUid(answer->frame[1] | (answer->frame[2] << 8) | (answer->frame[3] << 16));
    check(target.has_value(), "a confirm for an identity the registry does not hold");
    check(LoRaRXPacket13::decodeWithKey(p, answer->frame.data(), answer->frame.size(), vantor::tagKey(target->key)) ==
              LoRaRXPacket13::DecodeFail::None,
          "a provisioning answer the node cannot decode");
  }
}

void checkQueue(World& w, const std::vector<vantor::QueueItem>& queue) {
  for (const vantor::QueueItem& q : queue) {
    check(q.attempts <= q.maxAttempts, "more attempts than allowed");
    const auto done = w.finished.find(q.id);
    if (done != w.finished.end()) check(done->second == q.state + q.reason, "a finished item changed");
    if (q.state == "done" || q.state == "failed" || q.state == "expired") w.finished[q.id] = q.state + q.reason;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // A fresh database now and then keeps memory flat over long runs.
  if (!gWorld || gWorld->frames > 2000) gWorld = std::make_unique<World>();
  World& w = *gWorld;
  const uint8_t mode = data[0];
  std::vector<uint8_t> frame(data + 2, data + size);
  const uint8_t shape = mode % 4;
  const bool forged = (mode & 0x40) != 0;
  if (shape != 0 && frame.size() >= 7) {
    frame[1] = kNode;
    frame[2] = 0;
    frame[3] = 0;
    tag(frame, forged ? kForgedKey : shape == 3 ? kZeroKey : w.key);
  }
  if ((mode & 0x04) && waiting(w) == 0) queueSetting(w, data[1]);
  const vantor::Behaviour behaviour{(mode & 0x10) != 0, (mode & 0x20) != 0};

  const NodeView before = view(w);
  const Row rowBefore = lastRow(w);
  w.now += 1000 + data[1] * 1000ull;
  const auto answer = w.vantor.onFrame(frame, vantor::Reception{w.now, -70.0, 5.0}, behaviour);
  ++w.frames;
  const NodeView after = view(w);
  const std::string verdict = verdictSince(w, rowBefore);
  if (before.lastCounter && after.lastCounter) {
    check(vantor::compareCounter(*after.lastCounter, *before.lastCounter) != vantor::CounterOrder::behind,
          "a node's counter went back");
  }
  checkAnswer(w, answer, before, after);
  checkQueue(w, after.queue);
  const bool toNode = shape != 0 && frame.size() >= 11;
  if (toNode && forged) check(verdict != vantor::kAccepted, "a forged frame was accepted");

  // The same bytes again: never accepted a second time, and nothing moves.
  if ((mode & 0x08) && verdict == vantor::kAccepted && !frame.empty()) {
    w.now += 1000;
    const Row first = lastRow(w);
    const auto again = w.vantor.onFrame(frame, vantor::Reception{w.now, -70.0, 5.0}, behaviour);
    ++w.frames;
    const NodeView replayed = view(w);
    check(verdictSince(w, first) != vantor::kAccepted, "a replayed frame was accepted");
    check(replayed.lastCounter == after.lastCounter, "a replayed frame moved the counter");
    check(sameQueue(replayed.queue, after.queue), "a replayed frame changed the queue");
    const bool provisioning = frame[0] == LoRaPacket10::PACKET_CODE;
    if (!provisioning) check(!again.has_value(), "a replayed frame was answered");
  }
  return 0;
}
