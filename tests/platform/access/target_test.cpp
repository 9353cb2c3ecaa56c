// The ODBC target: the chooser, the completed connect string, tables, indexes; the transfer
// statement's edges (other statements, failures, exact values).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "engine_support.h"
#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/access/transfer.h"
#include "platform/error.h"
#include "platform/odbc/odbc_database.h"
#include "platform/text.h"
#include "support/error_number.h"
#include "support/locking_process.h"
#include "support/temp_dir.h"

namespace {

using engine_test::CopyFixture;
using engine_test::NorvaneSource;
using engine_test::ScriptedChooser;
using engine_test::SqliteRows;
using testing_support::TempDir;

struct World {
  TempDir dir{"engine"};
  std::filesystem::path target = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  ScriptedChooser chooser{NorvaneSource(target)};
  std::shared_ptr<dao::Engine> engine =
      platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(30)});
  std::shared_ptr<dao::Database> Open(const std::string& connect) {
    return engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet)
        ->OpenDatabase("", {false, false}, connect);
  }
  std::shared_ptr<dao::Database> Access(const std::string& fixture) {
    return engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
        ->OpenDatabase(CopyFixture(fixture, dir), {true, false}, "");
  }
};

using testing_support::ErrorNumberOf;

TEST(OdbcTarget, open_without_a_source_asks_the_chooser_and_reports_the_completed_string) {
  World s;
  auto db = s.Open("ODBC;dsn=");
  EXPECT_EQ(s.chooser.asked, 1);
  const std::string connect = db->Connect();
  EXPECT_EQ(connect.rfind("ODBC;", 0), 0u) << connect;
  EXPECT_NE(connect.find(s.target.string()), std::string::npos) << connect;
  EXPECT_TRUE(platform::StartsWithNoCase(connect, "ODBC;DRIVER=Norvane;Database=")) << connect;
  EXPECT_EQ(connect.find(']'), std::string::npos);
  // The completed string opens the same database without asking again.
  s.Open(connect);
  EXPECT_EQ(s.chooser.asked, 1);
}

TEST(OdbcTarget, cancelling_the_chooser_is_an_error) {
  TempDir dir("engine");
  ScriptedChooser cancel(std::nullopt);
  auto engine = platform::access::CreateEngine({&cancel, nullptr, std::chrono::seconds(30)});
  auto ws = engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet);
  EXPECT_EQ(ErrorNumberOf([&] {
              ws->OpenDatabase("", {false, false}, "ODBC;dsn=");
            }),
            dao::err::kOdbcCancelled);
}

TEST(OdbcTarget, a_driver_refusal_carries_sqlstate_and_message) {
  World s;
  std::string description;
  EXPECT_EQ(ErrorNumberOf([&] { s.Open("ODBC;Driver=NoSuchDriver;Database=" + s.target.string()); },
                          &description),
            dao::err::kOdbcCallFailed);
  EXPECT_NE(description.find("NoSuchDriver"), std::string::npos) << description;
  EXPECT_NE(description.find("(native "), std::string::npos) << description;
  EXPECT_NE(description.find("] ["), std::string::npos) << description;  // "[SQLSTATE] [manager]"
}

TEST(OdbcTarget, transferred_tables_appear_after_refresh_and_get_their_indexes) {
  World s;
  auto access = s.Access("edge-jet4.mdb");
  auto target = s.Open("ODBC;dsn=");
  const int catalog = target->TableDefs().Count();  // the new database's own tables
  for (const char* table : {"Orders", "Customers"})
    access->Execute("select * into [" + target->Connect() + "].[" + table + "] from [" + table +
                    "]");
  target->TableDefs().Refresh();
  EXPECT_EQ(target->TableDefs().Count(), catalog + 2);
  auto orders = target->TableDefs().Item("orders");
  for (const dao::Index& source : access->TableDefs().Item("Orders")->Indexes()) {
    dao::Index index = orders->CreateIndex(platform::LowerAscii(source.Name));
    index.Fields = source.Fields;
    index.Unique = source.Unique;
    index.Primary = source.Primary;
    orders->AppendIndex(index);
  }
  // Customers has an index of the same name: the physical names are qualified by table.
  auto customers = target->TableDefs().Item("Customers");
  customers->AppendIndex({"primarykey", "+CustomerID", true, true});
  const auto indexes = SqliteRows(
      s.target, "SELECT name, \"unique\" FROM pragma_index_list('Orders') ORDER BY name");
  ASSERT_EQ(indexes.size(), 4u);
  EXPECT_EQ(*indexes[0][0], "Orders_customerid");
  EXPECT_EQ(*indexes[1][0], "Orders_customersorders");  // the relationship's index
  EXPECT_EQ(*indexes[1][1], "0");
  EXPECT_EQ(*indexes[2][0], "Orders_datefreight");
  EXPECT_EQ(*indexes[3][0], "Orders_primarykey");
  EXPECT_EQ(*indexes[3][1], "1");
  const auto columns = SqliteRows(
      s.target, "SELECT name, desc FROM pragma_index_xinfo('Orders_datefreight') WHERE key = 1");
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(*columns[0][0], "OrderDate");
  EXPECT_EQ(*columns[0][1], "0");
  EXPECT_EQ(*columns[1][0], "Freight");
  EXPECT_EQ(*columns[1][1], "1");
  EXPECT_EQ(SqliteRows(s.target, "SELECT 1 FROM pragma_index_list('Customers')").size(), 1u);
}

