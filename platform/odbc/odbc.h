// Thin RAII layer over the unixODBC driver manager: environment, connection, statement.
//
// Owns: one ODBC environment and connection per `Connection`, statements per `Statement`; every
// handle is freed by its owner's destructor.
// Failures: every call that the driver refuses throws platform::Error with number
// dao::err::kOdbcCallFailed and a description "ODBC--call failed. <step>: [SQLSTATE] message
// (native N)" holding each diagnostic record the driver left. Calls that wait on a database
// another program holds are bounded by the connection's time limits (Limits) and then throw
// platform::DatabaseLocked (same number), naming the file and the holder; once a wait on a file
// ran out, later statements on it fail at once while it stays held (platform/database_lock.h).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <string>
#include <vector>

namespace platform::odbc {

// Throws the error for a failed call on `handle`, with the driver's diagnostics.
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle,
                                   const std::string& step);
// Checks a return code: success (with or without info) returns, anything else throws.
void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const std::string& step);

// One row of SQLGetTypeInfo.
struct TypeInfo {
  std::string name;           // TYPE_NAME, as written in DDL
  SQLSMALLINT sqlType = 0;    // DATA_TYPE
  SQLINTEGER columnSize = 0;  // COLUMN_SIZE (maximum length or precision)
  std::string createParams;   // CREATE_PARAMS ("length", "precision,scale", ...)
};

// Splits "A=1;B={x;y};C=" into key/value pairs; keys keep their spelling, a value in braces
// keeps them (and a "}}" inside).
std::vector<std::pair<std::string, std::string>> ParseConnectionString(const std::string& s);

// Whether a connection string (with or without "ODBC;") names psqlODBC: its Driver= holds
// "PostgreSQL" or "psqlodbc" (in any letter case), as the names the driver registers do.
bool NamesPostgresDriver(const std::string& connection);
// The value of the first part `key` (letter case ignored), braces removed; "" when none.
std::string ConnectionValue(const std::string& connection, std::string_view key);
// `s` without its password ("PWD=", "Password=", any letter case); the rest byte for byte. A
// string without one is returned unchanged.
std::string WithoutPassword(const std::string& s);

class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE parent);
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept;
  Handle& operator=(Handle&& other) noexcept;
  ~Handle();
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  void Reset();
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Time limits of a connection. `statement` bounds how long one call waits for a database that
// another program holds locked: as the query time limit of every statement, as the connection's
// time limit for the requests outside a statement (commit, rollback) and as the login limit when
// it is shorter, in whole seconds, at least one.
struct Limits {
  std::chrono::seconds login{60};
  std::chrono::milliseconds statement{std::chrono::seconds(60)};
};

class Connection {
 public:
  // Connects with SQLDriverConnect, without prompting; the driver manager's completed
  // connection string is kept.
  explicit Connection(const std::string& connectionString, Limits limits = {});
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  const std::string& CompletedString() const { return completed_; }
  const Limits& TimeLimits() const { return limits_; }
  // The database file the driver reports (its "Database=" when that is a POSIX path), or "".
  const std::string& DatabaseFile() const { return databaseFile_; }
  SQLHDBC dbc() const { return dbc_.get(); }

  void ExecDirect(const std::string& sql);
  // Names of the user tables (SQLTables, type TABLE), in the driver's order.
  std::vector<std::string> TableNames();
  bool HasTable(const std::string& name);
  // The columns of `table`'s primary key in key order (SQLPrimaryKeys), with the key's name
  // when the driver gives one; no columns when the table has no primary key.
  struct PrimaryKey {
    std::string name;
    std::vector<std::string> columns;
  };
  PrimaryKey PrimaryKeyOf(const std::string& table);
  const std::vector<TypeInfo>& TypeInfos();
  std::string DbmsName();
  // On a Norvane file, commits stop waiting for the disk (SQLite's synchronous = OFF: a killed
  // process still leaves each transaction whole or absent, only a machine that stops can lose
  // them) until Flush(), which writes them to it; the destructor flushes what Flush() did not.
  // Meanwhile each commit starts the file's writing to the disk, so that Flush() waits for little.
  // Nothing changes on another DBMS.
  void DeferDiskWrites();
  // platform::Error when the system refuses to write the file or its folder.
  void Flush();
  void SetAutoCommit(bool on);
  void Commit();
  void Rollback();

 private:
  Limits limits_;
  Handle env_;
  Handle dbc_;
  bool connected_ = false;
  bool deferred_ = false;  // commits written since DeferDiskWrites() not yet flushed
  std::string completed_;
  std::string databaseFile_;
  std::vector<TypeInfo> types_;
};

class Statement {
 public:
  // The statement gets the connection's statement time limit.
  explicit Statement(Connection& connection);
  SQLHSTMT get() const { return stmt_.get(); }
  // As odbc::Check; a failure because the database is locked says that the time limit ran out.
  void Check(SQLRETURN rc, const std::string& step) const;
  // Reads column `col` (from 1) of the current row as text; false when NULL.
  bool GetText(SQLUSMALLINT col, std::string& out);

 private:
  Handle stmt_;
  std::chrono::milliseconds limit_;
  std::string file_;
};

}  // namespace platform::odbc
