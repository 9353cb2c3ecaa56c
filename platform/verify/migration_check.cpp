#include "platform/verify/migration_check.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/database_lock.h"
#include "platform/display_properties.h"
#include "platform/error.h"
#include "platform/linked_types.h"
#include "platform/odbc/odbc.h"
#include "platform/quoting.h"
#include "platform/text.h"
#include "platform/verify/row_digest.h"

namespace platform::verify {
namespace {

using access::Cell;
using odbc::Statement;

struct TargetColumn {
  std::string name;
  bool binary = false;  // read back as bytes, not as text
  bool time = false;
  bool single = false;  // a 4-byte float (PostgreSQL's real): read as one, not widened from text
  platform::LinkedColumn linked;  // as SQLColumns describes it, for the link's forecast
};

// Column `col` of the current row as bytes; false when NULL.
bool GetBytes(Statement& st, SQLUSMALLINT col, std::string& out) {
  out.clear();
  char buffer[8192];
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(st.get(), col, SQL_C_BINARY, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;
    st.Check(rc, "Reading a binary value");
    if (indicator == SQL_NULL_DATA) return false;
    const std::size_t got = (indicator == SQL_NO_TOTAL || indicator > SQLLEN(sizeof buffer))
                                ? sizeof buffer
                                : static_cast<std::size_t>(indicator);
    out.append(buffer, got);
    if (rc == SQL_SUCCESS) return true;
  }
}

std::string StringColumn(Statement& st, SQLUSMALLINT col) {
  std::string value;
  st.GetText(col, value);
  return value;
}

// Rows of a catalog function, by the column numbers asked for.
template <class Each>
void ForEachRow(Statement& st, Each&& each) {
  while (true) {
    const SQLRETURN rc = SQLFetch(st.get());
    if (rc == SQL_NO_DATA) break;
    st.Check(rc, "Fetching");
    each();
  }
}

SQLCHAR* Name(std::string& s) {
  return reinterpret_cast<SQLCHAR*>(s.data());
}

std::vector<TargetColumn> TargetColumns(odbc::Connection& db, std::string table) {
  Statement st(db);
  st.Check(SQLColumns(st.get(), nullptr, 0, nullptr, 0, Name(table), SQL_NTS, nullptr, 0),
           "Reading the columns of " + table);
  std::vector<TargetColumn> columns;
  const std::string wanted = table;
  ForEachRow(st, [&] {
    // The name is a pattern: "_" also finds "Order Details" for "Order_Details".
    if (!EqualsNoCase(StringColumn(st, 3), wanted)) return;
    TargetColumn c;
    c.name = StringColumn(st, 4);
    const int type = std::atoi(StringColumn(st, 5).c_str());
    c.linked.typeName = StringColumn(st, 6);
    const std::string typeName = LowerAscii(c.linked.typeName);
    c.binary = type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
    c.time = type == SQL_TYPE_TIME || typeName == "time";
    c.single = type == SQL_REAL && typeName == "float4";
    c.linked.name = c.name;
    c.linked.sqlType = type;
    c.linked.size = std::atol(StringColumn(st, 7).c_str());
    c.linked.digits = std::atoi(StringColumn(st, 9).c_str());
    c.linked.nullable = StringColumn(st, 11) != "0";
    columns.push_back(c);
  });
  return columns;
}

int TargetIndexes(odbc::Connection& db, std::string table) {
  Statement st(db);
  st.Check(SQLStatistics(st.get(), nullptr, 0, nullptr, 0, Name(table), SQL_NTS, SQL_INDEX_ALL,
                         SQL_QUICK),
           "Reading the indexes of " + table);
  std::set<std::string> names;
  const std::string wanted = table;
  ForEachRow(st, [&] {
    if (!EqualsNoCase(StringColumn(st, 3), wanted)) return;
    std::string name;
    // SQLite's own indexes for keys and unique constraints are not the migrated ones.
    if (st.GetText(6, name) && !name.starts_with("sqlite_autoindex_")) names.insert(name);
  });
  return static_cast<int>(names.size());
}

bool TargetPrimaryKey(odbc::Connection& db, const std::string& table) {
  return !db.PrimaryKeyOf(table).columns.empty();
}

int TargetForeignKeys(odbc::Connection& db, std::string table) {
  Statement st(db);
  st.Check(SQLForeignKeys(st.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                          Name(table), SQL_NTS),
           "Reading the foreign keys of " + table);
  int keys = 0;
  ForEachRow(st, [&] {
    if (StringColumn(st, 9) == "1") ++keys;  // KEY_SEQ 1: the first column of each key
  });
  return keys;
}

bool IsReal(int type) {
  return type == static_cast<int>(access::ColumnType::kSingle) ||
         type == static_cast<int>(access::ColumnType::kDouble);
}

bool IsGuid(int type) {
  return type == static_cast<int>(access::ColumnType::kGuid);
}

// A GUID in one form: without braces (the driver gives none), in lower case.
std::string GuidForm(std::string_view guid) {
  if (guid.size() >= 2 && guid.front() == '{' && guid.back() == '}')
    guid = guid.substr(1, guid.size() - 2);
  return LowerAscii(guid);
}

bool IsExact(int type) {
  return type == static_cast<int>(access::ColumnType::kCurrency) ||
         type == static_cast<int>(access::ColumnType::kDecimal);
}

bool IsInteger(int type) {
  using access::ColumnType;
  for (ColumnType t :
       {ColumnType::kBoolean, ColumnType::kByte, ColumnType::kInteger, ColumnType::kLong})
    if (type == static_cast<int>(t)) return true;
  return false;
}

// Floating-point values compare bit for bit: the shortest text that reads back as the same
// double (a Single as the double it widens to, as it is bound and stored).
void AppendReal(std::string& row, double value) {
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  row.append(text, end);
}

constexpr char kNull[] = "\x01NULL";
constexpr char kSeparator = '\x1f';

// Every row's values in one canonical form per value, summed up in a digest: two tables with the
// same rows give the same digest, whatever their order.
RowDigest AccessRowDigest(access::RowStream& rows, const std::vector<int>& types) {
  RowDigest digest;
  std::vector<Cell> cells;
  std::string row;
  while (rows.Next(cells)) {
    row.clear();
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const Cell& cell = cells[c];
      if (cell.null)
        row += kNull;
      else if (types[c] == static_cast<int>(access::ColumnType::kSingle))
        AppendReal(row, static_cast<float>(cell.real));
      else if (IsReal(types[c]))
        AppendReal(row, cell.real);
      else if (IsInteger(types[c]))
        row += std::to_string(cell.integer);
      else if (IsExact(types[c]))
        row += access::CanonicalDecimal({cell.bytes.data(), cell.bytes.size()});
      else if (IsGuid(types[c]))
        row += GuidForm({cell.bytes.data(), cell.bytes.size()});
      else
        row.append(cell.bytes.begin(), cell.bytes.end());
      row += kSeparator;
    }
    digest.Add(row);
  }
  return digest;
}

// Appends a target value, as the driver gave it in text (or as bytes), in the form the Access
// side has for the same value.
void AppendTargetValue(std::string& row, const TargetColumn& column, int type,
                       std::string_view value) {
  if (column.time && (IsExact(type) || IsGuid(type))) {
    std::string text = "1899-12-30 " + std::string(value);
    if (IsExact(type)) text = access::CanonicalDecimal(text);
    if (IsGuid(type)) text = GuidForm(text);
    row += text;
  } else if (column.time) {
    // A time-only column arrives as a time: its value is the Access value without the day.
    row += "1899-12-30 ";
    row += value;
  } else if (IsExact(type)) {
    // Exact numbers: every digit, whatever scale the text is written at.
    access::AppendCanonicalDecimal(row, value);
  } else if (IsGuid(type)) {
    row += GuidForm(value);
  } else {
    row += value;
  }
}

// The rows whose row id lies in [from, to) (a bound left out: none on that side), named by
// `rowId`, one of SQLite's names for it that no column of the table takes.
struct RowRange {
  std::string rowId;
  std::optional<long long> from, to;
  std::string Where() const {
    std::string where;
    if (from) where = " WHERE " + rowId + " >= " + std::to_string(*from);
    if (to) where += (where.empty() ? " WHERE " : " AND ") + rowId + " < " + std::to_string(*to);
    return where;
  }
};

std::string SelectRows(const std::string& table, const std::string& where) {
  return "SELECT * FROM " + platform::QuoteName(table) + where;
}

// The target's rows through ODBC, as an application reads them: exact numbers and texts as
// SQL_C_CHAR (a decimal as its exact text at the column's scale), floating-point values as
// SQL_C_DOUBLE, bytes as SQL_C_BINARY; value by value with SQLGetData, for values of any length.
class OdbcRows {
 public:
  OdbcRows(odbc::Connection& db, const std::string& table, const std::string& where) : st_(db) {
    std::string sql = SelectRows(table, where);
    st_.Check(SQLExecDirect(st_.get(), Name(sql), SQL_NTS), "Reading " + table);
  }
  bool Next() {
    const SQLRETURN rc = SQLFetch(st_.get());
    if (rc == SQL_NO_DATA) return false;
    st_.Check(rc, "Fetching");
    return true;
  }
  bool Text(int c, std::string& out) { return st_.GetText(Column(c), out); }
  bool Bytes(int c, std::string& out) { return GetBytes(st_, Column(c), out); }
  bool Single(int c, float& out) {
    SQLLEN indicator = 0;
    st_.Check(SQLGetData(st_.get(), Column(c), SQL_C_FLOAT, &out, 0, &indicator), "Reading");
    return indicator != SQL_NULL_DATA;
  }
  bool Real(int c, double& out) {
    SQLLEN indicator = 0;
    st_.Check(SQLGetData(st_.get(), Column(c), SQL_C_DOUBLE, &out, 0, &indicator), "Reading");
    return indicator != SQL_NULL_DATA;
  }

