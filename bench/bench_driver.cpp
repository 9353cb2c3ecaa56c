// Times the Norvane ODBC driver against SQLite's C API on the same rows, and the engine's whole
// transfer of a file.
// Usage: bench_driver <file.mdb> <work folder> [table ...]   (no tables: every user table)
// Prints "transfer_seconds", "transfer_rows" (what the transfer stored), "rows", then per path the
// seconds of writing every table's rows (already in memory, read with the engine's row reader) into
// a table made like the engine's, in one transaction per table:
//   driver_seconds    the Norvane driver, one prepared single-row insert, parameter arrays of
//                     1024 rows bound by column
//   capi1_seconds     SQLite's C API, one statement prepared once, 1 row per statement
//   capi64_seconds    the same with 64 rows per statement
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "norvane/catalog.h"
#include "platform/access/access_engine.h"
#include "platform/access/rows.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/quoting.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::access::Cell;
using platform::access::ColumnInfo;
using platform::access::ColumnType;
using Rows = std::vector<std::vector<Cell>>;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Chooser : public dao::DataSourceChooser {
 public:
  explicit Chooser(std::string s) : s_(std::move(s)) {}
  std::optional<std::string> ChooseDataSource() override { return s_; }

 private:
  std::string s_;
};

ColumnType TypeOf(const ColumnInfo& c) {
  return static_cast<ColumnType>(c.type);
}

bool IsInteger(ColumnType t) {
  return t == ColumnType::kBoolean || t == ColumnType::kByte || t == ColumnType::kInteger ||
         t == ColumnType::kLong;
}

bool IsBytes(ColumnType t) {
  return t == ColumnType::kBinary || t == ColumnType::kOle;
}

std::string InsertSql(const std::string& table, std::size_t columns, std::size_t rows) {
  std::string row = "(";
  for (std::size_t i = 0; i < columns; ++i) row += i ? ",?" : "?";
  row += ")";
  std::string sql = "INSERT INTO " + platform::QuoteName(table) + " VALUES ";
  for (std::size_t r = 0; r < rows; ++r) sql += (r ? "," : "") + row;
  return sql;
}

