// The in-memory engine behaves as the run and the pages rely on.
#include "fakes/fake_dao.h"

#include <gtest/gtest.h>

#include "support/error_number.h"

#include <functional>

#include "platform/error.h"

namespace {

using fakes::FakeEngine;
using Lines = std::vector<std::string>;

using testing_support::ErrorNumberOf;

class FakeDao : public testing::Test {
 protected:
  FakeDao() {
    file.AddTable("Customers", {"CustomerID"});
    file.AddTable("Orders", {"OrderID"});
  }
  std::shared_ptr<dao::Database> OpenAccess(bool exclusive = true) {
    return ws->OpenDatabase("Z:\\data\\SALES.MDB", {.exclusive = exclusive}, "");
  }
  std::shared_ptr<dao::Database> OpenTarget() { return ws->OpenDatabase("", {}, "ODBC;dsn="); }

  fakes::ScriptedChooser chooser{std::string("DSN=nw")};
  FakeEngine engine{&chooser};
  fakes::AccessFile& file = engine.AddAccessFile("Z:\\data\\Sales.mdb");
  fakes::DataSource& source = engine.AddDataSource("DSN=nw", "DSN=nw;UID=dba");
  std::shared_ptr<dao::Workspace> ws =
      engine.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
};

TEST_F(FakeDao, an_exclusive_open_fails_while_the_file_is_held_and_works_once_released) {
  auto first = OpenAccess();
  EXPECT_EQ(ErrorNumberOf([&] { OpenAccess(); }), dao::err::kCouldNotLock);
  EXPECT_EQ(ErrorNumberOf([&] { OpenAccess(false); }), dao::err::kCouldNotLock);
  first->Close();
  EXPECT_EQ(ErrorNumberOf([&] { first->Close(); }), dao::err::kObjectClosed);
  auto second = OpenAccess();
  second.reset();  // released without Close, as the last reference goes
  EXPECT_EQ(ErrorNumberOf([&] { OpenAccess(); }), 0);
  file.openElsewhere = true;
  EXPECT_EQ(ErrorNumberOf([&] { OpenAccess(); }), dao::err::kCouldNotLock);
  EXPECT_EQ(ErrorNumberOf([&] { ws->OpenDatabase("Z:\\none.mdb", {.exclusive = true}, ""); }),
            dao::err::kFileNotFound);
}

TEST_F(FakeDao, the_target_open_asks_the_chooser_and_reports_the_completed_connect_string) {
  auto target = OpenTarget();
  EXPECT_EQ(chooser.asked, 1);
  EXPECT_EQ(target->Connect(), "ODBC;DSN=nw;UID=dba");
  chooser.answer.reset();
  EXPECT_EQ(ErrorNumberOf([&] { OpenTarget(); }), dao::err::kOdbcCancelled);
  chooser.answer = "DSN=unknown";
  EXPECT_EQ(ErrorNumberOf([&] { OpenTarget(); }), dao::err::kOdbcCallFailed);
  EXPECT_EQ(ErrorNumberOf([&] { ws->OpenDatabase("", {}, "ODBC;DSN=nw"); }), 0);
  EXPECT_EQ(chooser.asked, 3);
}

TEST_F(FakeDao, tables_enumerate_in_order_see_appends_at_the_end_and_keep_position_on_rename) {
  auto db = OpenAccess();
  auto& defs = db->TableDefs();
  defs.Item("orders")->SetName("Old_Orders");
  EXPECT_EQ(ErrorNumberOf([&] { defs.Item(0)->SetName("old_orders"); }), dao::err::kObjectExists);
  auto link = db->CreateTableDef("Orders");
  link->SetSourceTableName("Orders");
  link->SetConnect("ODBC;DSN=nw;UID=dba");
  // A link needs its table on the data source.
  EXPECT_EQ(ErrorNumberOf([&] { defs.Append(link); }), dao::err::kItemNotFound);
  db->Execute("select * into [ODBC;DSN=nw;UID=dba].[Orders] from [Old_Orders]");
  defs.Append(link);
  EXPECT_EQ(ErrorNumberOf([&] { defs.Append(link); }), dao::err::kObjectExists);
  ASSERT_EQ(defs.Count(), 3);
  EXPECT_EQ(defs.Item(1)->Name(), "Old_Orders");
  EXPECT_EQ(defs.Item(2)->Name(), "Orders");
  EXPECT_EQ(file.Find("Orders")->columns, Lines{"OrderID"});
  EXPECT_EQ(ErrorNumberOf([&] { defs.Append(db->CreateTableDef("customers")); }),
            dao::err::kObjectExists);
}

TEST_F(FakeDao, the_target_sees_transferred_tables_only_after_a_refresh) {
  auto db = OpenAccess();
  auto target = OpenTarget();
  db->Execute("select * into [ODBC;DSN=nw;UID=dba].[Order_Details] from [Customers]");
  EXPECT_EQ(ErrorNumberOf([&] { target->TableDefs().Item("order_details"); }),
            dao::err::kItemNotFound);
  target->TableDefs().Refresh();
  auto table = target->TableDefs().Item("order_details");
  dao::Index key = table->CreateIndex("primarykey");
  key.Fields = "+CustomerID";
  key.Unique = key.Primary = true;
  table->AppendIndex(key);
  EXPECT_EQ(ErrorNumberOf([&] {
              table->AppendIndex({"x", "+Nope", false, false});
            }),
            dao::err::kItemNotFound);
  EXPECT_EQ(source.Find("Order_Details")->indexes.size(), 1u);
  EXPECT_EQ(ErrorNumberOf([&] {
              db->Execute(
                  "select * into [ODBC;DSN=nw;UID=dba].[Order_Details] from "
                  "[Customers]");
            }),
            dao::err::kObjectExists);
  EXPECT_EQ(ErrorNumberOf([&] { db->Execute("drop table Customers"); }), dao::err::kUnsupported);
  EXPECT_EQ(engine.Statements().size(), 3u);
}

TEST_F(FakeDao, fails_calls_on_demand_as_often_as_asked_and_records_them) {
  engine.FailWhen("Access.TableDefs.Count()", 3146, "ODBC--call failed.", 1);
  auto db = OpenAccess();
  EXPECT_EQ(ErrorNumberOf([&] { db->TableDefs().Count(); }), 3146);
  EXPECT_EQ(db->TableDefs().Count(), 2);
  EXPECT_EQ(engine.CallsStartingWith("Access.TableDefs"),
            (Lines{"Access.TableDefs.Count()", "Access.TableDefs.Count()"}));
  EXPECT_EQ(engine.OpenObjects(), 2);
  ws->Close();
  EXPECT_EQ(engine.OpenObjects(), 0);
  EXPECT_EQ(file.exclusiveOpens, 0);
}

}  // namespace