 private:
  static SQLUSMALLINT Column(int c) { return static_cast<SQLUSMALLINT>(c + 1); }
  Statement st_;
};

// Adds the rows of `where` to `digest`, value by value.
void AddRowsByValue(odbc::Connection& db, const std::string& table,
                    const std::vector<TargetColumn>& columns, const std::vector<int>& types,
                    const std::string& where, RowDigest& digest) {
  OdbcRows rows(db, table, where);
  std::string row, value;
  while (rows.Next()) {
    row.clear();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const int col = static_cast<int>(c);
      bool present = false;
      if (IsReal(types[c]) && columns[c].single) {
        float single = 0;
        present = rows.Single(col, single);
        if (present) AppendReal(row, single);
      } else if (IsReal(types[c])) {
        double real = 0;
        present = rows.Real(col, real);
        if (present) AppendReal(row, real);
      } else {
        present = columns[c].binary ? rows.Bytes(col, value) : rows.Text(col, value);
        if (present) AppendTargetValue(row, columns[c], types[c], value);
      }
      if (!present) row += kNull;
      row += kSeparator;
    }
    digest.Add(row);
  }
}

// The same rows in blocks, into bound columns (column-wise, SQL_ATTR_ROW_ARRAY_SIZE): one call
// of the driver manager per block instead of one per value. A value longer than its buffer, or
// a row the driver reports anything about, gives false: the caller reads the rows by value.
class BlockRows {
 public:
  BlockRows(odbc::Connection& db, const std::string& table,
            const std::vector<TargetColumn>& columns, const std::vector<int>& types,
            const std::string& where)
      : st_(db) {
    std::string sql = SelectRows(table, where);
    st_.Check(SQLExecDirect(st_.get(), Name(sql), SQL_NTS), "Reading " + table);
    SQLLEN rowBytes = 0;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      Bound b;
      if (IsReal(types[c])) {
        b.cType = columns[c].single ? SQL_C_FLOAT : SQL_C_DOUBLE;
        b.element = columns[c].single ? sizeof(float) : sizeof(double);
      } else {
        b.cType = columns[c].binary ? SQL_C_BINARY : SQL_C_CHAR;
        b.element = ElementFor(static_cast<SQLUSMALLINT>(c + 1), columns[c].binary);
      }
      rowBytes += b.element + static_cast<SQLLEN>(sizeof(SQLLEN));
      bound_.push_back(std::move(b));
    }
    rows_ = static_cast<SQLULEN>(
        std::clamp<SQLLEN>(kBlockBytes / std::max<SQLLEN>(rowBytes, 1), 1, kMaxRows));
    status_.resize(rows_);
    for (std::size_t c = 0; c < bound_.size(); ++c) {
      Bound& b = bound_[c];
      b.data.resize(static_cast<std::size_t>(b.element) * rows_);
      b.indicators.resize(rows_);
      usable_ =
          usable_ && SQL_SUCCEEDED(SQLBindCol(st_.get(), static_cast<SQLUSMALLINT>(c + 1), b.cType,
                                              b.data.data(), b.element, b.indicators.data()));
    }
    // A driver without row arrays: the rows are read by value.
    const auto attribute = [&](SQLINTEGER which, SQLPOINTER value) {
      usable_ = usable_ && SQL_SUCCEEDED(SQLSetStmtAttr(st_.get(), which, value, 0));
    };
    attribute(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN));
    attribute(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows_));
    attribute(SQL_ATTR_ROW_STATUS_PTR, status_.data());
    attribute(SQL_ATTR_ROWS_FETCHED_PTR, &fetched_);
  }

  // Adds every row to `digest`; false (and `digest` part way) when a value did not fit.
  bool AddAll(const std::vector<TargetColumn>& columns, const std::vector<int>& types,
              RowDigest& digest) {
    if (!usable_) return false;
    std::string row;
    while (true) {
      fetched_ = kUnset;
      const SQLRETURN rc = SQLFetch(st_.get());
      if (rc == SQL_NO_DATA) return true;
      st_.Check(rc, "Fetching");
      if (fetched_ == kUnset || fetched_ > rows_) return false;  // the count was not kept
      for (SQLULEN r = 0; r < fetched_; ++r) {
        if (status_[r] != SQL_ROW_SUCCESS) return false;
        row.clear();
        for (std::size_t c = 0; c < bound_.size(); ++c) {
          const Bound& b = bound_[c];
          const SQLLEN indicator = b.indicators[r];
          const char* data = b.data.data() + static_cast<SQLLEN>(r) * b.element;
          if (indicator == SQL_NULL_DATA) {
            row += kNull;
          } else if (indicator == SQL_NO_TOTAL || indicator < 0 ||
                     indicator > b.element - (b.cType == SQL_C_CHAR ? 1 : 0)) {
            return false;  // cut at the buffer's end
          } else if (b.cType == SQL_C_FLOAT) {
            float single = 0;
            std::memcpy(&single, data, sizeof single);
            AppendReal(row, single);
          } else if (b.cType == SQL_C_DOUBLE) {
            double real = 0;
            std::memcpy(&real, data, sizeof real);
            AppendReal(row, real);
          } else {
            AppendTargetValue(row, columns[c], types[c],
                              {data, static_cast<std::size_t>(indicator)});
          }
          row += kSeparator;
        }
        digest.Add(row);
      }
    }
  }

 private:
  static constexpr SQLLEN kBlockBytes = 256 * 1024;
  static constexpr SQLLEN kMaxRows = 512;
  static constexpr SQLLEN kLongValue = 1024;  // the buffer of a long text or binary column
  static constexpr SQLULEN kUnset = ~SQLULEN{0};
  struct Bound {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLLEN element = 0;
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
  };
  // The buffer a column's longest value fits in, as the result describes it (a text in UTF-8,
  // up to four bytes a character); long columns get kLongValue.
  SQLLEN ElementFor(SQLUSMALLINT col, bool binary) {
    SQLULEN size = 0;
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    if (!SQL_SUCCEEDED(
            SQLDescribeCol(st_.get(), col, nullptr, 0, nullptr, &type, &size, &digits, &nullable)))
      usable_ = false;
    if (size == 0 || size > static_cast<SQLULEN>(kLongValue)) return kLongValue;
    const SQLLEN bytes = binary ? static_cast<SQLLEN>(size) : 4 * static_cast<SQLLEN>(size) + 8;
    return std::clamp<SQLLEN>(bytes, 48, kLongValue);
  }
  Statement st_;
  std::vector<Bound> bound_;
  SQLULEN rows_ = 1;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN fetched_ = 0;
  bool usable_ = true;
};

