// The comparison a run makes between a table's transfer and its link, on a real Access file and a
// real Norvane database: equal after a transfer, a changed or missing value found.
#include <gtest/gtest.h>

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
