// A table's rows read straight from a Norvane database file, value by value in the forms the
// SQLite ODBC driver hands them out.
//
// Owns: a read-only SQLite connection to the file and one statement over the table, rows in
// the table's order. Values come as the driver's SQL_C_CHAR, SQL_C_BINARY and SQL_C_DOUBLE
// conversions give them, without the driver's per-value text round trips and locks.
// Failures: the constructor and Next throw platform::Error dao::err::kOdbcCallFailed naming the
// table and SQLite's message (file or table missing, damaged pages); a file another program
// keeps locked past `busy` throws platform::DatabaseLocked naming it and its holder, at once when
// an earlier wait on it ran out (platform/database_lock.h).
#pragma once

#include <chrono>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace platform::verify {

class FileRows {
 public:
  FileRows(const std::string& posixPath, const std::string& table, std::chrono::milliseconds busy);
  ~FileRows();
  FileRows(const FileRows&) = delete;
  FileRows& operator=(const FileRows&) = delete;

  int Columns() const;
  // Steps to the next row; false after the last.
  bool Next();
  // Column `c` (from 0) of the current row; each returns false for NULL.
  // Text: numbers as SQLite prints them, bytes as X'HEX'.
  bool Text(int c, std::string& out) const;
  // Bytes: a blob's bytes, any other value's text.
  bool Bytes(int c, std::string& out) const;
  // Real: the number the value's text starts with; false also when it starts with none.
  bool Real(int c, double& out) const;

 private:
  [[noreturn]] void Fail(const std::string& what) const;

  std::string table_;
  std::string path_;
  std::chrono::milliseconds busy_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace platform::verify