// Adds the rows of `range` (every row without one) to `digest`: in blocks, or by value when a
// block cannot hold them.
void AddTargetRows(odbc::Connection& db, const std::string& table,
                   const std::vector<TargetColumn>& columns, const std::vector<int>& types,
                   const RowRange& range, RowDigest& digest) {
  RowDigest part;
  if (BlockRows(db, table, columns, types, range.Where()).AddAll(columns, types, part)) {
    digest.Merge(part);
    return;
  }
  AddRowsByValue(db, table, columns, types, range.Where(), digest);
}

RowDigest TargetRowDigest(odbc::Connection& db, const std::string& table,
                          const std::vector<TargetColumn>& columns, const std::vector<int>& types) {
  RowDigest digest;
  AddTargetRows(db, table, columns, types, {}, digest);
  return digest;
}

// The table's rows cut into ranges of about `rowsPerRange` row ids, so that two connections can
// share a long table; one range of every row when the table is short or has no row id to cut by.
std::vector<RowRange> RowRanges(odbc::Connection& db, const std::string& table,
                                const std::vector<TargetColumn>& columns, long long rowsPerRange) {
  std::string rowId;
  for (const char* name : {"_rowid_", "rowid", "oid"}) {
    const bool taken = std::any_of(columns.begin(), columns.end(), [&](const TargetColumn& c) {
      return EqualsNoCase(c.name, name);
    });
    if (!taken) {
      rowId = name;
      break;
    }
  }
  // PostgreSQL has no row id that stays put: its tables are read whole.
  if (rowId.empty() || rowsPerRange <= 0 || EqualsNoCase(db.DbmsName(), "PostgreSQL"))
    return {RowRange{}};
  long long low = 0, high = 0;
  try {
    Statement st(db);
    // Each bound in a query of its own: SQLite then seeks it instead of scanning the table.
    const std::string from = " FROM " + platform::QuoteName(table);
    std::string sql =
        "SELECT (SELECT min(" + rowId + ")" + from + "), (SELECT max(" + rowId + ")" + from + ")";
    st.Check(SQLExecDirect(st.get(), Name(sql), SQL_NTS), "Reading the row ids of " + table);
    st.Check(SQLFetch(st.get()), "Fetching");
    std::string text;
    if (!st.GetText(1, text)) return {RowRange{}};  // no rows
    low = std::stoll(text);
    if (!st.GetText(2, text)) return {RowRange{}};
    high = std::stoll(text);
  } catch (const DatabaseLocked&) {
    throw;
  } catch (const Error&) {
    return {RowRange{}};  // a table without row ids: read whole
  } catch (const std::exception&) {
    return {RowRange{}};
  }
  // At most 1024 ranges, the first and last open, so every row falls into exactly one; the
  // bounds lie between the lowest and the highest row id (unsigned: no overflow).
  const auto span = static_cast<unsigned long long>(high) - static_cast<unsigned long long>(low);
  const unsigned long long ranges =
      std::min<unsigned long long>(1024, span / static_cast<unsigned long long>(rowsPerRange) + 1);
  if (ranges <= 1) return {RowRange{}};
  const unsigned long long step = span / ranges + 1;
  const auto bound = [&](unsigned long long i) {
    return static_cast<long long>(static_cast<unsigned long long>(low) + std::min(i * step, span));
  };
  std::vector<RowRange> cut;
  for (unsigned long long i = 0; i < ranges; ++i) {
    RowRange r{rowId, std::nullopt, std::nullopt};
    if (i > 0) r.from = bound(i);
    if (i + 1 < ranges) r.to = bound(i + 1);
    cut.push_back(r);
  }
  return cut;
}

}  // namespace

