// Registry, uplinks, captures and queue in one SQLite file, with the schema's upgrades.
#include "registry.h"

#include <cstring>

namespace vantor {

namespace {

// Each step takes the schema from the previous version to the next; all run in one transaction.
const char* const kMigrations[] = {
    // 1: registry, uplinks, captures, queue.
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE nodes ("
    "  uid INTEGER PRIMARY KEY CHECK (uid BETWEEN 1 AND 16777215),"
    "  chip_id TEXT NOT NULL UNIQUE,"
    "  key BLOB NOT NULL CHECK (length(key) = 16),"
    "  state TEXT NOT NULL CHECK (state IN ('assigned', 'confirmed')),"
    "  last_counter INTEGER,"
    "  last_seen_us INTEGER,"
    "  downlink_counter INTEGER NOT NULL DEFAULT 0,"
    "  last_downlink BLOB,"
    "  assigned_us INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE uplinks ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  t_us INTEGER NOT NULL, uid INTEGER NOT NULL, code INTEGER NOT NULL, counter INTEGER,"
    "  len INTEGER NOT NULL, rssi_dbm REAL, snr_db REAL, tag_ok INTEGER NOT NULL,"
    "  verdict TEXT NOT NULL, fields TEXT NOT NULL, hex TEXT NOT NULL);"
    "CREATE INDEX uplinks_by_node ON uplinks (uid, id);"
    "CREATE INDEX uplinks_by_counter ON uplinks (uid, counter, verdict);"
    "CREATE TABLE captures ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  uid INTEGER NOT NULL, code INTEGER NOT NULL, counter INTEGER NOT NULL,"
    "  first_us INTEGER NOT NULL, last_us INTEGER NOT NULL,"
    "  frames INTEGER NOT NULL DEFAULT 0, final_sequence INTEGER, rows INTEGER NOT NULL DEFAULT 0,"
    "  complete INTEGER NOT NULL DEFAULT 0,"
    "  UNIQUE (uid, code, counter));"
    "CREATE TABLE capture_rows ("
    "  capture_id INTEGER NOT NULL REFERENCES captures (id) ON DELETE CASCADE,"
    "  row INTEGER NOT NULL, b_field INTEGER NOT NULL, e_field_ind INTEGER NOT NULL, e_field_cap INTEGER,"
    "  PRIMARY KEY (capture_id, row)) WITHOUT ROWID;"
    "CREATE TABLE queue ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  uid INTEGER NOT NULL REFERENCES nodes (uid),"
    "  setting TEXT NOT NULL, value TEXT NOT NULL, opcode INTEGER NOT NULL,"
    "  args BLOB NOT NULL CHECK (length(args) = 32),"
    "  state TEXT NOT NULL CHECK (state IN ('pending', 'sent', 'done', 'failed', 'expired')),"
    "  reason TEXT, attempts INTEGER NOT NULL DEFAULT 0, max_attempts INTEGER NOT NULL,"
    "  created_us INTEGER NOT NULL, expires_us INTEGER NOT NULL, sent_us INTEGER, downlink_counter INTEGER);"
    "CREATE INDEX queue_by_node ON queue (uid, state, id);",
    // 2: the interval at which a node is expected, for its active/inactive state.
    "ALTER TABLE nodes ADD COLUMN expected_interval_s REAL NOT NULL DEFAULT 600;",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == Registry::kSchemaVersion);

constexpr const char* kNodeColumns =
    "uid, chip_id, key, state, last_counter, last_seen_us, downlink_counter, last_downlink, expected_interval_s";

NodeRecord nodeFrom(const Statement& s) {
  NodeRecord n;
  n.uid = static_cast<uint32_t>(s.i64(0));
  n.chipId = s.text(1);
  const std::vector<uint8_t> key = s.blob(2);
  if (key.size() == kKeyBytes) std::memcpy(n.key.data(), key.data(), kKeyBytes);
  n.state = s.text(3);
  if (auto c = s.optI64(4)) n.lastCounter = static_cast<uint32_t>(*c);
  if (auto t = s.optI64(5)) n.lastSeenUs = static_cast<uint64_t>(*t);
  n.downlinkCounter = static_cast<uint32_t>(s.i64(6));
  n.lastDownlink = s.blob(7);
  n.expectedIntervalS = s.real(8);
  return n;
}

constexpr const char* kUplinkColumns =
    "id, t_us, uid, code, counter, len, rssi_dbm, snr_db, tag_ok, verdict, fields, hex";

UplinkRecord uplinkFrom(const Statement& s) {
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
  return u;
}

constexpr const char* kQueueColumns =
    "id, uid, setting, value, opcode, args, state, reason, attempts, max_attempts, created_us, expires_us, sent_us, "
    "downlink_counter";

std::array<uint8_t, 32> argsBytes(const LoRaRXPacket14::Args& args) {
  std::array<uint8_t, 32> out{};
  for (size_t i = 0; i < args.size(); ++i) {
    for (size_t b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(args[i] >> (8 * b));
  }
  return out;
}

QueueItem queueFrom(const Statement& s) {
  QueueItem q;
  q.id = s.i64(0);
  q.uid = static_cast<uint32_t>(s.i64(1));
  q.setting = s.text(2);
  q.value = s.text(3);
  q.op = static_cast<LoRaRXPacket14::Op>(s.i64(4));
  const std::vector<uint8_t> a = s.blob(5);
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
  return q;
}

int64_t u64ToDb(uint64_t v) { return static_cast<int64_t>(v > INT64_MAX ? INT64_MAX : v); }

}  // namespace

Registry::Registry(const std::string& path, bool create) : db_(path, create) {
  db_.exec("PRAGMA foreign_keys = ON");
  migrate();
}

int Registry::schemaVersion() {
  Statement s(db_.handle(), "PRAGMA user_version");
  return s.step() ? static_cast<int>(s.i64(0)) : 0;
}

void Registry::migrate() {
  // WAL lets readers go on while the simulation writes; the setting stays with the file.
  db_.exec("PRAGMA journal_mode = WAL");
  db_.exec("PRAGMA synchronous = NORMAL");
  Database::Transaction tx(db_);
  const int version = schemaVersion();
  if (version > kSchemaVersion) {
    throw DbError("the database has schema version " + std::to_string(version) + ", newer than this Vantor's (" +
                  std::to_string(kSchemaVersion) + ")");
  }
  if (version == kSchemaVersion) return;
  for (int v = version; v < kSchemaVersion; ++v) db_.exec(kMigrations[v]);
  db_.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  tx.commit();
}

uint64_t Registry::nowUs() {
  Statement s(db_.handle(), "SELECT value FROM meta WHERE key = 'now_us'");
  return s.step() ? static_cast<uint64_t>(s.i64(0)) : 0;
}

void Registry::advanceNow(uint64_t tUs) {
  Statement s(db_.handle(),
              "INSERT INTO meta (key, value) VALUES ('now_us', ?1) "
              "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
  s.bind(1, u64ToDb(tUs)).run();
}

std::optional<NodeRecord> Registry::nodeByUid(uint32_t uid) {
  Statement s(db_.handle(), (std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE uid = ?1").c_str());
  s.bind(1, static_cast<int64_t>(uid));
  if (!s.step()) return std::nullopt;
  return nodeFrom(s);
}

std::optional<NodeRecord> Registry::nodeByChip(const std::string& chipId) {
  Statement s(db_.handle(), (std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE chip_id = ?1").c_str());
  s.bind(1, chipId);
  if (!s.step()) return std::nullopt;
  return nodeFrom(s);
}

std::vector<NodeRecord> Registry::nodes() {
  Statement s(db_.handle(), (std::string("SELECT ") + kNodeColumns + " FROM nodes ORDER BY uid").c_str());
  std::vector<NodeRecord> out;
  while (s.step()) out.push_back(nodeFrom(s));
  return out;
}

uint32_t Registry::nextFreeUid() {
  Statement top(db_.handle(), "SELECT max(uid) FROM nodes");
  top.step();
  const int64_t highest = top.isNull(0) ? 0 : top.i64(0);
  if (highest < 0xFFFFFF) return static_cast<uint32_t>(highest + 1);
  // The top is taken: the lowest gap.
  Statement gap(db_.handle(),
                "SELECT min(n) FROM (SELECT 1 AS n WHERE NOT EXISTS (SELECT 1 FROM nodes WHERE uid = 1) "
                "UNION SELECT uid + 1 FROM nodes WHERE uid < 16777215 AND uid + 1 NOT IN (SELECT uid FROM nodes))");
  gap.step();
  return gap.isNull(0) ? 0 : static_cast<uint32_t>(gap.i64(0));
}

void Registry::insertNode(const NodeRecord& n, uint64_t nowUs) {
  Statement s(db_.handle(),
              "INSERT INTO nodes (uid, chip_id, key, state, downlink_counter, assigned_us, expected_interval_s) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  s.bind(1, static_cast<int64_t>(n.uid)).bind(2, n.chipId).bindBlob(3, n.key.data(), n.key.size()).bind(4, n.state);
  s.bind(5, static_cast<int64_t>(n.downlinkCounter)).bind(6, u64ToDb(nowUs)).bind(7, n.expectedIntervalS).run();
}

void Registry::reassignNode(uint32_t uid, const std::string& state) {
  Statement s(db_.handle(), "UPDATE nodes SET state = ?2, last_counter = NULL WHERE uid = ?1");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, state).run();
}

void Registry::setNodeState(uint32_t uid, const std::string& state) {
  Statement s(db_.handle(), "UPDATE nodes SET state = ?2 WHERE uid = ?1");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, state).run();
}

void Registry::acceptCounter(uint32_t uid, uint32_t counter, uint64_t tUs) {
  Statement s(db_.handle(), "UPDATE nodes SET last_counter = ?2, last_seen_us = ?3 WHERE uid = ?1");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(counter)).bind(3, u64ToDb(tUs)).run();
}

void Registry::recordDownlink(uint32_t uid, uint32_t counter, const std::vector<uint8_t>* packet14) {
  if (packet14 != nullptr) {
    Statement s(db_.handle(), "UPDATE nodes SET downlink_counter = ?2, last_downlink = ?3 WHERE uid = ?1");
    s.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(counter));
    s.bindBlob(3, packet14->data(), packet14->size()).run();
  } else {
    Statement s(db_.handle(), "UPDATE nodes SET downlink_counter = ?2 WHERE uid = ?1");
    s.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(counter)).run();
  }
}

void Registry::setExpectedInterval(uint32_t uid, double seconds) {
  Statement s(db_.handle(), "UPDATE nodes SET expected_interval_s = ?2 WHERE uid = ?1");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, seconds).run();
}

void Registry::importNode(uint32_t uid, const std::string& chipId, const NodeKey& key, const std::string& state) {
  Statement s(db_.handle(),
              "INSERT INTO nodes (uid, chip_id, key, state) VALUES (?1, ?2, ?3, ?4) "
              "ON CONFLICT (uid) DO UPDATE SET chip_id = excluded.chip_id, key = excluded.key, state = excluded.state");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, chipId).bindBlob(3, key.data(), key.size()).bind(4, state).run();
}

int64_t Registry::insertUplink(const UplinkRecord& u) {
  Statement s(db_.handle(),
              "INSERT INTO uplinks (t_us, uid, code, counter, len, rssi_dbm, snr_db, tag_ok, verdict, fields, hex) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
  s.bind(1, u64ToDb(u.tUs)).bind(2, static_cast<int64_t>(u.uid)).bind(3, static_cast<int64_t>(u.code));
  if (u.counter) {
    s.bind(4, static_cast<int64_t>(*u.counter));
  } else {
    s.bindNull(4);
  }
  s.bind(5, static_cast<int64_t>(u.len)).bind(6, u.rssiDbm).bind(7, u.snrDb).bind(8, int64_t{u.tagOk ? 1 : 0});
  s.bind(9, u.verdict).bind(10, u.fields.dump()).bind(11, u.hex).run();
  return db_.lastInsertId();
}

bool Registry::hasAcceptedFrame(uint32_t uid, uint32_t counter, const std::string& hex) {
  Statement s(db_.handle(),
              "SELECT 1 FROM uplinks WHERE uid = ?1 AND counter = ?2 AND verdict = 'accepted' AND hex = ?3 LIMIT 1");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(counter)).bind(3, hex);
  return s.step();
}

std::vector<UplinkRecord> Registry::uplinks(std::optional<uint32_t> uid, int limit) {
  const std::string sql = std::string("SELECT * FROM (SELECT ") + kUplinkColumns + " FROM uplinks" +
                          (uid ? " WHERE uid = ?1" : "") + " ORDER BY id DESC LIMIT ?2) ORDER BY id";
  Statement s(db_.handle(), sql.c_str());
  if (uid) s.bind(1, static_cast<int64_t>(*uid));
  s.bind(2, static_cast<int64_t>(limit));
  std::vector<UplinkRecord> out;
  while (s.step()) out.push_back(uplinkFrom(s));
  return out;
}

std::optional<UplinkRecord> Registry::lastTelemetry(uint32_t uid) {
  Statement s(db_.handle(), (std::string("SELECT ") + kUplinkColumns +
                             " FROM uplinks WHERE uid = ?1 AND code IN (3, 5) AND verdict = 'accepted' "
                             "ORDER BY id DESC LIMIT 1")
                                .c_str());
  s.bind(1, static_cast<int64_t>(uid));
  if (!s.step()) return std::nullopt;
  return uplinkFrom(s);
}

void Registry::addCaptureFrame(uint32_t uid, uint8_t code, uint32_t counter, uint64_t tUs, uint8_t sequence,
                               size_t maxReadings, const std::vector<CaptureSample>& samples) {
  {
    Statement s(db_.handle(),
                "INSERT INTO captures (uid, code, counter, first_us, last_us) VALUES (?1, ?2, ?3, ?4, ?4) "
                "ON CONFLICT (uid, code, counter) DO UPDATE SET last_us = excluded.last_us");
    s.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(code)).bind(3, static_cast<int64_t>(counter));
    s.bind(4, u64ToDb(tUs)).run();
  }
  Statement find(db_.handle(), "SELECT id, frames FROM captures WHERE uid = ?1 AND code = ?2 AND counter = ?3");
  find.bind(1, static_cast<int64_t>(uid)).bind(2, static_cast<int64_t>(code)).bind(3, static_cast<int64_t>(counter));
  find.step();
  const int64_t id = find.i64(0);
  const int64_t bit = int64_t{1} << (sequence & 31);
  if ((find.i64(1) & bit) != 0) return;  // this frame of the capture is in already
  Statement row(db_.handle(),
                "INSERT OR REPLACE INTO capture_rows (capture_id, row, b_field, e_field_ind, e_field_cap) "
                "VALUES (?1, ?2, ?3, ?4, ?5)");
  for (const CaptureSample& c : samples) {
    row.bind(1, id).bind(2, static_cast<int64_t>(c.row)).bind(3, static_cast<int64_t>(c.bField));
    row.bind(4, static_cast<int64_t>(c.eFieldInd));
    if (c.eFieldCap) {
      row.bind(5, static_cast<int64_t>(*c.eFieldCap));
    } else {
      row.bindNull(5);
    }
    row.run();
    row.reset();
  }
  // A frame with fewer samples than a frame holds is the last of its capture; the capture is
  // complete once every frame up to it is in.
  const bool last = samples.size() < maxReadings;
  Statement upd(db_.handle(),
                "UPDATE captures SET frames = frames | ?2, rows = rows + ?3, "
                "final_sequence = CASE WHEN ?4 THEN ?5 ELSE final_sequence END WHERE id = ?1");
  upd.bind(1, id).bind(2, bit).bind(3, static_cast<int64_t>(samples.size())).bind(4, int64_t{last ? 1 : 0});
  upd.bind(5, static_cast<int64_t>(sequence)).run();
  Statement done(db_.handle(),
                 "UPDATE captures SET complete = 1 WHERE id = ?1 AND final_sequence IS NOT NULL "
                 "AND frames = (1 << (final_sequence + 1)) - 1");
  done.bind(1, id).run();
}

std::optional<CaptureRecord> Registry::lastCompleteCapture(uint32_t uid) {
  Statement s(db_.handle(),
              "SELECT id, uid, code, counter, last_us, rows, complete FROM captures WHERE uid = ?1 AND complete = 1 "
              "ORDER BY last_us DESC, id DESC LIMIT 1");
  s.bind(1, static_cast<int64_t>(uid));
  if (!s.step()) return std::nullopt;
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

std::vector<CaptureSample> Registry::captureRows(int64_t captureId) {
  Statement s(db_.handle(),
              "SELECT row, b_field, e_field_ind, e_field_cap FROM capture_rows WHERE capture_id = ?1 ORDER BY row");
  s.bind(1, captureId);
  std::vector<CaptureSample> out;
  while (s.step()) {
    CaptureSample c{static_cast<int>(s.i64(0)), static_cast<int>(s.i64(1)), static_cast<int>(s.i64(2)), std::nullopt};
    if (auto cap = s.optI64(3)) c.eFieldCap = static_cast<int>(*cap);
    out.push_back(c);
  }
  return out;
}

int64_t Registry::addQueueItem(const QueueItem& q) {
  Statement s(db_.handle(),
              "INSERT INTO queue (uid, setting, value, opcode, args, state, max_attempts, created_us, expires_us) "
              "VALUES (?1, ?2, ?3, ?4, ?5, 'pending', ?6, ?7, ?8)");
  const auto args = argsBytes(q.args);
  s.bind(1, static_cast<int64_t>(q.uid)).bind(2, q.setting).bind(3, q.value);
  s.bind(4, static_cast<int64_t>(static_cast<uint16_t>(q.op))).bindBlob(5, args.data(), args.size());
  s.bind(6, static_cast<int64_t>(q.maxAttempts)).bind(7, u64ToDb(q.createdUs)).bind(8, u64ToDb(q.expiresUs)).run();
  return db_.lastInsertId();
}

std::vector<QueueItem> Registry::queue(std::optional<uint32_t> uid) {
  const std::string sql =
      std::string("SELECT ") + kQueueColumns + " FROM queue" + (uid ? " WHERE uid = ?1" : "") + " ORDER BY id";
  Statement s(db_.handle(), sql.c_str());
  if (uid) s.bind(1, static_cast<int64_t>(*uid));
  std::vector<QueueItem> out;
  while (s.step()) out.push_back(queueFrom(s));
  return out;
}

void Registry::expireQueue(uint32_t uid, uint64_t nowUs) {
  Statement s(db_.handle(),
              "UPDATE queue SET state = 'expired' WHERE uid = ?1 AND state IN ('pending', 'sent') "
              "AND (attempts >= max_attempts OR expires_us <= ?2)");
  s.bind(1, static_cast<int64_t>(uid)).bind(2, u64ToDb(nowUs)).run();
}

std::optional<QueueItem> Registry::nextQueued(uint32_t uid) {
  Statement s(db_.handle(), (std::string("SELECT ") + kQueueColumns +
                             " FROM queue WHERE uid = ?1 AND state IN ('pending', 'sent') ORDER BY id LIMIT 1")
                                .c_str());
  s.bind(1, static_cast<int64_t>(uid));
  if (!s.step()) return std::nullopt;
  return queueFrom(s);
}

std::optional<QueueItem> Registry::awaitingAnswer(uint32_t uid) {
  Statement s(db_.handle(), (std::string("SELECT ") + kQueueColumns +
                             " FROM queue WHERE uid = ?1 AND state = 'sent' ORDER BY sent_us DESC, id DESC LIMIT 1")
                                .c_str());
  s.bind(1, static_cast<int64_t>(uid));
  if (!s.step()) return std::nullopt;
  return queueFrom(s);
}

void Registry::markSent(int64_t id, uint64_t nowUs, uint32_t downlinkCounter) {
  Statement s(db_.handle(),
              "UPDATE queue SET state = 'sent', attempts = attempts + 1, sent_us = ?2, downlink_counter = ?3 "
              "WHERE id = ?1");
  s.bind(1, id).bind(2, u64ToDb(nowUs)).bind(3, static_cast<int64_t>(downlinkCounter)).run();
}

void Registry::markAnswered(int64_t id, bool ok, const std::string& reason) {
  Statement s(db_.handle(), "UPDATE queue SET state = ?2, reason = ?3 WHERE id = ?1");
  s.bind(1, id).bind(2, std::string(ok ? "done" : "failed")).bind(3, reason).run();
}

int Registry::flushQueue(uint32_t uid) {
  Statement s(db_.handle(), "DELETE FROM queue WHERE uid = ?1 AND state IN ('pending', 'sent')");
  s.bind(1, static_cast<int64_t>(uid)).run();
  return db_.changes();
}

}  // namespace vantor
