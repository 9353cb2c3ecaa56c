#include <odbcinst.h>

#include <algorithm>
#include <thread>

#include "norvane/catalog.h"
#include "norvane/odbc/core.h"
#include "norvane/odbc/types.h"

namespace norvane::odbc {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// "A=1;B={x;y};C=" as key/value pairs; a value in braces may hold ';' ("}}" is one '}').
Pairs ParsePairs(std::string_view s) {
  Pairs out;
  while (!s.empty()) {
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) break;
    std::string key = std::string(TrimBlanks(s.substr(0, eq)));
    s.remove_prefix(eq + 1);
    std::string value;
    std::string_view rest = s;
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '{') {
      rest.remove_prefix(1);
      while (!rest.empty()) {
        if (rest.front() == '}') {
          if (rest.size() > 1 && rest[1] == '}') {
            value += '}';
            rest.remove_prefix(2);
            continue;
          }
          rest.remove_prefix(1);
          break;
        }
        value += rest.front();
        rest.remove_prefix(1);
      }
      const std::size_t semi = rest.find(';');
      s = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
    } else {
      const std::size_t semi = s.find(';');
      value = std::string(TrimBlanks(s.substr(0, semi)));
      s = semi == std::string_view::npos ? std::string_view{} : s.substr(semi + 1);
    }
    while (!s.empty() && (s.front() == ';' || s.front() == ' ')) s.remove_prefix(1);
    if (!key.empty()) out.emplace_back(std::move(key), std::move(value));
  }
  return out;
}

const std::string* Find(const Pairs& pairs, std::string_view key) {
  for (const auto& [k, v] : pairs)
    if (EqualsNoCase(k, key)) return &v;
  return nullptr;
}

std::string FromDsn(const std::string& dsn, const char* key) {
  char value[4096] = {};
  SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "odbc.ini");
  return value;
}

bool NeedsBraces(const std::string& v) {
  return v.find_first_of(";{}") != std::string::npos || (!v.empty() && v.front() == ' ');
}

std::string Braced(const std::string& v) {
  if (!NeedsBraces(v)) return v;
  std::string out = "{";
  for (char c : v) out += c == '}' ? std::string("}}") : std::string(1, c);
  return out + "}";
}

// Large sorts (index builds, ORDER BY and GROUP BY over many rows) get one helper thread per core,
// up to four, where the machine has more than one.
void UseSortHelpers(sqlite3* db) {
  const unsigned cores = std::thread::hardware_concurrency();
  sqlite3_limit(db, SQLITE_LIMIT_WORKER_THREADS,
                cores > 1 ? static_cast<int>(std::min(cores, 4u)) : 0);
}

// Opens `path` as a Norvane database: it must exist and carry the Norvane application id. Waits
// up to `limit` for a file that another program holds locked.
sqlite3* OpenNorvane(const std::string& path, std::chrono::milliseconds limit) {
  if (path.empty())
    throw DriverError{"08001", "No Norvane database named: give Database=<path> or a data source"};
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw DriverError{"08001", "Cannot open the Norvane database '" + path + "': " + why, rc};
  }
  sqlite3_busy_timeout(db, static_cast<int>(std::min<long long>(limit.count(), 1 << 30)));
  sqlite3_extended_result_codes(db, 1);
  UseSortHelpers(db);
  sqlite3_stmt* s = nullptr;
  rc = sqlite3_prepare_v2(db, "PRAGMA application_id", -1, &s, nullptr);
  int id = 0;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) id = sqlite3_column_int(s, 0), rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_OK) {
    DriverError e = SqliteError(db, rc);
    sqlite3_close_v2(db);
    if (e.state != "HYT00") e.state = "08001";
    e.message = "Cannot open the Norvane database '" + path + "': " + e.message;
    throw e;
  }
  if (id != kApplicationId) {
    sqlite3_close_v2(db);
    throw DriverError{"08001", "'" + path + "' is not a Norvane database"};
  }
  return db;
}

// A lock wait while connecting: the connection's busy limit ("Timeout="), within the login
// time limit.
std::chrono::milliseconds LoginLimit(const Dbc& dbc) {
  std::chrono::milliseconds limit = dbc.busyLimit.value_or(std::chrono::seconds(60));
  if (dbc.loginTimeout > 0)
    limit = std::min<std::chrono::milliseconds>(limit, std::chrono::seconds(dbc.loginTimeout));
  return limit;
}

}  // namespace

