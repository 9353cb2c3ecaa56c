#include "platform/postgres/table_copy.h"

#include "platform/access/rows.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"

namespace platform::postgres {

std::string CreateTableSql(const std::string& name, const std::vector<access::ColumnInfo>& columns,
                           int jetVersion) {
  std::string sql = "CREATE TABLE " + QuoteName(name) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i)
    sql += (i ? ", " : "") + QuoteName(columns[i].name) + " " +
           PostgresType(columns[i], jetVersion).ddl;
  return sql + ")";
}

std::uint64_t CopyAccessTable(const std::string& mdbPath, int jetVersion, const std::string& source,
                              Connection& target, const std::string& targetName,
                              std::chrono::milliseconds timeout, CopyFormat format) {
  try {
    if (target.HasTable(targetName))
      throw Error(dao::err::kObjectExists, "Table '" + targetName + "' already exists.");
    access::RowStream rows(mdbPath, source, timeout);
    if (rows.Columns().empty()) throw Error(dao::err::kUnsupported, "The table has no columns.");
    target.Execute("BEGIN");
    try {
      target.Execute(CreateTableSql(targetName, rows.Columns(), jetVersion));
      std::uint64_t count = 0;
      {
        CopyWriter writer(target, targetName, rows.Columns(), jetVersion, format,
                          rows.ExpectedRows());
        std::vector<access::Cell> cells;
        while (rows.Next(cells)) writer.Add(cells);
        count = writer.Finish();
      }
      target.Execute("COMMIT");
      return count;
    } catch (const Error&) {
      try {
        target.Execute("ROLLBACK");
      } catch (const Error&) {
        // The first failure is the one to report.
      }
      throw;
    }
  } catch (const Error& e) {
    throw Error(e.Number(), "Table '" + source + "' was not transferred: " + e.Description());
  }
}

}  // namespace platform::postgres
