// Reading a remote table's columns and unique indexes through ODBC (SQLColumns, SQLStatistics).
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/jetwriter/jet_catalog_writer.h"

namespace jetwriter {
namespace {

struct Handle {
  SQLSMALLINT type;
  SQLHANDLE h = SQL_NULL_HANDLE;
  explicit Handle(SQLSMALLINT t) : type(t) {}
  ~Handle() {
    if (h != SQL_NULL_HANDLE) SQLFreeHandle(type, h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

struct Connection {
  SQLHDBC dbc;
  bool open = false;
  ~Connection() {
    if (open) SQLDisconnect(dbc);
  }
};

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::string out;
  SQLCHAR state[6], text[512];
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS; ++i) {
    if (!out.empty()) out += "; ";
    out += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
  return out;
}

[[noreturn]] void OdbcFail(const std::string& what, SQLSMALLINT type, SQLHANDLE h) {
  std::string diag = h != SQL_NULL_HANDLE ? Diagnostics(type, h) : std::string();
  throw platform::Error(dao::err::kOdbcCallFailed,
                        "ODBC--call failed: " + what + (diag.empty() ? "" : " (" + diag + ")"));
}

std::string Text(SQLHSTMT st, SQLUSMALLINT column) {
  SQLCHAR buf[512];
  SQLLEN len = 0;
  if (!SQL_SUCCEEDED(SQLGetData(st, column, SQL_C_CHAR, buf, sizeof buf, &len)) ||
      len == SQL_NULL_DATA) {
    return {};
  }
  return std::string(reinterpret_cast<char*>(buf));
}

long Number(SQLHSTMT st, SQLUSMALLINT column) {
  SQLINTEGER v = 0;
  SQLLEN len = 0;
  if (!SQL_SUCCEEDED(SQLGetData(st, column, SQL_C_SLONG, &v, 0, &len)) || len == SQL_NULL_DATA) {
    return 0;
  }
  return v;
}

}  // namespace

namespace {

// The unique indexes of `table`, their columns in key order.
std::vector<RemoteIndex> ReadUniqueIndexes(SQLHDBC dbc, const std::string& table) {
  Handle st(SQL_HANDLE_STMT);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st.h))) {
    OdbcFail("no ODBC statement handle", SQL_HANDLE_DBC, dbc);
  }
  std::string name = table;
  if (!SQL_SUCCEEDED(
          SQLStatistics(st.h, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()),
                        static_cast<SQLSMALLINT>(name.size()), SQL_INDEX_UNIQUE, SQL_QUICK))) {
    OdbcFail("cannot read the indexes of '" + table + "'", SQL_HANDLE_STMT, st.h);
  }
  std::vector<RemoteIndex> indexes;
  std::vector<std::vector<std::pair<long, std::string>>> keys;
  for (;;) {
    SQLRETURN rc = SQLFetch(st.h);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc))
      OdbcFail("cannot read the indexes of '" + table + "'", SQL_HANDLE_STMT, st.h);
    if (Text(st.h, 3) != table || Number(st.h, 7) == SQL_TABLE_STAT || Number(st.h, 4) != 0)
      continue;
    const std::string index = Text(st.h, 6);
    auto it = std::find_if(indexes.begin(), indexes.end(),
                           [&](const RemoteIndex& i) { return i.name == index; });
    if (it == indexes.end()) {
      indexes.push_back({index, {}});
      keys.emplace_back();
      it = indexes.end() - 1;
    }
    keys[static_cast<std::size_t>(it - indexes.begin())].emplace_back(Number(st.h, 8),
                                                                      Text(st.h, 9));
  }
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    std::sort(keys[i].begin(), keys[i].end());
    for (auto& [position, column] : keys[i]) indexes[i].columns.push_back(column);
  }
  return indexes;
}

}  // namespace

RemoteTable ReadRemoteTable(const std::string& connect, const std::string& table) {
  Handle env(SQL_HANDLE_ENV);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env.h))) {
    OdbcFail("no ODBC environment", SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  }
  SQLSetEnvAttr(env.h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  Handle dbc(SQL_HANDLE_DBC);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env.h, &dbc.h))) {
    OdbcFail("no ODBC connection handle", SQL_HANDLE_ENV, env.h);
  }
  Connection conn{dbc.h};
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  std::string in = connect;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc.h, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                      SQL_NTS, out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT))) {
    OdbcFail("cannot connect to the linked source", SQL_HANDLE_DBC, dbc.h);
  }
  conn.open = true;
  Handle st(SQL_HANDLE_STMT);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc.h, &st.h))) {
    OdbcFail("no ODBC statement handle", SQL_HANDLE_DBC, dbc.h);
  }
  std::string name = table;
  if (!SQL_SUCCEEDED(SQLColumns(st.h, nullptr, 0, nullptr, 0,
                                reinterpret_cast<SQLCHAR*>(name.data()),
                                static_cast<SQLSMALLINT>(name.size()), nullptr, 0))) {
    OdbcFail("cannot read the columns of '" + table + "'", SQL_HANDLE_STMT, st.h);
  }
  std::vector<RemoteColumn> columns;
  for (;;) {
    SQLRETURN rc = SQLFetch(st.h);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc))
      OdbcFail("cannot read the columns of '" + table + "'", SQL_HANDLE_STMT, st.h);
    // Only exact matches: the pattern argument treats "_" as a wildcard.
    if (Text(st.h, 3) != table) continue;
    RemoteColumn c;
    c.name = Text(st.h, 4);
    c.sqlType = static_cast<int>(Number(st.h, 5));
    c.size = Number(st.h, 7);
    c.digits = static_cast<int>(Number(st.h, 9));
    columns.push_back(std::move(c));
  }
  if (columns.empty()) {
    throw platform::Error(dao::err::kOdbcCallFailed,
                          "ODBC--call failed: the linked source has no table '" + table + "'.");
  }
  return RemoteTable{std::move(columns), ReadUniqueIndexes(dbc.h, table)};
}

}  // namespace jetwriter
