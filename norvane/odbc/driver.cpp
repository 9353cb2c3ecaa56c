#include "norvane/odbc/driver.h"

#include <algorithm>
#include <cstring>

#include "norvane/odbc/core.h"

namespace norvane::odbc {

std::string MessageText(std::string_view message) {
  return "[Norvane][ODBC] " + std::string(message);
}

DriverError SqliteError(sqlite3* db, int rc) {
  const int primary = rc & 0xff;
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::string state = "HY000";
  switch (primary) {
    case SQLITE_CONSTRAINT:
      state = "23000";
      break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      state = "HYT00";
      if (message.find("database is locked") == std::string::npos &&
          message.find("locked") == std::string::npos)
        message += " (database is locked)";
      break;
    case SQLITE_INTERRUPT:
      state = "HY008";
      break;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      state = "08001";
      break;
    case SQLITE_NOMEM:
      state = "HY001";
      break;
    case SQLITE_TOOBIG:
      state = "22001";
      break;
    case SQLITE_MISMATCH:
      state = "22018";
      break;
    case SQLITE_READONLY:
      state = "25000";
      break;
    case SQLITE_ERROR:
      if (message.starts_with("no such table") || message.starts_with("no such view"))
        state = "42S02";
      else if (message.starts_with("no such column"))
        state = "42S22";
      else if (message.find("already exists") != std::string::npos)
        state = message.starts_with("index") ? "42S11" : "42S01";
      else if (message.find("syntax error") != std::string::npos ||
               message.starts_with("incomplete input") || message.starts_with("unrecognized token"))
        state = "42000";
      break;
    default:
      break;
  }
  return {state, message, rc};
}

Handle* HandleOf(SQLSMALLINT type, SQLHANDLE handle) {
  if (handle == nullptr) return nullptr;
  Handle* h = nullptr;
  Kind want = Kind::Env;
  switch (type) {
    case SQL_HANDLE_ENV:
      h = static_cast<Env*>(handle);
      want = Kind::Env;
      break;
    case SQL_HANDLE_DBC:
      h = static_cast<Dbc*>(handle);
      want = Kind::Dbc;
      break;
    case SQL_HANDLE_STMT:
      h = static_cast<Stmt*>(handle);
      want = Kind::Stmt;
      break;
    case SQL_HANDLE_DESC:
      h = static_cast<Desc*>(handle);
      want = Kind::Desc;
      break;
    default:
      return nullptr;
  }
  return h->kind == want ? h : nullptr;
}

SQLSMALLINT Desc::Count() const {
  for (std::size_t n = records.size(); n-- > 1;) {
    const DescRecord& r = records[n];
    if (r.data != nullptr || r.indicatorPtr != nullptr || r.octetLengthPtr != nullptr)
      return static_cast<SQLSMALLINT>(n);
  }
  return 0;
}

Dbc::~Dbc() {
  Close();
}

std::chrono::milliseconds Dbc::WaitLimit(SQLULEN querySeconds) const {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  if (querySeconds > 0) return seconds(querySeconds);
  if (busyLimit) return *busyLimit;
  if (connectionTimeout > 0) return seconds(connectionTimeout);
  return seconds(60);
}

int Dbc::PastDeadline(void* context) {
  auto* dbc = static_cast<Dbc*>(context);
  if (!dbc->hasDeadline || std::chrono::steady_clock::now() < dbc->deadline) return 0;
  dbc->deadlinePassed = true;
  return 1;
}

void Dbc::WaitAtMost(std::chrono::milliseconds limit) {
  const int ms = static_cast<int>(std::min<long long>(limit.count(), 1 << 30));
  if (db == nullptr || ms == busyMs) return;
  sqlite3_busy_timeout(db, ms);
  busyMs = ms;
}

void Dbc::BeginIfManual() {
  if (autocommit || db == nullptr || !sqlite3_get_autocommit(db)) return;
  char* error = nullptr;
  const int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, &error);
  sqlite3_free(error);
  if (rc != SQLITE_OK) throw SqliteError(db, rc);
}

void Dbc::Close() {
  for (Stmt* s : statements) s->Unprepare();
  if (db != nullptr) {
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    db = nullptr;
    busyMs = -1;
  }
  file.clear();
}

