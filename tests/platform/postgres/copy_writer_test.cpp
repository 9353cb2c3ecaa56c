// Rows through COPY into a real server, read back through psqlODBC (the driver Access links
// use) and compared value by value: extremes of every type, real Access files, refusals, and
// the password's absence from every process and file.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <dirent.h>
#include <cfloat>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/postgres/column_types.h"
#include "platform/postgres/connection.h"
#include "platform/postgres/copy_writer.h"
#include "platform/postgres/table_copy.h"
#include "platform/quoting.h"
#include "platform/text.h"
#include "support/cells.h"
#include "support/private_postgres.h"

namespace {

using platform::access::Cell;
using platform::access::ColumnInfo;
using platform::access::ColumnType;
using platform::postgres::Connection;
using platform::postgres::CopyFormat;
using platform::postgres::CopyWriter;
using platform::postgres::PgKind;
using platform::postgres::PostgresType;
namespace fs = std::filesystem;

testing_support::PrivateServer& Server() {
  auto& server = testing_support::SharedServer();
  server.ExportPassword();
  return server;
}

ColumnInfo Column(const std::string& name, ColumnType type, int size = 0, int precision = 0,
                  int scale = 0) {
  ColumnInfo c;
  c.name = name;
  c.type = static_cast<int>(type);
  c.size = size;
  c.precision = precision;
  c.scale = scale;
  return c;
}

Cell Null() {
  return Cell{};
}
constexpr auto Int = testing_support::IntegerCell;
constexpr auto Real = testing_support::RealCell;
constexpr auto Bytes = testing_support::BytesCell;

void CreateTable(Connection& c, const std::string& table, const std::vector<ColumnInfo>& columns,
                 int jetVersion) {
  c.Execute(platform::postgres::CreateTableSql(table, columns, jetVersion));
}

// A value read through psqlODBC in the C type of its kind: integers and booleans as numbers,
// floating-point values as their bits, text as UTF-8 (read as UTF-16), bytes as they are,
// numerics, timestamps and GUIDs as text.
std::optional<std::string> OdbcValue(platform::odbc::Statement& st, SQLUSMALLINT col, PgKind kind) {
  SQLLEN ind = 0;
  auto check = [&](SQLRETURN rc) { st.Check(rc, "reading column " + std::to_string(col)); };
  switch (kind) {
    case PgKind::kBoolean:
    case PgKind::kInt2:
    case PgKind::kInt4: {
      std::int64_t v = 0;
      check(SQLGetData(st.get(), col, SQL_C_SBIGINT, &v, sizeof v, &ind));
      return ind == SQL_NULL_DATA ? std::nullopt : std::optional(std::to_string(v));
    }
    case PgKind::kFloat4: {
      float v = 0;
      check(SQLGetData(st.get(), col, SQL_C_FLOAT, &v, sizeof v, &ind));
      return ind == SQL_NULL_DATA ? std::nullopt
                                  : std::optional(std::string(reinterpret_cast<char*>(&v), 4));
    }
    case PgKind::kFloat8: {
      double v = 0;
      check(SQLGetData(st.get(), col, SQL_C_DOUBLE, &v, sizeof v, &ind));
      return ind == SQL_NULL_DATA ? std::nullopt
                                  : std::optional(std::string(reinterpret_cast<char*>(&v), 8));
    }
    default:
      break;
  }
  const bool wide = kind == PgKind::kText;
  const SQLSMALLINT ctype = wide ? SQL_C_WCHAR : kind == PgKind::kBytea ? SQL_C_BINARY : SQL_C_CHAR;
  const std::size_t terminator = wide ? 2 : ctype == SQL_C_CHAR ? 1 : 0;
  std::string out;
  std::vector<char> chunk(65536);
  for (;;) {
    const SQLRETURN rc =
        SQLGetData(st.get(), col, ctype, chunk.data(), static_cast<SQLLEN>(chunk.size()), &ind);
    if (rc == SQL_NO_DATA) break;
    check(rc);
    if (ind == SQL_NULL_DATA) return std::nullopt;
    const std::size_t got =
        ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) + terminator > chunk.size()
            ? chunk.size() - terminator
            : static_cast<std::size_t>(ind);
    out.append(chunk.data(), got);
    if (rc == SQL_SUCCESS) break;
  }
  if (!wide) return out;
  std::string utf8;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    char32_t u = static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8;
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < out.size()) {
      const char32_t low =
          static_cast<unsigned char>(out[i + 2]) | static_cast<unsigned char>(out[i + 3]) << 8;
      u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    platform::AppendUtf8(utf8, u);
  }
  return utf8;
}

