// The migration run on the in-memory engine: what the page shows, what the engine is told,
// what the scripts hold, and what happens when steps fail.
#include "engine/migration_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_dao.h"
#include "fakes/recording_view.h"
#include "options/settings.h"
#include "support/temp_dir.h"

namespace {

using engine::MigrationRun;
using engine::RunOutcome;
using fakes::AccessFile;
using fakes::FakeEngine;
using testing::ElementsAre;
using testing::FloatEq;
using testing::IsEmpty;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;

constexpr const char* kTail =
    "commit; \r\ncall sp_ts_time(); \r\ncommit; \r\ndrop procedure sp_ts_time; \r\ncommit; \r\n";
constexpr const char* kCompleted = "DSN=Northwind;UID=dba;PWD=KWZ;DBF=Z:\\data\\Sales.db";
constexpr const char* kConnect = "ODBC;DSN=Northwind;UID=dba;PWD=KWZ;DBF=Z:\\data\\Sales.db";

std::string Into(const std::string& target, const std::string& source) {
  return std::string("select * into [") + kConnect + "].[" + target + "] from [" + source + "]";
}

dao::Index Key(const std::string& fields) {
  return {"PrimaryKey", fields, true, true};
}
dao::Index Plain(const std::string& name, const std::string& fields) {
  return {name, fields, false, false};
}

std::vector<std::string> Contexts(const platform::FailureLog& failures) {
  std::vector<std::string> out;
  for (const auto& failure : failures) out.push_back(failure.context);
  return out;
}

class Run : public testing::Test {
 protected:
  Run() {
    settings.AccessDbPath = dir.windows() + "Sales.mdb";
    settings.WorkFolder = dir.windows();
    settings.TablePrefix = "Old_";
    file = &engine->AddAccessFile(settings.AccessDbPath);
    target = &engine->AddDataSource("DSN=Northwind", kCompleted);
  }

  std::string Work(const std::string& name) const { return ReadBytes(dir.path() / name); }
  bool WorkExists(const std::string& name) const {
    return std::filesystem::exists(dir.path() / name);
  }
  const platform::FailureLog& Reported() const { return view.reports.at(0); }

