// The store written once in SQL over the seam to a database engine (SQLite or PostgreSQL): the
// schema and its upgrades, and every read and write of the registry.
#pragma once

#include <memory>

#include "sql_db.h"
#include "store.h"

namespace vantor {

class SqlStore : public Store {
 public:
  // Upgrades the schema to this program's version in one transaction; a newer one is refused.
  explicit SqlStore(std::unique_ptr<SqlDb> db);

  int schemaVersion() override { return db_->schemaVersion(); }
  void begin() override { db_->begin(); }
  void commit() override { db_->commit(); }
  void rollback() noexcept override { db_->rollback(); }

  FrameFacts factsFor(const FrameKeys& keys) override;
  void write(FrameWrites& writes) override;
  uint64_t nowUs() override;

  std::optional<NodeRecord> nodeByUid(uint32_t uid) override;
  std::optional<NodeRecord> nodeByChip(const std::string& chipId) override;
  std::vector<NodeRecord> nodes() override;
  void importNode(uint32_t uid, const std::string& chipId, const NodeKey& key, const std::string& state) override;

  std::vector<UplinkRecord> uplinks(std::optional<uint32_t> uid, int limit) override;
  std::optional<UplinkRecord> lastAccepted(uint32_t uid, const std::vector<uint8_t>& codes) override;
  std::map<uint32_t, UplinkRecord> lastTelemetryOfEach() override;
  std::optional<CaptureRecord> lastCompleteCapture(uint32_t uid) override;
  std::vector<CaptureSample> captureRows(int64_t captureId) override;

  int64_t addQueueItem(const QueueItem& item) override;
  std::vector<QueueItem> queue(std::optional<uint32_t> uid) override;
  int flushQueue(uint32_t uid) override;
  std::optional<QueueItem> refuseSend(int64_t itemId, uint32_t downlinkCounter, const std::string& reason) override;
  void saveGateway(const GatewayRecord& gateway) override;
  std::vector<GatewayRecord> gateways() override;

  void addOutbox(const std::string& publisher, const OutboxMessage& m) override;
  std::vector<OutboxMessage> outbox(const std::string& publisher, int64_t afterId, int limit) override;
  void removeOutbox(int64_t id) override;
  std::optional<std::string> commandResult(const std::string& publisher, int mid, const std::string& payload,
                                           int64_t sinceS) override;
  void recordCommand(const std::string& publisher, int mid, const std::string& payload, const std::string& result,
                     int64_t nowS) override;

  SqlDb& db() { return *db_; }

 private:
  void migrate();
  uint32_t nextFreeUid();
  void writeNode(const NodeRecord& n, bool insert, uint64_t nowUs);
  void addCaptureFrame(const CaptureFrame& f);

  std::unique_ptr<SqlDb> db_;
};

}  // namespace vantor
