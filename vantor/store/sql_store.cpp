// Registry, uplinks, captures and queue in SQL, with the schema's upgrades; the statements run
// unchanged on SQLite and PostgreSQL.
#include "sql_store.h"

#include <cstring>

#include "pg_db.h"
#include "sqlite_db.h"

namespace vantor {

namespace {

// Each step takes the schema from the previous version to the next; all run in one transaction.
// {id}, {int}, {real}, {blob} and {without_rowid} are the dialect's names.
const char* const kMigrations[] = {
    // 1: registry, uplinks, captures, queue.
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value {int} NOT NULL);"
    "CREATE TABLE nodes ("
    "  uid {int} PRIMARY KEY CHECK (uid BETWEEN 1 AND 16777215),"
    "  chip_id TEXT NOT NULL UNIQUE,"
    "  key {blob} NOT NULL CHECK (length(key) = 16),"
    "  state TEXT NOT NULL CHECK (state IN ('assigned', 'confirmed')),"
    "  last_counter {int},"
    "  last_seen_us {int},"
    "  downlink_counter {int} NOT NULL DEFAULT 0,"
    "  last_downlink {blob},"
    "  assigned_us {int} NOT NULL DEFAULT 0);"
    "CREATE TABLE uplinks ("
    "  id {id},"
    "  t_us {int} NOT NULL, uid {int} NOT NULL, code {int} NOT NULL, counter {int},"
    "  len {int} NOT NULL, rssi_dbm {real}, snr_db {real}, tag_ok {int} NOT NULL,"
    "  verdict TEXT NOT NULL, fields TEXT NOT NULL, hex TEXT NOT NULL);"
    "CREATE INDEX uplinks_by_node ON uplinks (uid, id);"
    "CREATE INDEX uplinks_by_counter ON uplinks (uid, counter, verdict);"
    "CREATE TABLE captures ("
    "  id {id},"
    "  uid {int} NOT NULL, code {int} NOT NULL, counter {int} NOT NULL,"
    "  first_us {int} NOT NULL, last_us {int} NOT NULL,"
    "  frames {int} NOT NULL DEFAULT 0, final_sequence {int}, rows {int} NOT NULL DEFAULT 0,"
    "  complete {int} NOT NULL DEFAULT 0,"
    "  UNIQUE (uid, code, counter));"
    "CREATE TABLE capture_rows ("
    "  capture_id {int} NOT NULL REFERENCES captures (id) ON DELETE CASCADE,"
    "  row {int} NOT NULL, b_field {int} NOT NULL, e_field_ind {int} NOT NULL, e_field_cap {int},"
    "  PRIMARY KEY (capture_id, row)){without_rowid};"
    "CREATE TABLE queue ("
    "  id {id},"
    "  uid {int} NOT NULL REFERENCES nodes (uid),"
    "  setting TEXT NOT NULL, value TEXT NOT NULL, opcode {int} NOT NULL,"
    "  args {blob} NOT NULL CHECK (length(args) = 32),"
    "  state TEXT NOT NULL CHECK (state IN ('pending', 'sent', 'done', 'failed', 'expired')),"
    "  reason TEXT, attempts {int} NOT NULL DEFAULT 0, max_attempts {int} NOT NULL,"
    "  created_us {int} NOT NULL, expires_us {int} NOT NULL, sent_us {int}, downlink_counter {int});"
    "CREATE INDEX queue_by_node ON queue (uid, state, id);",
    // 2: the interval at which a node is expected, for its active/inactive state.
    "ALTER TABLE nodes ADD COLUMN expected_interval_s {real} NOT NULL DEFAULT 600;",
    // 3: the MQTT output: messages not yet published, and the commands taken.
    "CREATE TABLE outbox ("
    "  id {id}, publisher TEXT NOT NULL, topic TEXT NOT NULL, payload TEXT NOT NULL, retain {int} NOT NULL);"
    "CREATE INDEX outbox_by_publisher ON outbox (publisher, id);"
    "CREATE TABLE commands ("
    "  publisher TEXT NOT NULL, mid {int} NOT NULL, payload TEXT NOT NULL, result TEXT NOT NULL,"
    "  received_s {int} NOT NULL, PRIMARY KEY (publisher, mid));",
    // 4: radio ports: which port and receiver heard an uplink (a gateway's EUI, counter and time),
    // why a send was refused, and the gateways' table.
    "ALTER TABLE uplinks ADD COLUMN port TEXT;"
    "ALTER TABLE uplinks ADD COLUMN receiver TEXT;"
    "ALTER TABLE uplinks ADD COLUMN tmst {int};"
    "ALTER TABLE uplinks ADD COLUMN rx_time TEXT;"
    "ALTER TABLE queue ADD COLUMN last_error TEXT;"
    "CREATE TABLE gateways ("
    "  eui TEXT PRIMARY KEY, address TEXT NOT NULL, last_seen_us {int}, latitude {real}, longitude {real},"
    "  altitude {real}, counters TEXT NOT NULL, stat TEXT, last_error TEXT);",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == Store::kSchemaVersion);

std::string inDialect(std::string sql, const SqlDialect& d) {
  const std::pair<const char*, const char*> names[] = {{"{id}", d.id},
                                                       {"{int}", d.integer},
                                                       {"{real}", d.real},
                                                       {"{blob}", d.blob},
                                                       {"{without_rowid}", d.withoutRowid}};
  for (const auto& [token, name] : names) {
    for (size_t at = sql.find(token); at != std::string::npos; at = sql.find(token, at + std::strlen(name))) {
      sql.replace(at, std::strlen(token), name);
    }
  }
  return sql;
}

SqlValue i64(int64_t v) { return SqlValue(v); }
SqlValue u64(uint64_t v) { return SqlValue(static_cast<int64_t>(v > INT64_MAX ? INT64_MAX : v)); }
SqlValue optU32(const std::optional<uint32_t>& v) { return v ? i64(*v) : SqlValue(); }
SqlValue optU64(const std::optional<uint64_t>& v) { return v ? u64(*v) : SqlValue(); }
SqlValue text(const std::string& s) { return SqlValue(s); }
SqlValue textOrNull(const std::string& s) { return s.empty() ? SqlValue() : SqlValue(s); }
SqlValue blobOrNull(const Blob& b) { return b.empty() ? SqlValue() : SqlValue(b); }

const std::string kNodeColumns =
    "uid, chip_id, key, state, last_counter, last_seen_us, downlink_counter, last_downlink, expected_interval_s";

NodeRecord nodeFrom(const SqlRow& s) {
  NodeRecord n;
  n.uid = static_cast<uint32_t>(s.i64(0));
  n.chipId = s.text(1);
  const Blob key = s.blob(2);
  if (key.size() == kKeyBytes) std::memcpy(n.key.data(), key.data(), kKeyBytes);
  n.state = s.text(3);
  if (auto c = s.optI64(4)) n.lastCounter = static_cast<uint32_t>(*c);
  if (auto t = s.optI64(5)) n.lastSeenUs = static_cast<uint64_t>(*t);
  n.downlinkCounter = static_cast<uint32_t>(s.i64(6));
  n.lastDownlink = s.blob(7);
  n.expectedIntervalS = s.real(8);
  return n;
}

std::optional<NodeRecord> firstNode(const SqlRows& rows) {
  if (rows.empty()) return std::nullopt;
  return nodeFrom(rows[0]);
}

const std::string kUplinkColumns =
    "id, t_us, uid, code, counter, len, rssi_dbm, snr_db, tag_ok, verdict, fields, hex, port, receiver, tmst, rx_time";

UplinkRecord uplinkFrom(const SqlRow& s) {
  UplinkRecord u;
  u.id = s.i64(0);
  u.tUs = static_cast<uint64_t>(s.i64(1));
  u.uid = static_cast<uint32_t>(s.i64(2));
  u.code = static_cast<uint8_t>(s.i64(3));
  if (auto c = s.optI64(4)) u.counter = static_cast<uint32_t>(*c);
  u.len = static_cast<size_t>(s.i64(5));
  u.rssiDbm = s.optReal(6);
  u.snrDb = s.optReal(7);
  u.tagOk = s.i64(8) != 0;
  u.verdict = s.text(9);
  u.fields = nlohmann::json::parse(s.text(10), nullptr, false);
  if (u.fields.is_discarded()) u.fields = nlohmann::json::object();
  u.hex = s.text(11);
  u.port = s.text(12);
  u.receiver = s.text(13);
  if (auto t = s.optI64(14)) u.tmst = static_cast<uint32_t>(*t);
  if (!s.isNull(15)) u.rxTime = s.text(15);
  return u;
}

const std::string kQueueColumns =
    "id, uid, setting, value, opcode, args, state, reason, attempts, max_attempts, created_us, expires_us, sent_us, "
    "downlink_counter, last_error";

Blob argsBytes(const LoRaRXPacket14::Args& args) {
  Blob out(4 * args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    for (size_t b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(args[i] >> (8 * b));
  }
  return out;
}

QueueItem queueFrom(const SqlRow& s) {
  QueueItem q;
  q.id = s.i64(0);
  q.uid = static_cast<uint32_t>(s.i64(1));
  q.setting = s.text(2);
  q.value = s.text(3);
  q.op = static_cast<LoRaRXPacket14::Op>(s.i64(4));
  const Blob a = s.blob(5);
  for (size_t i = 0; i < q.args.size() && 4 * i + 3 < a.size(); ++i) {
    q.args[i] = static_cast<uint32_t>(a[4 * i]) | (static_cast<uint32_t>(a[4 * i + 1]) << 8) |
                (static_cast<uint32_t>(a[4 * i + 2]) << 16) | (static_cast<uint32_t>(a[4 * i + 3]) << 24);
  }
  q.state = s.text(6);
  q.reason = s.text(7);
  q.attempts = static_cast<int>(s.i64(8));
  q.maxAttempts = static_cast<int>(s.i64(9));
  q.createdUs = static_cast<uint64_t>(s.i64(10));
  q.expiresUs = static_cast<uint64_t>(s.i64(11));
  if (auto t = s.optI64(12)) q.sentUs = static_cast<uint64_t>(*t);
  if (auto c = s.optI64(13)) q.downlinkCounter = static_cast<uint32_t>(*c);
  q.lastError = s.text(14);
  return q;
}

std::vector<QueueItem> queueFromRows(const SqlRows& rows) {
  std::vector<QueueItem> out;
  out.reserve(rows.size());
  for (const SqlRow& r : rows) out.push_back(queueFrom(r));
  return out;
}

}  // namespace

SqlStore::SqlStore(std::unique_ptr<SqlDb> db) : db_(std::move(db)) { migrate(); }

void SqlStore::migrate() {
  Transaction tx(*this);
  const int version = db_->schemaVersion();
  if (version > kSchemaVersion) {
    throw DbError("the database has schema version " + std::to_string(version) + ", newer than this Vantor's (" +
                  std::to_string(kSchemaVersion) + ")");
  }
  if (version == kSchemaVersion) return;
  for (int v = version; v < kSchemaVersion; ++v) db_->script(inDialect(kMigrations[v], db_->dialect()));
  db_->setSchemaVersion(kSchemaVersion);
  tx.commit();
}

uint64_t SqlStore::nowUs() {
  const SqlRows r = db_->query("SELECT value FROM meta WHERE key = 'now_us'");
  return r.empty() ? 0 : static_cast<uint64_t>(r[0].i64(0));
}

FrameFacts SqlStore::factsFor(const FrameKeys& k) {
  FrameFacts f;
  if (!k.hasHeader) return f;
  f.node = nodeByUid(k.uid);
  const SqlRows copy = db_->query(
      "SELECT t_us FROM uplinks WHERE uid = ?1 AND counter = ?2 AND verdict = 'accepted' AND hex = ?3 "
      "ORDER BY id DESC LIMIT 1",
      {i64(k.uid), i64(k.counter), text(k.hex)});
  if (!copy.empty()) f.acceptedCopyUs = static_cast<uint64_t>(copy[0].i64(0));
  const SqlRows last = db_->query(
      "SELECT t_us FROM uplinks WHERE uid = ?1 AND counter = ?2 AND verdict IN ('accepted', 'duplicate') AND hex = ?3 "
      "ORDER BY id DESC LIMIT 1",
      {i64(k.uid), i64(k.counter), text(k.hex)});
  if (!last.empty()) f.lastCopyUs = static_cast<uint64_t>(last[0].i64(0));
  if (k.chipId) {
    f.chipNode = nodeByChip(*k.chipId);
    f.freeUid = nextFreeUid();
  }
  if (k.queue && f.node) {
    f.open = queueFromRows(db_->query(
        "SELECT " + kQueueColumns + " FROM queue WHERE uid = ?1 AND state IN ('pending', 'sent') ORDER BY id",
        {i64(k.uid)}));
  }
  return f;
}

void SqlStore::write(FrameWrites& w) {
  db_->query(
      "INSERT INTO meta (key, value) VALUES ('now_us', ?1) ON CONFLICT (key) DO UPDATE SET value = excluded.value",
      {u64(w.nowUs)});
  if (w.node) writeNode(*w.node, w.newNode, w.nowUs);
  for (const QueueItem& q : w.items) {
    db_->query(
        "UPDATE queue SET state = ?2, reason = ?3, attempts = ?4, sent_us = ?5, downlink_counter = ?6 WHERE id = ?1",
        {i64(q.id), text(q.state), textOrNull(q.reason), i64(q.attempts), optU64(q.sentUs), optU32(q.downlinkCounter)});
  }
  if (w.capture) addCaptureFrame(*w.capture);
  const UplinkRecord& u = w.uplink;
  const SqlRows id = db_->query(
      "INSERT INTO uplinks (t_us, uid, code, counter, len, rssi_dbm, snr_db, tag_ok, verdict, fields, hex, port, "
      "receiver, tmst, rx_time) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15) RETURNING id",
      {u64(u.tUs), i64(u.uid), i64(u.code), optU32(u.counter), i64(static_cast<int64_t>(u.len)), sqlValue(u.rssiDbm),
       sqlValue(u.snrDb), i64(u.tagOk ? 1 : 0), text(u.verdict), text(u.fields.dump()), text(u.hex), textOrNull(u.port),
       textOrNull(u.receiver), optU32(u.tmst), sqlValue(u.rxTime)});
  w.uplink.id = id.at(0).i64(0);
}

void SqlStore::writeNode(const NodeRecord& n, bool insert, uint64_t nowUs) {
  const Blob key(n.key.begin(), n.key.end());
  if (insert) {
    db_->query(
        "INSERT INTO nodes (uid, chip_id, key, state, last_counter, last_seen_us, downlink_counter, last_downlink, "
        "expected_interval_s, assigned_us) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)",
        {i64(n.uid), text(n.chipId), key, text(n.state), optU32(n.lastCounter), optU64(n.lastSeenUs),
         i64(n.downlinkCounter), blobOrNull(n.lastDownlink), n.expectedIntervalS, u64(nowUs)});
    return;
  }
  db_->query(
      "UPDATE nodes SET chip_id = ?2, key = ?3, state = ?4, last_counter = ?5, last_seen_us = ?6, "
      "downlink_counter = ?7, last_downlink = ?8, expected_interval_s = ?9 WHERE uid = ?1",
      {i64(n.uid), text(n.chipId), key, text(n.state), optU32(n.lastCounter), optU64(n.lastSeenUs),
       i64(n.downlinkCounter), blobOrNull(n.lastDownlink), n.expectedIntervalS});
}

std::optional<NodeRecord> SqlStore::nodeByUid(uint32_t uid) {
  return firstNode(db_->query("SELECT " + kNodeColumns + " FROM nodes WHERE uid = ?1", {i64(uid)}));
}

std::optional<NodeRecord> SqlStore::nodeByChip(const std::string& chipId) {
  return firstNode(db_->query("SELECT " + kNodeColumns + " FROM nodes WHERE chip_id = ?1", {text(chipId)}));
}

std::vector<NodeRecord> SqlStore::nodes() {
  std::vector<NodeRecord> out;
  for (const SqlRow& r : db_->query("SELECT " + kNodeColumns + " FROM nodes ORDER BY uid")) out.push_back(nodeFrom(r));
  return out;
}

// The lowest identity above every one in use (1 on an empty registry); once the top is taken, the
// lowest gap; 0 when none is left.
uint32_t SqlStore::nextFreeUid() {
  const SqlRows top = db_->query("SELECT max(uid) FROM nodes");
  const int64_t highest = top[0].isNull(0) ? 0 : top[0].i64(0);
  if (highest < 0xFFFFFF) return static_cast<uint32_t>(highest + 1);
  const SqlRows gap = db_->query(
      "SELECT min(n) FROM (SELECT 1 AS n WHERE NOT EXISTS (SELECT 1 FROM nodes WHERE uid = 1) "
      "UNION SELECT uid + 1 FROM nodes WHERE uid < 16777215 AND uid + 1 NOT IN (SELECT uid FROM nodes)) AS gaps");
  return gap[0].isNull(0) ? 0 : static_cast<uint32_t>(gap[0].i64(0));
}

void SqlStore::importNode(uint32_t uid, const std::string& chipId, const NodeKey& key, const std::string& state) {
  db_->query(
      "INSERT INTO nodes (uid, chip_id, key, state) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT (uid) DO UPDATE SET chip_id = excluded.chip_id, key = excluded.key, state = excluded.state",
      {i64(uid), text(chipId), Blob(key.begin(), key.end()), text(state)});
}

std::vector<UplinkRecord> SqlStore::uplinks(std::optional<uint32_t> uid, int limit) {
  const std::string sql = "SELECT * FROM (SELECT " + kUplinkColumns + " FROM uplinks" + (uid ? " WHERE uid = ?2" : "") +
                          " ORDER BY id DESC LIMIT ?1) AS recent ORDER BY id";
  std::vector<SqlValue> params{i64(limit)};
  if (uid) params.push_back(i64(*uid));
  std::vector<UplinkRecord> out;
  for (const SqlRow& r : db_->query(sql, params)) out.push_back(uplinkFrom(r));
  return out;
}

std::optional<UplinkRecord> SqlStore::lastAccepted(uint32_t uid, const std::vector<uint8_t>& codes) {
  std::string list;
  for (uint8_t c : codes) list += (list.empty() ? "" : ", ") + std::to_string(c);
  const SqlRows r = db_->query("SELECT " + kUplinkColumns + " FROM uplinks WHERE uid = ?1 AND code IN (" + list +
                                   ") AND verdict = 'accepted' ORDER BY id DESC LIMIT 1",
                               {i64(uid)});
  if (r.empty()) return std::nullopt;
  return uplinkFrom(r[0]);
}

std::map<uint32_t, UplinkRecord> SqlStore::lastTelemetryOfEach() {
  // Each node's own latest through the index by node, in one statement.
  std::map<uint32_t, UplinkRecord> out;
  for (const SqlRow& r : db_->query("SELECT " + kUplinkColumns +
                                    " FROM uplinks WHERE id IN (SELECT (SELECT u.id FROM uplinks u WHERE u.uid = n.uid "
                                    "AND u.code IN (3, 5) AND u.verdict = 'accepted' ORDER BY u.id DESC LIMIT 1) "
                                    "FROM nodes n)")) {
    UplinkRecord u = uplinkFrom(r);
    out.emplace(u.uid, std::move(u));
  }
  return out;
}

void SqlStore::addCaptureFrame(const CaptureFrame& f) {
  const SqlRows found = db_->query(
      "INSERT INTO captures (uid, code, counter, first_us, last_us) VALUES (?1, ?2, ?3, ?4, ?4) "
      "ON CONFLICT (uid, code, counter) DO UPDATE SET last_us = excluded.last_us RETURNING id, frames",
      {i64(f.uid), i64(f.code), i64(f.counter), u64(f.tUs)});
  const int64_t id = found.at(0).i64(0);
  const int64_t bit = int64_t{1} << (f.sequence & 31);
  if ((found[0].i64(1) & bit) != 0) return;  // this frame of the capture is in already
  for (const CaptureSample& c : f.samples) {
    db_->query(
        "INSERT INTO capture_rows (capture_id, row, b_field, e_field_ind, e_field_cap) VALUES (?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT (capture_id, row) DO UPDATE SET b_field = excluded.b_field, e_field_ind = excluded.e_field_ind, "
        "e_field_cap = excluded.e_field_cap",
        {i64(id), i64(c.row), i64(c.bField), i64(c.eFieldInd), c.eFieldCap ? i64(*c.eFieldCap) : SqlValue()});
  }
  // A frame with fewer samples than a frame holds is the last of its capture; the capture is
  // complete once every frame up to it is in.
  const bool last = f.samples.size() < f.maxReadings;
  db_->query(
      "UPDATE captures SET frames = frames | ?2, rows = rows + ?3, "
      "final_sequence = CASE WHEN ?4 = 1 THEN ?5 ELSE final_sequence END WHERE id = ?1",
      {i64(id), i64(bit), i64(static_cast<int64_t>(f.samples.size())), i64(last ? 1 : 0), i64(f.sequence)});
  db_->query(
      "UPDATE captures SET complete = 1 WHERE id = ?1 AND final_sequence IS NOT NULL "
      "AND frames = (CAST(1 AS BIGINT) << CAST(final_sequence + 1 AS INTEGER)) - 1",
      {i64(id)});
}

std::optional<CaptureRecord> SqlStore::lastCompleteCapture(uint32_t uid) {
  const SqlRows r = db_->query(
      "SELECT id, uid, code, counter, last_us, rows, complete FROM captures WHERE uid = ?1 AND complete = 1 "
      "ORDER BY last_us DESC, id DESC LIMIT 1",
      {i64(uid)});
  if (r.empty()) return std::nullopt;
  const SqlRow& s = r[0];
  CaptureRecord c;
  c.id = s.i64(0);
  c.uid = static_cast<uint32_t>(s.i64(1));
  c.code = static_cast<uint8_t>(s.i64(2));
  c.counter = static_cast<uint32_t>(s.i64(3));
  c.lastUs = static_cast<uint64_t>(s.i64(4));
  c.rows = static_cast<int>(s.i64(5));
  c.complete = s.i64(6) != 0;
  return c;
}

std::vector<CaptureSample> SqlStore::captureRows(int64_t captureId) {
  std::vector<CaptureSample> out;
  for (const SqlRow& s :
       db_->query("SELECT row, b_field, e_field_ind, e_field_cap FROM capture_rows WHERE capture_id = ?1 ORDER BY row",
                  {i64(captureId)})) {
    CaptureSample c{static_cast<int>(s.i64(0)), static_cast<int>(s.i64(1)), static_cast<int>(s.i64(2)), std::nullopt};
    if (auto cap = s.optI64(3)) c.eFieldCap = static_cast<int>(*cap);
    out.push_back(c);
  }
  return out;
}

int64_t SqlStore::addQueueItem(const QueueItem& q) {
  const SqlRows id = db_->query(
      "INSERT INTO queue (uid, setting, value, opcode, args, state, max_attempts, created_us, expires_us) "
      "VALUES (?1, ?2, ?3, ?4, ?5, 'pending', ?6, ?7, ?8) RETURNING id",
      {i64(q.uid), text(q.setting), text(q.value), i64(static_cast<uint16_t>(q.op)), argsBytes(q.args),
       i64(q.maxAttempts), u64(q.createdUs), u64(q.expiresUs)});
  return id.at(0).i64(0);
}

std::vector<QueueItem> SqlStore::queue(std::optional<uint32_t> uid) {
  if (uid)
    return queueFromRows(db_->query("SELECT " + kQueueColumns + " FROM queue WHERE uid = ?1 ORDER BY id", {i64(*uid)}));
  return queueFromRows(db_->query("SELECT " + kQueueColumns + " FROM queue ORDER BY id"));
}

void SqlStore::addOutbox(const std::string& publisher, const OutboxMessage& m) {
  db_->query("INSERT INTO outbox (publisher, topic, payload, retain) VALUES (?1, ?2, ?3, ?4)",
             {text(publisher), text(m.topic), text(m.payload), i64(m.retain ? 1 : 0)});
}

std::vector<OutboxMessage> SqlStore::outbox(const std::string& publisher, int64_t afterId, int limit) {
  std::vector<OutboxMessage> out;
  for (const SqlRow& r : db_->query("SELECT id, topic, payload, retain FROM outbox WHERE publisher = ?1 AND id > ?2 "
                                    "ORDER BY id LIMIT ?3",
                                    {text(publisher), i64(afterId), i64(limit)})) {
    out.push_back(OutboxMessage{r.i64(0), r.text(1), r.text(2), r.i64(3) != 0});
  }
  return out;
}

void SqlStore::removeOutbox(int64_t id) { db_->query("DELETE FROM outbox WHERE id = ?1", {i64(id)}); }

std::optional<std::string> SqlStore::commandResult(const std::string& publisher, int mid, const std::string& payload,
                                                   int64_t sinceS) {
  const SqlRows r =
      db_->query("SELECT result FROM commands WHERE publisher = ?1 AND mid = ?2 AND payload = ?3 AND received_s >= ?4",
                 {text(publisher), i64(mid), text(payload), i64(sinceS)});
  if (r.empty()) return std::nullopt;
  return r[0].text(0);
}

void SqlStore::recordCommand(const std::string& publisher, int mid, const std::string& payload,
                             const std::string& result, int64_t nowS) {
  db_->query(
      "INSERT INTO commands (publisher, mid, payload, result, received_s) VALUES (?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT (publisher, mid) DO UPDATE SET payload = excluded.payload, result = excluded.result, "
      "received_s = excluded.received_s",
      {text(publisher), i64(mid), text(payload), text(result), i64(nowS)});
}

std::optional<QueueItem> SqlStore::refuseSend(int64_t itemId, uint32_t downlinkCounter, const std::string& reason) {
  const SqlRows r = db_->query(
      "UPDATE queue SET state = 'pending', attempts = attempts - 1, sent_us = NULL, last_error = ?3 "
      "WHERE id = ?1 AND state = 'sent' AND downlink_counter = ?2 RETURNING " +
          kQueueColumns,
      {i64(itemId), i64(downlinkCounter), text(reason)});
  if (r.empty()) return std::nullopt;
  return queueFrom(r[0]);
}

void SqlStore::saveGateway(const GatewayRecord& g) {
  db_->query(
      "INSERT INTO gateways (eui, address, last_seen_us, latitude, longitude, altitude, counters, stat, last_error) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT (eui) DO UPDATE SET address = excluded.address, "
      "last_seen_us = excluded.last_seen_us, latitude = excluded.latitude, longitude = excluded.longitude, "
      "altitude = excluded.altitude, counters = excluded.counters, stat = excluded.stat, "
      "last_error = excluded.last_error",
      {text(g.eui), text(g.address), optU64(g.lastSeenUs), sqlValue(g.latitude), sqlValue(g.longitude),
       sqlValue(g.altitude), text(g.counters.dump()), g.stat.is_null() ? SqlValue() : text(g.stat.dump()),
       textOrNull(g.lastError)});
}

std::vector<GatewayRecord> SqlStore::gateways() {
  std::vector<GatewayRecord> out;
  for (const SqlRow& r : db_->query("SELECT eui, address, last_seen_us, latitude, longitude, altitude, counters, stat, "
                                    "last_error FROM gateways ORDER BY eui")) {
    GatewayRecord g;
    g.eui = r.text(0);
    g.address = r.text(1);
    if (auto t = r.optI64(2)) g.lastSeenUs = static_cast<uint64_t>(*t);
    g.latitude = r.optReal(3);
    g.longitude = r.optReal(4);
    g.altitude = r.optReal(5);
    g.counters = nlohmann::json::parse(r.text(6), nullptr, false);
    if (!g.counters.is_object()) g.counters = nlohmann::json::object();
    if (!r.isNull(7)) g.stat = nlohmann::json::parse(r.text(7), nullptr, false);
    if (g.stat.is_discarded()) g.stat = nullptr;
    g.lastError = r.text(8);
    out.push_back(std::move(g));
  }
  return out;
}

int SqlStore::flushQueue(uint32_t uid) {
  const SqlRows gone =
      db_->query("DELETE FROM queue WHERE uid = ?1 AND state IN ('pending', 'sent') RETURNING id", {i64(uid)});
  return static_cast<int>(gone.size());
}

}  // namespace vantor

namespace vantor {

std::map<uint32_t, UplinkRecord> Store::lastTelemetryOfEach() {
  std::map<uint32_t, UplinkRecord> out;
  for (const NodeRecord& n : nodes()) {
    if (std::optional<UplinkRecord> t = lastTelemetry(n.uid)) out.emplace(n.uid, std::move(*t));
  }
  return out;
}

bool isServerDatabase(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> openStore(const std::string& where, bool create) {
  if (isServerDatabase(where)) return std::make_unique<SqlStore>(std::make_unique<PgDb>(where));
  return std::make_unique<SqlStore>(std::make_unique<SqliteDb>(where, create));
}

}  // namespace vantor