  TempDir dir;
  fakes::ScriptedChooser chooser{std::string("DSN=Northwind")};
  std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>(&chooser);
  AccessFile* file = nullptr;
  fakes::DataSource* target = nullptr;
  MigrationSettings settings;
  fakes::RecordingView view;
  fakes::RecordingStarter starter;
  int enginesMade = 0;
  MigrationRun run{settings, view, starter, [this] {
                     ++enginesMade;
                     return engine;
                   }};
};

// --- Whole runs -----------------------------------------------------------------------------

TEST_F(Run, without_relationships_shows_every_step_in_order_and_goes_from_10_straight_to_30) {
  file->AddTable("Customers", {"CustomerID", "City"}, {Key("+CustomerID")});
  file->AddTable("Orders", {"OrderID"}, {Key("+OrderID")});

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  EXPECT_EQ(view.events,
            (Lines{"status:Connecting to Access Database ...",
                   "status:Connecting to Norvane DB ... Create a Norvane DataSource if one does "
                   "not exist.",
                   "progress:0",
                   "bar:shown",
                   "progress:5",
                   "repaint",
                   "yield",
                   "odbc:Northwind;UID=dba;PWD=KWZ;DBF=Z:\\data\\Sales.db",
                   "progress:10",
                   "status:Checking for existing relationships in Access db ...",
                   "repaint",
                   "progress:30",
                   "status:Transferring tables to ODBC datasource ...",
                   "repaint",
                   "status:Transferring Customers table ...",
                   "yield",
                   "status:Creating Index on table Customers ...",
                   "yield",
                   "progress:55",
                   "status:Transferring Orders table ...",
                   "yield",
                   "status:Creating Index on table Orders ...",
                   "yield",
                   "progress:80",
                   "progress:80",
                   "status:",
                   "repaint",
                   "progress:90",
                   "progress:100",
                   "bar:hidden",
                   "pointer:default",
                   "finish:enabled",
                   "status:",
                   "failures:0"}));
  EXPECT_EQ(
      engine->CallsStartingWith("CreateWorkspace"),
      (Lines{"CreateWorkspace(,admin,,Jet)", "CreateWorkspace(NewODBCWorkspace,admin,,Jet)"}));
  EXPECT_EQ(engine->CallsStartingWith("Workspace("),
            (Lines{"Workspace().OpenDatabase(" + settings.AccessDbPath + ",exclusive,read-write,)",
                   "Workspace(NewODBCWorkspace).OpenDatabase(,shared,read-write,ODBC;dsn=)",
                   "Workspace(NewODBCWorkspace).Close()", "Workspace().Close()"}));
  EXPECT_EQ(engine->Statements(),
            (Lines{Into("Customers", "Customers"), Into("Orders", "Orders")}));
  EXPECT_EQ(Work("reload2.sql"), "");
  EXPECT_EQ(Work("reload1.sql"),
            std::string("alter table \"Customers\" modify \"customerid\" not null;\r\n"
                        "alter table \"Customers\" add primary key (\"customerid\"); \r\n"
                        "alter table \"Orders\" modify \"orderid\" not null;\r\n"
                        "alter table \"Orders\" add primary key (\"orderid\"); \r\n") +
                kTail);
  EXPECT_EQ(target->TableNames(), (Lines{"Customers", "Orders"}));
  EXPECT_FALSE(view.progressVisible);
  EXPECT_TRUE(view.finishEnabled);
  EXPECT_EQ(view.status, "");
  EXPECT_THAT(Reported(), IsEmpty());
}

TEST_F(Run, without_user_tables_writes_only_the_tail_and_still_advances_the_bar) {
  file->AddTable("MSysObjects");
  file->AddTable("MSysACEs");

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  EXPECT_EQ(Work("reload1.sql"), kTail);
  EXPECT_EQ(Work("reload2.sql"), "");
  EXPECT_THAT(engine->Statements(), IsEmpty());
  EXPECT_THAT(view.progressValues, ElementsAre(0, 5, 10, 30, 55, 80, 80, 90, 100));
  EXPECT_EQ(view.statuses.size(), 6u);  // the four fixed texts and the two empty ones
}

TEST_F(Run, leaves_out_only_tables_that_begin_with_MSys_exactly) {
  for (const char* name : {"MSysObjects", "Customers", "msysnotes", "USysRibbons", "~TMPCLP4011",
                           "MSysRelationships", "MSYSx"})
    file->AddTable(name);

  run.lsfinish_migrate();

  EXPECT_EQ(engine->Statements(),
            (Lines{Into("Customers", "Customers"), Into("msysnotes", "msysnotes"),
                   Into("USysRibbons", "USysRibbons"), Into("~TMPCLP4011", "~TMPCLP4011"),
                   Into("MSYSx", "MSYSx")}));
  // Every entry advances the bar, left out or not: 30 + 50 k / 7.
  EXPECT_THAT(view.progressValues,
              ElementsAre(FloatEq(0), FloatEq(5), FloatEq(10), FloatEq(30), FloatEq(37.142857f),
                          FloatEq(44.285713f), FloatEq(51.428570f), FloatEq(58.571430f),
                          FloatEq(65.714287f), FloatEq(72.857140f), FloatEq(80), FloatEq(80),
                          FloatEq(90), FloatEq(100)));
}

TEST_F(Run, MSys_tables_are_never_renamed_or_linked) {
  file->AddTable("MSysObjects");
  file->AddTable("Customers", {"CustomerID"}, {Key("+CustomerID")});
  file->AddTable("MSysRelationships");
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(file->TableNames(),
            (Lines{"MSysObjects", "Old_Customers", "MSysRelationships", "Customers"}));
  EXPECT_TRUE(file->Find("MSysObjects")->connect.empty());
  EXPECT_TRUE(file->Find("MSysRelationships")->connect.empty());
  EXPECT_EQ(file->Find("Customers")->connect, kConnect);
}

TEST_F(Run, a_table_without_a_primary_index_gets_its_indexes_but_no_key_lines) {
  file->AddTable("Log", {"At", "Text"}, {Plain("At", "+At"), {"Text", "-Text", true, false}});

  run.lsfinish_migrate();

  EXPECT_EQ(Work("reload1.sql"), kTail);
  const auto& indexes = target->Find("Log")->indexes;
  ASSERT_EQ(indexes.size(), 2u);
  EXPECT_EQ(indexes[0].Name, "at");
  EXPECT_EQ(indexes[1].Name, "text");
  EXPECT_TRUE(indexes[1].Unique);
  EXPECT_FALSE(indexes[0].Primary || indexes[1].Primary);
}

TEST_F(Run, tables_flagged_as_system_objects_are_never_transferred_renamed_or_linked) {
  file->AddTable("f_3A1B_Data", {"Id"}).attributes = 0x80000000;
  file->AddTable("NavPane", {"Id"}).attributes = 0x2;
  file->AddTable("Customers", {"CustomerID"}, {Key("+CustomerID")}).attributes = 0x10;
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(engine->Statements(), (Lines{Into("Customers", "Customers")}));
  EXPECT_EQ(file->TableNames(), (Lines{"f_3A1B_Data", "NavPane", "Old_Customers", "Customers"}));
  EXPECT_TRUE(file->Find("f_3A1B_Data")->connect.empty());
  EXPECT_TRUE(Reported().empty());
}

TEST_F(Run, relationships_with_a_system_table_on_either_side_are_not_written) {
  file->AddTable("MSysNavPaneGroupCategories", {"Id"});
  file->AddTable("MSysNavPaneGroups", {"GroupCategoryID"});
  file->AddTable("f_3A1B_Data", {"Id"}).attributes = 0x80000002;
  file->AddTable("Notes", {"StorageId", "CustomerId"});
  file->AddTable("Customers", {"Id"});
  file->relations = {
      {"MSysNavPaneGroupCategories", "MSysNavPaneGroups", {{"Id", "GroupCategoryID"}}},
      {"f_3A1B_Data", "Notes", {{"Id", "StorageId"}}},
      {"Notes", "f_3A1B_Data", {{"StorageId", "Id"}}},
      {"Customers", "Notes", {{"Id", "CustomerId"}}}};

  run.lsfinish_migrate();

  EXPECT_EQ(Work("reload2.sql"),
            "alter table \"Notes\" add foreign key (\"CustomerId\") references "
            "\"Customers\" (\"Id\");\r\n");
  EXPECT_TRUE(Reported().empty());
}

TEST_F(Run, names_with_blanks_replace_only_the_first_blank_on_the_target_and_in_the_links) {
  file->AddTable("Order Details", {"OrderID", "ProductID"}, {Key("+OrderID;+ProductID")});
  file->AddTable("Order Details Extended", {"OrderID"});
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(engine->Statements(),
            (Lines{Into("Order_Details", "Order Details"),
                   Into("Order_Details Extended", "Order Details Extended")}));
  EXPECT_THAT(view.statuses,
              testing::IsSupersetOf({"Transferring Order_Details table ...",
                                     "Creating Index on table Order_Details ...",
                                     "Linking Order_Details table to Access ...",
                                     "Transferring Order_Details Extended table ...",
                                     "Creating Index on table Order_Details Extended ...",
                                     "Linking Order_Details Extended table to Access ..."}));
  EXPECT_EQ(file->TableNames(), (Lines{"Old_Order Details", "Old_Order Details Extended",
                                       "Order Details", "Order Details Extended"}));
  EXPECT_EQ(file->Find("Order Details")->sourceTableName, "Order_Details");
  EXPECT_EQ(file->Find("Order Details")->connect, kConnect);
  EXPECT_EQ(file->Find("Order Details Extended")->sourceTableName, "Order_Details Extended");
  EXPECT_EQ(file->Find("Old_Order Details")->connect, "");
  EXPECT_EQ(
      Work("reload1.sql"),
      std::string("alter table \"Order_Details\" modify \"orderid\" not null;\r\n"
                  "alter table \"Order_Details\" modify \"productid\" not null;\r\n"
                  "alter table \"Order_Details\" add primary key (\"orderid\",\"productid\"); "
                  "\r\n") +
          kTail);
}

TEST_F(Run, one_table_with_links_never_takes_the_bar_beyond_80_nor_transfers_the_link) {
  file->AddTable("Customers", {"CustomerID"});
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(engine->Statements(), (Lines{Into("Customers", "Customers")}));
  // The link is the second entry: 130 is not taken, the bar keeps 80.
  EXPECT_THAT(view.progressValues, ElementsAre(0, 5, 10, 30, 80, 80, 90, 100));
  EXPECT_EQ(file->TableNames(), (Lines{"Old_Customers", "Customers"}));
  EXPECT_EQ(engine->Changes(),
            (Lines{"Access.Execute(" + Into("Customers", "Customers") + ")",
                   "Access.TableDef(Customers).SetName(Old_Customers)",
                   "Access.CreateTableDef(Customers)",
                   "New.TableDef(Customers).SetSourceTableName(Customers)",
                   std::string("New.TableDef(Customers).SetConnect(") + kConnect + ")",
                   "Access.TableDefs.Append(Customers)", "Target.Close()", "Access.Close()",
                   "Workspace(NewODBCWorkspace).Close()", "Workspace().Close()"}));
}

TEST_F(Run, links_appended_during_the_walk_advance_the_bar_but_are_not_transferred) {
  for (const char* name : {"A", "B", "C"}) file->AddTable(name);
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(engine->Statements(), (Lines{Into("A", "A"), Into("B", "B"), Into("C", "C")}));
  EXPECT_EQ(file->TableNames(), (Lines{"Old_A", "Old_B", "Old_C", "A", "B", "C"}));
  // Entries 4 to 6 are the links: 96.67 is shown, 113.33 and 130 are not.
  EXPECT_THAT(view.progressValues,
              ElementsAre(FloatEq(0), FloatEq(5), FloatEq(10), FloatEq(30), FloatEq(46.666668f),
                          FloatEq(63.333336f), FloatEq(80), FloatEq(96.666664f), FloatEq(80),
                          FloatEq(90), FloatEq(100)));
  EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(), "Linking A table to Access ..."),
            1);
}