// One table's Access side: what the check expects of its target and the digest of its rows.
struct AccessSide {
  TableCheck check;
  std::vector<int> types;
  // Per column: the display and lookup properties the link does not hold.
  std::vector<std::vector<std::string>> displayProperties;
  std::vector<std::vector<std::string>> propertiesLeftOff;  // per column
  LinkedTableProperties tableProperties;
  std::vector<std::string> lookupWarnings;  // lookups whose row source is not migrated
  RowDigest digest;
  bool read = false;  // the rows were read; otherwise check.checksumNote says why not
};

void MigrationChecker::BeforeRun(const std::string& accessPath, std::chrono::milliseconds timeout) {
  ahead_.reset();
  before_ = std::make_unique<access::Catalog>(access::ReadCatalog(accessPath, timeout));
  const access::Catalog& catalog = *before_;
  tables_.clear();
  // System tables stay behind, and so do their relationships.
  auto system = [&](const std::string& name) {
    std::uint32_t flags = 0;
    for (const auto& t : catalog.tables)
      if (EqualsNoCase(t.name, name)) flags |= t.flags;
    return dao::IsSystemTable(name, flags);
  };
  for (const auto& t : catalog.tables) {
    // Local tables, and tables linked to other Access files (read from their back-end).
    if ((t.objectType != dao::ObjectType::kTable && t.objectType != dao::ObjectType::kAccessLink) ||
        system(t.name))
      continue;
    TableBefore before{t.name, t.objectType, t.indexes, 0, t.unreadRelationships};
    for (const auto& r : catalog.relations)
      if (EqualsNoCase(r.ForeignTable, t.name) && !system(r.Table)) ++before.foreignKeys;
    tables_.push_back(std::move(before));
  }
}

