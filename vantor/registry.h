// The Vantor's SQLite file: registry of nodes, every uplink, reassembled captures and the queue of
// remote settings. The schema carries a version (PRAGMA user_version) and upgrades itself on open;
// the file is in WAL mode so the CLI can read and queue while a simulation writes.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "rxpacket14.h"
#include "sqlite_db.h"

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

class Registry {
 public:
  static constexpr int kSchemaVersion = 2;

  // create: make the file when missing (the simulation); otherwise a missing file is refused.
  // Throws DbError (also for a file whose schema is newer than this program's).
  Registry(const std::string& path, bool create);

  Database& db() { return db_; }
  int schemaVersion();

  // The virtual time of the latest frame heard (the Vantor's clock for expiry and activity). It
  // follows the world's clock, also when a database outlives its state folder and the clock
  // starts again.
  uint64_t nowUs();
  void advanceNow(uint64_t tUs);

  std::optional<NodeRecord> nodeByUid(uint32_t uid);
  std::optional<NodeRecord> nodeByChip(const std::string& chipId);
  std::vector<NodeRecord> nodes();
  // The lowest identity above every one in use (1 on an empty registry); 0 when none is left.
  uint32_t nextFreeUid();
  void insertNode(const NodeRecord& n, uint64_t nowUs);
  // Identity, key and state again for a chip that asks anew; its counter history starts over.
  void reassignNode(uint32_t uid, const std::string& state);
  void setNodeState(uint32_t uid, const std::string& state);
  void acceptCounter(uint32_t uid, uint32_t counter, uint64_t tUs);
  void recordDownlink(uint32_t uid, uint32_t counter, const std::vector<uint8_t>* packet14);
  void setExpectedInterval(uint32_t uid, double seconds);
  // Export/import form: identity, chip id, key and state.
  void importNode(uint32_t uid, const std::string& chipId, const NodeKey& key, const std::string& state);

  int64_t insertUplink(const UplinkRecord& u);
  // True when this node has an accepted frame of exactly these bytes at this counter.
  bool hasAcceptedFrame(uint32_t uid, uint32_t counter, const std::string& hex);
  // Most recent last; uid 0xFFFFFFFF for every node.
  std::vector<UplinkRecord> uplinks(std::optional<uint32_t> uid, int limit);
  std::optional<UplinkRecord> lastTelemetry(uint32_t uid);

  // A capture frame: creates the capture of (uid, code, counter) on its first frame.
  void addCaptureFrame(uint32_t uid, uint8_t code, uint32_t counter, uint64_t tUs, uint8_t sequence, size_t maxReadings,
                       const std::vector<CaptureSample>& samples);
  std::optional<CaptureRecord> lastCompleteCapture(uint32_t uid);
  std::vector<CaptureSample> captureRows(int64_t captureId);

  int64_t addQueueItem(const QueueItem& item);
  std::vector<QueueItem> queue(std::optional<uint32_t> uid);
  // Unfinished items of this node that ran out of attempts or time become expired.
  void expireQueue(uint32_t uid, uint64_t nowUs);
  std::optional<QueueItem> nextQueued(uint32_t uid);
  std::optional<QueueItem> awaitingAnswer(uint32_t uid);
  void markSent(int64_t id, uint64_t nowUs, uint32_t downlinkCounter);
  void markAnswered(int64_t id, bool ok, const std::string& reason);
  int flushQueue(uint32_t uid);

 private:
  void migrate();

  Database db_;
};

}  // namespace vantor