TEST(AccessExecute, only_the_transfer_statement_is_accepted) {
  World s;
  auto access = s.Access("nwind.mdb");
  std::string description;
  EXPECT_EQ(ErrorNumberOf([&] { access->Execute("delete from [Orders]"); }, &description),
            dao::err::kUnsupported);
  EXPECT_NE(description.find("Unsupported statement"), std::string::npos);
  EXPECT_EQ(
      ErrorNumberOf([&] { access->Execute("select * into [ODBC;dsn=x].[A] from [B] where 1"); }),
      dao::err::kUnsupported);
  EXPECT_EQ(
      ErrorNumberOf([&] { access->Execute("select * into [ODBC;dsn=x].[A] from [No table]"); },
                    &description),
      dao::err::kItemNotFound);
  EXPECT_EQ(description, "The Access table 'No table' does not exist.");
  const auto parsed = platform::access::ParseTransferStatement(
      "SELECT * INTO [ODBC;DSN=a;X=b].[Order_Details] "
      "FROM [Order Details]");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->connect, "ODBC;DSN=a;X=b");
  EXPECT_EQ(parsed->table, "Order_Details");
  EXPECT_EQ(parsed->source, "Order Details");
}

TEST(AccessExecute, an_existing_target_table_is_refused_and_left_alone) {
  World s;
  auto access = s.Access("nwind.mdb");
  auto target = s.Open("ODBC;dsn=");
  const std::string statement =
      "select * into [" + target->Connect() + "].[Shippers] from [Shippers]";
  access->Execute(statement);
  EXPECT_EQ(ErrorNumberOf([&] { access->Execute(statement); }), dao::err::kObjectExists);
  EXPECT_EQ(SqliteRows(s.target, "SELECT count(*) FROM Shippers")[0][0], "3");
}

TEST(AccessExecute, exact_values_arrive_unchanged) {
  World s;
  auto access = s.Access("edge-jet4.mdb");
  auto target = s.Open("ODBC;dsn=");
  for (const char* table : {"Orders", "Shifts", "Customers"})
    access->Execute("select * into [" + target->Connect() + "].[" + table + "] from [" + table +
                    "]");
  // Decimal(18,6) with 18 digits, a 1899-12-30 time, NULL dates, memo over 8 KB, non-ASCII.
  EXPECT_EQ(SqliteRows(s.target, "SELECT Rate FROM Orders WHERE OrderID = 1")[0][0],
            "123456789012.123456");
  EXPECT_EQ(SqliteRows(s.target, "SELECT ShipTime FROM Orders WHERE OrderID = 2")[0][0],
            "1899-12-30 07:13:17");
  EXPECT_EQ(SqliteRows(s.target, "SELECT StartTime FROM Shifts WHERE ShiftID = 0")[0][0],
            "1899-12-30 06:30:00");
  EXPECT_FALSE(SqliteRows(s.target, "SELECT NeverSet FROM Shifts WHERE ShiftID = 0")[0][0]);
  EXPECT_GT(
      SqliteRows(s.target, "SELECT length(Notes) FROM Orders WHERE OrderID = 1")[0][0]->size(), 3u);
  EXPECT_EQ(SqliteRows(s.target, "SELECT length(Notes) > 8192 FROM Orders WHERE OrderID = 1")[0][0],
            "1");
  EXPECT_EQ(SqliteRows(s.target, "SELECT CompanyName FROM Customers LIMIT 1")[0][0],
            "Company \"0\" & Söhne");
  EXPECT_EQ(
      SqliteRows(s.target, "SELECT typeof(Freight), Freight FROM Orders WHERE OrderID = 2")[0][1],
      "1.2501");
  const auto types = SqliteRows(s.target, "SELECT name, type FROM pragma_table_info('Orders')");
  std::map<std::string, std::string> typeOf;
  for (const auto& row : types) typeOf[*row[0]] = *row[1];
  EXPECT_EQ(typeOf["OrderDate"], "timestamp");
  EXPECT_EQ(typeOf["Freight"], "numeric_blob(19,4)");
  EXPECT_EQ(typeOf["Rate"], "numeric_blob(18,6)");
}