std::string DriverConnect(Dbc& dbc, const std::string& connectionString) {
  if (dbc.db != nullptr) throw DriverError{"08002", "Connection name in use"};
  const Pairs pairs = ParsePairs(connectionString);
  std::string dsn, database, timeout;
  if (const std::string* v = Find(pairs, "DSN")) dsn = *v;
  for (const char* key : {"Database", "DBQ", "DBF"})
    if (const std::string* v = Find(pairs, key); v && database.empty()) database = *v;
  if (database.empty() && !dsn.empty()) database = FromDsn(dsn, "Database");
  if (const std::string* v = Find(pairs, "Timeout")) timeout = *v;
  if (timeout.empty() && !dsn.empty()) timeout = FromDsn(dsn, "Timeout");
  if (!TrimBlanks(timeout).empty()) {
    try {
      dbc.busyLimit =
          std::chrono::milliseconds(std::max(0LL, std::stoll(std::string(TrimBlanks(timeout)))));
    } catch (const std::exception&) {
      throw DriverError{"HY024", "Invalid Timeout value '" + timeout + "' (milliseconds)"};
    }
  }
  dbc.db = OpenNorvane(database, LoginLimit(dbc));
  dbc.busyMs = -1;
  dbc.WaitAtMost(dbc.WaitLimit(0));
  sqlite3_progress_handler(dbc.db, 1000, Dbc::PastDeadline, &dbc);
  dbc.file = database;
  // The completed string: what was given, with the database the data source named.
  std::string completed;
  bool haveDatabase = false;
  for (const auto& [k, v] : pairs) {
    if (EqualsNoCase(k, "PWD")) continue;
    if (EqualsNoCase(k, "Database")) haveDatabase = true;
    completed += (completed.empty() ? "" : ";") + k + "=" + Braced(v);
  }
  if (!haveDatabase)
    completed += (completed.empty() ? "" : ";") + std::string("Database=") + Braced(database);
  dbc.completed = completed;
  return completed;
}

std::string Connect(Dbc& dbc, const std::string& dsn, const std::string&, const std::string&) {
  return DriverConnect(dbc, "DSN=" + Braced(dsn));
}

void Disconnect(Dbc& dbc) {
  if (dbc.db == nullptr) throw DriverError{"08003", "Connection not open"};
  dbc.Close();
  dbc.completed.clear();
}

void EndTransaction(Dbc& dbc, SQLSMALLINT completion) {
  if (dbc.db == nullptr) throw DriverError{"08003", "Connection not open"};
  if (completion != SQL_COMMIT && completion != SQL_ROLLBACK)
    throw DriverError{"HY012", "Invalid transaction operation code"};
  if (sqlite3_get_autocommit(dbc.db)) return;
  if (completion == SQL_ROLLBACK) {
    // Open cursors keep their rows: what they have not read yet is read before the rollback.
    for (Stmt* s : dbc.statements) s->Materialize();
  }
  for (Stmt* s : dbc.statements)
    if (s->result != Stmt::Result::Live && s->prepared) sqlite3_reset(s->prepared);
  char* error = nullptr;
  const int rc = sqlite3_exec(dbc.db, completion == SQL_COMMIT ? "COMMIT" : "ROLLBACK", nullptr,
                              nullptr, &error);
  sqlite3_free(error);
  if (rc != SQLITE_OK) throw SqliteError(dbc.db, rc);
}

SQLRETURN SetConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  const auto number = static_cast<SQLUINTEGER>(reinterpret_cast<SQLULEN>(value));
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT: {
      const bool on = number == SQL_AUTOCOMMIT_ON;
      if (on && !dbc.autocommit && dbc.db && !sqlite3_get_autocommit(dbc.db))
        EndTransaction(dbc, SQL_COMMIT);
      dbc.autocommit = on;
      return SQL_SUCCESS;
    }
    case SQL_ATTR_LOGIN_TIMEOUT:
      dbc.loginTimeout = number;
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      dbc.connectionTimeout = number;
      dbc.WaitAtMost(dbc.WaitLimit(0));
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_TXN_ISOLATION:
    case SQL_ATTR_ODBC_CURSORS:
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRACEFILE:
    case SQL_ATTR_TRANSLATE_LIB:
    case SQL_ATTR_TRANSLATE_OPTION:
    case SQL_ATTR_CURRENT_CATALOG:
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_ANSI_APP:
      return SQL_SUCCESS;
    default:
      // unixODBC passes its own attributes through (above 1000): they are not ours.
      if (attribute >= 1000) return SQL_SUCCESS;
      throw DriverError{"HY092",
                        "Invalid attribute/option identifier " + std::to_string(attribute)};
  }
}

SQLRETURN GetConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                         SQLINTEGER* length, std::string* text) {
  SQLUINTEGER number = 0;
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      number = dbc.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
      break;
    case SQL_ATTR_LOGIN_TIMEOUT:
      number = dbc.loginTimeout;
      break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      number = dbc.connectionTimeout;
      break;
    case SQL_ATTR_CONNECTION_DEAD:
      number = dbc.db ? SQL_CD_FALSE : SQL_CD_TRUE;
      break;
    case SQL_ATTR_ACCESS_MODE:
      number = dbc.db && sqlite3_db_readonly(dbc.db, "main") == 1 ? SQL_MODE_READ_ONLY
                                                                  : SQL_MODE_READ_WRITE;
      break;
    case SQL_ATTR_TXN_ISOLATION:
      number = SQL_TXN_SERIALIZABLE;
      break;
    case SQL_ATTR_ODBC_CURSORS:
      number = SQL_CUR_USE_DRIVER;
      break;
    case SQL_ATTR_ASYNC_ENABLE:
      number = SQL_ASYNC_ENABLE_OFF;
      break;
    case SQL_ATTR_METADATA_ID:
      number = SQL_FALSE;
      break;
    case SQL_ATTR_CURRENT_CATALOG:
      if (text) *text = "";
      return SQL_SUCCESS;
    default:
      throw DriverError{"HY092",
                        "Invalid attribute/option identifier " + std::to_string(attribute)};
  }
  if (value) *static_cast<SQLUINTEGER*>(value) = number;
  if (length) *length = sizeof number;
  return SQL_SUCCESS;
}

}  // namespace norvane::odbc
