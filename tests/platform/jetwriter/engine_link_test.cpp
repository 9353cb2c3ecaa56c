// The engine with the catalog writer: renames and linked tables seen through the table
// collection at once, other readers seeing them only when the database is closed, and what a
// killed run leaves removed before the file is read; the columns of an ODBC source as a link
// reads them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jet_test_support.h"
#include "norvane/catalog.h"
#include "platform/access/access_engine.h"
#include "platform/database_lock.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/jetwriter/page_file.h"
#include "platform/paths.h"
#include "support/error_number.h"
#include "support/locking_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::shared_ptr<dao::Database> OpenExclusive(const fs::path& mdb) {
  auto engine = platform::access::CreateEngine(
      {.writerFactory = jetwriter::OpenJetCatalogWriterForRun,
       .recoverInterruptedChange = jetwriter::RecoverInterruptedChange});
  return engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
      ->OpenDatabase(mdb.string(), {.exclusive = true, .readOnly = false}, "");
}

std::vector<std::string> Names(dao::TableDefCollection& defs) {
  std::vector<std::string> names;
  for (int i = 0; i < defs.Count(); ++i) names.push_back(defs.Item(i)->Name());
  return names;
}

}  // namespace

TEST(EngineLinkBack, renamed_table_keeps_its_place_and_the_link_comes_last) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const fs::path remote = dir.path() / "remote.db";
  jettest::MakeRemote(remote, {{"Order_Details", "OrderID integer, ProductID integer"}});
  const std::string connect = "ODBC;Driver=Norvane;Database=" + remote.string();

  auto db = OpenExclusive(mdb);
  auto& defs = db->TableDefs();
  const std::vector<std::string> before = Names(defs);
  const auto position = std::find(before.begin(), before.end(), "Order Details") - before.begin();

  defs.Item("Order Details")->SetName("Old_Order Details");
  auto link = db->CreateTableDef("Order Details");
  link->SetSourceTableName("Order_Details");
  link->SetConnect(connect);
  defs.Append(link);

  const std::vector<std::string> after = Names(defs);
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[static_cast<std::size_t>(position)], "Old_Order Details");
  EXPECT_EQ(after.back(), "Order Details");
  EXPECT_EQ(defs.Item("Order Details")->SourceTableName(), "Order_Details");
  EXPECT_EQ(defs.Item("Order Details")->Connect(), connect);
  db->Close();
  EXPECT_TRUE(fs::exists(mdb.string() + ".bak"));
}

TEST(EngineLinkBack, a_linked_table_is_refused_as_transfer_source_with_its_own_message) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const fs::path remote = dir.path() / "remote.db";
  jettest::MakeRemote(remote, {{"Shippers", "ShipperID integer, CompanyName text"}});
  const std::string connect = "ODBC;Driver=Norvane;Database=" + remote.string();
  {  // what an earlier run with link-back leaves
    auto db = OpenExclusive(mdb);
    db->TableDefs().Item("Shippers")->SetName("Old_Shippers");
    auto link = db->CreateTableDef("Shippers");
    link->SetSourceTableName("Shippers");
    link->SetConnect(connect);
    db->TableDefs().Append(link);
    db->Close();
  }
  auto db = OpenExclusive(mdb);
  ASSERT_EQ(db->TableDefs().Item("Shippers")->Connect(), connect);
  const fs::path target = dir.path() / "target.db";
  norvane::CreateDatabase(target);  // the driver opens only Norvane files
  const auto copy = [&](const std::string& source) {
    std::string description;
    const int number = testing_support::ErrorNumberOf(
        [&] {
          db->Execute("select * into [ODBC;Driver=Norvane;Database=" + target.string() +
                      "].[Copy] from [" + source + "]");
        },
        &description);
    return std::to_string(number) + " " + description;
  };
  EXPECT_EQ(copy("shippers"),
            std::to_string(dao::err::kUnsupported) +
                " The table 'shippers' is linked through ODBC; its rows are in another database "
                "and only Access tables can be copied.");
  EXPECT_EQ(copy("No Such Table"), std::to_string(dao::err::kItemNotFound) +
                                       " The Access table 'No Such Table' does not exist.");
  EXPECT_EQ(copy("Old_Shippers"), "0 ");  // the local table still copies
  db->Close();
}

TEST(EngineLinkBack, other_readers_see_the_file_before_the_run_until_it_is_closed) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const std::string before = testing_support::ReadBytes(mdb);
  auto db = OpenExclusive(mdb);
  db->TableDefs().Item("Customers")->SetName("Old_Customers");
  db->TableDefs().Item("Orders")->SetName("Old_Orders");
  // The run sees its own changes; the file on disk is untouched.
  const auto names = Names(db->TableDefs());
  EXPECT_NE(std::find(names.begin(), names.end(), "Old_Orders"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Orders"), names.end());
  EXPECT_EQ(testing_support::ReadBytes(mdb), before);
  EXPECT_EQ(testing_support::ReadBytes(mdb.string() + ".bak"), before);
  db->Close();
  const auto tables = jettest::LibmdbTables(mdb);
  EXPECT_NE(std::find(tables.begin(), tables.end(), "Old_Customers"), tables.end());
  EXPECT_NE(std::find(tables.begin(), tables.end(), "Old_Orders"), tables.end());
  EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));
  EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
}

