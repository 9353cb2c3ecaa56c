#include "platform/access/transfer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/access/rows.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
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

struct Param {
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  std::int64_t integer = 0;
  float single = 0;
  double real = 0;
  std::vector<char> buffer;
  SQLLEN indicator = 0;
  bool bound = false;
};

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
                            const std::vector<odbc::TypeInfo>& types, bool decimalsThroughDouble) {
  const int textLength =
      jetVersion == 0 ? column.size : std::max(1, column.size / 2);  // Jet 4 counts bytes
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
      candidates = decimalsThroughDouble
                       ? std::vector<Candidate>{{SQL_VARCHAR, 21, 0, 0}}
                       : std::vector<Candidate>{{SQL_DECIMAL, -1, 19, 4}, {SQL_NUMERIC, -1, 19, 4}};
      break;
    case ColumnType::kDecimal: {
      const int precision = std::clamp(column.precision, 1, 38);
      const int scale = std::clamp(column.scale, 0, precision);
      candidates = decimalsThroughDouble
                       ? std::vector<Candidate>{{SQL_VARCHAR, precision + 2, 0, 0}}
                       : std::vector<Candidate>{{SQL_DECIMAL, -1, precision, scale},
                                                {SQL_NUMERIC, -1, precision, scale}};
      break;
    }
  }
  for (const Candidate& c : candidates) {
    for (const odbc::TypeInfo& type : types) {
      if (type.sqlType != c.sqlType) continue;
      if (c.length > 0 && type.columnSize > 0 && c.length > type.columnSize) continue;
      return TargetType{WithParams(type, c), c.sqlType};
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
  const bool throughDouble = EqualsNoCase(target.DbmsName(), "SQLite");
  const auto& types = target.TypeInfos();

  std::string create = "CREATE TABLE " + odbc::QuoteIdentifier(targetName) + " (";
  std::string insert = "INSERT INTO " + odbc::QuoteIdentifier(targetName) + " (";
  std::string marks;
  std::vector<Param> params(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TargetType type = ChooseTargetType(columns[i], jetVersion, types, throughDouble);
    const std::string name = odbc::QuoteIdentifier(columns[i].name);
    create += (i ? ", " : "") + name + " " + type.ddl;
    insert += (i ? ", " : "") + name;
    marks += i ? ", ?" : "?";
    Param& p = params[i];
    p.sqlType = type.sqlType;
    switch (static_cast<ColumnType>(columns[i].type)) {
      case ColumnType::kBoolean:
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
        p.cType = SQL_C_SBIGINT;
        break;
      case ColumnType::kSingle:
        p.cType = SQL_C_FLOAT;
        break;
      case ColumnType::kDouble:
        p.cType = SQL_C_DOUBLE;
        break;
      case ColumnType::kBinary:
      case ColumnType::kOle:
        p.cType = SQL_C_BINARY;
        break;
      default:
        p.cType = SQL_C_CHAR;
        break;
    }
  }
  create += ")";
  insert += ") VALUES (" + marks + ")";

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
    auto bind = [&](SQLUSMALLINT number, Param& p, SQLPOINTER value, SQLLEN capacity) {
      statement.Check(SQLBindParameter(statement.get(), number, SQL_PARAM_INPUT, p.cType, p.sqlType,
                                       p.columnSize, p.digits, value, capacity, &p.indicator),
                      "binding a parameter");
    };
    for (std::size_t i = 0; i < params.size(); ++i) {
      Param& p = params[i];
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      if (p.cType == SQL_C_SBIGINT) {
        p.columnSize = 19;
        bind(number, p, &p.integer, 0);
      } else if (p.cType == SQL_C_FLOAT) {
        p.columnSize = 7;
        bind(number, p, &p.single, 0);
      } else if (p.cType == SQL_C_DOUBLE) {
        p.columnSize = 15;
        bind(number, p, &p.real, 0);
      } else {
        p.buffer.resize(256);
        p.columnSize = p.buffer.size();
        bind(number, p, p.buffer.data(), static_cast<SQLLEN>(p.buffer.size()));
      }
    }
    std::vector<Cell> cells;
    while (rows.Next(cells)) {
      for (std::size_t i = 0; i < params.size(); ++i) {
        Param& p = params[i];
        Cell& cell = cells[i];
        if (cell.null) {
          p.indicator = SQL_NULL_DATA;
          continue;
        }
        switch (p.cType) {
          case SQL_C_SBIGINT:
            p.integer = cell.integer;
            p.indicator = 0;
            break;
          case SQL_C_FLOAT:
            p.single = static_cast<float>(cell.real);
            p.indicator = 0;
            break;
          case SQL_C_DOUBLE:
            p.real = cell.real;
            p.indicator = 0;
            break;
          default: {
            const std::size_t size = cell.bytes.size();
            // The SQLite driver keeps the length of a binary parameter from its binding, so
            // binary values are bound again for every row; text is read up to its indicator.
            const bool grow = size + 1 > p.buffer.size();
            if (grow) {
              std::size_t capacity = p.buffer.size();
              while (capacity < size + 1) capacity *= 2;
              p.buffer.resize(capacity);
              p.columnSize = capacity;
            }
            if (grow || p.cType == SQL_C_BINARY)
              bind(static_cast<SQLUSMALLINT>(i + 1), p, p.buffer.data(),
                   static_cast<SQLLEN>(p.buffer.size()));
            if (size > 0) std::memcpy(p.buffer.data(), cell.bytes.data(), size);
            p.buffer[size] = '\0';
            p.indicator = static_cast<SQLLEN>(size);
            break;
          }
        }
      }
      statement.Check(SQLExecute(statement.get()), "inserting row " + std::to_string(count + 1));
      ++count;
    }
    target.Commit();
    target.SetAutoCommit(true);
  } catch (const Error& e) {
    try {
      target.Rollback();
      target.SetAutoCommit(true);
      if (created && target.HasTable(targetName))
        target.ExecDirect("DROP TABLE " + odbc::QuoteIdentifier(targetName));
    } catch (const Error&) {
      // The first failure is the one to report.
    }
    throw Error(e.Number(), "Table '" + source + "' was not transferred: " + e.Description());
  }
  return count;
}

}  // namespace platform::access