TEST_F(Run, without_the_link_option_leaves_the_table_definitions_as_they_were) {
  file->AddTable("Customers", {"CustomerID"}, {Key("+CustomerID")});
  file->AddTable("Order Details", {"OrderID"});
  for (int flag : {0, -1, 2}) {
    settings.LinkTablesFlag = static_cast<std::int16_t>(flag);
    target->tables.clear();

    EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

    EXPECT_EQ(file->TableNames(), (Lines{"Customers", "Order Details"})) << flag;
    for (const auto& change : engine->Changes())
      EXPECT_TRUE(change.starts_with("Access.Execute(") || change.starts_with("Target.") ||
                  change.ends_with(".Close()"))
          << flag << ": " << change;
    for (const auto& status : view.statuses) EXPECT_FALSE(status.starts_with("Linking")) << flag;
  }
}

TEST_F(Run, tables_left_by_an_earlier_run_are_transferred_again_and_a_taken_name_stays_unlinked) {
  // An earlier run against another database left the prefixed table and its link.
  auto& old = engine->AddDataSource("DSN=Old", "DSN=Old;DBF=Z:\\old\\Sales.db");
  old.tables.push_back(std::make_shared<fakes::TableData>(
      fakes::TableData{"Customers", {"CustomerID"}, 91, {}, "", ""}));
  file->AddTable("Old_Customers", {"CustomerID"}, {}, 91);
  auto& link = file->AddTable("Customers", {"CustomerID"}, {}, 0);
  link.connect = "ODBC;DSN=Old;DBF=Z:\\old\\Sales.db";
  link.sourceTableName = "Customers";
  settings.LinkTablesFlag = 1;

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  EXPECT_EQ(engine->Statements(),
            (Lines{Into("Old_Customers", "Old_Customers"), Into("Customers", "Customers")}));
  EXPECT_EQ(target->Find("Customers")->rows, 91);  // read through the old link
  // Old_Customers gets its own link first, so the old link cannot take that name.
  EXPECT_EQ(file->TableNames(), (Lines{"Old_Old_Customers", "Customers", "Old_Customers"}));
  EXPECT_EQ(file->Find("Old_Customers")->connect, kConnect);
  EXPECT_EQ(file->Find("Customers")->connect, "ODBC;DSN=Old;DBF=Z:\\old\\Sales.db");
  EXPECT_EQ(Contexts(Reported()), (Lines{"Renaming Customers to Old_Customers"}));
  EXPECT_EQ(Reported()[0].number, dao::err::kObjectExists);
}

