// SQLite connection, statements and transactions.
#include "sqlite_db.h"

#include <sqlite3.h>

#include <mutex>
#include <unordered_map>

namespace vantor {

namespace {
// Another process (the CLI, or orvane-sim) may hold the write lock for a moment.
constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw DbError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

// Prepared statements kept per connection once done with, by their text: compiling the SQL cost
// more than running it (the registry runs the same few dozen statements for every frame).
class StatementCache {
 public:
  sqlite3_stmt* take(sqlite3* db, const char* sql) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto conn = kept_.find(db);
    if (conn == kept_.end()) return nullptr;
    auto it = conn->second.find(sql);
    if (it == conn->second.end()) return nullptr;
    sqlite3_stmt* stmt = it->second;
    conn->second.erase(it);
    return stmt;
  }
  void give(sqlite3* db, sqlite3_stmt* stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    std::lock_guard<std::mutex> lock(mutex_);
    sqlite3_stmt*& slot = kept_[db][sqlite3_sql(stmt)];
    if (slot != nullptr) sqlite3_finalize(slot);  // the same text in use twice at once: keep one
    slot = stmt;
  }
  // Before the connection closes (a statement left over would keep it open).
  void drop(sqlite3* db) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto conn = kept_.find(db);
    if (conn == kept_.end()) return;
    for (auto& [sql, stmt] : conn->second) sqlite3_finalize(stmt);
    kept_.erase(conn);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<sqlite3*, std::unordered_map<std::string, sqlite3_stmt*>> kept_;
};

// Never destroyed: a database closed by a static destructor at exit still finds it.
StatementCache& statementCache() {
  static auto* cache = new StatementCache;
  return *cache;
}
}  // namespace

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
  stmt_ = statementCache().take(db, sql);
  if (stmt_ == nullptr && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    fail(db, std::string("prepare '") + sql + "'");
  }
}

Statement::~Statement() {
  if (stmt_ != nullptr) statementCache().give(db_, stmt_);
}

Statement& Statement::bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, const std::string& value) {
  if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    fail(db_, "bind");
  }
  return *this;
}

Statement& Statement::bindBlob(int index, const uint8_t* data, size_t len) {
  static const uint8_t kEmpty = 0;
  if (sqlite3_bind_blob(stmt_, index, len != 0 ? data : &kEmpty, static_cast<int>(len), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    fail(db_, "bind");
  }
  return *this;
}

Statement& Statement::bindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, "step");
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
int64_t Statement::i64(int column) const { return sqlite3_column_int64(stmt_, column); }
double Statement::real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string Statement::text(int column) const {
  const unsigned char* t = sqlite3_column_text(stmt_, column);
  return t != nullptr
             ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

std::vector<uint8_t> Statement::blob(int column) const {
  const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int n = sqlite3_column_bytes(stmt_, column);
  return b != nullptr ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>();
}

std::optional<int64_t> Statement::optI64(int column) const {
  if (isNull(column)) return std::nullopt;
  return i64(column);
}

std::optional<double> Statement::optReal(int column) const {
  if (isNull(column)) return std::nullopt;
  return real(column);
}

Database::Database(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Database::~Database() {
  statementCache().drop(db_);
  sqlite3_close(db_);
}

void Database::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DbError(why);
  }
}

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int Database::changes() const { return sqlite3_changes(db_); }

Database::Transaction::Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Database::Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.exec("ROLLBACK");
  } catch (const DbError&) {
    // The transaction is gone already (SQLite rolls back on some errors by itself).
  }
}

void Database::Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace vantor
