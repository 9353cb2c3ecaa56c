#include "platform/odbc/odbc.h"

#include <algorithm>
#include <utility>

#include "platform/dao/dao.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace platform::odbc {

void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& step) {
  std::string text = "ODBC--call failed. " + step + ":";
  bool any = false;
  for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE && record <= 10; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    text += std::string(any ? "; [" : " [") + reinterpret_cast<const char*>(state) + "] " +
            reinterpret_cast<const char*>(message) + " (native " + std::to_string(native) + ")";
    any = true;
  }
  if (!any) text += " the driver gave no diagnostics";
  throw Error(dao::err::kOdbcCallFailed, text);
}

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const std::string& step) {
  if (!SQL_SUCCEEDED(rc)) ThrowDiagnostics(handleType, handle, step);
}

namespace {

// The driver's failure, as it is; one because the database stayed locked past the time limit
// also names the file and its holder, and is remembered (platform/database_lock.h).
[[noreturn]] void ThrowLockedOr(const Error& e, const std::string& file,
                                std::chrono::milliseconds limit) {
  const std::string& text = e.Description();
  if (text.find("database is locked") == std::string::npos &&
      text.find("[HYT00]") == std::string::npos)
    throw e;
  NoteGaveUpWaiting(file, limit);
  throw DatabaseLocked(e.Number(), text + ": " + LockedDatabaseText(file, limit) +
                                       ". Close that program, then run again.");
}

// The database file a connection string names by its POSIX path ("Database=/..."), or "".
std::string PosixDatabaseOf(const std::string& connectionString) {
  std::string named;
  for (const auto& [key, value] : ParseConnectionString(connectionString))
    if (EqualsNoCase(key, "Database") && value.starts_with('/')) named = value;
  return named;
}

// Fails at once when this program already waited on the file for its whole time limit and
// another program still holds it.
void RefuseWhenGivenUp(const std::string& file) {
  if (const std::string earlier = GaveUpEarlier(file); !earlier.empty())
    throw DatabaseLocked(dao::err::kOdbcCallFailed,
                         "ODBC--call failed: " + earlier +
                             " earlier in this run. Close that program, then run again.");
}

}  // namespace

std::string ConnectionValue(const std::string& connection, std::string_view key) {
  for (const auto& [k, value] : ParseConnectionString(WithoutOdbcPrefix(connection)))
    if (EqualsNoCase(k, key)) {
      if (value.size() >= 2 && value.front() == '{' && value.back() == '}')
        return value.substr(1, value.size() - 2);
      return value;
    }
  return "";
}

bool NamesPostgresDriver(const std::string& connection) {
  const std::string driver = LowerAscii(ConnectionValue(connection, "Driver"));
  return driver.find("postgresql") != std::string::npos ||
         driver.find("psqlodbc") != std::string::npos;
}

std::vector<std::pair<std::string, std::string>> ParseConnectionString(const std::string& s) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t eq = s.find('=', i);
    const std::size_t semi = s.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A part without "=": keep it as a key with an empty value.
      const std::size_t end = semi == std::string::npos ? s.size() : semi;
      if (end > i) pairs.emplace_back(Trim(s.substr(i, end - i)), "");
      i = end + 1;
      continue;
    }
    std::string key = Trim(s.substr(i, eq - i));
    std::string value;
    std::size_t j = eq + 1;
    if (j < s.size() && s[j] == '{') {
      // The closing brace; "}}" inside is one "}".
      std::size_t close = s.find('}', j);
      while (close != std::string::npos && close + 1 < s.size() && s[close + 1] == '}')
        close = s.find('}', close + 2);
      const std::size_t end = close == std::string::npos ? s.size() : close + 1;
      value = s.substr(j, end - j);
      j = end;
      const std::size_t next = s.find(';', j);
      j = next == std::string::npos ? s.size() : next;
    } else {
      j = semi == std::string::npos ? s.size() : semi;
      value = s.substr(eq + 1, j - eq - 1);
    }
    pairs.emplace_back(std::move(key), std::move(value));
    i = j + 1;
  }
  return pairs;
}

