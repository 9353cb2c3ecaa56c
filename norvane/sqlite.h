// A thin RAII layer over the SQLite C API for the Norvane tools.
//
// Owns: the connection handle, prepared statements and single values copied out of a result.
// Failures: every call that SQLite refuses throws norvane::DbError with SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvane {

// A statement or operation the database refused; the message says what and why.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One SQL value, copied out of a result so it outlives the statement it came from.
class Value {
 public:
  struct Blob {
    std::string bytes;
    bool operator==(const Blob&) const = default;
  };
  Value() = default;
  static Value Text(std::string s) { return Value(Data(std::move(s))); }
  static Value Integer(std::int64_t i) { return Value(Data(i)); }
  static Value From(sqlite3_value* v);

  bool IsNull() const { return std::holds_alternative<std::monostate>(data_); }
  // The value as text, as SQLite would render it; NULL gives "".
  std::string AsText() const;
  void BindTo(sqlite3_stmt* st, int index) const;
  bool operator==(const Value&) const = default;

 private:
  using Data = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;
  explicit Value(Data d) : data_(std::move(d)) {}
  Data data_;
};

// How long a statement waits for a database another program holds locked.
inline constexpr std::chrono::milliseconds kBusyTimeout{5000};

// The failure (or its text) is SQLite's "database is locked": the busy time limit ran out.
bool IsLockedError(std::string_view what);
inline bool IsLockedError(const std::exception& e) {
  return IsLockedError(std::string_view(e.what()));
}

class Statement;

class Connection {
 public:
  // Opens an existing file (create = false) or creates a new one.
  Connection(const std::string& posixPath, bool create);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* get() const { return db_; }
  // Runs one or more statements without results.
  void Exec(const std::string& sql);
  // The first column of the first row, or NULL when there is no row.
  Value Scalar(const std::string& sql, const std::vector<Value>& params = {});
  // All rows of a query.
  std::vector<std::vector<Value>> Rows(const std::string& sql,
                                       const std::vector<Value>& params = {});
  bool InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }
  // Commits without waiting for the disk (PRAGMA synchronous = OFF): a killed process still
  // leaves each transaction whole or absent (the journal rolls back on the next open), only a
  // machine that stops loses them. Flush() makes what was committed durable.
  void CommitWithoutSync();
  // Writes the committed changes to the disk: the database file and its folder (where the
  // journal of the last transaction was removed). DbError when the system refuses.
  void Flush();
  // Starts writing the changes committed so far to the disk and returns at once: Flush() then
  // waits for little.
  void StartFlush();

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  // Prepares the first statement of `sql`; `tail` (if given) receives what follows it.
  Statement(Connection& c, std::string_view sql, std::string_view* tail = nullptr);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  bool Empty() const { return stmt_ == nullptr; }
  void Bind(int index, const Value& v);
  // Steps once; true when a row is available.
  bool Step();
  int ColumnCount() const { return sqlite3_column_count(stmt_); }
  std::string ColumnName(int i) const;
  Value Column(int i) const { return Value::From(sqlite3_column_value(stmt_, i)); }
  // The column's value when it is an INTEGER, else nullopt.
  std::optional<std::int64_t> ColumnInteger(int i) const {
    if (sqlite3_column_type(stmt_, i) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(stmt_, i);
  }

 private:
  Connection& c_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A savepoint that rolls back unless Release() was called: one operation, all or nothing.
class Savepoint {
 public:
  Savepoint(Connection& c, std::string name);
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint();
  void Release();

 private:
  Connection& c_;
  std::string name_;
  bool done_ = false;
};

// "name" with embedded double quotes doubled.
std::string QuoteId(std::string_view name);
// 'text' with embedded single quotes doubled.
std::string QuoteText(std::string_view text);

}  // namespace norvane
