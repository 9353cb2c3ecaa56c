// "Create DB" on a real folder: the three work files, the question, the start of migrate.bat.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "fakes/fake_services.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/run_lock.h"
#include "support/temp_dir.h"
#include "target/create_db.h"
#include "target/postgres_target.h"
#include "target/run_locks.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

class RecordingCreateView : public target::CreateDbView {
 public:
  void SetStatusText(const std::string& text) override { status = text; }
  void EnableNext() override { nextEnabled = true; }
  void Repaint() override { ++repaints; }
  std::string status;
  bool nextEnabled = false;
  int repaints = 0;
};

class CreateDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.WorkFolder = dir.windows();
    s.TargetDbFileName = "Sales.db";
    s.QueryToolFileName = "ivex.exe";
    s.QueryToolPath = "Z:\\opt\\norvane\\win32\\";
  }
  std::optional<int> Create() {
    return target::CreateDb(s, {engine::TimeFixProcedureLines(), engine::ReloadBatLines(s)},
                            dialogs, commands, view);
  }
  bool Present(const char* name) const { return fs::exists(dir.path() / name); }

  TempDir dir;
  MigrationSettings s;
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingCreateView view;
};

}  // namespace

TEST_F(CreateDbTest, first_click_writes_three_files_shows_wait_and_starts_migrate_bat) {
  const auto task = Create();
  ASSERT_TRUE(task.has_value());
  EXPECT_TRUE(Present("sp.sql"));
  EXPECT_EQ(ReadBytes(dir.path() / "migrate.bat"),
            "cd Z:\\opt\\norvane\\win32\\\r\nZ:\r\nvorlin.exe " + s.WorkFolder + "Sales.db\r\n" +
                "ivex.exe -c \"uid=dba;pwd=KWZ;dbf=" + s.WorkFolder + "Sales.db\" -q read " +
                s.WorkFolder + "sp.SQL\r\n");
  EXPECT_EQ(ReadBytes(dir.path() / "reload.bat").substr(0, 28),
            "cd Z:\\opt\\norvane\\win32\\\r\nZ:");
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{target::kWaitMessage});
  EXPECT_EQ(commands.started, std::vector<std::string>{s.WorkFolder + "migrate.bat"});
  EXPECT_EQ(view.status, "Creating database ...");
  EXPECT_TRUE(view.nextEnabled);
  EXPECT_FALSE(dialogs.busy);
  EXPECT_EQ(dialogs.pointerChanges.front(), true);
}

TEST_F(CreateDbTest, existing_database_and_answer_no_leaves_it_and_starts_nothing) {
  WriteBytes(dir.path() / "SALES.DB", "data");
  for (const char* name : {"migrate.bat", "sp.sql", "reload.bat"})
    WriteBytes(dir.path() / name, "old");
  EXPECT_FALSE(Create().has_value());
  EXPECT_EQ(dialogs.questions, std::vector<std::string>{target::kOverwriteQuestion});
  EXPECT_EQ(ReadBytes(dir.path() / "SALES.DB"), "data");
  for (const char* name : {"migrate.bat", "sp.sql", "reload.bat"})  // rewritten all the same
    EXPECT_NE(ReadBytes(dir.path() / name), "old") << name;
  EXPECT_TRUE(commands.started.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(view.nextEnabled);
  EXPECT_FALSE(dialogs.busy);
}

TEST_F(CreateDbTest, answer_yes_removes_read_only_database_and_its_log) {
  WriteBytes(dir.path() / "Sales.db", "data");
  WriteBytes(dir.path() / "Sales.log", "log");
  fs::permissions(dir.path() / "Sales.db", fs::perms::owner_read);
  dialogs.answerYes = true;
  EXPECT_TRUE(Create().has_value());
  EXPECT_FALSE(Present("Sales.db"));
  EXPECT_FALSE(Present("Sales.log"));
  EXPECT_EQ(commands.started.size(), 1u);
}

TEST_F(CreateDbTest, answer_yes_without_a_log_file_still_deletes_the_database) {
  WriteBytes(dir.path() / "Sales.db", "data");
  dialogs.answerYes = true;
  EXPECT_TRUE(Create().has_value());
  EXPECT_FALSE(Present("Sales.db"));
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{target::kWaitMessage});
}

TEST_F(CreateDbTest, unwritable_work_folder_stops_with_a_message_instead_of_success) {
  s.WorkFolder = dir.windows() + "gone\\";
  EXPECT_FALSE(Create().has_value());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("could not be written"), std::string::npos);
  EXPECT_TRUE(commands.started.empty());
  EXPECT_FALSE(view.nextEnabled);
  EXPECT_FALSE(dialogs.busy);
}