TEST(EngineLinkBack, a_killed_run_leaves_the_file_untouched_and_its_work_copy_is_removed) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const std::string before = testing_support::ReadBytes(mdb);
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      auto w = jetwriter::OpenJetCatalogWriterForRun(mdb.string());
      w->RenameTable("Customers", "Old_Customers");
      w->RenameTable("Orders", "Old_Orders");
      raise(SIGKILL);  // before Finish
    } catch (...) {
    }
    _exit(3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed";
  ASSERT_TRUE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));
  EXPECT_EQ(testing_support::ReadBytes(mdb), before);

  auto db = OpenExclusive(mdb);
  EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));
  const auto names = Names(db->TableDefs());
  EXPECT_NE(std::find(names.begin(), names.end(), "Customers"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Old_Customers"), names.end());
  db->Close();
  EXPECT_EQ(testing_support::ReadBytes(mdb), before);
}

TEST(EngineLinkBack, a_file_put_in_place_during_the_run_is_not_replaced) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  auto db = OpenExclusive(mdb);
  db->TableDefs().Item("Customers")->SetName("Old_Customers");
  fs::rename(mdb, dir.path() / "moved.mdb");
  testing_support::WriteBytes(mdb, "someone else's file");
  EXPECT_EQ(testing_support::ErrorNumberOf([&] { db->Close(); }), dao::err::kCouldNotLock);
  EXPECT_EQ(testing_support::ReadBytes(mdb), "someone else's file");
  EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));
}

TEST(EngineTransfer, a_target_that_is_the_access_file_itself_fails_at_once) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  auto db = OpenExclusive(mdb);
  std::string description;
  for (const std::string& named : {mdb.string(), platform::paths::ToWindows(mdb)}) {
    EXPECT_EQ(testing_support::ErrorNumberOf(
                  [&] {
                    db->Execute("select * into [ODBC;Driver=Norvane;Database=" + named +
                                "].[Orders] from [Orders]");
                  },
                  &description),
              dao::err::kUnsupported);
    EXPECT_NE(description.find("is the Access file"), std::string::npos) << description;
  }
  db->Close();
}

// Preparing the changes opens the writer at once: a journal beside the file is refused before
// any work, and a file that takes changes is left as it was until a change is made.
TEST(EngineLinkBack, prepare_changes_refuses_a_journal_at_once_and_writes_nothing) {
  testing_support::TempDir dir("engine-link");
  const fs::path mdb = jettest::CopyFixture("testV1997.mdb", dir.path());
  const std::string before = testing_support::ReadBytes(mdb);
  const std::string journal = jetwriter::PageFile::JournalPath(mdb.string());
  testing_support::WriteBytes(journal, "planted");
  {
    auto db = OpenExclusive(mdb);
    std::string description;
    EXPECT_EQ(testing_support::ErrorNumberOf([&] { db->PrepareChanges(); }, &description),
              dao::err::kCouldNotLock);
    EXPECT_NE(description.find("-journal' lies beside the Access file"), std::string::npos);
    EXPECT_EQ(description.find(".bak"), std::string::npos) << description;
    db->Close();
  }
  fs::remove(journal);
  {
    auto db = OpenExclusive(mdb);
    db->PrepareChanges();
    db->Close();
  }
  EXPECT_EQ(testing_support::ReadBytes(mdb), before);
  EXPECT_FALSE(fs::exists(mdb.string() + ".bak"));
}

TEST(RemoteColumns, are_read_with_the_key_and_a_held_source_ends_at_its_limit) {
  testing_support::TempDir dir("remote-columns");
  const fs::path remote = dir.path() / "remote.db";
  jettest::MakeRemote(remote, {{"Kunden", "KundenNr integer primary key, Name_1 text"},
                               {"KundenXName", "x integer"}});
  const std::string connect = "Driver=Norvane;Database=" + remote.string();

  const jetwriter::RemoteTable table = jetwriter::ReadRemoteTable(connect, "Kunden");
  ASSERT_EQ(table.columns.size(), 2u);  // not those of "KundenXName" ("_" matches any character)
  EXPECT_EQ(table.columns[0].name, "KundenNr");
  EXPECT_EQ(table.columns[1].name, "Name_1");
  ASSERT_EQ(table.indexes.size(), 1u);
  EXPECT_TRUE(table.hasPrimaryKey);
  EXPECT_EQ(table.indexes[0].columns, std::vector<std::string>{"KundenNr"});
  EXPECT_NE(testing_support::ErrorNumberOf([&] { jetwriter::ReadRemoteTable(connect, "Gone"); }),
            0);

  // Another program holds the source: the read gives up once the statement limit runs out.
  testing_support::LockingProcess holder(remote);
  ASSERT_TRUE(holder.locked());
  platform::odbc::Limits limits;
  limits.statement = std::chrono::milliseconds(300);
  try {
    jetwriter::ReadRemoteTable(connect, "Kunden", limits);
    ADD_FAILURE() << "a held source was read";
  } catch (const platform::DatabaseLocked& e) {
    EXPECT_NE(e.Description().find(remote.string()), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("300 ms"), std::string::npos) << e.Description();
  }
}
