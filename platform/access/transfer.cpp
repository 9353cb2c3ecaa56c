#include "platform/access/transfer.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

#include "platform/access/rows.h"
#include "platform/access_expressions.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/row_progress.h"
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

// How a column's values are bound.
struct Param {
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN numberSize = 0;    // column size of a number parameter
  bool exactNumber = false;  // exact decimal text, bound as a double where one holds it exactly
};

// The value of one column of one row of a batch, at a fixed address while it is bound.
struct Slot {
  std::int64_t integer = 0;
  float single = 0;
  double real = 0;
  std::vector<char> buffer;  // text and bytes, with room for a terminator
  SQLLEN indicator = 0;
  bool asDouble = false;  // an exact number bound as `real`
};

// The SQLite side of an exact number: a double where the value has at most 15 significant
// digits (a double keeps those, and the driver reads them back as the same digits), else the
// decimal text itself, which a column of the blob affinity keeps as it is.
bool HeldByDouble(std::string_view decimal, double& value) {
  std::size_t digits = 0, first = std::string_view::npos, last = 0;
  for (std::size_t i = 0; i < decimal.size(); ++i) {
    if (decimal[i] < '0' || decimal[i] > '9') continue;
    ++digits;
    if (decimal[i] != '0') {
      if (first == std::string_view::npos) first = digits;
      last = digits;
    }
  }
  if (first == std::string_view::npos) {
    value = 0;
    return true;
  }
  if (last - first + 1 > 15) return false;
  const auto [end, ec] = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  return ec == std::errc() && end == decimal.data() + decimal.size();
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
// after the highest one in the table.
std::string AutoNumberTrigger(const std::string& table, const std::string& column) {
  const std::string t = platform::QuoteName(table), c = platform::QuoteName(column);
  return "CREATE TRIGGER " + platform::QuoteName(table + "_autonumber_" + column) +
         " AFTER INSERT ON " + t + " FOR EACH ROW WHEN NEW." + c + " IS NULL BEGIN UPDATE " + t +
         " SET " + c + " = (SELECT coalesce(max(" + c + "), 0) + 1 FROM " + t +
         ") WHERE rowid = NEW.rowid; END";
}

// Rows per insert statement: the SQLite driver compiles its statement again on every execute,
// so several rows share one statement there ("VALUES (...), (...)"); 999 parameters at most,
// the smallest limit SQLite has had. Other drivers keep one row per statement.
std::size_t RowsPerStatement(bool sqlite, std::size_t columns) {
  if (!sqlite) return 1;
  return std::clamp<std::size_t>(999 / columns, 1, 64);
}

// A batch is sent early once its values hold this many bytes, and a buffer that grew beyond
// kKeptBufferBytes is given back after its batch: memory stays flat with long values.
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kKeptBufferBytes = 16 << 10;
constexpr std::size_t kInitialBufferBytes = 256;

}  // namespace