std::vector<std::string> MigrationChecker::TableNames() const {
  std::vector<std::string> names;
  for (const TableBefore& table : tables_) names.push_back(table.name);
  return names;
}

// The Access side of a table, as the run has left the file `after` describes.
AccessSide MigrationChecker::ReadAccessSide(const TableBefore& table, const access::Catalog& after,
                                            const CheckRequest& request) const {
  const auto find = [&](const std::string& name) -> const access::TableInfo* {
    for (const auto& t : after.tables)
      if (t.name == name) return &t;
    return nullptr;
  };
  AccessSide side;
  TableCheck& check = side.check;
  check.accessName = table.name;
  check.targetName = request.targetNameOf(table.name);
  // What the catalog declares, also what could not be read of it: a shortfall on the target.
  check.indexesExpected = static_cast<int>(table.indexes.size()) + table.unreadRelationships;
  check.primaryKeyExpected = std::any_of(table.indexes.begin(), table.indexes.end(),
                                         [](const dao::Index& i) { return i.Primary; });
  check.foreignKeysExpected = table.foreignKeys + table.unreadRelationships;
  check.linkExpected = request.linked;

  std::string local = table.name;
  const access::TableInfo* link = nullptr;
  if (request.linked) {
    const access::TableInfo* renamed = find(request.prefix + table.name);
    link = find(Trim(table.name));
    check.linked = renamed != nullptr && renamed->objectType == table.objectType &&
                   link != nullptr && link->objectType == dao::ObjectType::kOdbcLink &&
                   link->sourceTableName == check.targetName && !link->connect.empty();
    if (renamed != nullptr) local = renamed->name;
    if (check.linked) {
      std::vector<std::string> held;
      for (const auto& [block, names] : link->linkProperties)
        if (block.empty()) held = names;
      for (const std::string& p : renamed->properties) {
        if (IsListedProperty(kTableDisplayProperties, p) &&
            std::find(held.begin(), held.end(), p) == held.end())
          side.tableProperties.notCarried.push_back(p);
        if (LeftOffLinks(p, false)) side.tableProperties.leftOff.push_back(p);
      }
    }
    check.linkReadOnly = check.linked && std::none_of(table.indexes.begin(), table.indexes.end(),
                                                      [](const dao::Index& i) { return i.Unique; });
  }
  try {
    // A link's rows are those of its back-end table, read as the transfer reads them.
    std::string file = request.accessPath;
    if (table.objectType == dao::ObjectType::kAccessLink) {
      const access::TableInfo* entry = find(local);
      if (entry == nullptr || entry->objectType != dao::ObjectType::kAccessLink)
        throw Error(dao::err::kItemNotFound, "the link " + local + " is gone");
      if (entry->backEnd.errorNumber != 0)
        throw Error(entry->backEnd.errorNumber, entry->backEnd.error);
      file = entry->backEnd.path;
      local = entry->backEnd.table;
    }
    access::RowStream rows(file, local, request.timeout);
    for (const auto& c : rows.Columns()) {
      side.types.push_back(c.type);
      std::vector<std::string> left = c.displayProperties;
      if (check.linked) {
        for (const auto& [column, held] : link->linkProperties)
          if (EqualsNoCase(column, c.name))
            std::erase_if(left, [&](const std::string& p) {
              return std::find(held.begin(), held.end(), p) != held.end();
            });
        for (const std::string& source : RowSourceTables(c.rowSource)) {
          const auto other = std::find_if(
              after.tables.begin(), after.tables.end(),
              [&](const access::TableInfo& t) { return EqualsNoCase(t.name, source); });
          if (other != after.tables.end() && other->objectType != dao::ObjectType::kOdbcLink)
            side.lookupWarnings.push_back("the lookup of " + c.name + " lists the rows of " +
                                          other->name +
                                          ", a table not migrated: it stays the Access table");
        }
      }
      side.displayProperties.push_back(std::move(left));
      side.propertiesLeftOff.push_back(check.linked ? c.propertiesLeftOff
                                                    : std::vector<std::string>{});
    }
    side.digest = AccessRowDigest(rows, side.types);
    check.accessRows = static_cast<long long>(side.digest.Rows());
    side.read = true;
  } catch (const Error& e) {
    check.checksumNote = e.Description();
  }
  return side;
}

