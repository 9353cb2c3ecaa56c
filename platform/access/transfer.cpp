#include "platform/access/transfer.h"

#include <algorithm>
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

// Rows per parameter array, and the bytes its value buffers may take: a wide or long row gets
// fewer rows. An array is sent early once its values hold kBatchBytes, and a column whose
// values grew beyond kKeptBufferBytes gives its buffer back after its array: memory stays flat
// with long values.
constexpr std::size_t kArrayRows = 1024;
constexpr std::size_t kArrayBytes = 4 << 20;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kKeptBufferBytes = 16 << 10;
constexpr std::size_t kInitialBufferBytes = 256;

// How one column's values are bound, and its values of every row of the array (bound by
// column: one buffer per column, `stride` bytes per value of a text or bytes column).
struct ParamColumn {
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN size = 0;  // column size of a number or decimal parameter
  SQLSMALLINT digits = 0;
  std::size_t initialStride = kInitialBufferBytes;
  std::size_t stride = 0;  // 0 for a number
  std::vector<std::int64_t> integers;
  std::vector<float> singles;
  std::vector<double> reals;
  std::vector<char> bytes;
  std::vector<SQLLEN> indicators;
};

// A prepared single-row insert executed with parameter arrays.
class InsertArray {
 public:
  InsertArray(odbc::Statement& statement, std::vector<ParamColumn> columns, std::uint32_t expected)
      : st_(statement), columns_(std::move(columns)), status_(kArrayRows), expected_(expected) {
    Attr(SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN);
    st_.Check(SQLSetStmtAttr(st_.get(), SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0),
              "setting the parameter status array");
    st_.Check(SQLSetStmtAttr(st_.get(), SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0),
              "setting the parameter count");
    std::vector<std::size_t> strides;
    for (const ParamColumn& c : columns_) {
      const bool number = c.cType != SQL_C_CHAR && c.cType != SQL_C_BINARY;
      strides.push_back(number ? 0 : c.initialStride);
    }
    Layout(strides);
  }

  std::size_t Written() const { return written_; }

