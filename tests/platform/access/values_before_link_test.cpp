// The comparison a run makes between a table's transfer and its link, on a real Access file and a
// real Norvane database: equal after a transfer, a changed or missing value found.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "engine/names.h"
#include "engine_support.h"
#include "norvane/sqlite.h"
#include "platform/access/access_engine.h"
#include "platform/error.h"
#include "platform/verify/migration_check.h"
#include "support/error_number.h"

namespace {

using engine_test::NorvaneSource;
using testing_support::TempDir;

TEST(ValuesBeforeLink, a_transferred_table_compares_equal_and_a_changed_value_is_found) {
  TempDir dir{"values"};
  const std::string access = engine_test::CopyFixture("nwind.mdb", dir);
  const auto db = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(access, std::chrono::seconds(30));
  {
    engine_test::ScriptedChooser chooser(NorvaneSource(db));
    auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(30)});
    auto file = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                    ->OpenDatabase(access, {true, false}, "");
    for (const char* table : {"Shippers", "Order Details"})
      file->Execute("select * into [ODBC;" + NorvaneSource(db) + "].[" +
                    engine::TargetNameOf(table) + "] from [" + table + "]");
    file->Close();
  }
  const platform::verify::CheckRequest request{
      access, NorvaneSource(db), true, "Old_",
      [](const std::string& n) { return engine::TargetNameOf(n); }};
  EXPECT_EQ(checker.CompareValues(request, "Shippers"), "");
  EXPECT_EQ(checker.CompareValues(request, "Order Details"), "");

  norvane::Connection(db.string(), false)
      .Exec(
          "UPDATE Shippers SET Phone = 'x' WHERE ShipperID = 2;"
          "DELETE FROM Order_Details WHERE rowid = 1");
  EXPECT_EQ(checker.CompareValues(request, "Shippers"),
            "1 of the 3 Access rows have no equal row among the 3 of the new table");
  EXPECT_EQ(checker.CompareValues(request, "Order Details"),
            "1 of the 2155 Access rows have no equal row among the 2154 of the new table");
  // A table missing from the new database differs; one the run did not note cannot be compared.
  EXPECT_EQ(checker.CompareValues(request, "Orders").rfind("the tables have 14 and 0 columns", 0),
            0u);
  EXPECT_NE(testing_support::ErrorNumberOf([&] { checker.CompareValues(request, "Nowhere"); }), 0);
}

// The check reads the new table through the driver as an application does: a difference in the
// last digit of a decimal held as text, or of a Single held as a double, is one.
TEST(ValuesBeforeLink, the_last_digit_of_a_decimal_and_the_last_bit_of_a_real_count) {
  TempDir dir{"values"};
  const std::string access = engine_test::CopyFixture("edge-jet4.mdb", dir);
  const std::string nwind = engine_test::CopyFixture("nwind.mdb", dir);
  const auto db = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  platform::verify::MigrationChecker edge, northwind;
  edge.BeforeRun(access, std::chrono::seconds(30));
  northwind.BeforeRun(nwind, std::chrono::seconds(30));
  {
    engine_test::ScriptedChooser chooser(NorvaneSource(db));
    auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(30)});
    for (const auto& [file, table] :
         {std::pair{access, "Orders"}, std::pair{nwind, "Order Details"}}) {
      auto mdb = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                     ->OpenDatabase(file, {true, false}, "");
      mdb->Execute("select * into [ODBC;" + NorvaneSource(db) + "].[" +
                   engine::TargetNameOf(table) + "] from [" + table + "]");
      mdb->Close();
    }
  }
  const auto request = [&](const std::string& file) {
    return platform::verify::CheckRequest{
        file, NorvaneSource(db), false, "",
        [](const std::string& n) { return engine::TargetNameOf(n); }};
  };
  EXPECT_EQ(edge.CompareValues(request(access), "Orders"), "");
  EXPECT_EQ(northwind.CompareValues(request(nwind), "Order Details"), "");

  norvane::Connection(db.string(), false)
      .Exec(
          "UPDATE Orders SET Rate = '123456789012.123457' WHERE Rate = '123456789012.123456';"
          "UPDATE Order_Details SET Discount = Discount * (1 + 1e-15) WHERE rowid = "
          "(SELECT min(rowid) FROM Order_Details WHERE Discount > 0)");
  EXPECT_EQ(edge.CompareValues(request(access), "Orders").rfind("1 of the ", 0), 0u);
  EXPECT_EQ(northwind.CompareValues(request(nwind), "Order Details"),
            "1 of the 2155 Access rows have no equal row among the 2155 of the new table");
}

}  // namespace

