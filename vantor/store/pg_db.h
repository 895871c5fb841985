// PostgreSQL behind the store's seam (libpq), for a site whose Vantors share one registry on a
// server: `postgresql://USER@HOST:PORT/DATABASE` (or any libpq connection URI). A write transaction
// holds a transaction-level advisory lock, so the frames of every Vantor on the database are
// handled one at a time, as SQLite's write lock does for one file. The schema version is the row
// `schema_version` of the `meta` table.
#pragma once

#include <map>
#include <string>

#include "sql_db.h"

struct pg_conn;

namespace vantor {

class PgDb : public SqlDb {
 public:
  explicit PgDb(const std::string& url);
  ~PgDb() override;
  PgDb(const PgDb&) = delete;
  PgDb& operator=(const PgDb&) = delete;

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

  pg_conn* conn_ = nullptr;
  std::string where_;  // the URL without its password, for messages
  bool inTransaction_ = false;
  // Prepared once per connection, by the statement's text.
  std::map<std::string, std::string> prepared_;
};

// The URL with any password replaced by "***".
std::string withoutPassword(const std::string& url);

}  // namespace vantor