// (a) Through the driver: parameter arrays bound by column, each column's values at a fixed
// stride (the longest value of the table).
double ThroughDriver(const std::filesystem::path& db, const std::string& table,
                     const std::string& create, const std::vector<ColumnInfo>& columns,
                     const Rows& rows) {
  constexpr std::size_t kArray = 1024;
  platform::odbc::Connection target("Driver=Norvane;Database=" + db.string());
  target.ExecDirect(create);
  const std::size_t width = columns.size();
  std::vector<std::size_t> stride(width, 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < width; ++c)
      stride[c] = std::max(stride[c], row[c].bytes.size() + 1);
  std::vector<std::vector<std::int64_t>> integers(width);
  std::vector<std::vector<float>> singles(width);
  std::vector<std::vector<double>> reals(width);
  std::vector<std::vector<char>> bytes(width);
  std::vector<std::vector<SQLLEN>> indicators(width, std::vector<SQLLEN>(kArray));
  std::vector<SQLUSMALLINT> status(kArray);

  const auto start = Clock::now();
  target.SetAutoCommit(false);
  platform::odbc::Statement st(target);
  std::string sql = InsertSql(table, width, 1);
  st.Check(SQLPrepare(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "prepare");
  st.Check(SQLSetStmtAttr(st.get(), SQL_ATTR_PARAM_BIND_TYPE,
                          reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0),
           "bind type");
  st.Check(SQLSetStmtAttr(st.get(), SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), "status");
  for (std::size_t c = 0; c < width; ++c) {
    const ColumnType t = TypeOf(columns[c]);
    const auto n = static_cast<SQLUSMALLINT>(c + 1);
    SQLRETURN rc;
    if (IsInteger(t)) {
      integers[c].resize(kArray);
      rc = SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 19, 0,
                            integers[c].data(), 0, indicators[c].data());
    } else if (t == ColumnType::kSingle) {
      singles[c].resize(kArray);
      rc = SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_FLOAT, SQL_REAL, 7, 0,
                            singles[c].data(), 0, indicators[c].data());
    } else if (t == ColumnType::kDouble) {
      reals[c].resize(kArray);
      rc = SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
                            reals[c].data(), 0, indicators[c].data());
    } else {
      bytes[c].resize(kArray * stride[c]);
      SQLSMALLINT sqlType = IsBytes(t) ? SQL_LONGVARBINARY : SQL_WVARCHAR;
      SQLULEN size = stride[c];
      SQLSMALLINT digits = 0;
      if (t == ColumnType::kCurrency || t == ColumnType::kDecimal) {
        sqlType = SQL_DECIMAL;
        size = t == ColumnType::kCurrency ? 19 : static_cast<SQLULEN>(columns[c].precision);
        digits = t == ColumnType::kCurrency ? 4 : static_cast<SQLSMALLINT>(columns[c].scale);
      }
      if (t == ColumnType::kDateTime) sqlType = SQL_TYPE_TIMESTAMP;
      rc = SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, IsBytes(t) ? SQL_C_BINARY : SQL_C_CHAR,
                            sqlType, size, digits, bytes[c].data(), static_cast<SQLLEN>(stride[c]),
                            indicators[c].data());
    }
    st.Check(rc, "bind");
  }
  SQLULEN paramset = 1;
  for (std::size_t first = 0; first < rows.size(); first += kArray) {
    const std::size_t count = std::min(kArray, rows.size() - first);
    for (std::size_t r = 0; r < count; ++r) {
      const auto& row = rows[first + r];
      for (std::size_t c = 0; c < width; ++c) {
        const Cell& cell = row[c];
        SQLLEN& ind = indicators[c][r];
        if (cell.null) {
          ind = SQL_NULL_DATA;
          continue;
        }
        ind = 0;
        const ColumnType t = TypeOf(columns[c]);
        if (IsInteger(t)) {
          integers[c][r] = cell.integer;
        } else if (t == ColumnType::kSingle) {
          singles[c][r] = static_cast<float>(cell.real);
        } else if (t == ColumnType::kDouble) {
          reals[c][r] = cell.real;
        } else {
          char* at = bytes[c].data() + r * stride[c];
          if (!cell.bytes.empty()) std::memcpy(at, cell.bytes.data(), cell.bytes.size());
          at[cell.bytes.size()] = '\0';
          ind = static_cast<SQLLEN>(cell.bytes.size());
        }
      }
    }
    if (count != paramset) {
      paramset = count;
      st.Check(SQLSetStmtAttr(st.get(), SQL_ATTR_PARAMSET_SIZE,
                              reinterpret_cast<SQLPOINTER>(paramset), 0),
               "paramset");
    }
    st.Check(SQLExecute(st.get()), "insert");
  }
  target.Commit();
  return Since(start);
}

void Must(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw platform::Error(1, std::string(what) + ": " + sqlite3_errmsg(db));
}

// Binds `cell` as parameter `index` of `st`, as the driver stores it (decimals as their text).
void BindCell(sqlite3* db, sqlite3_stmt* st, int index, const ColumnInfo& column,
              const Cell& cell) {
  const ColumnType t = TypeOf(column);
  int rc;
  if (cell.null)
    rc = sqlite3_bind_null(st, index);
  else if (IsInteger(t))
    rc = sqlite3_bind_int64(st, index, cell.integer);
  else if (t == ColumnType::kSingle)
    rc = sqlite3_bind_double(st, index, static_cast<float>(cell.real));
  else if (t == ColumnType::kDouble)
    rc = sqlite3_bind_double(st, index, cell.real);
  else if (IsBytes(t))
    rc = sqlite3_bind_blob(st, index, cell.bytes.data(), static_cast<int>(cell.bytes.size()),
                           SQLITE_STATIC);
  else
    rc = sqlite3_bind_text(st, index, cell.bytes.data(), static_cast<int>(cell.bytes.size()),
                           SQLITE_STATIC);
  Must(db, rc, "bind");
}

