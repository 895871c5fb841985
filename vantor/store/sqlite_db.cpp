// SQLite connection, statements and transactions.
#include "sqlite_db.h"

#include <sqlite3.h>

namespace vantor {

namespace {
// Another process (the CLI, or orvane-sim) may hold the write lock for a moment.
constexpr int kBusyTimeoutMs = 5000;
// The write-ahead log is checkpointed at this many pages instead of SQLite's 1000: every start of
// the simulated node opens the database again, and the first connection to open it reads the whole
// log to rebuild its index. (A checkpoint at every restart would keep it shorter still, but costs
// two syncs to disk for every cycle that stored something.)
constexpr int kWalPages = 64;

const SqlDialect kSqlite{"INTEGER PRIMARY KEY AUTOINCREMENT", "INTEGER", "REAL", "BLOB", " WITHOUT ROWID"};
}  // namespace

SqliteDb::SqliteDb(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  script("PRAGMA foreign_keys = ON");
  // WAL lets readers go on while the simulation writes; the setting stays with the file.
  script("PRAGMA journal_mode = WAL");
  script("PRAGMA synchronous = NORMAL");
  sqlite3_wal_autocheckpoint(db_, kWalPages);
}

SqliteDb::~SqliteDb() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

const SqlDialect& SqliteDb::dialect() const { return kSqlite; }

void SqliteDb::fail(const std::string& what) const {
  throw DbError(what + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
}

SqlRows SqliteDb::query(const std::string& sql, const std::vector<SqlValue>& params) {
  sqlite3_stmt*& stmt = statements_[sql];
  if (stmt == nullptr && sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    statements_.erase(sql);
    fail("prepare '" + sql + "'");
  }
  struct Reset {
    sqlite3_stmt* s;
    ~Reset() {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
    }
  } reset{stmt};
  for (size_t i = 0; i < params.size(); ++i) {
    const int index = static_cast<int>(i + 1);
    const SqlValue& v = params[i];
    int rc = SQLITE_OK;
    if (std::holds_alternative<int64_t>(v)) {
      rc = sqlite3_bind_int64(stmt, index, std::get<int64_t>(v));
    } else if (std::holds_alternative<double>(v)) {
      rc = sqlite3_bind_double(stmt, index, std::get<double>(v));
    } else if (std::holds_alternative<std::string>(v)) {
      const std::string& s = std::get<std::string>(v);
      rc = sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    } else if (std::holds_alternative<Blob>(v)) {
      static const uint8_t kEmpty = 0;
      const Blob& b = std::get<Blob>(v);
      rc = sqlite3_bind_blob(stmt, index, b.empty() ? &kEmpty : b.data(), static_cast<int>(b.size()),
                             SQLITE_TRANSIENT);
    } else {
      rc = sqlite3_bind_null(stmt, index);
    }
    if (rc != SQLITE_OK) fail("bind");
  }
  SqlRows rows;
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) fail("step");
    const int columns = sqlite3_column_count(stmt);
    std::vector<SqlValue> row;
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_INTEGER: row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(stmt, c))); break;
        case SQLITE_FLOAT: row.emplace_back(sqlite3_column_double(stmt, c)); break;
        case SQLITE_TEXT: {
          const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
          row.emplace_back(std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
          break;
        }
        case SQLITE_BLOB: {
          const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, c));
          row.emplace_back(b != nullptr ? Blob(b, b + sqlite3_column_bytes(stmt, c)) : Blob());
          break;
        }
        default: row.emplace_back(std::monostate{}); break;
      }
    }
    rows.emplace_back(std::move(row));
  }
  return rows;
}

void SqliteDb::script(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DbError(why);
  }
}

// BEGIN IMMEDIATE: the write lock is taken at once (waiting out a short lock of another process).
void SqliteDb::begin() { script("BEGIN IMMEDIATE"); }
void SqliteDb::commit() { script("COMMIT"); }

void SqliteDb::rollback() noexcept {
  try {
    script("ROLLBACK");
  } catch (const DbError&) {
    // The transaction is gone already (SQLite rolls back on some errors by itself).
  }
}

int SqliteDb::schemaVersion() {
  const SqlRows r = query("PRAGMA user_version");
  return r.empty() ? 0 : static_cast<int>(r[0].i64(0));
}

void SqliteDb::setSchemaVersion(int version) { script("PRAGMA user_version = " + std::to_string(version)); }

}  // namespace vantor
