// The Vantor's decisions on one received frame, pure: the frame, its reception and what the store
// knows of it go in; what to store and what to answer come out. The frame is decoded under the key
// held for its identity, checked against the node's counter, and may call for an answer: packet 13
// to a provisioning request, packet 14 to a node that opened a receive window (packet 5, or the
// extra window after a handled frame).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HMAC.h"
#include "store.h"

namespace vantor {

// Reception figures of one frame.
struct Reception {
  uint64_t tUs = 0;  // start of the frame on the Vantor's clock
  std::optional<double> rssiDbm;
  std::optional<double> snrDb;
  // Which port and which of its receivers heard it ("gateway" and the gateway's EUI), with the
  // receiver's own counter (µs, at the frame's end) and UTC time where it gives them; the simulated
  // medium leaves them empty.
  std::string port;
  std::string receiver;
  std::optional<uint32_t> tmst;
  std::optional<std::string> time;
};

// What the Vantor is allowed to do with this frame (faults of the test harness).
struct Behaviour {
  bool silent = false;  // answer nothing, change nothing that sending would change
  bool replay = false;  // a window gets the last packet 14 sent to that node again
};

struct Answer {
  std::vector<uint8_t> frame;
  uint32_t windowMs = 0;  // length of the node's receive window that the answer must fall into
  std::string what;       // for logs: "assign", "confirm", "setting #3", "replay"
  uint64_t delayUs = 0;   // when to send it: this long after the end of the frame answered
  // The setting it carries and the downlink counter it went with, if it carries one.
  std::optional<int64_t> itemId;
  uint32_t downlinkCounter = 0;
};

// Verdicts of a stored uplink.
inline constexpr const char* kAccepted = "accepted";
inline constexpr const char* kReplay = "replay";        // counter behind the last accepted one
inline constexpr const char* kDuplicate = "duplicate";  // the same frame again
inline constexpr const char* kBadTag = "bad_tag";
inline constexpr const char* kBadLength = "bad_length";
inline constexpr const char* kBadCopies = "bad_copies";
inline constexpr const char* kUnregistered = "unregistered";  // tag fine under the zero key, no node
inline constexpr const char* kWrongChip = "wrong_chip";       // packet 10 of a node from another chip
inline constexpr const char* kUnknownCode = "unknown_code";

// Counters are 24-bit: one behind the last accepted by less than half the range is a replay, one
// ahead by less than half the range is new.
inline constexpr uint32_t kCounterWrapWindow = 1u << 23;
enum class CounterOrder { ahead, same, behind };
CounterOrder compareCounter(uint32_t counter, uint32_t lastAccepted);

// A copy of an accepted frame (or of a repeat of it) heard less than this time from it is the same
// transmission heard by another Vantor of the registry: a duplicate, not answered again, even when
// that node's later frames are in already.
inline constexpr uint64_t kSameTransmissionUs = 1'000'000;

inline constexpr int kDefaultMaxAttempts = 5;
inline constexpr uint64_t kDefaultTtlUs = 24ull * 3600 * 1000000;  // a day of virtual time
inline constexpr uint32_t kProvisionWindowMs = 10000;
inline constexpr uint32_t kSettingsWindowMs = 500;

struct Decision {
  FrameWrites writes;
  std::optional<Answer> answer;
  std::optional<QueueItem> answered;  // the setting a packet 17 closed, as it is after it
};

// A frame the Vantor keeps: anything but the downlinks (13, 14) it hears on the air.
bool isStored(const std::vector<uint8_t>& frame);
// What to ask the store about a frame that is stored.
FrameKeys frameKeys(const std::vector<uint8_t>& frame);
Decision decide(const std::vector<uint8_t>& frame, const Reception& rx, const Behaviour& behaviour,
                const FrameFacts& facts, uint64_t seed);

// The fresh key for an identity: from the seed and the identity, so runs repeat and no two
// identities share a key.
NodeKey freshKey(uint64_t seed, uint32_t uid);
HMAC::Key tagKey(const NodeKey& key);

}  // namespace vantor
