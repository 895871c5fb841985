// The Vantor's store: registry of nodes, every uplink, reassembled captures and the queue of remote
// settings, in one database whose schema carries a version and upgrades itself on open. The
// handling of a frame reads what it needs (FrameFacts), decides, and writes its outcome
// (FrameWrites) in one transaction. Backends: an SQLite file (the default) and a PostgreSQL server
// (`postgresql://...`, for a site whose Vantors share one registry).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "db_error.h"
#include "rxpacket14.h"

namespace vantor {

constexpr size_t kKeyBytes = 16;
using NodeKey = std::array<uint8_t, kKeyBytes>;

struct NodeRecord {
  uint32_t uid = 0;
  std::string chipId;  // 24 hex digits
  NodeKey key{};
  std::string state;  // assigned, confirmed
  std::optional<uint32_t> lastCounter;
  std::optional<uint64_t> lastSeenUs;
  uint32_t downlinkCounter = 0;       // the last one used towards this node
  std::vector<uint8_t> lastDownlink;  // the last packet 14 sent, as sent
  double expectedIntervalS = 600.0;
};

struct UplinkRecord {
  int64_t id = 0;
  uint64_t tUs = 0;
  uint32_t uid = 0;
  uint8_t code = 0;
  std::optional<uint32_t> counter;
  size_t len = 0;
  std::optional<double> rssiDbm;
  std::optional<double> snrDb;
  bool tagOk = false;
  std::string verdict;
  nlohmann::json fields = nlohmann::json::object();
  std::string hex;
  // The port and receiver that heard it, the receiver's counter and UTC time (a gateway's).
  std::string port;
  std::string receiver;
  std::optional<uint32_t> tmst;
  std::optional<std::string> rxTime;
};

struct QueueItem {
  int64_t id = 0;
  uint32_t uid = 0;
  std::string setting;
  std::string value;
  LoRaRXPacket14::Op op{};
  LoRaRXPacket14::Args args{};
  std::string state;   // pending, sent, done, failed, expired
  std::string reason;  // the packet 17 reason once answered
  int attempts = 0;
  int maxAttempts = 0;
  uint64_t createdUs = 0;
  uint64_t expiresUs = 0;
  std::optional<uint64_t> sentUs;
  std::optional<uint32_t> downlinkCounter;
  std::string lastError;  // why the last send was refused ("TOO_LATE via gateway 0102..."), if it was

  bool finished() const { return state != "pending" && state != "sent"; }
};

// A gateway the Vantor hears through (the packet forwarder's protocol): where its way down is, when
// it was last heard, where it stands (from its `stat`), and what it did.
struct GatewayRecord {
  std::string eui;      // 16 hex digits; "" for bad datagrams that name no gateway
  std::string address;  // the source of its latest PULL_DATA (the way down), "" before one
  std::optional<uint64_t> lastSeenUs;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::optional<double> altitude;
  // {"heard": n, "forwarded": n, "dropped": {reason: n}, "sent": n, "refused": {reason: n}}
  nlohmann::json counters = nlohmann::json::object();
  nlohmann::json stat;    // its latest `stat` object as it sent it
  std::string lastError;  // the latest refusal of a downlink, or ""
};

// A message waiting in the outbox of an MQTT client (its publisher) until the broker has it.
struct OutboxMessage {
  int64_t id = 0;
  std::string topic;
  std::string payload;
  bool retain = false;
};

struct CaptureRecord {
  int64_t id = 0;
  uint32_t uid = 0;
  uint8_t code = 0;
  uint32_t counter = 0;
  uint64_t lastUs = 0;
  int rows = 0;
  bool complete = false;
};

struct CaptureSample {
  int row;
  int bField;
  int eFieldInd;
  std::optional<int> eFieldCap;
};

// One frame of a capture (packets 4 and 9), to be put together with the others of its counter.
struct CaptureFrame {
  uint32_t uid = 0;
  uint8_t code = 0;
  uint32_t counter = 0;
  uint64_t tUs = 0;
  uint8_t sequence = 0;
  size_t maxReadings = 0;
  std::vector<CaptureSample> samples;
};

// What the store is asked about a frame, read from the frame alone.
struct FrameKeys {
  bool hasHeader = false;  // without one the store knows nothing of the frame
  uint32_t uid = 0;        // the header's identity
  uint32_t counter = 0;
  std::string hex;                    // the frame's bytes
  std::optional<std::string> chipId;  // packet 10: the chip it names
  bool queue = false;                 // packets 5 and 17: the node's settings may move
};

// What the store knows that the decision on a frame needs.
struct FrameFacts {
  std::optional<NodeRecord> node;  // the header's identity
  // When an accepted frame of these bytes at this counter of that identity was heard, if one was.
  std::optional<uint64_t> acceptedCopyUs;
  // When the latest copy of these bytes stored as accepted or duplicate was heard: a repeat the
  // node sent after an accepted one, answered by the Vantor that stored it first, shows here.
  std::optional<uint64_t> lastCopyUs;
  std::optional<NodeRecord> chipNode;  // packet 10: the node of the chip it names
  uint32_t freeUid = 0;                // packet 10: the identity a new chip would get (0: none left)
  std::vector<QueueItem> open;         // the node's items not finished yet, oldest first
};

// What the handling of one frame writes.
struct FrameWrites {
  uint64_t nowUs = 0;              // the Vantor's clock: the frame's time
  UplinkRecord uplink;             // its id is set when written
  std::optional<NodeRecord> node;  // the one node the frame changed, as it is after it
  bool newNode = false;            // ... which it created
  std::vector<QueueItem> items;    // queue items the frame changed, as they are after it
  std::optional<CaptureFrame> capture;
};

class Store {
 public:
  static constexpr int kSchemaVersion = 4;