// What psqlODBC must give back for `cell`, in OdbcValue's form.
std::optional<std::string> Expected(const Cell& cell, PgKind kind) {
  if (cell.null) return std::nullopt;
  const std::string bytes(cell.bytes.begin(), cell.bytes.end());
  switch (kind) {
    case PgKind::kBoolean:
      return cell.integer ? "1" : "0";
    case PgKind::kInt2:
    case PgKind::kInt4:
      return std::to_string(cell.integer);
    case PgKind::kFloat4: {
      const float f = static_cast<float>(cell.real);
      return std::string(reinterpret_cast<const char*>(&f), 4);
    }
    case PgKind::kFloat8:
      return std::string(reinterpret_cast<const char*>(&cell.real), 8);
    case PgKind::kNumeric:
      return platform::access::CanonicalDecimal(bytes);
    case PgKind::kUuid: {
      std::string g = bytes.size() == 38 ? bytes.substr(1, 36) : bytes;
      for (char& ch : g) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return g;
    }
    default:
      return bytes;
  }
}

// Reads `table` through psqlODBC in insertion order and compares it with `rows`.
void ExpectTable(const std::string& table, const std::vector<ColumnInfo>& columns, int jetVersion,
                 const std::vector<std::vector<Cell>>& rows) {
  platform::odbc::Connection odbc(Server().OdbcConnect());
  platform::odbc::Statement st(odbc);
  std::string sql = "SELECT * FROM " + platform::QuoteName(table) + " ORDER BY ctid";
  st.Check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "select");
  std::size_t r = 0;
  for (; SQLFetch(st.get()) == SQL_SUCCESS; ++r) {
    ASSERT_LT(r, rows.size()) << table << ": more rows than were copied";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const PgKind kind = PostgresType(columns[c], jetVersion).kind;
      std::optional<std::string> got = OdbcValue(st, static_cast<SQLUSMALLINT>(c + 1), kind);
      std::optional<std::string> want = Expected(rows[r][c], kind);
      if (got && kind == PgKind::kNumeric) got = platform::access::CanonicalDecimal(*got);
      if (got && kind == PgKind::kUuid)
        for (char& ch : *got) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      ASSERT_EQ(got.has_value(), want.has_value())
          << table << " row " << r + 1 << " column " << columns[c].name;
      if (got) {
        ASSERT_EQ(got->size(), want->size())
            << table << " row " << r + 1 << " column " << columns[c].name;
        ASSERT_TRUE(*got == *want) << table << " row " << r + 1 << " column " << columns[c].name
                                   << ": " << *got << " instead of " << *want;
      }
    }
  }
  EXPECT_EQ(r, rows.size()) << table;
}

class CopyFormats : public ::testing::TestWithParam<CopyFormat> {
 protected:
  std::string Table(const std::string& stem) const {
    return stem + (GetParam() == CopyFormat::kBinary ? "_binary" : "_text");
  }
};

std::vector<ColumnInfo> EveryType() {
  return {Column("Yes", ColumnType::kBoolean),
          Column("Byte", ColumnType::kByte),
          Column("Int", ColumnType::kInteger),
          Column("Long", ColumnType::kLong),
          Column("Cur", ColumnType::kCurrency),
          Column("Dec", ColumnType::kDecimal, 17, 28, 10),
          Column("Dec0", ColumnType::kDecimal, 17, 28, 0),
          Column("Single", ColumnType::kSingle),
          Column("Double", ColumnType::kDouble),
          Column("When", ColumnType::kDateTime),
          Column("Name", ColumnType::kText, 510),
          Column("Memo", ColumnType::kMemo),
          Column("Ole", ColumnType::kOle),
          Column("Bin", ColumnType::kBinary, 16),
          Column("Guid", ColumnType::kGuid)};
}

