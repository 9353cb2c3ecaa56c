#include "platform/access/transfer.h"

#include <algorithm>
#include <utility>

#include "platform/access/insert_array.h"
#include "platform/access/rows.h"
#include "platform/access_expressions.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::access {
namespace {

bool ConsumeNoCase(std::string_view& s, std::string_view prefix) {
  if (s.size() < prefix.size() || !EqualsNoCase(s.substr(0, prefix.size()), prefix)) return false;
  s.remove_prefix(prefix.size());
  return true;
}

// Text up to the next "]" (which is consumed).
std::optional<std::string> Bracketed(std::string_view& s) {
  const std::size_t close = s.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  std::string inside(s.substr(0, close));
  if (inside.find('[') != std::string::npos) return std::nullopt;
  s.remove_prefix(close + 1);
  return inside;
}

struct Candidate {
  SQLSMALLINT sqlType;
  int length;  // for "(n)": -1 none
  int precision, scale;
};

std::string WithParams(const odbc::TypeInfo& type, const Candidate& c) {
  const std::string params = LowerAscii(type.createParams);
  if (params.find("precision") != std::string::npos && c.precision > 0) {
    if (params.find("scale") != std::string::npos)
      return type.name + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    return type.name + "(" + std::to_string(c.precision) + ")";
  }
  if (params.find("length") != std::string::npos && c.length > 0)
    return type.name + "(" + std::to_string(c.length) + ")";
  return type.name;
}

// The target's SQL for an Access default, or nothing when it does not translate (the report
// names those).
std::string DefaultClause(const ColumnInfo& column) {
  if (column.defaultValue.empty() || column.autoNumber) return "";
  const access_sql::Translation t =
      access_sql::DefaultExpression(column.defaultValue, access_sql::KindOfAccessType(column.type));
  return t.ok() && !t.sql.empty() ? " DEFAULT " + t.sql : "";
}

// A trigger that gives a row inserted without a value for an AutoNumber column the next number
// after the highest one in the table and after Access's counter (the last number it gave, which
// rows deleted since may have left above the highest).
std::string AutoNumberTrigger(const std::string& table, const ColumnInfo& column) {
  const std::string t = platform::QuoteName(table), c = platform::QuoteName(column.name);
  return "CREATE TRIGGER " + platform::QuoteName(table + "_autonumber_" + column.name) +
         " AFTER INSERT ON " + t + " FOR EACH ROW WHEN NEW." + c + " IS NULL BEGIN UPDATE " + t +
         " SET " + c + " = (SELECT " + access_sql::NextAutoNumber(c, column.autoNumberCounter) +
         " FROM " + t + ") WHERE rowid = NEW.rowid; END";
}

}  // namespace

std::optional<TransferStatement> ParseTransferStatement(std::string_view sql) {
  while (!sql.empty() && (sql.front() == ' ' || sql.front() == '\t')) sql.remove_prefix(1);
  while (!sql.empty() && (sql.back() == ' ' || sql.back() == '\t' || sql.back() == ';'))
    sql.remove_suffix(1);
  TransferStatement statement;
  if (!ConsumeNoCase(sql, "select * into [")) return std::nullopt;
  auto connect = Bracketed(sql);
  if (!connect || !ConsumeNoCase(sql, ".[")) return std::nullopt;
  auto table = Bracketed(sql);
  if (!table || !ConsumeNoCase(sql, " from [")) return std::nullopt;
  auto source = Bracketed(sql);
  if (!source || !sql.empty() || connect->empty() || table->empty() || source->empty())
    return std::nullopt;
  statement.connect = std::move(*connect);
  statement.table = std::move(*table);
  statement.source = std::move(*source);
  return statement;
}