// (b) SQLite's C API: statements of `perStatement` rows prepared once (and one for the rows left).
double ThroughCApi(const std::filesystem::path& path, const std::string& table,
                   const std::string& create, const std::vector<ColumnInfo>& columns,
                   const Rows& rows, std::size_t perStatement) {
  sqlite3* db = nullptr;
  Must(db, sqlite3_open(path.c_str(), &db), "open");
  Must(db, sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), "create");
  const std::size_t width = columns.size();
  const auto start = Clock::now();
  Must(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
  auto prepare = [&](std::size_t n) {
    sqlite3_stmt* st = nullptr;
    const std::string sql = InsertSql(table, width, n);
    Must(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), "prepare");
    return st;
  };
  sqlite3_stmt* full = prepare(perStatement);
  std::size_t r = 0;
  auto run = [&](sqlite3_stmt* st, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k, ++r)
      for (std::size_t c = 0; c < width; ++c)
        BindCell(db, st, static_cast<int>(k * width + c + 1), columns[c], rows[r][c]);
    Must(db, sqlite3_step(st), "insert");
    sqlite3_reset(st);
  };
  while (rows.size() - r >= perStatement) run(full, perStatement);
  if (r < rows.size()) {
    sqlite3_stmt* rest = prepare(rows.size() - r);
    run(rest, rows.size() - r);
    sqlite3_finalize(rest);
  }
  sqlite3_finalize(full);
  Must(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  const double seconds = Since(start);
  sqlite3_close(db);
  return seconds;
}

// Rows of `table` in the file at `db`.
std::size_t CountRows(const std::filesystem::path& db, const std::string& table) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT count(*) FROM " + platform::QuoteName(table);
  std::size_t rows = 0;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    rows = static_cast<std::size_t>(sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(h);
  return rows;
}

std::string CreateSqlOf(const std::filesystem::path& db, const std::string& table) {
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_stmt* st = nullptr;
  std::string sql;
  sqlite3_prepare_v2(h, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?", -1, &st,
                     nullptr);
  sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) == SQLITE_ROW)
    sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(h);
  return sql;
}

// A fresh Norvane file at `path`, as vorlin makes them.
std::filesystem::path Fresh(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  norvane::CreateDatabase(path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: bench_driver <file.mdb> <work folder> [table ...]\n";
    return 2;
  }
  const std::string mdb = argv[1];
  const std::filesystem::path work = argv[2];
  try {
    const auto engineDb = Fresh(work / "engine.db");
    Chooser chooser("Driver=Norvane;Database=" + engineDb.string());
    auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(600)});
    auto access = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                      ->OpenDatabase(mdb, {true, false}, "");
    auto target = engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet)
                      ->OpenDatabase("", {false, false}, "ODBC;dsn=");
    std::vector<std::string> tables(argv + 3, argv + argc);
    if (tables.empty())
      for (int i = 0; i < access->TableDefs().Count(); ++i) {
        const auto table = access->TableDefs().Item(i);
        if (!dao::IsSystemTable(*table)) tables.push_back(table->Name());
      }
    // The whole transfer, as a run makes it.
    const auto start = Clock::now();
    for (const std::string& t : tables)
      access->Execute("select * into [" + target->Connect() + "].[" + t + "] from [" + t + "]");
    std::printf("transfer_seconds %.3f\n", Since(start));
    access->Close();
    target->Close();

    std::size_t transferred = 0;
    for (const std::string& t : tables) transferred += CountRows(engineDb, t);
    std::printf("transfer_rows %zu\n", transferred);
    std::size_t total = 0;
    double driver = 0, capi1 = 0, capi64 = 0;
    for (const std::string& t : tables) {
      platform::access::RowStream stream(mdb, t, std::chrono::seconds(600));
      const std::vector<ColumnInfo> columns = stream.Columns();
      Rows rows;
      std::vector<Cell> cells;
      while (stream.Next(cells)) rows.push_back(cells);
      total += rows.size();
      const std::string create = CreateSqlOf(engineDb, t);
      driver += ThroughDriver(Fresh(work / "driver.db"), t, create, columns, rows);
      if (CountRows(work / "driver.db", t) != rows.size())
        throw platform::Error(1, "the driver's table " + t + " lacks rows");
      capi1 += ThroughCApi(Fresh(work / "capi.db"), t, create, columns, rows, 1);
      capi64 += ThroughCApi(Fresh(work / "capi.db"), t, create, columns, rows, 64);
    }
    for (const char* name : {"engine.db", "driver.db", "capi.db"})
      std::filesystem::remove(work / name);
    std::printf("rows %zu\ndriver_seconds %.3f\ncapi1_seconds %.3f\ncapi64_seconds %.3f\n", total,
                driver, capi1, capi64);
  } catch (const platform::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