TEST_P(CopyFormats, every_type_keeps_its_extremes_exactly) {
  Connection c(Server().Address());
  const auto columns = EveryType();
  const std::string table = Table("extremes");
  CreateTable(c, table, columns, 1);
  std::string allBytes;
  for (int i = 0; i < 256 * 1200; ++i) allBytes += static_cast<char>(i % 256);  // beyond a send
  std::string memo;
  for (int i = 0; i < 9000; ++i) memo += "Zeile ✓ 日本\t\\\r\n";
  const std::vector<std::vector<Cell>> rows = {
      {Int(1), Int(255), Int(32767), Int(2147483647), Bytes("922337203685477.5807"),
       Bytes("999999999999999999.9999999999"), Bytes("9999999999999999999999999999"), Real(FLT_MAX),
       Real(DBL_MAX), Bytes("9999-12-31 23:59:59"),
       Bytes("Umsätze \t tab \n line \\N back \r cr 🎉"), Bytes(memo), Bytes(allBytes),
       Bytes(std::string("\0\1\2\3\4\5\6\7\x08\x09\x0a\x0b\x0c\x0d\x0e\xff", 16)),
       Bytes("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")},
      {Int(0), Int(0), Int(-32768), Int(-2147483648LL), Bytes("-922337203685477.5808"),
       Bytes("-999999999999999999.9999999999"), Bytes("-9999999999999999999999999999"),
       Real(std::numeric_limits<float>::denorm_min()),
       Real(-std::numeric_limits<double>::denorm_min()), Bytes("0100-01-01 00:00:00"), Bytes(""),
       Bytes(""), Bytes(""), Bytes(""), Bytes("00000000-0000-0000-0000-000000000000")},
      {Int(1), Int(7), Int(-1), Int(-1), Bytes("0.0001"), Bytes("-0.0000000001"), Bytes("0"),
       Real(0.1f), Real(1.0 / 3.0), Bytes("2024-02-29 12:00:00.123456"), Bytes("\\x41"),
       Bytes("'; DROP TABLE x; --"), Bytes("\\"), Bytes("\\N"),
       Bytes("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11")},
      {Int(0), Int(1), Int(0), Int(0), Bytes("12345.6"), Bytes("100"), Bytes("1"), Real(-0.0),
       Real(-2.5e-300), Bytes("1899-12-30 13:45:07"), Bytes("x"), Bytes("y"), Bytes("z"),
       Bytes("w"), Bytes("{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a12}")},
      std::vector<Cell>(columns.size(), Null()),
  };
  CopyWriter writer(c, table, columns, 1, GetParam(), rows.size());
  for (const auto& row : rows) writer.Add(row);
  EXPECT_EQ(writer.Finish(), rows.size());
  ExpectTable(table, columns, 1, rows);
  // The server's own view: the column types, and Currency and Decimal at their scale.
  const auto types =
      c.Query("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '" +
              table + "'::regclass AND attnum > 0 ORDER BY attnum");
  std::vector<std::string> names;
  for (const auto& t : types) names.push_back(*t[0]);
  EXPECT_EQ(names,
            (std::vector<std::string>{"boolean", "smallint", "smallint", "integer", "numeric(19,4)",
                                      "numeric(28,10)", "numeric(28,0)", "real", "double precision",
                                      "timestamp without time zone", "character varying(255)",
                                      "text", "bytea", "bytea", "uuid"}));
  EXPECT_EQ(c.Query("SELECT \"Cur\"::text, \"When\"::text FROM " + table + " ORDER BY ctid")[2],
            (std::vector<std::optional<std::string>>{"0.0001", "2024-02-29 12:00:00.123456"}));
}