std::string WithoutPassword(const std::string& s) {
  const auto isPassword = [](const std::string& key) {
    return EqualsNoCase(key, "PWD") || EqualsNoCase(key, "Password");
  };
  const auto pairs = ParseConnectionString(s);
  if (std::none_of(pairs.begin(), pairs.end(), [&](const auto& p) { return isPassword(p.first); }))
    return s;
  std::string out;
  for (const auto& [key, value] : pairs)
    if (!isPassword(key)) out += key + "=" + value + ";";
  return out;
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  const SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
  if (!SQL_SUCCEEDED(rc)) {
    handle_ = SQL_NULL_HANDLE;
    if (type == SQL_HANDLE_ENV)
      throw Error(dao::err::kOdbcCallFailed,
                  "ODBC--call failed. The ODBC driver manager could not be started.");
    ThrowDiagnostics(type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC, parent,
                     "allocating a handle");
  }
}

Handle::Handle(Handle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

Handle::~Handle() {
  Reset();
}

void Handle::Reset() {
  if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
}

namespace {

// A time limit in the whole seconds ODBC counts, at least one.
SQLULEN Seconds(std::chrono::milliseconds limit) {
  return static_cast<SQLULEN>(std::max<long long>(1, (limit.count() + 999) / 1000));
}

}  // namespace

Connection::Connection(const std::string& connectionString, Limits limits)
    : limits_(limits), env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  Check(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      0),
        SQL_HANDLE_ENV, env_.get(), "setting the ODBC version");
  dbc_ = Handle(SQL_HANDLE_DBC, env_.get());
  // Time limits for the drivers that honour them: no open waits for ever.
  // Opening a database another program holds waits as long as a statement would.
  const SQLULEN login =
      std::min<SQLULEN>(static_cast<SQLULEN>(limits.login.count()), Seconds(limits.statement));
  SQLSetConnectAttr(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login), 0);
  SQLSetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(Seconds(limits.statement)), 0);
  std::vector<SQLCHAR> out(4096);
  SQLSMALLINT outLength = 0;
  std::string in = connectionString;
  // The driver's own statements at connect wait on a held file as well.
  const std::string named = PosixDatabaseOf(connectionString);
  RefuseWhenGivenUp(named);
  const SQLRETURN rc =
      SQLDriverConnect(dbc_.get(), nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                       static_cast<SQLSMALLINT>(in.size()), out.data(),
                       static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
  try {
    Check(rc, SQL_HANDLE_DBC, dbc_.get(), "connecting to the data source");
  } catch (const Error& e) {
    ThrowLockedOr(e, named, limits.statement);
  }
  connected_ = true;
  const std::size_t length = std::min<std::size_t>(outLength < 0 ? 0 : outLength, out.size() - 1);
  completed_.assign(reinterpret_cast<const char*>(out.data()), length);
  databaseFile_ = PosixDatabaseOf(completed_);
}

Connection::~Connection() {
  if (connected_) SQLDisconnect(dbc_.get());
  try {
    Flush();  // Close() of the owner reports a failure; here nobody is left to tell
  } catch (const Error&) {
  }
}

void Connection::DeferDiskWrites() {
  if (databaseFile_.empty() || !EqualsNoCase(DbmsName(), "Norvane")) return;
  ExecDirect("PRAGMA synchronous = OFF");
  deferred_ = true;
}

void Connection::Flush() {
  if (!deferred_) return;
  deferred_ = false;
  files::SyncFileAndFolder(databaseFile_, databaseFile_);
}

void Connection::ExecDirect(const std::string& sql) {
  Statement statement(*this);
  std::string text = sql;
  const SQLRETURN rc = SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                                     static_cast<SQLINTEGER>(text.size()));
  if (rc != SQL_NO_DATA) statement.Check(rc, "executing " + sql);
  if (deferred_) files::StartWriteBack(databaseFile_);
}

