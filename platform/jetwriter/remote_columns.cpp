// Reading a remote table's columns, primary key and indexes through ODBC (SQLColumns,
// SQLPrimaryKeys, SQLStatistics).
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/odbc/odbc.h"

namespace jetwriter {
namespace {

std::string Text(platform::odbc::Statement& st, SQLUSMALLINT column) {
  std::string text;
  return st.GetText(column, text) ? text : std::string();
}

long Number(SQLHSTMT st, SQLUSMALLINT column) {
  SQLINTEGER v = 0;
  SQLLEN len = 0;
  if (!SQL_SUCCEEDED(SQLGetData(st, column, SQL_C_SLONG, &v, 0, &len)) || len == SQL_NULL_DATA) {
    return 0;
  }
  return v;
}

// The indexes of `table` in the driver's order, their columns in key order.
std::vector<RemoteIndex> ReadIndexes(platform::odbc::Connection& db, const std::string& table) {
  platform::odbc::Statement st(db);
  std::string name = table;
  st.Check(SQLStatistics(st.get(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()),
                         static_cast<SQLSMALLINT>(name.size()), SQL_INDEX_ALL, SQL_QUICK),
           "reading the indexes of '" + table + "'");
  std::vector<RemoteIndex> indexes;
  std::vector<std::vector<std::pair<long, std::string>>> keys;
  for (;;) {
    SQLRETURN rc = SQLFetch(st.get());
    if (rc == SQL_NO_DATA) break;
    st.Check(rc, "reading the indexes of '" + table + "'");
    // The columns in ascending order, as drivers without SQL_GD_ANY_ORDER need them.
    if (Text(st, 3) != table) continue;
    const bool unique = Number(st.get(), 4) == 0;
    const std::string index = Text(st, 6);
    if (Number(st.get(), 7) == SQL_TABLE_STAT) continue;
    auto it = std::find_if(indexes.begin(), indexes.end(),
                           [&](const RemoteIndex& i) { return i.name == index; });
    if (it == indexes.end()) {
      indexes.push_back({index, {}, unique});
      keys.emplace_back();
      it = indexes.end() - 1;
    }
    keys[static_cast<std::size_t>(it - indexes.begin())].emplace_back(Number(st.get(), 8),
                                                                      Text(st, 9));
  }
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    std::sort(keys[i].begin(), keys[i].end());
    for (auto& [position, column] : keys[i]) indexes[i].columns.push_back(column);
  }
  return indexes;
}

// `indexes` in the order the link keeps them, the primary key `key` first.
std::vector<RemoteIndex> KeyFirst(std::vector<RemoteIndex> indexes,
                                  const platform::odbc::Connection::PrimaryKey& key) {
  std::vector<RemoteIndex> out;
  if (!key.columns.empty()) {
    auto it = std::find_if(indexes.begin(), indexes.end(), [&](const RemoteIndex& i) {
      return i.unique && i.columns == key.columns;
    });
    if (it != indexes.end()) {
      out.push_back(std::move(*it));
      indexes.erase(it);
    } else {
      out.push_back({key.name.empty() ? "PrimaryKey" : key.name, key.columns, true});
    }
  }
  std::stable_partition(indexes.begin(), indexes.end(),
                        [](const RemoteIndex& i) { return i.unique; });
  for (RemoteIndex& index : indexes) out.push_back(std::move(index));
  return out;
}

}  // namespace

RemoteTable ReadRemoteTable(const std::string& connect, const std::string& table,
                            platform::odbc::Limits limits) {
  platform::odbc::Connection db(connect, limits);
  std::vector<RemoteColumn> columns;
  {
    platform::odbc::Statement st(db);
    std::string name = table;
    st.Check(SQLColumns(st.get(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()),
                        static_cast<SQLSMALLINT>(name.size()), nullptr, 0),
             "reading the columns of '" + table + "'");
    for (;;) {
      SQLRETURN rc = SQLFetch(st.get());
      if (rc == SQL_NO_DATA) break;
      st.Check(rc, "reading the columns of '" + table + "'");
      // Only exact matches: the pattern argument treats "_" as a wildcard.
      if (Text(st, 3) != table) continue;
      RemoteColumn c;
      c.name = Text(st, 4);
      c.sqlType = static_cast<int>(Number(st.get(), 5));
      c.size = Number(st.get(), 7);
      c.digits = static_cast<int>(Number(st.get(), 9));
      columns.push_back(std::move(c));
    }
  }
  if (columns.empty()) {
    throw platform::Error(dao::err::kOdbcCallFailed,
                          "ODBC--call failed: the linked source has no table '" + table + "'.");
  }
  const platform::odbc::Connection::PrimaryKey key = db.PrimaryKeyOf(table);
  return RemoteTable{std::move(columns), KeyFirst(ReadIndexes(db, table), key),
                     !key.columns.empty()};
}

}  // namespace jetwriter