TEST_F(CreateDbTest, a_command_file_that_cannot_start_is_reported_and_next_stays_disabled) {
  commands.failStart = true;
  EXPECT_FALSE(Create().has_value());
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_NE(dialogs.messages[1].find("cmdshell is missing"), std::string::npos);
  EXPECT_FALSE(view.nextEnabled);
}

TEST(RunLocks, hold_both_files_until_other_files_are_chosen_and_refuse_a_second_run) {
  TempDir dir;
  MigrationSettings s;
  s.AccessDbPath = dir.windows() + "Sales.mdb";
  s.WorkFolder = dir.windows();
  s.TargetDbFileName = "Sales.db";
  const auto held = [&](const char* name) {
    try {
      platform::RunLock probe((dir.path() / name).string());
      return false;
    } catch (const platform::Error&) {
      return true;
    }
  };
  target::RunLocks first;
  ASSERT_EQ(first.Take(s), "");
  EXPECT_TRUE(held("Sales.mdb"));
  EXPECT_TRUE(held("Sales.db"));
  EXPECT_EQ(first.Take(s), "");  // the same files: kept

  // A second run (another wizard, norvane-migrate) on the same files is told why.
  target::RunLocks second;
  const std::string refusal = second.Take(s);
  EXPECT_NE(refusal.find("Another migration run is using '" + (dir.path() / "Sales.mdb").string()),
            std::string::npos)
      << refusal;

  // The first goes on with another file: the first file is free again, and only then.
  MigrationSettings other = s;
  other.AccessDbPath = dir.windows() + "Notes.mdb";
  other.TargetDbFileName = "Notes.db";
  ASSERT_EQ(first.Take(other), "");
  EXPECT_TRUE(held("Notes.mdb"));
  EXPECT_FALSE(held("Sales.mdb"));
  EXPECT_EQ(second.Take(s), "");
  EXPECT_NE(first.Take(s), "");     // now the second holds them
  EXPECT_FALSE(held("Notes.mdb"));  // a refused take holds nothing
}

namespace {

// The server as "Create DB" asks it: which databases exist, which were dropped, and a failure.
class FakeServer : public target::ServerDatabases {
 public:
  bool Exists(const MigrationSettings& s) override {
    if (unreachable) throw platform::Error(1, "connection refused");
    return std::find(databases.begin(), databases.end(), s.ServerDatabase) != databases.end();
  }
  void Drop(const MigrationSettings& s) override {
    if (!dropRefusal.empty()) throw platform::Error(1, dropRefusal);
    dropped.push_back(s.ServerDatabase);
    std::erase(databases, s.ServerDatabase);
  }
  std::vector<std::string> databases, dropped;
  bool unreachable = false;
  std::string dropRefusal;
};

class ServerCreateDbTest : public CreateDbTest {
 protected:
  void SetUp() override {
    CreateDbTest::SetUp();
    s.Target = TargetKind::PostgreSql;
    s.ServerHost = "db1";
    s.ServerPort = "5433";
    s.ServerDatabase = "Sales";
    s.ServerUser = "ann";
    s.QueryToolFileName.clear();
    s.QueryToolPath.clear();
  }
  std::optional<int> CreateOnServer(const target::LinkedTablesProbe& linked = {}) {
    return target::CreateDb(s, {engine::ProcedureLinesOf(s), engine::ReloadBatLines(s)}, dialogs,
                            commands, view, linked, &server);
  }
  FakeServer server;
};

}  // namespace

TEST_F(ServerCreateDbTest, writes_createdb_and_psql_lines_into_the_same_work_files) {
  ASSERT_TRUE(CreateOnServer().has_value());
  const std::string w = s.WorkFolder;
  EXPECT_EQ(ReadBytes(dir.path() / "migrate.bat"),
            "cd " + w +
                "\r\nZ:\r\ncreatedb -w -h db1 -p 5433 -U ann -E UTF8 -T template0 Sales\r\n" +
                "psql -X -w -h db1 -p 5433 -U ann -d Sales -v ON_ERROR_STOP=1 -q -f sp.sql\r\n");
  EXPECT_EQ(ReadBytes(dir.path() / "reload.bat"),
            "cd " + w + "\r\nZ:\r\ncopy " + w + "reload1.sql + " + w + "reload2.sql " + w +
                "reload.sql\r\npsql -X -w -h db1 -p 5433 -U ann -d Sales -v ON_ERROR_STOP=1 -q -f "
                "reload.sql\r\n");
  EXPECT_TRUE(Present("sp.sql"));
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(commands.started, std::vector<std::string>{w + "migrate.bat"});
  EXPECT_FALSE(Present("Sales.db"));
}