std::vector<std::string> Connection::TableNames() {
  Statement statement(*this);
  SQLCHAR type[] = "TABLE";
  statement.Check(SQLTables(statement.get(), nullptr, 0, nullptr, 0, nullptr, 0, type, SQL_NTS),
                  "listing the tables");
  std::vector<std::string> names;
  while (true) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) break;
    statement.Check(rc, "listing the tables");
    std::string name;
    if (statement.GetText(3, name)) names.push_back(std::move(name));
  }
  return names;
}

bool Connection::HasTable(const std::string& name) {
  for (const std::string& table : TableNames())
    if (EqualsNoCase(table, name)) return true;
  return false;
}

Connection::PrimaryKey Connection::PrimaryKeyOf(const std::string& table) {
  Statement statement(*this);
  std::string name = table;
  const std::string step = "Reading the primary key of " + table;
  statement.Check(SQLPrimaryKeys(statement.get(), nullptr, 0, nullptr, 0,
                                 reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS),
                  step);
  PrimaryKey key;
  std::vector<std::pair<int, std::string>> columns;  // KEY_SEQ, column
  while (true) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) break;
    statement.Check(rc, step);
    std::string column, seq;
    if (!statement.GetText(4, column)) continue;
    statement.GetText(5, seq);
    columns.emplace_back(seq.empty() ? 0 : std::stoi(seq), std::move(column));
    if (key.name.empty()) statement.GetText(6, key.name);
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [seq, column] : columns) key.columns.push_back(std::move(column));
  return key;
}

const std::vector<TypeInfo>& Connection::TypeInfos() {
  if (!types_.empty()) return types_;
  Statement statement(*this);
  statement.Check(SQLGetTypeInfo(statement.get(), SQL_ALL_TYPES), "reading the data types");
  while (true) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) break;
    statement.Check(rc, "reading the data types");
    TypeInfo info;
    std::string text;
    statement.GetText(1, info.name);
    if (statement.GetText(2, text)) info.sqlType = static_cast<SQLSMALLINT>(std::stoi(text));
    if (statement.GetText(3, text)) info.columnSize = static_cast<SQLINTEGER>(std::stoll(text));
    statement.GetText(6, info.createParams);
    types_.push_back(std::move(info));
  }
  return types_;
}

std::string Connection::DbmsName() {
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(dbc_.get(), SQL_DBMS_NAME, name, sizeof name, &length), SQL_HANDLE_DBC,
        dbc_.get(), "reading the DBMS name");
  return reinterpret_cast<const char*>(name);
}

void Connection::SetAutoCommit(bool on) {
  Check(SQLSetConnectAttr(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(
                              static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                          0),
        SQL_HANDLE_DBC, dbc_.get(), "setting the commit mode");
}

void Connection::Commit() {
  try {
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_COMMIT), SQL_HANDLE_DBC, dbc_.get(),
          "committing");
    if (deferred_) files::StartWriteBack(databaseFile_);
  } catch (const Error& e) {
    ThrowLockedOr(e, databaseFile_, limits_.statement);
  }
}

void Connection::Rollback() {
  Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_.get(),
        "rolling back");
}

Statement::Statement(Connection& connection)
    : stmt_(SQL_HANDLE_STMT, connection.dbc()),
      limit_(connection.TimeLimits().statement),
      file_(connection.DatabaseFile()) {
  RefuseWhenGivenUp(file_);
  // Drivers without query time limits ignore it.
  SQLSetStmtAttr(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(Seconds(limit_)),
                 0);
}

void Statement::Check(SQLRETURN rc, const std::string& step) const {
  if (SQL_SUCCEEDED(rc)) return;
  try {
    ThrowDiagnostics(SQL_HANDLE_STMT, stmt_.get(), step);
  } catch (const Error& e) {
    ThrowLockedOr(e, file_, limit_);
  }
}

bool Statement::GetText(SQLUSMALLINT col, std::string& out) {
  out.clear();
  char buffer[1024];
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(stmt_.get(), col, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;
    Check(rc, "reading a column");
    if (indicator == SQL_NULL_DATA) return false;
    const std::size_t got =
        (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))
            ? sizeof buffer - 1
            : static_cast<std::size_t>(indicator);
    out.append(buffer, got);
    if (rc == SQL_SUCCESS) return true;
  }
}

}  // namespace platform::odbc
