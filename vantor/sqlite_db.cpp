// SQLite connection, statements and transactions.
#include "sqlite_db.h"

#include <sqlite3.h>

namespace vantor {

namespace {
// Another process (the CLI, or orvane-sim) may hold the write lock for a moment.
constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw DbError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}
}  // namespace

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) fail(db, std::string("prepare '") + sql + "'");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

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

Database::~Database() { sqlite3_close(db_); }

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