void MigrationChecker::ReadAccessSides(const access::Catalog& after, const CheckRequest& request,
                                       std::size_t begin, std::vector<AccessSide>& sides) const {
  const std::size_t end = std::min(tables_.size(), begin + kTablesAtOnce);
  for (std::size_t i = begin + sides.size(); i < end; ++i)
    sides.push_back(ReadAccessSide(tables_[i], after, request));
}

struct MigrationChecker::ReadAhead {
  CheckRequest request;
  access::Catalog after;
  std::vector<AccessSide> sides;  // of the first tables, in their order
};

namespace {

// The target side of one table, against its Access side. Its rows are read in ranges that the
// check's two connections share; what a table's columns and catalog say is read once.
struct TargetSide {
  AccessSide side;
  std::vector<TargetColumn> columns;
  bool failed = false;  // a read failed: side.check.checksumNote says why
  std::vector<RowRange> ranges;
  std::mutex mutex;  // guards digest and failed, noted by the ranges' readers
  RowDigest digest;
};

// Before the rows: the columns, and the ranges the rows are read in (none when not compared).
void PrepareTarget(TargetSide& target, odbc::Connection& db, long long rowsPerRange) {
  TableCheck& check = target.side.check;
  if (!target.side.read) return;
  try {
    target.columns = TargetColumns(db, check.targetName);
    if (target.columns.size() != target.side.types.size())
      check.checksumNote = "the tables have " + std::to_string(target.side.types.size()) + " and " +
                           std::to_string(target.columns.size()) + " columns";
    else
      target.ranges = RowRanges(db, check.targetName, target.columns, rowsPerRange);
  } catch (const DatabaseLocked&) {
    throw;  // the whole check stops: every other table would wait as long
  } catch (const Error& e) {
    target.failed = true;
    if (check.checksumNote.empty()) check.checksumNote = e.Description();
  }
}

// One range of the table's rows into its digest.
void ReadTargetRange(TargetSide& target, std::size_t range, odbc::Connection& db) {
  RowDigest part;
  try {
    AddTargetRows(db, target.side.check.targetName, target.columns, target.side.types,
                  target.ranges[range], part);
  } catch (const DatabaseLocked&) {
    throw;
  } catch (const Error& e) {
    const std::lock_guard lock(target.mutex);
    if (!target.failed && target.side.check.checksumNote.empty())
      target.side.check.checksumNote = e.Description();
    target.failed = true;
    return;
  }
  const std::lock_guard lock(target.mutex);
  target.digest.Merge(part);
}

// After the rows: the comparison, the indexes, keys and time columns.
TableCheck FinishTarget(TargetSide& target, odbc::Connection& db) {
  TableCheck check = std::move(target.side.check);
  if (!target.side.read || target.failed) return check;
  try {
    if (!target.ranges.empty()) {
      check.targetRows = static_cast<long long>(target.digest.Rows());
      check.checksumsEqual = target.side.digest == target.digest;
      if (!check.checksumsEqual)
        check.checksumNote = std::to_string(target.side.digest.RowsMissingFrom(target.digest)) +
                             " of the Access rows have no equal row in the new table";
    }
    check.indexesCreated = TargetIndexes(db, check.targetName);
    check.primaryKeyPresent = TargetPrimaryKey(db, check.targetName);
    check.foreignKeysPresent = TargetForeignKeys(db, check.targetName);
    for (const auto& c : target.columns)
      if (c.time) check.timeColumns.push_back(c.name);
    if (check.linked) {
      std::vector<LinkedColumn> linked;
      for (std::size_t i = 0; i < target.columns.size(); ++i) {
        linked.push_back(target.columns[i].linked);
        if (i < target.side.types.size()) {
          linked.back().accessType = target.side.types[i];
          linked.back().displayProperties = target.side.displayProperties[i];
          linked.back().propertiesLeftOff = target.side.propertiesLeftOff[i];
        }
      }
      LinkForecast forecast = ForecastLink(linked, db.PrimaryKeyOf(check.targetName).columns,
                                           db.DbmsName(), target.side.tableProperties);
      check.linkColumns = std::move(forecast.columns);
      check.linkTypesDiffer = std::move(forecast.differ);
      check.linkWarnings = std::move(forecast.warnings);
      check.linkWarnings.insert(check.linkWarnings.end(), target.side.lookupWarnings.begin(),
                                target.side.lookupWarnings.end());
    }
  } catch (const DatabaseLocked&) {
    throw;
  } catch (const Error& e) {
    if (check.checksumNote.empty()) check.checksumNote = e.Description();
  }
  return check;
}

}  // namespace