TEST_P(CopyFormats, a_value_postgresql_cannot_hold_is_refused_by_row_and_column_and_sends_nothing) {
  Connection c(Server().Address());
  const std::vector<ColumnInfo> columns = {
      Column("ID", ColumnType::kLong), Column("Note", ColumnType::kText, 20),
      Column("Amount", ColumnType::kCurrency), Column("At", ColumnType::kDateTime),
      Column("Key", ColumnType::kGuid)};
  const std::string table = Table("refused");
  CreateTable(c, table, columns, 1);
  c.Execute("BEGIN");
  {
    CopyWriter writer(c, table, columns, 1, GetParam());
    writer.Add({Int(1), Bytes("fine"), Bytes("1.5"), Bytes("2001-02-03 04:05:06"), Null()});
    struct Case {
      std::vector<Cell> row;
      std::string column, why;
    };
    const std::vector<Case> cases = {
        {{Int(2), Bytes(std::string("a\0b", 3)), Null(), Null(), Null()}, "Note", "NUL character"},
        {{Int(2), Null(), Bytes("1e5"), Null(), Null()}, "Amount", "'1e5' is no decimal number"},
        {{Int(2), Null(), Bytes("1.2.3"), Null(), Null()}, "Amount", "no decimal number"},
        {{Int(2), Null(), Bytes(std::string(401, '9')), Null(), Null()}, "Amount", "no decimal"},
        {{Int(2), Null(), Null(), Bytes("2001-02-30 00:00:00"), Null()}, "At", "no date and time"},
        {{Int(2), Null(), Null(), Bytes("2001-02-03\t04:05:06"), Null()}, "At", "no date and time"},
        {{Int(2), Null(), Null(), Null(), Bytes("{6F9619FF-8B86-D011-B42D}")}, "Key", "no GUID"},
    };
    for (const Case& k : cases) {
      try {
        writer.Add(k.row);
        ADD_FAILURE() << "accepted a value for " << k.column;
      } catch (const platform::Error& e) {
        EXPECT_EQ(e.Number(), dao::err::kUnsupported);
        EXPECT_NE(e.Description().find("row 2, column '" + k.column + "'"), std::string::npos)
            << e.Description();
        EXPECT_NE(e.Description().find(k.why), std::string::npos) << e.Description();
      }
    }
    writer.Add({Int(3), Bytes("after"), Bytes("-2"), Null(),
                Bytes("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")});
    EXPECT_EQ(writer.Finish(), 2u);  // the refused rows left nothing half-written behind
  }
  c.Execute("COMMIT");
  EXPECT_EQ(c.Query("SELECT count(*) FROM " + table)[0][0], "2");
}

TEST_P(CopyFormats, a_row_the_server_refuses_is_named_and_leaves_the_table_as_it_was) {
  Connection c(Server().Address());
  const std::vector<ColumnInfo> columns = {Column("ID", ColumnType::kLong),
                                           Column("Code", ColumnType::kText, 6)};  // varchar(3)
  const std::string table = Table("server_refuses");
  CreateTable(c, table, columns, 1);
  c.Execute("ALTER TABLE " + table + " ADD PRIMARY KEY (\"ID\")");
  c.Execute("BEGIN");
  std::string message;
  try {
    CopyWriter writer(c, table, columns, 1, GetParam());
    for (int i = 1; i <= 5000; ++i) writer.Add({Int(i), Bytes("abc")});
    writer.Add({Int(5001), Bytes("abcd")});  // too long for varchar(3)
    writer.Add({Int(5002), Bytes("ok")});
    writer.Finish();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kOdbcCallFailed);
    message = e.Description();
  }
  EXPECT_NE(message.find("too long"), std::string::npos) << message;
  EXPECT_NE(message.find("line 5001"), std::string::npos) << message;
  c.Execute("ROLLBACK");
  EXPECT_EQ(c.Query("SELECT count(*) FROM " + table)[0][0], "0");

  // A writer abandoned before Finish ends its copy as failed: nothing of it is stored, and the
  // connection goes on.
  {
    CopyWriter writer(c, table, columns, 1, GetParam());
    writer.Add({Int(1), Bytes("a")});
  }
  EXPECT_EQ(c.Query("SELECT count(*) FROM " + table)[0][0], "0");
}

// Every local table of real Access files, as the reader reads it, through COPY and back.
TEST_P(CopyFormats, real_access_files_arrive_value_for_value) {
  Connection c(Server().Address());
  std::size_t tables = 0;
  for (const char* name :
       {"nwind.mdb", "testV1997.mdb", "testV2000.mdb", "modern-dev-V2000.mdb",
        "fixedNumericTestV2000.mdb", "DateTestDatabase.mdb", "modern-dev-V2010.accdb"}) {
    const std::string path = std::string(NORVANE_TEST_DATA) + "/" + name;
    const auto catalog = platform::access::ReadCatalog(path, std::chrono::seconds(60));
    for (const auto& t : catalog.tables) {
      if (t.objectType != dao::ObjectType::kTable || dao::IsSystemTable(t.name, t.flags)) continue;
      SCOPED_TRACE(std::string(name) + ": " + t.name);
      std::vector<std::vector<Cell>> rows;
      std::vector<ColumnInfo> columns;
      {
        platform::access::RowStream in(path, t.name, std::chrono::seconds(60));
        columns = in.Columns();
        for (std::vector<Cell> cells; in.Next(cells);) rows.push_back(cells);
      }
      const std::string table = Table(std::string(name) + "." + t.name);
      CreateTable(c, table, columns, catalog.jetVersion);
      CopyWriter writer(c, table, columns, catalog.jetVersion, GetParam(), rows.size());
      for (const auto& row : rows) writer.Add(row);
      ASSERT_EQ(writer.Finish(), rows.size());
      ExpectTable(table, columns, catalog.jetVersion, rows);
      ++tables;
    }
  }
  EXPECT_GE(tables, 20u);
}

