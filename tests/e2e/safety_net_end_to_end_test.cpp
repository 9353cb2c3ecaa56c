// norvane-migrate's safety net end to end: the check alone, a second link-back stopped, and
// --restore after a real link-back.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/locking_process.h"
#include "support/lost_relationships.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

class SafetyNet : public ::testing::Test {
 protected:
  fs::path Copy(const std::string& name) {
    fs::create_directories(dir.path() / "My Data");
    const fs::path access = dir.path() / "My Data" / name;
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / name, access);
    return access;
  }
  tools_test::Outcome Migrate(std::vector<std::string> args) {
    return tools_test::RunProgram(NORVANE_MIGRATE, args, dir.path());
  }
  static bool Has(const tools_test::Outcome& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
  }

  TempDir dir{"norvane-safety"};
};

}  // namespace

TEST_F(SafetyNet, check_alone_lists_the_findings_and_creates_nothing) {
  const fs::path access = Copy("preflight-dev.mdb");
  const std::string bytes = ReadBytes(access);
  auto run = Migrate({"--access", access.string(), "--check", "--link"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "\"Order Notes\" and \"Order_Notes\"")) << run.output;
  EXPECT_TRUE(Has(run, "    555\n    556\n")) << run.output;
  EXPECT_TRUE(Has(run, "\"Loose Rows\" has no unique index")) << run.output;
  EXPECT_EQ(ReadBytes(access), bytes);
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "preflight-dev.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "migrate.bat"));

  const fs::path nwind = Copy("nwind.mdb");
  run = Migrate({"--access", nwind.string(), "--check"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "nothing found")) << run.output;
}

TEST_F(SafetyNet, a_second_link_back_is_stopped_and_restore_gives_back_the_original) {
  const fs::path access = Copy("nwind.mdb");
  const fs::path db = dir.path() / "My Data" / "nwind.db";
  const std::string original = ReadBytes(access);
  auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::exists(access.string() + ".norvane-undo"));
  const std::string linked = ReadBytes(access);

  run = Migrate({"--access", access.string(), "--link", "--overwrite"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "already migrated and linked")) << run.output;
  EXPECT_TRUE(Has(run, "--restore")) << run.output;
  EXPECT_EQ(ReadBytes(access), linked);
  EXPECT_FALSE(fs::exists(access.string() + ".bak2"));

  run = Migrate({"--restore", access.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadBytes(access), original);
  EXPECT_FALSE(fs::exists(db));
  EXPECT_FALSE(fs::exists(access.string() + ".bak"));

  // Once more, then a change in Access after the link-back: restore refuses.
  run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  WriteBytes(access, ReadBytes(access) + std::string(4096, '\0'));
  run = Migrate({"--restore", access.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "was changed after the link-back")) << run.output;
  EXPECT_TRUE(fs::exists(db));
}