TEST_F(Run, shows_the_connect_string_without_its_first_nine_characters_whatever_they_are) {
  engine->AddDataSource("Norvane file", "DRIVER=Norvane;Database=/data/Sales.db");
  chooser.answer = "Norvane file";

  run.lsfinish_migrate();

  EXPECT_EQ(view.odbcSource, "ER=Norvane;Database=/data/Sales.db");
}

// --- The two failed opens ---------------------------------------------------------------------

TEST_F(Run, an_access_file_in_use_gives_message_1_touches_no_work_file_and_can_be_retried) {
  file->AddTable("Customers");
  file->openElsewhere = true;
  WriteBytes(dir.path() / "reload1.sql", "from before");

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::AccessOpenFailed);

  EXPECT_EQ(view.messages,
            (Lines{"There is an error opening the database in exclusive mode.  Please close all "
                   "connections to the db before using it.  Or it could be Could not use '" +
                   settings.AccessDbPath + "'; file already in use."}));
  EXPECT_EQ(view.events.front(), "status:Connecting to Access Database ...");
  EXPECT_EQ(view.status, "Connecting to Access Database ...");
  EXPECT_EQ(view.statuses.size(), 1u);
  EXPECT_THAT(view.progressValues, IsEmpty());
  EXPECT_FALSE(view.progressVisible);
  EXPECT_FALSE(view.finishEnabled);
  EXPECT_THAT(view.reports, IsEmpty());
  EXPECT_EQ(Work("reload1.sql"), "from before");
  EXPECT_FALSE(WorkExists("reload2.sql"));
  EXPECT_EQ(engine->OpenObjects(), 0);
  EXPECT_FALSE(run.Connections().JetWorkspace);
  EXPECT_EQ(chooser.asked, 0);

  file->openElsewhere = false;
  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);
  EXPECT_EQ(engine->Statements(), (Lines{Into("Customers", "Customers")}));
  EXPECT_EQ(enginesMade, 1);
}

// A file that takes no change (a journal beside it) ends a link-back run once, before any copy.
TEST_F(Run, a_file_that_takes_no_link_back_ends_the_run_once_before_anything_is_copied) {
  file->AddTable("Customers");
  file->AddTable("Orders");
  settings.LinkTablesFlag = 1;
  engine->FailWhen("Access.PrepareChanges", dao::err::kCouldNotLock, "The file 'x-journal' ...");

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::AccessOpenFailed);

  EXPECT_EQ(view.messages,
            (Lines{std::string(engine::kLinkBackRefusedMessage) + "The file 'x-journal' ..."}));
  EXPECT_EQ(run.Failures().size(), 1u);
  EXPECT_THAT(engine->Statements(), IsEmpty());
  EXPECT_THAT(engine->CallsStartingWith("Access.TableDef"), IsEmpty());
  EXPECT_EQ(file->TableNames(), (Lines{"Customers", "Orders"}));
  EXPECT_FALSE(WorkExists("reload1.sql"));
  EXPECT_EQ(engine->OpenObjects(), 0);
  EXPECT_EQ(chooser.asked, 0);

  // Without the link option nothing is prepared, and the copy goes on.
  settings.LinkTablesFlag = 0;
  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);
  EXPECT_EQ(engine->CallsStartingWith("Access.PrepareChanges").size(), 1u);
  EXPECT_EQ(engine->Statements().size(), 2u);
}