TEST(PostgresTableCopy, makes_and_fills_a_table_in_one_transaction_or_leaves_none) {
  Connection c(Server().Address());
  const std::string nwind = std::string(NORVANE_TEST_DATA) + "/nwind.mdb";
  const std::string name = "Order \"Details\" copy";  // quotes in the name
  EXPECT_FALSE(c.HasTable(name));
  EXPECT_EQ(platform::postgres::CopyAccessTable(nwind, 0, "Order Details", c, name,
                                                std::chrono::seconds(60)),
            2155u);
  EXPECT_TRUE(c.HasTable(name));
  EXPECT_FALSE(c.HasTable("order \"details\" copy"));  // names keep their letter case
  EXPECT_EQ(c.Query("SELECT count(*), sum(\"Quantity\") FROM \"Order \"\"Details\"\" copy\"")[0],
            (std::vector<std::optional<std::string>>{"2155", "51317"}));

  // An existing table is refused and kept as it is.
  try {
    platform::postgres::CopyAccessTable(nwind, 0, "Customers", c, name, std::chrono::seconds(60));
    ADD_FAILURE() << "copied over an existing table";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kObjectExists);
    EXPECT_NE(e.Description().find("Table 'Customers' was not transferred"), std::string::npos)
        << e.Description();
  }
  EXPECT_EQ(c.Query("SELECT count(*) FROM \"Order \"\"Details\"\" copy\"")[0][0], "2155");

  // A failure inside the transaction rolls it back: here the server refuses the table itself.
  c.Execute("SET default_transaction_read_only = on");
  std::string message;
  try {
    platform::postgres::CopyAccessTable(nwind, 0, "Customers", c, "nothing_left",
                                        std::chrono::seconds(60));
  } catch (const platform::Error& e) {
    message = e.Description();
  }
  c.Execute("SET default_transaction_read_only = off");
  EXPECT_NE(message.find("read-only transaction"), std::string::npos) << message;
  EXPECT_EQ(c.Query("SELECT 1")[0][0], "1");  // the connection is usable, outside a transaction
  EXPECT_FALSE(c.HasTable("nothing_left"));
}

INSTANTIATE_TEST_SUITE_P(Copy, CopyFormats,
                         ::testing::Values(CopyFormat::kBinary, CopyFormat::kText),
                         [](const auto& info) {
                           return info.param == CopyFormat::kBinary ? "binary" : "text";
                         });

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// After logins that succeeded and failed through libpq and psqlODBC and a copy: the password
// is in no process's arguments, in no server process's environment and in no file of the
// server's folder (its log included).
TEST(PostgresPassword, is_in_no_argument_list_no_server_environment_and_no_file) {
  auto& server = Server();
  {
    Connection c(server.Address(true));
    c.Execute("CREATE TABLE IF NOT EXISTS pw_probe (a integer)");
    platform::odbc::Connection odbc(server.OdbcConnect());
    odbc.ExecDirect("INSERT INTO pw_probe VALUES (1)");
    setenv("PGPASSWORD", (server.Password() + "x").c_str(), 1);  // a failed login is logged
    EXPECT_THROW(Connection bad(server.Address(true)), platform::Error);
    server.ExportPassword();
  }
  const std::string& password = server.Password();
  ASSERT_EQ(password.size(), 32u);
  std::size_t processes = 0, serverProcesses = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string args = ReadAll(entry.path() / "cmdline");
    if (args.empty()) continue;
    ++processes;
    EXPECT_EQ(args.find(password), std::string::npos) << "process " << pid << ": " << args;
    if (args.find(server.Folder()) != std::string::npos || args.starts_with("postgres:")) {
      ++serverProcesses;
      EXPECT_EQ(ReadAll(entry.path() / "environ").find(password), std::string::npos)
          << "process " << pid;
    }
  }
  EXPECT_GT(processes, 5u);
  EXPECT_GT(serverProcesses, 0u);
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(server.Folder())) {
    if (!entry.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(ReadAll(entry.path()).find(password), std::string::npos) << entry.path();
  }
  EXPECT_GT(files, 100u);  // the whole cluster was searched
  EXPECT_NE(
      ReadAll(fs::path(server.Folder()) / "server.log").find("password authentication failed"),
      std::string::npos);
}

}  // namespace