// A transfer that cannot finish leaves no table behind: here its commit waits for a program
// reading the database past the time limit, after the rows of two arrays went in.
TEST(AccessExecute, a_transfer_that_fails_leaves_no_part_of_its_table) {
  TempDir dir{"engine"};
  const auto db = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  ScriptedChooser chooser{NorvaneSource(db)};
  auto engine = platform::access::CreateEngine(
      {.chooser = &chooser, .targetLimits = {.statement = std::chrono::seconds(1)}});
  auto access = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                    ->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  const std::string connect = "ODBC;" + NorvaneSource(db);
  std::string description;
  {
    auto reader = testing_support::LockingProcess::Reading(db);
    ASSERT_TRUE(reader.locked());
    EXPECT_EQ(ErrorNumberOf(
                  [&] {
                    access->Execute("select * into [" + connect +
                                    "].[Order_Details] from [Order Details]");
                  },
                  &description),
              dao::err::kOdbcCallFailed);
  }
  EXPECT_NE(description.find("Table 'Order Details' was not transferred"), std::string::npos)
      << description;
  EXPECT_NE(description.find("committing: [HYT00]"), std::string::npos) << description;
  EXPECT_NE(description.find("database is locked"), std::string::npos) << description;
  EXPECT_EQ(SqliteRows(db, "SELECT count(*) FROM sqlite_master WHERE name = 'Order_Details'")[0][0],
            "0");
}

// Column `col` of the current row of `st` as SQL_C_CHAR text; "NULL" for NULL.
std::string CharValue(platform::odbc::Statement& st, SQLUSMALLINT col) {
  std::string value;
  return st.GetText(col, value) ? value : "NULL";
}

TEST(AccessExecute, decimals_read_back_through_odbc_exactly_at_their_scale) {
  World s;
  auto access = s.Access("edge-jet4.mdb");
  auto target = s.Open("ODBC;dsn=");
  access->Execute("select * into [" + target->Connect() + "].[Orders] from [Orders]");
  platform::odbc::Connection db(NorvaneSource(s.target));
  platform::odbc::Statement st(db);
  std::string sql = "SELECT Rate, Freight FROM Orders ORDER BY OrderID";
  st.Check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "select");
  // Decimal(18,6) with 18 significant digits: kept as its text, given back as it was.
  ASSERT_EQ(SQLFetch(st.get()), SQL_SUCCESS);
  EXPECT_EQ(CharValue(st, 1), "123456789012.123456");
  ASSERT_EQ(SQLFetch(st.get()), SQL_SUCCESS);
  // Currency at its scale of 4, also where a double holds it.
  EXPECT_EQ(CharValue(st, 2), "1.2501");
  st.Check(SQLCloseCursor(st.get()), "close");
  // As SQL_C_NUMERIC: precision, scale and the scaled value, least significant byte first.
  sql = "SELECT Rate FROM Orders ORDER BY OrderID";
  st.Check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "select");
  ASSERT_EQ(SQLFetch(st.get()), SQL_SUCCESS);
  SQLHDESC ard = nullptr;
  st.Check(SQLGetStmtAttr(st.get(), SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), "ard");
  SQLSetDescField(ard, 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_NUMERIC), 0);
  SQLSetDescField(ard, 1, SQL_DESC_PRECISION, reinterpret_cast<SQLPOINTER>(18), 0);
  SQLSetDescField(ard, 1, SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(6), 0);
  SQL_NUMERIC_STRUCT number{};
  SQLLEN indicator = 0;
  st.Check(SQLGetData(st.get(), 1, SQL_ARD_TYPE, &number, sizeof number, &indicator), "numeric");
  EXPECT_EQ(number.sign, 1);
  EXPECT_EQ(number.scale, 6);
  unsigned __int128 value = 0;
  for (int i = 15; i >= 0; --i) value = value * 256 + number.val[i];
  EXPECT_TRUE(value == static_cast<unsigned __int128>(123456789012123456ULL));
}