TEST_F(Run, a_cancelled_data_source_choice_gives_message_2_and_releases_the_access_file) {
  file->AddTable("Customers");
  chooser.answer.reset();

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::TargetOpenFailed);

  EXPECT_EQ(view.messages,
            (Lines{"There is an error opening the database in exclusive mode. Please close all "
                   "connections to the db before using it.  Or it could be Operation canceled by "
                   "user."}));
  EXPECT_EQ(view.status,
            "Connecting to Norvane DB ... Create a Norvane DataSource if one does not exist.");
  EXPECT_TRUE(view.progressVisible);
  EXPECT_THAT(view.progressValues, ElementsAre(0));
  EXPECT_FALSE(view.finishEnabled);
  EXPECT_FALSE(WorkExists("reload1.sql"));
  EXPECT_FALSE(WorkExists("reload2.sql"));
  // The exclusive hold ended: closed in the order the normal end uses.
  EXPECT_EQ(file->exclusiveOpens, 0);
  EXPECT_EQ(engine->OpenObjects(), 0);
  EXPECT_EQ(engine->CallsStartingWith("Access.Close"), Lines{"Access.Close()"});
  EXPECT_FALSE(run.Connections().AccessDb);

  chooser.answer = "DSN=Northwind";
  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);
  EXPECT_EQ(target->TableNames(), Lines{"Customers"});
  EXPECT_EQ(enginesMade, 1);
}

TEST_F(Run, a_missing_access_file_gives_message_1_with_the_engines_description) {
  settings.AccessDbPath = dir.windows() + "Gone.mdb";

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::AccessOpenFailed);

  EXPECT_EQ(view.messages.at(0),
            "There is an error opening the database in exclusive mode.  Please close all "
            "connections to the db before using it.  Or it could be Could not find file '" +
                settings.AccessDbPath + "'.");
  EXPECT_EQ(engine->OpenObjects(), 0);
}

// --- The scripts of a Northwind-like database -------------------------------------------------

class NorthwindRun : public Run {
 protected:
  NorthwindRun() {
    file->AddTable("MSysObjects");
    file->AddTable("Categories", {"CategoryID", "CategoryName"},
                   {{"CategoryName", "+CategoryName", true, false}, Key("+CategoryID")});
    file->AddTable("Customers", {"CustomerID", "City"},
                   {Plain("City", "+City"), Key("+CustomerID")});
    file->AddTable("Employees", {"EmployeeID", "LastName"},
                   {Plain("LastName", "+LastName"), Key("+EmployeeID")});
    file->AddTable("Order Details", {"OrderID", "ProductID", "Quantity"},
                   {Plain("OrderID", "+OrderID"), Key("+OrderID;+ProductID"),
                    Plain("ProductID", "+ProductID")});
    file->AddTable(
        "Orders", {"OrderID", "CustomerID", "EmployeeID", "ShipVia", "OrderDate"},
        {Plain("CustomerID", "+CustomerID"), Plain("OrderDate", "-OrderDate"), Key("+OrderID")});
    file->AddTable("Products", {"ProductID", "SupplierID", "CategoryID"}, {Key("+ProductID")});
    file->AddTable("Shippers", {"ShipperID"}, {Key("+ShipperID")});
    file->AddTable("Suppliers", {"SupplierID"}, {Key("+SupplierID")});
    file->relations = {{"Categories", "Products", {{"CategoryID", "CategoryID"}}},
                       {"Customers", "Orders", {{"CustomerID", "CustomerID"}}},
                       {"Employees", "Orders", {{"EmployeeID", "EmployeeID"}}},
                       {"Orders", "Order Details", {{"OrderID", "OrderID"}}},
                       {"Products", "Order Details", {{"ProductID", "ProductID"}}},
                       {"Shippers", "Orders", {{"ShipperID", "ShipVia"}}},
                       {"Suppliers", "Products", {{"SupplierID", "SupplierID"}}}};
  }
};

