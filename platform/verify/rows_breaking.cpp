#include "platform/verify/rows_breaking.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::verify {

std::string KeysOfRowsBreaking(odbc::Connection& db, const std::string& table,
                               const std::string& condition) {
  std::string key;
  for (const std::string& column : db.PrimaryKeyOf(table).columns)
    key += (key.empty() ? "" : ", ") + platform::QuoteName(column);
  // Without a key, the row's place: SQLite's row id, PostgreSQL's ctid.
  if (key.empty()) key = EqualsNoCase(db.DbmsName(), "PostgreSQL") ? "ctid" : "rowid";
  odbc::Statement st(db);
  std::string sql = "SELECT " + key + " FROM " + platform::QuoteName(table) + " WHERE NOT (" +
                    condition + ") LIMIT 5";
  st.Check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS),
           "Checking " + table + " for " + condition);
  SQLSMALLINT columns = 0;
  st.Check(SQLNumResultCols(st.get(), &columns), "Checking " + table);
  std::string out;
  while (true) {
    const SQLRETURN rc = SQLFetch(st.get());
    if (rc == SQL_NO_DATA) break;
    st.Check(rc, "Checking " + table + " for " + condition);
    std::string row;
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      std::string value;
      if (!st.GetText(static_cast<SQLUSMALLINT>(c), value)) value = "Null";
      row += (c > 1 ? ", " : "") + value;
    }
    out += (out.empty() ? "(" : ", (") + row + ")";
  }
  return out;
}

}  // namespace platform::verify