// Rows written through ODBC after the migration, and another program holding the database:
// restore asks for --discard-changes and waits for the other program instead of losing either.
TEST_F(SafetyNet, restore_keeps_a_database_changed_since_the_migration_or_held_by_a_program) {
  const fs::path access = Copy("nwind.mdb");
  const fs::path db = dir.path() / "My Data" / "nwind.db";
  const std::string original = ReadBytes(access);
  auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;

  // A new shipper, as an application writes it through the links' driver.
  const std::string insert =
      "echo \"INSERT INTO Shippers (CompanyName) VALUES ('Late Freight')\" "
      "| isql -b -k 'Driver=Norvane;Database=" +
      db.string() + "'";
  run = tools_test::RunProgram("/bin/sh", {"-c", insert}, dir.path());
  ASSERT_EQ(run.status, 0) << run.output;
  run = Migrate({"--restore", access.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "holds changes made after the migration (1 table)")) << run.output;
  EXPECT_TRUE(Has(run, "  changed: Shippers\n")) << run.output;
  EXPECT_TRUE(Has(run, "--discard-changes")) << run.output;
  EXPECT_TRUE(fs::exists(db));
  EXPECT_NE(ReadBytes(access), original);

  // Another program holds the database: nothing is removed, not even with consent.
  {
    testing_support::LockingProcess holder(db);
    ASSERT_TRUE(holder.locked());
    run = Migrate({"--restore", access.string(), "--discard-changes"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run, "is in use by another program (process " + std::to_string(holder.pid())))
        << run.output;
    EXPECT_TRUE(fs::exists(db));
    EXPECT_NE(ReadBytes(access), original);
  }

  run = Migrate({"--restore", access.string(), "--discard-changes"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadBytes(access), original);
  for (const char* gone :
       {"nwind.db", "nwind.db-journal", "nwind.log", "nwind.mdb.bak", "nwind.mdb.norvane-undo"})
    EXPECT_FALSE(fs::exists(dir.path() / "My Data" / gone)) << gone;
}

// The record names another file (edited by hand): restore leaves that file alone.
TEST_F(SafetyNet, an_undo_record_edited_to_name_the_access_file_deletes_nothing) {
  const fs::path access = Copy("nwind.mdb");
  auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  const fs::path record = access.string() + ".norvane-undo";
  std::string text = ReadBytes(record);
  const std::string db = (dir.path() / "My Data" / "nwind.db").string();
  text.replace(text.find("target=" + db), db.size() + 7, "target=" + access.string());
  WriteBytes(record, text);
  const std::string linked = ReadBytes(access);
  run = Migrate({"--restore", access.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(ReadBytes(access), linked);
  EXPECT_TRUE(fs::exists(access.string() + ".bak"));
  EXPECT_TRUE(fs::exists(db));
}

// Links planted under the names the undo record and restore write never lead to another file.
TEST_F(SafetyNet, links_planted_under_the_undo_names_leave_their_targets_alone) {
  const fs::path access = Copy("nwind.mdb");
  const std::string original = ReadBytes(access);
  const fs::path victim = dir.path() / "victim.txt";
  WriteBytes(victim, "keep me");
  for (const char* ending : {".norvane-undo", ".norvane-undo.tmp", ".restore-tmp"})
    fs::create_symlink(victim, access.string() + ending);
  auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(fs::is_symlink(access.string() + ".norvane-undo"));
  run = Migrate({"--restore", access.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadBytes(access), original);
  EXPECT_FALSE(fs::is_symlink(access));
  EXPECT_EQ(ReadBytes(victim), "keep me");
}

TEST_F(SafetyNet, sibling_folders_sharing_six_characters_migrate_each_into_its_own_folder) {
  for (const char* folder : {"Sales Data 2023", "Sales Data 2024"}) {
    fs::create_directories(dir.path() / folder);
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / "edge-jet4.mdb", dir.path() / folder / "Dates.mdb");
  }
  for (const char* folder : {"Sales Data 2024", "Sales Data 2023"}) {
    const auto run = Migrate({"--access", (dir.path() / folder / "Dates.mdb").string()});
    EXPECT_EQ(run.status, 0) << folder << "\n" << run.output;
    EXPECT_TRUE(fs::exists(dir.path() / folder / "Dates.db")) << folder;
  }
  EXPECT_EQ(tools_test::Query(dir.path() / "Sales Data 2023" / "Dates.db",
                              "SELECT count(*) FROM sqlite_schema WHERE type = 'table'"),
            tools_test::Query(dir.path() / "Sales Data 2024" / "Dates.db",
                              "SELECT count(*) FROM sqlite_schema WHERE type = 'table'"));
}

TEST_F(SafetyNet, dry_run_writes_the_work_files_a_run_would_and_changes_nothing_else) {
  fs::create_directories(dir.path() / "Dry Run");
  const fs::path dry = dir.path() / "Dry Run" / "nwind.mdb";
  fs::copy_file(fs::path(NORVANE_TEST_DATA) / "nwind.mdb", dry);
  const auto time = fs::last_write_time(dry);
  const std::string bytes = ReadBytes(dry);
  auto run = Migrate({"--access", dry.string(), "--dry-run", "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "table Order Details -> Order_Details\n")) << run.output;
  EXPECT_TRUE(Has(run,
                  "  rename Order Details to Old_Order Details, link Order Details to "
                  "Order_Details\n"))
      << run.output;
  EXPECT_EQ(ReadBytes(dry), bytes);
  EXPECT_EQ(fs::last_write_time(dry), time);
  EXPECT_FALSE(fs::exists(dir.path() / "Dry Run" / "nwind.db"));
  EXPECT_FALSE(fs::exists(dry.string() + ".bak"));

  // The same scripts as a real run leaves.
  const fs::path real = Copy("nwind.mdb");
  run = Migrate({"--access", real.string(), "--keep-work-files"});
  ASSERT_EQ(run.status, 0) << run.output;
  for (const char* name : {"sp.sql", "reload1.sql", "reload2.sql"})
    EXPECT_EQ(ReadBytes(dir.path() / "Dry Run" / name), ReadBytes(dir.path() / "My Data" / name))
        << name;
  EXPECT_TRUE(fs::exists(dir.path() / "Dry Run" / "migrate.bat"));
}

TEST_F(SafetyNet, three_files_in_one_call_with_one_damaged_give_one_summary_and_a_json_report) {
  fs::create_directories(dir.path() / "Batch");
  for (const char* name : {"a.mdb", "c.mdb"})
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / "edge-jet4.mdb", dir.path() / "Batch" / name);
  WriteBytes(dir.path() / "Batch" / "b.mdb", std::string(8192, 'x'));
  const fs::path json = dir.path() / "report.json";
  auto run = Migrate({"--access", (dir.path() / "Batch").string(), "--report-json", json.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "Summary\n")) << run.output;
  EXPECT_TRUE(Has(run, "a.mdb  ok\n")) << run.output;
  EXPECT_TRUE(Has(run, "b.mdb  failed\n")) << run.output;
  EXPECT_TRUE(Has(run, "c.mdb  ok\n")) << run.output;
  EXPECT_TRUE(Has(run, "2 of 3 migrated.")) << run.output;
  EXPECT_TRUE(fs::exists(dir.path() / "Batch" / "a.db"));
  EXPECT_TRUE(fs::exists(dir.path() / "Batch" / "c.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "Batch" / "b.db"));

  const std::string report = ReadBytes(json);
  EXPECT_TRUE(report.starts_with("{\"report\":\"norvane-migrate\",\"files\":[{\"file\":"))
      << report;
  EXPECT_TRUE(report.ends_with("],\"status\":1}\n")) << report;
  EXPECT_NE(report.find("\"kind\":\"not-an-access-file\",\"stops\":true"), std::string::npos)
      << report;
  EXPECT_NE(report.find("\"tables\":[{\"access\":"), std::string::npos) << report;

  // Two files named on the command line: both succeed.
  run = Migrate({"--access", (dir.path() / "Batch" / "a.mdb").string(), "--access",
                 (dir.path() / "Batch" / "c.mdb").string(), "--overwrite"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "2 of 2 migrated.")) << run.output;
}

TEST_F(SafetyNet, a_target_that_is_no_norvane_database_is_refused_by_the_check_naming_the_file) {
  const fs::path access = Copy("edge-jet4.mdb");
  const fs::path notes = dir.path() / "notes.txt";
  WriteBytes(notes, "not a database\n");
  fs::create_directory(dir.path() / "folder.db");
  const std::vector<std::pair<fs::path, std::string>> targets = {
      {notes, "is a text file, not a Norvane database"},
      {dir.path() / "folder.db", "is a folder, not a Norvane database"},
      {access, "is an Access database, not a Norvane database"},
  };
  for (const auto& [target, what] : targets) {
    const auto run = Migrate({"--access", access.string(), "--overwrite", "--connect",
                              "ODBC;Driver=Norvane;Database=" + target.string()});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(
        Has(run, "- Stop: The database " + target.string() + " that the connection names " + what))
        << run.output;
    EXPECT_TRUE(Has(run, "Nothing was changed.")) << run.output;
    EXPECT_FALSE(Has(run, "Creating database")) << run.output;  // stopped before "Create DB"
  }
  EXPECT_FALSE(fs::exists(fs::path(access).replace_extension(".db")));
  EXPECT_EQ(ReadBytes(notes), "not a database\n");
  EXPECT_EQ(ReadBytes(access), ReadBytes(fs::path(NORVANE_TEST_DATA) / "edge-jet4.mdb"));
}

TEST_F(SafetyNet, relationships_the_catalog_declares_but_cannot_read_do_not_check_out) {
  const fs::path access = Copy("edge-jet4.mdb");
  ASSERT_GT(testing_support::LoseRelationshipRows(access), 0);
  const auto run = Migrate({"--access", access.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_FALSE(Has(run, "everything checked out")) << run.output;
  // Each table on the foreign side lacks the relationship's key and its index.
  const std::size_t orders = run.output.find("\nOrders ");
  ASSERT_NE(orders, std::string::npos) << run.output;
  const std::string line =
      run.output.substr(orders + 1, run.output.find('\n', orders + 1) - orders);
  EXPECT_NE(line.find("3/4"), std::string::npos) << line;
  EXPECT_NE(line.find("0/1"), std::string::npos) << line;
  EXPECT_NE(line.find("<- check"), std::string::npos) << line;
}