TEST_F(NorthwindRun, writes_reload1_and_reload2_byte_for_byte) {
  run.lsfinish_migrate();

  EXPECT_EQ(Work("reload2.sql"),
            "alter table \"Products\" add foreign key (\"CategoryID\") references \"Categories\" "
            "(\"CategoryID\");\r\n"
            "alter table \"Orders\" add foreign key (\"CustomerID\") references \"Customers\" "
            "(\"CustomerID\");\r\n"
            "alter table \"Orders\" add foreign key (\"EmployeeID\") references \"Employees\" "
            "(\"EmployeeID\");\r\n"
            "alter table \"Order_Details\" add foreign key (\"OrderID\") references \"Orders\" "
            "(\"OrderID\");\r\n"
            "alter table \"Order_Details\" add foreign key (\"ProductID\") references \"Products\" "
            "(\"ProductID\");\r\n"
            "alter table \"Orders\" add foreign key (\"ShipVia\") references \"Shippers\" "
            "(\"ShipperID\");\r\n"
            "alter table \"Products\" add foreign key (\"SupplierID\") references \"Suppliers\" "
            "(\"SupplierID\");\r\n");
  EXPECT_EQ(
      Work("reload1.sql"),
      std::string("alter table \"Categories\" modify \"categoryid\" not null;\r\n"
                  "alter table \"Categories\" add primary key (\"categoryid\"); \r\n"
                  "alter table \"Customers\" modify \"customerid\" not null;\r\n"
                  "alter table \"Customers\" add primary key (\"customerid\"); \r\n"
                  "alter table \"Employees\" modify \"employeeid\" not null;\r\n"
                  "alter table \"Employees\" add primary key (\"employeeid\"); \r\n"
                  "alter table \"Order_Details\" modify \"orderid\" not null;\r\n"
                  "alter table \"Order_Details\" modify \"productid\" not null;\r\n"
                  "alter table \"Order_Details\" add primary key (\"orderid\",\"productid\"); "
                  "\r\n"
                  "alter table \"Orders\" modify \"orderid\" not null;\r\n"
                  "alter table \"Orders\" add primary key (\"orderid\"); \r\n"
                  "alter table \"Products\" modify \"productid\" not null;\r\n"
                  "alter table \"Products\" add primary key (\"productid\"); \r\n"
                  "alter table \"Shippers\" modify \"shipperid\" not null;\r\n"
                  "alter table \"Shippers\" add primary key (\"shipperid\"); \r\n"
                  "alter table \"Suppliers\" modify \"supplierid\" not null;\r\n"
                  "alter table \"Suppliers\" add primary key (\"supplierid\"); \r\n") +
          kTail);
  EXPECT_THAT(Reported(), IsEmpty());
}

TEST_F(NorthwindRun, sets_20_after_each_relationship_and_recreates_every_index_lower_cased) {
  run.lsfinish_migrate();

  EXPECT_EQ(std::count(view.progressValues.begin(), view.progressValues.end(), 20.0f), 7);
  EXPECT_EQ(engine->CallsStartingWith("Target.TableDef(Order_Details).CreateIndex"),
            (Lines{"Target.TableDef(Order_Details).CreateIndex(orderid)",
                   "Target.TableDef(Order_Details).CreateIndex(primarykey)",
                   "Target.TableDef(Order_Details).CreateIndex(productid)"}));
  const auto& indexes = target->Find("Order_Details")->indexes;
  ASSERT_EQ(indexes.size(), 3u);
  EXPECT_EQ(indexes[1].Name, "primarykey");
  EXPECT_EQ(indexes[1].Fields, "+OrderID;+ProductID");
  EXPECT_TRUE(indexes[1].Primary && indexes[1].Unique);
  EXPECT_FALSE(indexes[0].Primary || indexes[0].Unique);
  const auto& categories = target->Find("Categories")->indexes;
  EXPECT_TRUE(categories.at(0).Unique && !categories.at(0).Primary);
  EXPECT_EQ(target->Find("Orders")->indexes.at(1).Fields, "-OrderDate");
}

// --- The closing phase ---------------------------------------------------------------------

TEST_F(NorthwindRun, closes_everything_in_order_then_starts_reload_bat_last) {
  starter.onStart = [&] {
    EXPECT_EQ(engine->OpenObjects(), 0);
    EXPECT_EQ(file->exclusiveOpens, 0);
    EXPECT_TRUE(Work("reload1.sql").ends_with(kTail));
    EXPECT_FALSE(view.progressVisible);
    EXPECT_FALSE(view.finishEnabled);
  };

  run.lsfinish_migrate();

  EXPECT_EQ(starter.started, Lines{dir.windows() + "reload.bat"});
  EXPECT_EQ(run.ReloadTaskId(), 7);
  const Lines changes = engine->Changes();
  EXPECT_EQ(Lines(changes.end() - 4, changes.end()),
            (Lines{"Target.Close()", "Access.Close()", "Workspace(NewODBCWorkspace).Close()",
                   "Workspace().Close()"}));
  EXPECT_EQ(view.pointer, engine::Pointer::Default);
}

// --- Failures are collected and reported at the end ------------------------------------------