  virtual ~Store() = default;

  virtual int schemaVersion() = 0;

  // A write transaction: one at a time on a database, whichever process or Vantor holds it, so
  // what it reads stays true until it commits. Rolled back unless committed.
  class Transaction {
   public:
    explicit Transaction(Store& store) : store_(store) { store_.begin(); }
    ~Transaction() {
      if (!done_) store_.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() {
      store_.commit();
      done_ = true;
    }

   private:
    Store& store_;
    bool done_ = false;
  };
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;

  // The handling of a frame, inside a transaction.
  virtual FrameFacts factsFor(const FrameKeys& keys) = 0;
  virtual void write(FrameWrites& writes) = 0;

  // The virtual time of the latest frame heard (the Vantor's clock for expiry and activity). It
  // follows the world's clock, also when a database outlives its state folder and the clock
  // starts again.
  virtual uint64_t nowUs() = 0;

  virtual std::optional<NodeRecord> nodeByUid(uint32_t uid) = 0;
  virtual std::optional<NodeRecord> nodeByChip(const std::string& chipId) = 0;
  virtual std::vector<NodeRecord> nodes() = 0;
  // Export/import form: identity, chip id, key and state.
  virtual void importNode(uint32_t uid, const std::string& chipId, const NodeKey& key, const std::string& state) = 0;

  // Most recent last; every node's without a uid.
  virtual std::vector<UplinkRecord> uplinks(std::optional<uint32_t> uid, int limit) = 0;
  // The latest accepted frame of one of these codes.
  virtual std::optional<UplinkRecord> lastAccepted(uint32_t uid, const std::vector<uint8_t>& codes) = 0;
  std::optional<UplinkRecord> lastTelemetry(uint32_t uid) { return lastAccepted(uid, {3, 5}); }
  // Every node's last telemetry at once (a fleet's list in one read, not one per node).
  virtual std::map<uint32_t, UplinkRecord> lastTelemetryOfEach();

  virtual std::optional<CaptureRecord> lastCompleteCapture(uint32_t uid) = 0;
  virtual std::vector<CaptureSample> captureRows(int64_t captureId) = 0;

  virtual int64_t addQueueItem(const QueueItem& item) = 0;
  virtual std::vector<QueueItem> queue(std::optional<uint32_t> uid) = 0;
  // Drops the node's items not answered yet; returns how many.
  virtual int flushQueue(uint32_t uid) = 0;
  // A send of an item was refused by the port: unless it has been answered or sent again since
  // (another downlink counter), it is pending again, the attempt not counted, the reason kept.
  // Returns the item as it is after it, if it changed.
  virtual std::optional<QueueItem> refuseSend(int64_t itemId, uint32_t downlinkCounter, const std::string& reason) = 0;

  // The gateways' table: written as a whole record each time, read by the CLI and the dashboard.
  virtual void saveGateway(const GatewayRecord& gateway) = 0;
  virtual std::vector<GatewayRecord> gateways() = 0;

  // The outbox of an MQTT client: what it is to publish, in order, kept until the broker has it.
  virtual void addOutbox(const std::string& publisher, const OutboxMessage& m) = 0;
  virtual std::vector<OutboxMessage> outbox(const std::string& publisher, int64_t afterId, int limit) = 0;
  virtual void removeOutbox(int64_t id) = 0;
  // Commands an MQTT client took, by the broker's message id: the result given to the one with
  // this id and payload taken at or after `sinceS` (wall clock), if there was one.
  virtual std::optional<std::string> commandResult(const std::string& publisher, int mid, const std::string& payload,
                                                   int64_t sinceS) = 0;
  virtual void recordCommand(const std::string& publisher, int mid, const std::string& payload,
                             const std::string& result, int64_t nowS) = 0;
};

// "postgresql://..." (or "postgres://...") for a PostgreSQL server, anything else is an SQLite
// file (":memory:" for one that lives as long as the store). create: make the file when missing
// (the simulation); otherwise a missing file is refused. Throws DbError, also for a database whose
// schema is newer than this program's.
std::unique_ptr<Store> openStore(const std::string& where, bool create);
bool isServerDatabase(const std::string& where);

}  // namespace vantor