Stmt::Stmt(Dbc* d) : Handle(Kind::Stmt), dbc(d) {
  dbc->statements.insert(this);
}

Stmt::~Stmt() {
  Unprepare();
  dbc->statements.erase(this);
}

Value Stmt::ColumnValue(int col) const {
  Value v;
  if (result == Result::Memory) {
    if (memoryRow == 0 || memoryRow > memory.rows.size()) return v;
    return memory.rows[memoryRow - 1][static_cast<std::size_t>(col)].View();
  }
  sqlite3_stmt* const prepared = current;
  if (result != Result::Live || prepared == nullptr) return v;
  v.type = sqlite3_column_type(prepared, col);
  switch (v.type) {
    case SQLITE_INTEGER:
      v.integer = sqlite3_column_int64(prepared, col);
      break;
    case SQLITE_FLOAT:
      v.real = sqlite3_column_double(prepared, col);
      break;
    case SQLITE_TEXT:
      v.bytes = reinterpret_cast<const char*>(sqlite3_column_text(prepared, col));
      v.size = static_cast<std::size_t>(sqlite3_column_bytes(prepared, col));
      break;
    case SQLITE_BLOB:
      v.bytes = static_cast<const char*>(sqlite3_column_blob(prepared, col));
      v.size = static_cast<std::size_t>(sqlite3_column_bytes(prepared, col));
      break;
    default:
      break;
  }
  return v;
}

void Stmt::CloseCursor() {
  if (current != nullptr && current != prepared) sqlite3_finalize(current);
  current = nullptr;
  if (prepared != nullptr) sqlite3_reset(prepared);
  result = Result::None;
  memory = {};
  memoryRow = 0;
  haveRow = pendingRow = atEnd = false;
  rowsRead = 0;
  getDataColumn = 0;
  getDataOffset = 0;
}

void Stmt::Unprepare() {
  CloseCursor();
  if (prepared != nullptr) sqlite3_finalize(prepared);
  prepared = nullptr;
  if (multi != nullptr) sqlite3_finalize(multi);
  multi = nullptr;
  multiRows = 0;
  insertHead.clear();
  insertRow.clear();
  columns.clear();
  preparedColumns.clear();
  later.clear();
  nextLater = 0;
  sql.clear();
  parameterTypes.clear();
  executed = false;
  needDataParam = 0;
  putData.clear();
}

void Stmt::SetResult(RowSet rows) {
  Unprepare();
  columns = rows.columns;
  memory = std::move(rows);
  memoryRow = 0;
  result = Result::Memory;
  rowCount = static_cast<SQLLEN>(memory.rows.size());
  executed = true;
}

std::optional<std::string> ArgText(const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return std::nullopt;
  const char* s = reinterpret_cast<const char*>(text);
  if (length == SQL_NTS) return std::string(s);
  if (length < 0) throw DriverError{"HY090", "Invalid string or buffer length"};
  return std::string(s, static_cast<std::size_t>(length));
}

bool CopyCut(const std::string& value, SQLCHAR* buffer, SQLLEN capacity) {
  if (capacity <= 0) return !value.empty();
  std::size_t n = std::min(value.size(), static_cast<std::size_t>(capacity - 1));
  // Never cut a UTF-8 sequence in two.
  if (n < value.size())
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n < value.size();
}

namespace {

template <typename Length>
SQLRETURN CopyOutImpl(Handle& handle, const std::string& value, SQLCHAR* buffer, SQLLEN capacity,
                      Length* length) {
  if (length != nullptr) *length = static_cast<Length>(value.size());
  if (buffer == nullptr || !CopyCut(value, buffer, capacity)) return SQL_SUCCESS;
  handle.Warn("01004", "String data, right truncated");
  return SQL_SUCCESS_WITH_INFO;
}

}  // namespace

SQLRETURN CopyOut(Handle& handle, const std::string& value, SQLCHAR* buffer, SQLLEN capacity,
                  SQLSMALLINT* length) {
  return CopyOutImpl(handle, value, buffer, capacity, length);
}

SQLRETURN CopyOut(Handle& handle, const std::string& value, SQLCHAR* buffer, SQLLEN capacity,
                  SQLINTEGER* length) {
  return CopyOutImpl(handle, value, buffer, capacity, length);
}

}  // namespace norvane::odbc