TEST_F(NorthwindRun, a_failing_transfer_is_reported_and_its_table_keeps_its_name_when_linking) {
  engine->FailWhen("Access.Execute(" + Into("Orders", "Orders"), dao::err::kOdbcCallFailed,
                   "ODBC--call failed.");
  settings.LinkTablesFlag = 1;

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  // The run still shows the index step for the table and writes its key lines.
  EXPECT_THAT(view.statuses, testing::Contains("Creating Index on table Orders ..."));
  EXPECT_NE(Work("reload1.sql").find("alter table \"Orders\" add primary key (\"orderid\"); "),
            std::string::npos);
  EXPECT_EQ(Contexts(Reported()),
            (Lines{"Transferring Orders", "Creating index CustomerID on Orders",
                   "Creating index OrderDate on Orders", "Creating index PrimaryKey on Orders",
                   "Linking Orders"}));
  EXPECT_EQ(Reported()[0].number, dao::err::kOdbcCallFailed);
  EXPECT_EQ(Reported()[4].description, "not linked, because its transfer failed");
  EXPECT_EQ(Reported()[0].description, "ODBC--call failed.");
  // Never renamed: the Access application still finds its table Orders, local, unlinked.
  for (const auto& change : engine->Changes())
    EXPECT_EQ(change.find("TableDef(Orders).SetName"), std::string::npos) << change;
  EXPECT_TRUE(file->Find("Orders"));
  EXPECT_EQ(file->Find("Orders")->connect, "");
  EXPECT_FALSE(file->Find("Old_Orders"));
  EXPECT_TRUE(file->Find("Old_Customers"));
  EXPECT_TRUE(view.finishEnabled);
}

TEST_F(NorthwindRun, a_failing_index_is_reported_and_the_other_indexes_are_still_made) {
  engine->FailWhen("Target.TableDef(Customers).AppendIndex(city,", 3284, "Index already exists.");

  run.lsfinish_migrate();

  ASSERT_EQ(Reported().size(), 1u);
  EXPECT_EQ(Reported()[0].context, "Creating index City on Customers");
  EXPECT_EQ(Reported()[0].number, 3284);
  EXPECT_EQ(Reported()[0].description, "Index already exists.");
  ASSERT_EQ(target->Find("Customers")->indexes.size(), 1u);
  EXPECT_EQ(target->Find("Customers")->indexes[0].Name, "primarykey");
  EXPECT_EQ(target->Find("Employees")->indexes.size(), 2u);
}

TEST_F(NorthwindRun, a_failing_rename_leaves_the_table_as_it_was_and_is_reported) {
  engine->FailWhen("Access.TableDef(Shippers).SetName(", 3012, "Object 'Old_Shippers' exists.");
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(Contexts(Reported()), (Lines{"Renaming Shippers to Old_Shippers"}));
  EXPECT_EQ(file->Find("Shippers")->connect, "");
  EXPECT_FALSE(file->Find("Old_Shippers"));
  EXPECT_THAT(engine->CallsStartingWith("Access.CreateTableDef(Shippers)"), IsEmpty());
  EXPECT_EQ(file->Find("Suppliers")->connect, kConnect);
}

TEST_F(NorthwindRun, an_append_that_fails_after_the_rename_renames_the_table_back) {
  engine->FailWhen("Access.TableDefs.Append(Employees)", dao::err::kOdbcCallFailed,
                   "ODBC--call failed.");
  settings.LinkTablesFlag = 1;
  const auto employees = file->Find("Employees");

  run.lsfinish_migrate();

  EXPECT_EQ(Contexts(Reported()), (Lines{"Linking Employees to the target table Employees"}));
  EXPECT_EQ(file->Find("Employees"), employees);  // the local table, under its own name again
  EXPECT_FALSE(file->Find("Old_Employees"));
  EXPECT_EQ(engine->CallsStartingWith("Access.TableDef(Old_Employees).SetName"),
            Lines{"Access.TableDef(Old_Employees).SetName(Employees)"});
}

// The file is replaced (and the undo record written) only when a table was linked.
TEST_F(NorthwindRun, a_run_whose_every_link_failed_leaves_the_access_file_as_it_was) {
  int replaced = 0;
  run.SetBeforeCatalogReplace([&](const std::string&, const std::string&) { ++replaced; });
  engine->ReplaceAtClose("file.bak", "file.linking");
  engine->FailWhen("Access.TableDefs.Append(", dao::err::kOdbcCallFailed, "no link");
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(replaced, 0);
  ASSERT_FALSE(Reported().empty());
  EXPECT_EQ(Reported().back().context, "Closing the Access database");
  EXPECT_EQ(Reported().back().description,
            "no table was linked, so the Access file was left as it was");
}

TEST_F(NorthwindRun, a_run_that_linked_its_tables_replaces_the_access_file_once_at_the_close) {
  std::vector<std::string> replaced;
  run.SetBeforeCatalogReplace(
      [&](const std::string& backup, const std::string&) { replaced.push_back(backup); });
  engine->ReplaceAtClose("file.bak", "file.linking");
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(replaced, Lines{"file.bak"});
  EXPECT_THAT(Reported(), IsEmpty());
}