TargetType ChooseTargetType(const ColumnInfo& column, int jetVersion,
                            const std::vector<odbc::TypeInfo>& types) {
  const int textLength = TextLength(column, jetVersion);
  std::vector<Candidate> candidates;
  switch (static_cast<ColumnType>(column.type)) {
    case ColumnType::kBoolean:
      candidates = {{SQL_BIT, -1, 0, 0}, {SQL_TINYINT, -1, 0, 0}, {SQL_SMALLINT, -1, 0, 0}};
      break;
    case ColumnType::kByte:
      candidates = {{SQL_TINYINT, -1, 0, 0}, {SQL_SMALLINT, -1, 0, 0}, {SQL_INTEGER, -1, 0, 0}};
      break;
    case ColumnType::kInteger:
      candidates = {{SQL_SMALLINT, -1, 0, 0}, {SQL_INTEGER, -1, 0, 0}};
      break;
    case ColumnType::kLong:
      candidates = {{SQL_INTEGER, -1, 0, 0}, {SQL_BIGINT, -1, 0, 0}};
      break;
    case ColumnType::kSingle:
      candidates = {{SQL_REAL, -1, 0, 0}, {SQL_FLOAT, -1, 0, 0}, {SQL_DOUBLE, -1, 0, 0}};
      break;
    case ColumnType::kDouble:
      candidates = {{SQL_DOUBLE, -1, 0, 0}, {SQL_FLOAT, -1, 0, 0}};
      break;
    case ColumnType::kDateTime:
      candidates = {{SQL_TYPE_TIMESTAMP, -1, 0, 0}, {SQL_TIMESTAMP, -1, 0, 0}};
      break;
    case ColumnType::kBinary:
      candidates = {{SQL_VARBINARY, column.size, 0, 0},
                    {SQL_BINARY, column.size, 0, 0},
                    {SQL_LONGVARBINARY, -1, 0, 0}};
      break;
    case ColumnType::kText:
      candidates = {{SQL_VARCHAR, textLength, 0, 0},
                    {SQL_WVARCHAR, textLength, 0, 0},
                    {SQL_LONGVARCHAR, -1, 0, 0}};
      break;
    case ColumnType::kMemo:
      candidates = {
          {SQL_LONGVARCHAR, -1, 0, 0}, {SQL_WLONGVARCHAR, -1, 0, 0}, {SQL_VARCHAR, -1, 0, 0}};
      break;
    case ColumnType::kOle:
      candidates = {{SQL_LONGVARBINARY, -1, 0, 0}, {SQL_VARBINARY, -1, 0, 0}};
      break;
    case ColumnType::kGuid:
      candidates = {{SQL_GUID, -1, 0, 0}, {SQL_CHAR, 38, 0, 0}, {SQL_VARCHAR, 38, 0, 0}};
      break;
    case ColumnType::kCurrency:
    case ColumnType::kDecimal: {
      const bool currency = static_cast<ColumnType>(column.type) == ColumnType::kCurrency;
      const int precision = currency ? 19 : std::clamp(column.precision, 1, 38);
      const int scale = currency ? 4 : std::clamp(column.scale, 0, precision);
      candidates = {{SQL_DECIMAL, -1, precision, scale}, {SQL_NUMERIC, -1, precision, scale}};
      break;
    }
  }
  for (const Candidate& c : candidates) {
    for (const odbc::TypeInfo& type : types) {
      if (type.sqlType != c.sqlType) continue;
      if (c.length > 0 && type.columnSize > 0 && c.length > type.columnSize) continue;
      return TargetType{WithParams(type, c), c.sqlType, c.precision, c.scale};
    }
  }
  throw Error(dao::err::kUnsupported, "The target has no data type for column '" + column.name +
                                          "' (" + ColumnTypeName(column.type) + ").");
}

