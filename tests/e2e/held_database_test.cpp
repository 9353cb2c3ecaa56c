// A new database that another program (a real sqlite3 process) holds locked at each stage of a
// real run (in a folder without blanks, whose short form sqlite3 could not open): the run ends
// after the time limit with a message naming the step, the file and the holder, and exit status 1.
// Run through norvane-migrate with its waits shortened (1 s at the open, 2 s per statement); ivex
// keeps its own 5 s.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/locking_process.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

class HeldDatabase : public ::testing::Test {
 protected:
  fs::path Copy(const std::string& name) {
    fs::create_directories(dir.path() / "Data");
    const fs::path access = dir.path() / "Data" / name;
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / name, access);
    return access;
  }
  // A tool folder whose ivex.exe takes the lock on the database (a sqlite3 process, its pid in
  // holder.pid) at `stage`: "reload" before reload.bat's ivex, "properties" after it (before the
  // properties step asks the database), "check" after properties.bat's ivex.
  fs::path ToolsHoldingAt(const std::string& stage) {
    const fs::path tools = dir.path() / "Tools";
    fs::create_directories(tools);
    fs::create_symlink(tools_test::kToolsDir / "vorlin.exe", tools / "vorlin.exe");
    const std::string holder = (dir.path() / "holder").string();
    std::ofstream(tools / "ivex.exe")
        << "#!/bin/sh\n"
           "real='"
        << (tools_test::kToolsDir / "ivex.exe").string()
        << "'\n"
           "db=$(printf '%s' \"$2\" | sed 's/.*dbf=Z://' | tr '\\\\' '/')\n"
           "hold() {\n"
           // No output of the holder may keep the tool's pipe open: the run reads it to its end.
           "  (printf 'BEGIN EXCLUSIVE;\\nCREATE TABLE held(x);\\n.print held\\n'; exec sleep 30) "
           "\\\n"
           "    < /dev/null 2> /dev/null | sqlite3 \"$db\" > '"
        << holder
        << ".out' 2>&1 &\n"
           "  echo $! > '"
        << holder
        << ".pid'\n"
           "  n=0; while ! grep -q held '"
        << holder
        << ".out'; do\n"
           "    sleep 0.05; n=$((n+1)); [ $n -gt 600 ] && break; done\n"
           "}\n"
           "case \"$*\" in\n"
           "  *reload.SQL*) stage=reload ;;\n"
           "  *properties.sql*) stage=properties-bat ;;\n"
           "  *) exec \"$real\" \"$@\" ;;\n"
           "esac\n"
           "case "
        << stage
        << ":$stage in\n"
           "  reload:reload) hold; exec \"$real\" \"$@\" ;;\n"
           "  properties:reload | check:properties-bat) \"$real\" \"$@\"; s=$?; hold; exit $s ;;\n"
           "esac\n"
           "exec \"$real\" \"$@\"\n";
    fs::permissions(tools / "ivex.exe", fs::perms::owner_all);
    return tools / "ivex.exe";
  }
  long HolderPid() {
    const std::string text = ReadBytes(dir.path() / "holder.pid");
    return text.empty() ? 0 : std::stol(text);
  }
  void EndHolder() {
    if (const long pid = HolderPid()) ::kill(static_cast<pid_t>(pid), SIGTERM);
    fs::remove(dir.path() / "holder.pid");
  }
  tools_test::Outcome Migrate(std::vector<std::string> args) {
    return tools_test::RunProgram(NORVANE_MIGRATE_SHORT_LIMITS, args, dir.path());
  }
  static bool Has(const tools_test::Outcome& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
  }

  TempDir dir{"norvane-held"};
};

}  // namespace

TEST_F(HeldDatabase,
       a_database_held_during_the_run_ends_it_after_the_limit_naming_step_and_holder) {
  struct Stage {
    std::string name;
    std::string step;    // how the report names the step that gave up
    std::string waited;  // the limit it waited for
  };
  const Stage stages[] = {
      {"reload", "ivex: error: refused: the database ", "gave up after 5 s"},
      {"properties", "Checking the properties against the new database: ", "gave up after 2 s"},
      {"check", "The check could not be made: ", "gave up after 2 s"},
  };
  for (const Stage& stage : stages) {
    SCOPED_TRACE(stage.name);
    fs::remove_all(dir.path() / "Data");
    fs::remove_all(dir.path() / "Tools");
    const fs::path access = Copy("nwind.mdb");
    const fs::path ivex = ToolsHoldingAt(stage.name);
    const auto run = Migrate({"--access", access.string(), "--link", "--ivex", ivex.string()});
    const long pid = HolderPid();
    EndHolder();
    ASSERT_NE(pid, 0) << run.output;
    EXPECT_EQ(run.status, 1) << run.output;
    const std::string db = (dir.path() / "Data" / "nwind.db").string();
    const std::string locked =
        db + " is locked by another program (process " + std::to_string(pid) + "); ";
    const std::size_t at = run.output.find(stage.step);
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_NE(run.output.find(locked + stage.waited, at), std::string::npos) << run.output;
    EXPECT_TRUE(Has(run, "Migration finished with problems")) << run.output;
    EXPECT_FALSE(Has(run, "everything checked out")) << run.output;
    // The properties were not carried where their questions could not be asked.
    if (stage.name != "check") {
      EXPECT_FALSE(Has(run, "properties.bat")) << run.output;
    }
  }
}

TEST_F(HeldDatabase, a_database_held_before_the_run_is_refused_at_the_open_naming_the_holder) {
  const fs::path access = Copy("nwind.mdb");
  const std::string before = ReadBytes(access);
  const fs::path other = dir.path() / "Data" / "Other.db";
  tools_test::RunProgram(tools_test::kToolsDir / "vorlin.exe", {other.string()});
  testing_support::LockingProcess holder(other);
  ASSERT_TRUE(holder.locked());
  const auto run = Migrate({"--access", access.string(), "--link", "--connect",
                            "ODBC;Driver=Norvane;Database=" + other.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Has(run, "another program (process " + std::to_string(holder.pid()) +
                           ") holds the database locked"))
      << run.output;
  EXPECT_EQ(ReadBytes(access), before);  // nothing linked
}