TEST_F(NorthwindRun, a_rename_back_that_fails_is_reported_too) {
  engine->FailWhen("Access.TableDefs.Append(Employees)", dao::err::kOdbcCallFailed, "no link");
  engine->FailWhen("Access.TableDef(Old_Employees).SetName(Employees)", 3012, "name taken");
  settings.LinkTablesFlag = 1;

  run.lsfinish_migrate();

  EXPECT_EQ(Contexts(Reported()), (Lines{"Linking Employees to the target table Employees",
                                         "Renaming Old_Employees back to Employees"}));
  EXPECT_TRUE(file->Find("Old_Employees"));
}

TEST_F(NorthwindRun, a_reload_bat_that_cannot_be_started_is_reported) {
  starter.failure = platform::Error(platform::err::kFileNotFound, "File not found: reload.bat");

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  ASSERT_EQ(Reported().size(), 1u);
  EXPECT_EQ(Reported()[0].context, "Starting " + dir.windows() + "reload.bat");
  EXPECT_EQ(Reported()[0].number, platform::err::kFileNotFound);
  EXPECT_FALSE(run.ReloadTaskId());
  EXPECT_TRUE(view.finishEnabled);
  EXPECT_EQ(view.events.back(), "failures:1");
}

TEST_F(NorthwindRun, a_work_folder_that_cannot_be_written_is_reported_and_the_tables_still_move) {
  settings.WorkFolder = dir.windows() + "missing\\";

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  EXPECT_EQ(Contexts(Reported()), (Lines{"Opening " + settings.WorkFolder + "reload1.sql",
                                         "Opening " + settings.WorkFolder + "reload2.sql"}));
  EXPECT_EQ(engine->Statements().size(), 8u);
}

TEST_F(NorthwindRun, each_run_starts_with_an_empty_failure_list) {
  engine->FailWhen("Access.Execute(" + Into("Orders", "Orders"), 3146, "ODBC--call failed.", 1);
  run.lsfinish_migrate();
  target->tables.clear();

  run.lsfinish_migrate();

  ASSERT_EQ(view.reports.size(), 2u);
  EXPECT_THAT(view.reports[0], testing::Not(IsEmpty()));
  EXPECT_THAT(view.reports[1], IsEmpty());
  EXPECT_THAT(run.Failures(), IsEmpty());
}

// --- Re-entry ------------------------------------------------------------------------------------

TEST_F(Run, refuses_to_start_again_while_it_runs) {
  file->AddTable("Customers");
  std::vector<RunOutcome> inner;
  view.onYield = [&] {
    EXPECT_TRUE(run.Running());
    inner.push_back(run.lsfinish_migrate());
  };

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  EXPECT_THAT(inner, testing::Each(RunOutcome::AlreadyRunning));
  EXPECT_EQ(inner.size(), 3u);  // after bar 5 and after the two per-table texts
  EXPECT_EQ(engine->Statements().size(), 1u);
  EXPECT_EQ(engine->CallsStartingWith("CreateWorkspace").size(), 2u);
  EXPECT_FALSE(run.Running());

  view.onYield = nullptr;
  target->tables.clear();
  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);
  EXPECT_EQ(engine->Statements().size(), 2u);
}

}  // namespace

// --- Values compared before linking ------------------------------------------------------------

TEST_F(NorthwindRun, a_table_whose_values_differ_or_cannot_be_compared_is_not_linked) {
  settings.LinkTablesFlag = 1;
  Lines compared;
  run.CheckValuesBeforeLinking([&](const std::string& name, const std::string& target) {
    compared.push_back(name + " -> " + target);
    if (name == "Orders") return std::string("1 of the 830 Access rows have no equal row");
    if (name == "Customers") throw platform::Error(3343, "the table cannot be read");
    return std::string();
  });

  EXPECT_EQ(run.lsfinish_migrate(), RunOutcome::Finished);

  // Each transferred table is compared under both its names, before its link.
  EXPECT_THAT(compared, testing::Contains("Order Details -> Order_Details"));
  EXPECT_THAT(view.statuses, testing::Contains("Checking the values of Orders table ..."));
  EXPECT_EQ(Contexts(Reported()),
            (Lines{"Checking the values of Customers", "Linking Customers", "Linking Orders"}));
  EXPECT_EQ(Reported()[0].description, "the table cannot be read");
  EXPECT_EQ(Reported()[1].description, "not linked, because its values could not be compared");
  EXPECT_EQ(Reported()[2].description,
            "not linked, because its values differ from the Access table's: 1 of the 830 Access "
            "rows have no equal row");
  for (const char* kept : {"Orders", "Customers"}) {
    ASSERT_TRUE(file->Find(kept)) << kept;
    EXPECT_EQ(file->Find(kept)->connect, "") << kept;
    EXPECT_FALSE(file->Find(std::string("Old_") + kept)) << kept;
  }
  EXPECT_TRUE(file->Find("Old_Employees"));
  EXPECT_NE(file->Find("Employees")->connect, "");

  // Without link-back nothing is compared.
  compared.clear();
  settings.LinkTablesFlag = 0;
  run.lsfinish_migrate();
  EXPECT_TRUE(compared.empty());
}