  // Adds a row; the array is executed first when it is full or the row's long values need
  // more room than it has left.
  void Add(const std::vector<Cell>& cells) {
    std::vector<std::size_t> strides;
    bool grow = false;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      std::size_t stride = columns_[c].stride;
      const std::size_t need = cells[c].bytes.size() + 1;
      if (stride != 0 && !cells[c].null && need > stride) {
        while (stride < need) stride *= 2;
        grow = true;
      }
      strides.push_back(stride);
    }
    if (grow) {
      if (filled_ + 1 > CapacityFor(strides)) Execute();
      Layout(strides);
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      ParamColumn& p = columns_[c];
      const Cell& cell = cells[c];
      if (cell.null) {
        p.indicators[filled_] = SQL_NULL_DATA;
        continue;
      }
      p.indicators[filled_] = 0;
      switch (p.cType) {
        case SQL_C_SBIGINT:
          p.integers[filled_] = cell.integer;
          break;
        case SQL_C_FLOAT:
          p.singles[filled_] = static_cast<float>(cell.real);
          break;
        case SQL_C_DOUBLE:
          p.reals[filled_] = cell.real;
          break;
        default: {
          const std::size_t size = cell.bytes.size();
          char* at = p.bytes.data() + filled_ * p.stride;
          if (size > 0) std::memcpy(at, cell.bytes.data(), size);
          at[size] = '\0';
          p.indicators[filled_] = static_cast<SQLLEN>(size);
          filledBytes_ += size;
          break;
        }
      }
    }
    if (++filled_ == capacity_ || filledBytes_ >= kBatchBytes) Execute();
  }

  // Inserts the rows filled so far, as many as the array holds.
  void Execute() {
    if (filled_ == 0) return;
    if (filled_ != paramsetSize_) {
      Attr(SQL_ATTR_PARAMSET_SIZE, filled_);
      paramsetSize_ = filled_;
    }
    std::fill(status_.begin(), status_.begin() + static_cast<std::ptrdiff_t>(filled_),
              SQLUSMALLINT{SQL_PARAM_UNUSED});
    processed_ = 0;
    const SQLRETURN rc = SQLExecute(st_.get());
    const auto failed = std::find_if(status_.begin(), status_.begin() + filled_,
                                     [](SQLUSMALLINT s) { return s == SQL_PARAM_ERROR; });
    if (!SQL_SUCCEEDED(rc) || failed != status_.begin() + filled_) {
      const std::size_t first = written_ + 1;
      std::string step;
      if (failed != status_.begin() + filled_)
        step = "inserting row " + std::to_string(first + (failed - status_.begin()));
      else if (filled_ == 1)
        step = "inserting row " + std::to_string(first);
      else
        step =
            "inserting rows " + std::to_string(first) + " to " + std::to_string(written_ + filled_);
      st_.Check(SQL_ERROR, step);
    }
    written_ += filled_;
    filled_ = 0;
    filledBytes_ = 0;
    ReportRows(written_, expected_);
    // Long values leave their large buffers behind.
    std::vector<std::size_t> strides;
    bool shrink = false;
    for (const ParamColumn& c : columns_) {
      shrink = shrink || c.stride > kKeptBufferBytes;
      strides.push_back(c.stride > kKeptBufferBytes ? c.initialStride : c.stride);
    }
    if (shrink) Layout(strides);
  }

 private:
  void Attr(SQLINTEGER attribute, SQLULEN value) {
    st_.Check(SQLSetStmtAttr(st_.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0),
              "setting the parameter array");
  }

  // Rows of an array whose text and bytes values take `strides`.
  std::size_t CapacityFor(const std::vector<std::size_t>& strides) const {
    std::size_t row = 0;
    for (std::size_t i = 0; i < strides.size(); ++i)
      row += sizeof(SQLLEN) + (strides[i] != 0 ? strides[i] : sizeof(double));
    return std::clamp<std::size_t>(kArrayBytes / row, 1, kArrayRows);
  }

  // Gives the columns buffers for `strides`, keeping the rows filled so far, and binds them.
  void Layout(const std::vector<std::size_t>& strides) {
    capacity_ = std::max(CapacityFor(strides), filled_);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      ParamColumn& p = columns_[c];
      p.indicators.resize(capacity_);
      if (p.cType == SQL_C_SBIGINT) p.integers.resize(capacity_);
      if (p.cType == SQL_C_FLOAT) p.singles.resize(capacity_);
      if (p.cType == SQL_C_DOUBLE) p.reals.resize(capacity_);
      if (strides[c] != 0) {
        std::vector<char> bytes(capacity_ * strides[c]);
        for (std::size_t r = 0; r < filled_; ++r)
          if (p.indicators[r] != SQL_NULL_DATA)
            std::memcpy(bytes.data() + r * strides[c], p.bytes.data() + r * p.stride,
                        static_cast<std::size_t>(p.indicators[r]) + 1);
        p.bytes.swap(bytes);
        p.stride = strides[c];
      }
      SQLPOINTER value = p.bytes.data();
      if (p.cType == SQL_C_SBIGINT) value = p.integers.data();
      if (p.cType == SQL_C_FLOAT) value = p.singles.data();
      if (p.cType == SQL_C_DOUBLE) value = p.reals.data();
      const SQLULEN size = p.stride != 0 && p.size == 0 ? p.stride : p.size;
      const SQLRETURN rc = SQLBindParameter(
          st_.get(), static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, p.cType, p.sqlType, size,
          p.digits, value, static_cast<SQLLEN>(p.stride), p.indicators.data());
      if (!SQL_SUCCEEDED(rc)) st_.Check(rc, "binding a parameter");
    }
  }

  odbc::Statement& st_;
  std::vector<ParamColumn> columns_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
  std::uint32_t expected_;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;
  std::size_t filledBytes_ = 0;
  std::size_t written_ = 0;
  SQLULEN paramsetSize_ = 1;
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
                            const std::vector<odbc::TypeInfo>& types) {
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
  std::vector<ParamColumn> params(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TargetType type = ChooseTargetType(columns[i], jetVersion, types);
    create += (i ? ", " : "") + platform::QuoteName(columns[i].name) + " " + type.ddl;
    if (norvane) {
      create += DefaultClause(columns[i]);
      if (columns[i].autoNumber) triggers.push_back(AutoNumberTrigger(targetName, columns[i].name));
    }
    ParamColumn& p = params[i];
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
    for (const std::string& trigger : triggers) target.ExecDirect(trigger);
    odbc::Statement statement(target);
    statement.Check(SQLPrepare(statement.get(), reinterpret_cast<SQLCHAR*>(insert.data()),
                               static_cast<SQLINTEGER>(insert.size())),
                    "preparing the insert");
    InsertArray array(statement, std::move(params), rows.ExpectedRows());
    std::vector<Cell> cells;
    while (rows.Next(cells)) array.Add(cells);
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