// Runs one statement on the target file; SQLite's message, or "" when it succeeded.
std::string ExecOnTarget(const std::filesystem::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr);
  char* message = nullptr;
  const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
  std::string out = rc == SQLITE_OK ? "" : (message ? message : "failed");
  sqlite3_free(message);
  sqlite3_close(handle);
  return out;
}

TEST(AccessExecute, new_tables_number_new_rows_and_take_the_access_defaults) {
  World s;
  auto access = s.Access("nwind.mdb");
  auto target = s.Open("ODBC;dsn=");
  for (const char* table : {"Shippers", "Products"})
    access->Execute("select * into [" + target->Connect() + "].[" + table + "] from [" + table +
                    "]");
  // The table has no key yet: the AutoNumber column is numbered all the same, after the
  // highest number, also after a number given by hand.
  ASSERT_EQ(ExecOnTarget(s.target, "INSERT INTO Shippers (CompanyName) VALUES ('A')"), "");
  ASSERT_EQ(
      ExecOnTarget(s.target, "INSERT INTO Shippers (ShipperID, CompanyName) VALUES (10, 'B')"), "");
  ASSERT_EQ(ExecOnTarget(s.target, "INSERT INTO Shippers (CompanyName) VALUES ('C')"), "");
  EXPECT_EQ(SqliteRows(s.target, "SELECT group_concat(ShipperID) FROM Shippers")[0][0],
            "1,2,3,4,10,11");
  // UnitPrice (Currency) 0, UnitsInStock 0, Discontinued "=No".
  ASSERT_EQ(ExecOnTarget(s.target, "INSERT INTO Products (ProductName) VALUES ('New')"), "");
  EXPECT_EQ(SqliteRows(s.target,
                       "SELECT UnitPrice || '|' || UnitsInStock || '|' || Discontinued "
                       "FROM Products WHERE ProductName = 'New'")[0][0],
            "0|0|0");
  EXPECT_EQ(SqliteRows(s.target,
                       "SELECT ProductID = (SELECT max(ProductID) FROM Products) FROM "
                       "Products WHERE ProductName = 'New'")[0][0],
            "1");
}

// Access's counter is the last number it gave; rows deleted since can leave it above the highest
// number in the table, and the target goes on after it as Access would.
TEST(AccessExecute, autonumber_continues_after_the_access_counter_when_the_last_rows_are_gone) {
  World s;
  auto target = s.Open("ODBC;dsn=");
  const auto next = [&](const std::string& table, const std::string& column) {
    const std::string insert = "INSERT INTO \"" + table + "\" DEFAULT VALUES";
    EXPECT_EQ(ExecOnTarget(s.target, insert), "") << table;
    return SqliteRows(s.target, "SELECT max(\"" + column + "\") FROM \"" + table + "\"")[0][0];
  };
  {  // Jet 3: nwind's "Umsätze" has the counter 11159 and the highest OrderID 11077.
    auto access = s.Access("nwind.mdb");
    for (const char* table : {"Umsätze", "Orders"})
      access->Execute("select * into [" + target->Connect() + "].[" + table + "] from [" + table +
                      "]");
    EXPECT_EQ(next("Umsätze", "OrderID"), "11160");
    EXPECT_EQ(next("Orders", "OrderID"), "11078");  // counter and highest agree
  }
  // Jet 4 and ACE keep it four bytes further on: files whose last rows Access deleted.
  for (const char* file :
       {"modern-dev-V2000.mdb", "modern-dev-V2007.accdb", "modern-dev-V2010.accdb"}) {
    const std::string mdb = CopyFixture(file, s.dir);
    const auto catalog = platform::access::ReadCatalog(mdb, std::chrono::seconds(30));
    std::uint32_t page = 0;
    for (const auto& t : catalog.tables)
      if (t.name == "Kunden") page = t.id & 0xFFFFFF;
    ASSERT_NE(page, 0u) << file;
    std::string bytes = testing_support::ReadBytes(mdb);
    const std::size_t at = page * 4096u + 20;
    ASSERT_EQ(bytes[page * 4096u], 0x02) << file;
    const std::uint32_t counter = 70000;
    for (int i = 0; i < 4; ++i)
      bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(counter >> (8 * i));
    testing_support::WriteBytes(mdb, bytes);
    auto access = s.engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                      ->OpenDatabase(mdb, {true, false}, "");
    const std::string table = std::string("Kunden_") + file;
    access->Execute("select * into [" + target->Connect() + "].[" + table + "] from [Kunden]");
    EXPECT_EQ(next(table, "KundenNr"), "70001") << file;
  }
}

}  // namespace