namespace {

void RunSql(sqlite3* db, const std::string& sql, double value) {
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  sqlite3_bind_double(st, 1, value);
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sql;
  sqlite3_finalize(st);
}

// Each kind of value the check compares, changed by its smallest step, in values that fit the
// rows read in blocks and in values longer than a block's buffer; and a row missing or added.
TEST(ValuesBeforeLink,
     every_kind_of_value_changed_by_its_smallest_step_and_a_missing_or_extra_row) {
  TempDir dir{"values"};
  const std::string access = engine_test::CopyFixture("edge-jet4.mdb", dir);
  const auto db = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(access, std::chrono::seconds(30));
  {
    engine_test::ScriptedChooser chooser(NorvaneSource(db));
    auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(30)});
    auto mdb = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                   ->OpenDatabase(access, {true, false}, "");
    for (const char* table : {"Orders", "Customers"})
      mdb->Execute("select * into [ODBC;" + NorvaneSource(db) + "].[" + table + "] from [" + table +
                   "]");
    mdb->Close();
  }
  const platform::verify::CheckRequest request{
      access, NorvaneSource(db), false, "",
      [](const std::string& n) { return engine::TargetNameOf(n); }};
  ASSERT_EQ(checker.CompareValues(request, "Orders"), "");
  ASSERT_EQ(checker.CompareValues(request, "Customers"), "");
  const auto saved = dir.path() / "saved.db";
  std::filesystem::copy_file(db, saved);

  struct Change {
    const char* what;
    const char* table;
    std::function<void(sqlite3*)> make;
    std::string found;
  };
  const std::string oneOfOrders =
      "1 of the 120 Access rows have no equal row among the 120 of the new table";
  const auto sql = [](std::string statement) {
    return [statement](sqlite3* c) { RunSql(c, statement, 0); };
  };
  const std::vector<Change> changes{
      {"Currency", "Orders", sql("UPDATE Orders SET Freight = Freight + 0.0001 WHERE OrderID = 2"),
       oneOfOrders},
      {"Single", "Orders",
       [](sqlite3* c) {
         const float up = std::nextafter(0.333333343267441f, 1.0f);
         RunSql(c, "UPDATE Orders SET Weight = ? WHERE OrderID = 2", up);
       },
       oneOfOrders},
      {"text", "Customers",
       sql("UPDATE Customers SET CompanyName = CompanyName || 'x' WHERE rowid = 3"),
       "1 of the 25 Access rows have no equal row among the 25 of the new table"},
      {"a byte of a short binary", "Orders",
       sql("UPDATE Orders SET Label = CAST(substr(Label, 1, 299) || x'00' AS BLOB) WHERE rowid = "
           "(SELECT min(rowid) FROM Orders WHERE length(Label) = 300 AND hex(Label) NOT LIKE "
           "'%00')"),
       oneOfOrders},
      {"a byte of a long binary", "Orders",
       sql("UPDATE Orders SET Label = CAST(x'00' || substr(Label, 2) AS BLOB) WHERE rowid = "
           "(SELECT min(rowid) FROM Orders WHERE length(Label) = 1800 AND hex(Label) NOT LIKE "
           "'00%')"),
       oneOfOrders},
      {"the last letter of a long text", "Orders",
       sql("UPDATE Orders SET Notes = substr(Notes, 1, length(Notes) - 1) || CASE WHEN "
           "substr(Notes, -1) = 'Q' THEN 'R' ELSE 'Q' END WHERE rowid = "
           "(SELECT min(rowid) FROM Orders WHERE length(Notes) > 9000)"),
       oneOfOrders},
      {"a missing row", "Orders", sql("DELETE FROM Orders WHERE OrderID = 3"),
       "1 of the 120 Access rows have no equal row among the 119 of the new table"},
      {"an extra row", "Orders", sql("INSERT INTO Orders (OrderID) VALUES (100000)"),
       "0 of the 120 Access rows have no equal row among the 121 of the new table"},
  };
  for (const Change& change : changes) {
    std::filesystem::copy_file(saved, db, std::filesystem::copy_options::overwrite_existing);
    {
      norvane::Connection c(db.string(), false);
      change.make(c.get());
      EXPECT_EQ(sqlite3_changes(c.get()), 1) << change.what;
    }
    EXPECT_EQ(checker.CompareValues(request, change.table), change.found) << change.what;
  }
}

}  // namespace