std::size_t CopyTable(const std::string& mdbPath, int jetVersion, const std::string& source,
                      odbc::Connection& target, const std::string& targetName,
                      std::chrono::milliseconds timeout) {
  if (target.HasTable(targetName))
    throw Error(dao::err::kObjectExists, "Table '" + targetName + "' already exists.");
  RowStream rows(mdbPath, source, timeout);
  const std::vector<ColumnInfo>& columns = rows.Columns();
  if (columns.empty())
    throw Error(dao::err::kUnsupported, "The table '" + source + "' has no columns.");
  const bool norvane = EqualsNoCase(target.DbmsName(), "Norvane");
  const auto& types = target.TypeInfos();

  std::string create = "CREATE TABLE " + platform::QuoteName(targetName) + " (";
  std::vector<std::string> triggers;
  std::vector<std::size_t> numbered;  // the AutoNumber columns the triggers number
  std::vector<ParamBinding> params(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TargetType type = ChooseTargetType(columns[i], jetVersion, types);
    create += (i ? ", " : "") + platform::QuoteName(columns[i].name) + " " + type.ddl;
    if (norvane) {
      create += DefaultClause(columns[i]);
      if (columns[i].autoNumber) {
        triggers.push_back(AutoNumberTrigger(targetName, columns[i]));
        numbered.push_back(i);
      }
    }
    ParamBinding& p = params[i];
    p.sqlType = type.sqlType;
    switch (static_cast<ColumnType>(columns[i].type)) {
      case ColumnType::kBoolean:
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
        p.cType = SQL_C_SBIGINT;
        p.size = 19;
        break;
      case ColumnType::kSingle:
        p.cType = SQL_C_FLOAT;
        p.size = 7;
        break;
      case ColumnType::kDouble:
        p.cType = SQL_C_DOUBLE;
        p.size = 15;
        break;
      case ColumnType::kBinary:
      case ColumnType::kOle:
        p.cType = SQL_C_BINARY;
        break;
      case ColumnType::kCurrency:
      case ColumnType::kDecimal:
        // Exact decimal text; the driver decides how the target stores it.
        p.size = static_cast<SQLULEN>(type.precision);
        p.digits = static_cast<SQLSMALLINT>(type.scale);
        p.initialStride = static_cast<std::size_t>(type.precision) + 3;  // sign, point, end
        break;
      case ColumnType::kDateTime:
        p.initialStride = 32;
        break;
      case ColumnType::kGuid:
        p.initialStride = 39;
        break;
      default:
        break;
    }
  }
  create += ")";
  // The table was just created with these columns in this order, so no column list.
  std::string insert = "INSERT INTO " + platform::QuoteName(targetName) + " VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) insert += i ? ", ?" : "?";
  insert += ")";

  bool created = false;
  std::size_t count = 0;
  try {
    target.SetAutoCommit(false);
    target.ExecDirect(create);
    created = true;
    odbc::Statement statement(target);
    statement.Check(SQLPrepare(statement.get(), reinterpret_cast<SQLCHAR*>(insert.data()),
                               static_cast<SQLINTEGER>(insert.size())),
                    "preparing the insert");
    InsertArray array(statement, params, rows.ExpectedRows());
    // A trigger costs every insert a call of its program, though it numbers only rows without a
    // number: it is made before the first such row, else after the last row.
    bool numbering = triggers.empty();
    const auto startNumbering = [&] {
      array.Execute();
      for (const std::string& trigger : triggers) target.ExecDirect(trigger);
      numbering = true;
    };
    std::vector<Cell> cells;
    while (rows.Next(cells)) {
      if (!numbering && std::any_of(numbered.begin(), numbered.end(),
                                    [&](std::size_t c) { return cells[c].null; }))
        startNumbering();
      array.Add(cells);
    }
    if (!numbering) startNumbering();
    array.Execute();
    count = array.Written();
    target.Commit();
    target.SetAutoCommit(true);
  } catch (const Error& e) {
    try {
      target.Rollback();
      target.SetAutoCommit(true);
      if (created && target.HasTable(targetName))
        target.ExecDirect("DROP TABLE " + platform::QuoteName(targetName));
    } catch (const Error&) {
      // The first failure is the one to report.
    }
    throw Error(e.Number(), "Table '" + source + "' was not transferred: " + e.Description());
  }
  return count;
}

}  // namespace platform::access
