// SQLite behind the store's seam: one connection to a file (or ":memory:") in WAL mode, so the CLI
// reads and queues while a simulation writes; both sides wait up to 5 s for the write lock. The
// schema version is PRAGMA user_version.
#pragma once

#include <map>
#include <string>

#include "sql_db.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vantor {

class SqliteDb : public SqlDb {
 public:
  // create: make the file when it is missing; otherwise a missing file is an error.
  SqliteDb(const std::string& path, bool create);
  ~SqliteDb() override;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  const SqlDialect& dialect() const override;
  SqlRows query(const std::string& sql, const std::vector<SqlValue>& params = {}) override;
  void script(const std::string& sql) override;
  void begin() override;
  void commit() override;
  void rollback() noexcept override;
  int schemaVersion() override;
  void setSchemaVersion(int version) override;

 private:
  [[noreturn]] void fail(const std::string& what) const;

  sqlite3* db_ = nullptr;
  // Prepared once, run many times: the store's statements are a fixed set.
  std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace vantor
