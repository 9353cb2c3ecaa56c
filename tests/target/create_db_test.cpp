// "Create DB" on a real folder: the three work files, the question, the start of migrate.bat.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "fakes/fake_services.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/run_lock.h"
#include "support/temp_dir.h"
#include "target/create_db.h"
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