std::string MigrationChecker::CompareValues(const CheckRequest& request, const std::string& name) {
  const auto table = std::find_if(tables_.begin(), tables_.end(),
                                  [&](const TableBefore& t) { return t.name == name; });
  if (!before_ || table == tables_.end())
    throw Error(dao::err::kItemNotFound, "the table " + name + " was not noted before the run");
  CheckRequest asBefore = request;
  asBefore.linked = false;  // the table under its own name, as before the run
  AccessSide side = ReadAccessSide(*table, *before_, asBefore);
  if (!side.read) throw Error(dao::err::kUnrecognizedFormat, side.check.checksumNote);
  odbc::Connection db(request.targetConnection, {.statement = request.lockWait});
  const std::string target = side.check.targetName;
  const std::vector<TargetColumn> columns = TargetColumns(db, target);
  if (columns.size() != side.types.size())
    return "the tables have " + std::to_string(side.types.size()) + " and " +
           std::to_string(columns.size()) + " columns";
  const RowDigest digest = TargetRowDigest(db, target, columns, side.types);
  if (side.digest == digest) return "";
  return std::to_string(side.digest.RowsMissingFrom(digest)) + " of the " +
         std::to_string(side.digest.Rows()) + " Access rows have no equal row among the " +
         std::to_string(digest.Rows()) + " of the new table";
}