namespace {

// Clears the "has a value" bit of column 0 in the row of `table` whose first cell is `value`, on
// the table's data pages: the reader then gives that AutoNumber cell as NULL.
void MakeFirstCellNull(const std::string& mdb, const std::string& table, std::int64_t value) {
  const auto catalog = platform::access::ReadCatalog(mdb, std::chrono::seconds(30));
  std::uint32_t tdef = 0;
  for (const auto& t : catalog.tables)
    if (t.name == table) tdef = t.id & 0xFFFFFF;
  ASSERT_NE(tdef, 0u);
  std::size_t row = 0;  // the row's position in the table
  {
    platform::access::RowStream rows(mdb, table, std::chrono::seconds(30));
    std::vector<platform::access::Cell> cells;
    for (std::size_t n = 0; rows.Next(cells); ++n)
      if (cells[0].integer == value) row = n;
  }
  std::string bytes = testing_support::ReadBytes(mdb);
  const bool jet3 = catalog.jetVersion == 0;
  const std::size_t page = jet3 ? 2048 : 4096, counted = jet3 ? 8 : 12, offsets = jet3 ? 10 : 14;
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::size_t seen = 0;
  for (std::size_t start = page; start + page <= bytes.size(); start += page) {
    if (bytes[start] != 0x01 || u32(start + 4) != tdef) continue;
    for (std::size_t r = 0; r < u16(start + counted); ++r) {
      const std::size_t offset = u16(start + offsets + 2 * r);
      if ((offset & 0xC000) != 0) continue;  // deleted or moved
      if (seen++ != row) continue;
      const std::size_t end =
          start + (r == 0 ? page : u16(start + offsets + 2 * (r - 1)) & 0x1FFF) - 1;
      const std::size_t columns = jet3
                                      ? static_cast<unsigned char>(bytes[start + (offset & 0x1FFF)])
                                      : u16(start + (offset & 0x1FFF));
      const std::size_t mask = end - (columns + 7) / 8 + 1;
      bytes[mask] = static_cast<char>(bytes[mask] & ~1);
      testing_support::WriteBytes(mdb, bytes);
      return;
    }
  }
  FAIL() << "row " << row << " of " << table << " not found";
}

// The AutoNumber trigger numbers a row that arrives without a number, also in the middle of a
// transfer: rows before it keep theirs, it gets the next after Access's counter.
TEST(AccessExecute, a_row_without_its_autonumber_is_numbered_where_it_stands) {
  World s;
  const std::string mdb = CopyFixture("nwind.mdb", s.dir);
  MakeFirstCellNull(mdb, "Shippers", 2);
  {
    platform::access::RowStream rows(mdb, "Shippers", std::chrono::seconds(30));
    std::vector<platform::access::Cell> cells;
    std::string read;
    while (rows.Next(cells)) read += cells[0].null ? "-," : std::to_string(cells[0].integer) + ",";
    ASSERT_EQ(read, "1,-,3,");
  }
  auto access = s.engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                    ->OpenDatabase(mdb, {true, false}, "");
  auto target = s.Open("ODBC;dsn=");
  access->Execute("select * into [" + target->Connect() + "].[Shippers] from [Shippers]");
  // nwind's counter for Shippers is 3: the row takes 4, the row after it keeps its 3.
  EXPECT_EQ(SqliteRows(s.target, "SELECT group_concat(ShipperID) FROM Shippers")[0][0], "1,4,3");
  EXPECT_EQ(ExecOnTarget(s.target, "INSERT INTO Shippers (CompanyName) VALUES ('A')"), "");
  EXPECT_EQ(SqliteRows(s.target, "SELECT max(ShipperID) FROM Shippers")[0][0], "5");
}

}  // namespace
