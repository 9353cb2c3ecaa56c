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

}  // namespace