TEST_F(ServerCreateDbTest, an_existing_database_is_asked_about_then_dropped_or_kept) {
  server.databases = {"Sales"};
  dialogs.answerYes = false;
  EXPECT_FALSE(CreateOnServer().has_value());
  EXPECT_EQ(dialogs.questions,
            std::vector<std::string>{
                "The PostgreSQL database 'Sales' on server 'db1' port 5433 as user 'ann' already "
                "exists. Replacing it deletes every table in it. Replace it?"});
  EXPECT_TRUE(server.dropped.empty());
  EXPECT_TRUE(commands.started.empty());

  // Links into it: the second question; No keeps it.
  dialogs.questions.clear();
  dialogs.answerYes = true;
  dialogs.noAfter = 1;
  std::string probed;
  const auto linked = [&probed](const std::string&, const std::string& connection) {
    probed = connection;
    return std::vector<std::string>{"Customers", "Orders"};
  };
  EXPECT_FALSE(CreateOnServer(linked).has_value());
  ASSERT_EQ(dialogs.questions.size(), 2u);
  EXPECT_EQ(dialogs.questions[1], target::LinkedDatabaseQuestion({"Customers", "Orders"}));
  EXPECT_EQ(probed, target::PostgresConnectString(s));
  EXPECT_TRUE(server.dropped.empty());

  // Yes to both: dropped, then created anew.
  dialogs.noAfter = -1;
  ASSERT_TRUE(CreateOnServer(linked).has_value());
  EXPECT_EQ(server.dropped, std::vector<std::string>{"Sales"});
  EXPECT_EQ(commands.started.size(), 1u);
}

TEST_F(ServerCreateDbTest, a_server_that_cannot_be_asked_or_refuses_the_drop_stops_with_a_message) {
  server.unreachable = true;
  EXPECT_FALSE(CreateOnServer().has_value());
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_NE(dialogs.messages.back().find("cannot be checked.\n\nconnection refused"),
            std::string::npos);
  server.unreachable = false;
  server.databases = {"Sales"};
  dialogs.answerYes = true;
  server.dropRefusal = "database \"Sales\" is being accessed by other users";
  EXPECT_FALSE(CreateOnServer().has_value());
  EXPECT_NE(dialogs.messages.back().find("could not be removed.\n\ndatabase \"Sales\" is being"),
            std::string::npos);
  EXPECT_TRUE(commands.started.empty());
  // No server at all: nothing is started either.
  EXPECT_FALSE(target::CreateDb(s, {{}, {}}, dialogs, commands, view).has_value());
  EXPECT_TRUE(commands.started.empty());
}

TEST_F(ServerCreateDbTest, settings_that_a_command_line_cannot_hold_are_refused_first) {
  s.ServerDatabase = "Sa;les";
  EXPECT_FALSE(CreateOnServer().has_value());
  EXPECT_NE(dialogs.messages.back().find("The PostgreSQL database 'Sa;les' cannot be used"),
            std::string::npos);
  s.ServerDatabase = "My Sales";
  s.ServerHost.clear();
  s.ServerUser.clear();
  s.ServerPort.clear();
  ASSERT_TRUE(CreateOnServer().has_value());
  EXPECT_NE(
      ReadBytes(dir.path() / "migrate.bat")
          .find("createdb -w -E UTF8 -T template0 \"My Sales\"\r\npsql -X -w -d \"My Sales\" "),
      std::string::npos);
}

TEST(ServerTarget, names_uri_and_default_database) {
  MigrationSettings s;
  s.ServerHost = "/tmp/pg sock";
  s.ServerDatabase = "Aufträge";
  s.ServerUser = "ann@x";
  EXPECT_TRUE(target::IsServerTarget(target::PostgresConnectString(s)));
  EXPECT_FALSE(target::IsServerTarget("/tmp/Sales.db"));
  EXPECT_EQ(target::PostgresTargetName(s),
            "PostgreSQL database 'Aufträge' on server '/tmp/pg sock' as user 'ann@x'");
  EXPECT_EQ(target::DefaultServerDatabaseOf("Sales.mdb"), "Sales");
  EXPECT_EQ(target::DefaultServerDatabaseOf("modern-dev-V2010.accdb"), "modern-dev-V2010");
  EXPECT_EQ(target::DefaultServerDatabaseOf("Sales.backup.mdb"), "Sales.backup");
}