const char* const kExactNumericType = "numeric_blob";

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
    case ColumnType::kDecimal: {
      const bool currency = static_cast<ColumnType>(column.type) == ColumnType::kCurrency;
      const int precision = currency ? 19 : std::clamp(column.precision, 1, 38);
      const int scale = currency ? 4 : std::clamp(column.scale, 0, precision);
      if (decimalsThroughDouble)
        return TargetType{kExactNumericType + std::string("(") + std::to_string(precision) + "," +
                              std::to_string(scale) + ")",
                          SQL_DOUBLE};
      candidates = {{SQL_DECIMAL, -1, precision, scale}, {SQL_NUMERIC, -1, precision, scale}};
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

  std::string create = "CREATE TABLE " + platform::QuoteName(targetName) + " (";
  std::vector<std::string> triggers;
  std::vector<Param> params(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TargetType type = ChooseTargetType(columns[i], jetVersion, types, throughDouble);
    create += (i ? ", " : "") + platform::QuoteName(columns[i].name) + " " + type.ddl;
    Param& p = params[i];
    p.sqlType = type.sqlType;
    if (throughDouble) {
      create += DefaultClause(columns[i]);
      if (columns[i].autoNumber) triggers.push_back(AutoNumberTrigger(targetName, columns[i].name));
      p.exactNumber = type.ddl.starts_with(kExactNumericType);
      if (p.exactNumber) p.sqlType = SQL_VARCHAR;
    }
    switch (static_cast<ColumnType>(columns[i].type)) {
      case ColumnType::kBoolean:
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
        p.cType = SQL_C_SBIGINT;
        p.numberSize = 19;
        break;
      case ColumnType::kSingle:
        p.cType = SQL_C_FLOAT;
        p.numberSize = 7;
        break;
      case ColumnType::kDouble:
        p.cType = SQL_C_DOUBLE;
        p.numberSize = 15;
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
  const std::size_t width = columns.size();
  const std::size_t batchRows = RowsPerStatement(throughDouble, width);
  // The table was just created with these columns in this order, so no column list.
  auto insertFor = [&](std::size_t rowCount) {
    std::string row = "(";
    for (std::size_t i = 0; i < width; ++i) row += i ? ", ?" : "?";
    row += ")";
    std::string sql = "INSERT INTO " + platform::QuoteName(targetName) + " VALUES ";
    for (std::size_t r = 0; r < rowCount; ++r) sql += (r ? ", " : "") + row;
    return sql;
  };

  bool created = false;
  std::size_t count = 0;
  try {
    target.SetAutoCommit(false);
    target.ExecDirect(create);
    created = true;
    for (const std::string& trigger : triggers) target.ExecDirect(trigger);
    std::vector<Slot> slots(batchRows * width);
    for (std::size_t i = 0; i < slots.size(); ++i)
      if (params[i % width].numberSize == 0) slots[i].buffer.resize(kInitialBufferBytes);
    auto prepare = [&](odbc::Statement& statement, std::size_t rowCount) {
      std::string sql = insertFor(rowCount);
      statement.Check(SQLPrepare(statement.get(), reinterpret_cast<SQLCHAR*>(sql.data()),
                                 static_cast<SQLINTEGER>(sql.size())),
                      "preparing the insert");
    };
    // Binds slot `index` as parameter `index + 1`.
    auto bind = [&](odbc::Statement& statement, std::size_t index) {
      const Param& p = params[index % width];
      Slot& slot = slots[index];
      SQLPOINTER value = slot.buffer.data();
      SQLULEN size = slot.buffer.size();
      SQLLEN capacity = static_cast<SQLLEN>(slot.buffer.size());
      SQLSMALLINT cType = p.cType, sqlType = p.sqlType;
      SQLULEN numberSize = p.numberSize;
      if (slot.asDouble) {
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        numberSize = 15;
      }
      if (cType == SQL_C_SBIGINT) value = &slot.integer;
      if (cType == SQL_C_FLOAT) value = &slot.single;
      if (cType == SQL_C_DOUBLE) value = &slot.real;
      if (value != slot.buffer.data()) {
        size = numberSize;
        capacity = 0;
      }
      const SQLRETURN rc =
          SQLBindParameter(statement.get(), static_cast<SQLUSMALLINT>(index + 1), SQL_PARAM_INPUT,
                           cType, sqlType, size, 0, value, capacity, &slot.indicator);
      if (!SQL_SUCCEEDED(rc)) statement.Check(rc, "binding a parameter");
    };
    odbc::Statement batch(target);
    prepare(batch, batchRows);
    for (std::size_t i = 0; i < slots.size(); ++i) bind(batch, i);

    auto execute = [&](odbc::Statement& statement, std::size_t rowCount) {
      const SQLRETURN rc = SQLExecute(statement.get());
      if (!SQL_SUCCEEDED(rc))
        statement.Check(rc, rowCount == 1 ? "inserting row " + std::to_string(count + 1)
                                          : "inserting rows " + std::to_string(count + 1) + " to " +
                                                std::to_string(count + rowCount));
      count += rowCount;
      ReportRows(count, rows.ExpectedRows());
      // Long values leave their large buffers behind.
      for (std::size_t i = 0; i < rowCount * width; ++i) {
        Slot& slot = slots[i];
        if (slot.buffer.size() <= kKeptBufferBytes) continue;
        std::vector<char>(kInitialBufferBytes).swap(slot.buffer);
        bind(batch, i);
      }
    };
    // Rows that do not fill a batch go through a statement made for their number.
    auto executePartial = [&](std::size_t rowCount) {
      odbc::Statement statement(target);
      prepare(statement, rowCount);
      for (std::size_t i = 0; i < rowCount * width; ++i) bind(statement, i);
      execute(statement, rowCount);
    };

    std::vector<Cell> cells;
    std::size_t filled = 0;
    std::size_t filledBytes = 0;
    while (rows.Next(cells)) {
      for (std::size_t c = 0; c < width; ++c) {
        const std::size_t index = filled * width + c;
        Slot& slot = slots[index];
        const Param& p = params[c];
        Cell& cell = cells[c];
        if (cell.null) {
          slot.indicator = SQL_NULL_DATA;
          continue;
        }
        slot.indicator = 0;
        switch (p.cType) {
          case SQL_C_SBIGINT:
            slot.integer = cell.integer;
            break;
          case SQL_C_FLOAT:
            slot.single = static_cast<float>(cell.real);
            break;
          case SQL_C_DOUBLE:
            slot.real = cell.real;
            break;
          default: {
            if (p.exactNumber) {
              const bool asDouble = HeldByDouble({cell.bytes.data(), cell.bytes.size()}, slot.real);
              if (asDouble != slot.asDouble) {
                slot.asDouble = asDouble;
                bind(batch, index);
              }
              if (asDouble) break;
            }
            const std::size_t size = cell.bytes.size();
            const bool grow = size + 1 > slot.buffer.size();
            if (grow) {
              std::size_t capacity = slot.buffer.size();
              while (capacity < size + 1) capacity *= 2;
              slot.buffer.resize(capacity);
            }
            if (size > 0) std::memcpy(slot.buffer.data(), cell.bytes.data(), size);
            slot.buffer[size] = '\0';
            slot.indicator = static_cast<SQLLEN>(size);
            filledBytes += size;
            // The SQLite driver takes the length of a binary parameter from its binding, so
            // binary values are bound again for every row; text is read up to its indicator.
            if (grow || p.cType == SQL_C_BINARY) bind(batch, index);
            break;
          }
        }
      }
      if (++filled == batchRows) {
        execute(batch, batchRows);
        filled = 0;
        filledBytes = 0;
      } else if (filledBytes >= kBatchBytes) {
        executePartial(filled);
        filled = 0;
        filledBytes = 0;
      }
    }
    if (filled > 0) executePartial(filled);
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