MigrationChecker::MigrationChecker() = default;
MigrationChecker::~MigrationChecker() = default;

void MigrationChecker::ReadAccessAhead(const CheckRequest& request) {
  ahead_.reset();
  try {
    auto ahead = std::make_unique<ReadAhead>();
    ahead->request = request;
    ahead->after = access::ReadCatalog(request.accessPath, request.timeout);
    ahead_ = std::move(ahead);
  } catch (const Error&) {
    // Check reads the catalog again and reports why it cannot.
  }
}

bool MigrationChecker::ReadNextAccessSide() {
  if (!ahead_) return false;
  const std::size_t next = ahead_->sides.size();
  if (next >= std::min(tables_.size(), kTablesAtOnce)) return false;
  ahead_->sides.push_back(ReadAccessSide(tables_[next], ahead_->after, ahead_->request));
  return true;
}

std::vector<TableCheck> MigrationChecker::Check(const CheckRequest& request) {
  // The Access sides of a group of tables are read first and their target sides then: a reader
  // process is never started while this check's other threads work.
  access::Catalog after;
  std::vector<AccessSide> sides;
  if (std::unique_ptr<ReadAhead> ahead = std::exchange(ahead_, nullptr)) {
    after = std::move(ahead->after);
    sides = std::move(ahead->sides);
  } else {
    after = access::ReadCatalog(request.accessPath, request.timeout);
  }
  std::vector<TableCheck> checks;
  for (std::size_t begin = 0; begin < tables_.size(); begin += kTablesAtOnce) {
    if (begin > 0) sides.clear();
    ReadAccessSides(after, request, begin, sides);
    // The target sides: each table's columns first, then its rows in ranges on two connections
    // at a time (a long table shared by both), then its catalog.
    odbc::Connection db(request.targetConnection, {.statement = request.lockWait});
    std::vector<TargetSide> targets(sides.size());
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // table, range
    for (std::size_t i = 0; i < sides.size(); ++i) {
      targets[i].side = std::move(sides[i]);
      PrepareTarget(targets[i], db, request.rowsPerRange);
      for (std::size_t r = 0; r < targets[i].ranges.size(); ++r) ranges.emplace_back(i, r);
    }
    std::atomic<std::size_t> next{0};
    std::exception_ptr failures[2];
    const auto work = [&](odbc::Connection* own, std::exception_ptr& failure) {
      try {
        std::optional<odbc::Connection> opened;
        if (own == nullptr)
          own = &opened.emplace(request.targetConnection,
                                odbc::Limits{.statement = request.lockWait});
        for (std::size_t i; (i = next++) < ranges.size();)
          ReadTargetRange(targets[ranges[i].first], ranges[i].second, *own);
      } catch (...) {
        failure = std::current_exception();
        next = ranges.size();
      }
    };
    if (ranges.size() > 1) {
      std::thread other(work, nullptr, std::ref(failures[1]));
      work(&db, failures[0]);
      other.join();
    } else {
      work(&db, failures[0]);
    }
    for (const auto& failure : failures)
      if (failure) std::rethrow_exception(failure);
    std::vector<TableCheck> group;
    for (auto& target : targets) group.push_back(FinishTarget(target, db));
    for (auto& check : group) checks.push_back(std::move(check));
  }
  return checks;
}

}  // namespace platform::verify
