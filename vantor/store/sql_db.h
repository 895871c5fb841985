// The seam between the Vantor's store and a database engine: statements with numbered parameters
// (?1, ?2, ... as SQLite writes them), rows of typed values, write transactions that are taken one
// at a time across every process on the database, and the place the schema version is kept.
// SQLite and PostgreSQL fill it; the store's SQL is written once above it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "db_error.h"

namespace vantor {

using Blob = std::vector<uint8_t>;
using SqlValue = std::variant<std::monostate, int64_t, double, std::string, Blob>;

class SqlRow {
 public:
  explicit SqlRow(std::vector<SqlValue> values) : values_(std::move(values)) {}
  bool isNull(size_t column) const { return std::holds_alternative<std::monostate>(values_.at(column)); }
  int64_t i64(size_t column) const;
  double real(size_t column) const;
  std::string text(size_t column) const;
  Blob blob(size_t column) const;
  std::optional<int64_t> optI64(size_t column) const;
  std::optional<double> optReal(size_t column) const;

 private:
  std::vector<SqlValue> values_;
};

using SqlRows = std::vector<SqlRow>;

// The names a dialect gives to what the schema needs.
struct SqlDialect {
  const char* id;            // an integer primary key that numbers itself
  const char* integer;       // 64-bit
  const char* real;          // double precision
  const char* blob;          // bytes
  const char* withoutRowid;  // a table whose primary key is all it needs
};

class SqlDb {
 public:
  virtual ~SqlDb() = default;

  virtual const SqlDialect& dialect() const = 0;
  // One statement; parameters are ?1..?N in the text.
  virtual SqlRows query(const std::string& sql, const std::vector<SqlValue>& params = {}) = 0;
  // Statements without parameters, separated by semicolons.
  virtual void script(const std::string& sql) = 0;

  // A write transaction. Only one runs at a time on a database, whichever process holds it:
  // what a transaction reads stays true until it commits.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;

  // 0 for a database without the Vantor's tables.
  virtual int schemaVersion() = 0;
  virtual void setSchemaVersion(int version) = 0;
};

// A value for a parameter: NULL when absent.
template <typename T>
SqlValue sqlValue(const std::optional<T>& v) {
  return v ? SqlValue(*v) : SqlValue();
}

}  // namespace vantor
