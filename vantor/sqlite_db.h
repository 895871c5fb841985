// A thin layer over SQLite: one connection, prepared statements with typed binds and columns, and
// write transactions that roll back unless committed. Errors are thrown as DbError.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vantor {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1, as in SQL.
  Statement& bind(int index, int64_t value);
  Statement& bind(int index, double value);
  Statement& bind(int index, const std::string& value);
  Statement& bindBlob(int index, const uint8_t* data, size_t len);
  Statement& bindNull(int index);
  template <typename T>
  Statement& bind(int index, const std::optional<T>& value) {
    return value ? bind(index, *value) : bindNull(index);
  }

  // True while there is a row; false once done.
  bool step();
  // Runs a statement that returns no rows.
  void run();
  // Ready to run again with new binds.
  void reset();

  // Columns count from 0.
  bool isNull(int column) const;
  int64_t i64(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  std::vector<uint8_t> blob(int column) const;
  std::optional<int64_t> optI64(int column) const;
  std::optional<double> optReal(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  // create: make the file when it is missing; otherwise a missing file is an error.
  Database(const std::string& path, bool create);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(const char* sql);
  int64_t lastInsertId() const;
  int changes() const;
  sqlite3* handle() { return db_; }

  // BEGIN IMMEDIATE: the write lock is taken at once (waiting out a short lock of another process).
  class Transaction {
   public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();

   private:
    Database& db_;
    bool done_ = false;
  };

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace vantor
