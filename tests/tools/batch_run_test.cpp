// migrate.bat and reload.bat as the wizard writes them, run by cmdshell in folders whose names
// need the short aliases; cmdshell's own rules; the command starter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/names.h"
#include "engine/script_lines.h"
#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/shell/posix_command_starter.h"
#include "target/create_db.h"
#include "target/short_path.h"
#include "tool_process.h"
#include "wizard/settings.h"

using namespace tools_test;
using ::testing::HasSubstr;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

namespace {

// An Access file's folder and a tool folder, both with blanks, and the settings the pages make.
struct Installation {
  TempDir root;
  fs::path work, tools;
  MigrationSettings settings;

  explicit Installation(const std::string& toolName) {
    work = root.path() / "Sample Data";
    tools = root.path() / "Norvane Tools" / "win32";
    fs::create_directories(work);
    fs::create_directories(tools);
    for (const char* tool : {"vorlin.exe", "vorlinw.exe", "ivex.exe", "ivexw.exe"})
      fs::copy_file(kToolsDir / tool, tools / tool);
    settings.AccessDbPath = platform::paths::ToWindows(work / "Sales.mdb");
    settings.WorkFolder = target::ShortPathOf(settings.AccessDbPath);
    settings.TargetDbFileName = "Sales.db";
    settings.QueryToolPath = target::ShortPathOf(platform::paths::ToWindows(tools / "ivex.exe"));
    settings.QueryToolFileName = toolName;
  }

  // Writes sp.sql, migrate.bat and reload.bat as "Create DB" does.
  void WriteWorkFiles() {
    engine::WriteTimeFixProcedure(settings);
    platform::files::WriteTextLines(settings.WorkFolder + "migrate.bat",
                                    target::MigrateBatLines(settings));
    platform::files::WriteTextLines(settings.WorkFolder + "reload.bat",
                                    engine::ReloadBatLines(settings));
  }

  fs::path Database() const { return work / "Sales.db"; }
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(CommandFiles, migrate_and_reload_create_load_and_finish_the_database) {
  Installation inst("ivex.exe");
  ASSERT_THAT(inst.settings.WorkFolder, HasSubstr("\\Sample~1\\"));
  ASSERT_THAT(inst.settings.QueryToolPath, HasSubstr("\\Norvan~1\\win32\\"));
  inst.WriteWorkFiles();

  const Outcome migrate = RunProgram(kCmdshell, {inst.settings.WorkFolder + "migrate.bat"});
  EXPECT_EQ(migrate.status, 0) << migrate.output;
  EXPECT_THAT(migrate.output, HasSubstr(">vorlin.exe " + inst.settings.WorkFolder + "Sales.db"));
  EXPECT_THAT(migrate.output, HasSubstr("finished migrate.bat"));
  ASSERT_TRUE(fs::exists(inst.Database()));
  EXPECT_TRUE(fs::exists(inst.work / "Sales.log"));
  EXPECT_EQ(Query(inst.Database(),
                  "SELECT count(*) FROM \"SYS.SYSPROCEDURE\" WHERE proc_name = "
                  "'sp_ts_time'"),
            "1");

  // What the transfer leaves behind: the tables with their rows, types from the ODBC driver.
  {
    norvane::Connection c(inst.Database().string(), false);
    c.Exec(
        "CREATE TABLE \"Customers\" (\"CustomerID\" varchar(5), \"CompanyName\" varchar(40));"
        "INSERT INTO \"Customers\" VALUES ('ALFKI', 'Alfreds'), ('ANATR', 'Ana Trujillo');"
        "CREATE TABLE \"Order_Details\" (\"OrderID\" integer, \"ProductID\" integer, "
        "\"CustomerID\" varchar(5), \"PickTime\" timestamp, \"Ordered\" timestamp);"
        "INSERT INTO \"Order_Details\" VALUES (1, 1, 'ALFKI', '1899-12-30 08:15:00', "
        "'1996-07-04 00:00:00'), (1, 2, 'ANATR', '1899-12-30 16:00:00', '1899-12-30 00:00:00');");
  }
  dao::Relation relation{"Customers", "Order Details", {{"CustomerID", "CustomerID"}}};
  const auto reload1 = Concat(
      Concat(engine::PrimaryKeyLines("+CustomerID", "Customers"),
             engine::PrimaryKeyLines("+OrderID;-ProductID", engine::TargetNameOf("Order Details"))),
      engine::ReloadTail());
  platform::files::WriteTextLines(inst.settings.WorkFolder + "reload1.sql", reload1);
  platform::files::WriteTextLines(inst.settings.WorkFolder + "reload2.sql",
                                  {engine::ForeignKeyLine(relation)});

  platform::shell::PosixCommandStarter starter(kCmdshell);
  const int task = starter.StartCommandFile(inst.settings.WorkFolder + "reload.bat");
  EXPECT_EQ(starter.Wait(task), 0);
  EXPECT_FALSE(starter.IsRunning(task));

  EXPECT_EQ(ReadBytes(inst.work / "reload.sql"),
            ReadBytes(inst.work / "reload1.sql") + ReadBytes(inst.work / "reload2.sql"));
  const fs::path db = inst.Database();
  EXPECT_EQ(Query(db, "SELECT group_concat(name) FROM pragma_table_info('Customers') WHERE pk"),
            "CustomerID");
  EXPECT_EQ(Query(db,
                  "SELECT group_concat(name) FROM (SELECT name FROM "
                  "pragma_table_info('Order_Details') WHERE pk ORDER BY pk)"),
            "OrderID,ProductID");
  EXPECT_EQ(Query(db,
                  "SELECT \"table\" || '.' || \"to\" FROM "
                  "pragma_foreign_key_list('Order_Details')"),
            "Customers.CustomerID");
  EXPECT_EQ(Query(db, "SELECT coltype FROM \"SYS.SYSCOLUMNS\" WHERE cname = 'PickTime'"), "time");
  EXPECT_EQ(Query(db, "SELECT group_concat(\"PickTime\") FROM \"Order_Details\""),
            "08:15:00,16:00:00");
  EXPECT_EQ(Query(db, "SELECT coltype FROM \"SYS.SYSCOLUMNS\" WHERE cname = 'Ordered'"),
            "timestamp");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"SYS.SYSPROCEDURE\""), "0");
}

TEST(CommandFiles, the_windowed_tool_pair_is_found_in_any_letter_case) {
  Installation inst("IVEXW.EXE");
  inst.WriteWorkFiles();
  const Outcome migrate = RunProgram(kCmdshell, {inst.settings.WorkFolder + "MIGRATE.BAT"});
  EXPECT_EQ(migrate.status, 0) << migrate.output;
  EXPECT_THAT(migrate.output, HasSubstr(">vorlinw.exe "));
  EXPECT_THAT(migrate.output, HasSubstr(">IVEXW.EXE -c "));
  EXPECT_EQ(Query(inst.Database(), "SELECT count(*) FROM \"SYS.SYSPROCEDURE\""), "1");

  // A second run finds the file in place: vorlin refuses, the batch says so and still finishes.
  const std::string before = ReadBytes(inst.Database());
  const Outcome again = RunProgram(kCmdshell, {inst.settings.WorkFolder + "migrate.bat"});
  EXPECT_NE(again.status, 0);
  EXPECT_THAT(again.output, HasSubstr("already exists"));
  EXPECT_THAT(again.output, HasSubstr("finished migrate.bat"));
  EXPECT_EQ(ReadBytes(inst.Database()), before);
}

TEST(Cmdshell, reports_lines_it_cannot_run_goes_on_and_exits_with_the_last_failure) {
  TempDir dir;
  WriteBytes(dir.path() / "a.txt", "first\r\n");
  WriteBytes(dir.path() / "b.txt", "second\r\n");
  WriteBytes(dir.path() / "run.bat",
             "cd " + dir.windows() +
                 "\r\nD:\r\ncd Z:\\no\\such\\folder\r\nrem a remark\r\n"
                 "copy A.TXT + b.txt joined.txt\r\nnosuchtool.exe x\r\n@echo done\r\n\r\n");
  const Outcome o = RunProgram(kCmdshell, {(dir.path() / "run.bat").string()});
  EXPECT_EQ(o.status, 127);
  EXPECT_THAT(o.output, HasSubstr("line 2 failed: D:"));
  EXPECT_THAT(o.output, HasSubstr("line 3 failed: cd Z:\\no\\such\\folder"));
  EXPECT_THAT(o.output, HasSubstr("line 6 failed: nosuchtool.exe x"));
  EXPECT_THAT(o.output, HasSubstr("'nosuchtool.exe' is not recognized"));
  EXPECT_THAT(o.output, HasSubstr("done\nfinished run.bat"));
  EXPECT_THAT(o.output, ::testing::Not(HasSubstr("echo done")));
  EXPECT_EQ(ReadBytes(dir.path() / "joined.txt"), "first\r\nsecond\r\n");

  // A failing tool's own status is the batch's status when it is the last failure.
  WriteBytes(dir.path() / "tool.bat", "nosuchtool\r\n" + (kToolsDir / "ivex.exe").string() +
                                          " -c \"uid=dba;pwd=x;dbf=none.db\" read x.sql\r\n");
  const Outcome tool = RunProgram(kCmdshell, {(dir.path() / "tool.bat").string()});
  EXPECT_EQ(tool.status, 2);
  EXPECT_THAT(tool.output, HasSubstr("ivex: refused"));

  WriteBytes(dir.path() / "copy.bat", "copy a.txt + missing.txt out.txt\r\n");
  const Outcome copy = RunProgram(kCmdshell, {(dir.path() / "copy.bat").string()}, dir.path());
  EXPECT_EQ(copy.status, 1);
  EXPECT_FALSE(fs::exists(dir.path() / "out.txt"));
}

TEST(PosixCommandStarter, reports_missing_files_and_unknown_tasks_as_errors) {
  TempDir dir;
  EXPECT_TRUE(fs::is_regular_file(platform::shell::PosixCommandStarter::DefaultCmdshellPath()));
  platform::shell::PosixCommandStarter starter(kCmdshell);
  try {
    starter.StartCommandFile(dir.windows() + "missing.bat");
    ADD_FAILURE() << "a missing command file was started";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), platform::err::kFileNotFound);
  }
  EXPECT_THROW(starter.IsRunning(42), platform::Error);
  EXPECT_THROW(starter.Wait(42), platform::Error);

  WriteBytes(dir.path() / "x.bat", "rem nothing\r\n");
  platform::shell::PosixCommandStarter noShell(dir.path() / "no-cmdshell");
  EXPECT_THROW(noShell.StartCommandFile(dir.windows() + "x.bat"), platform::Error);
  const int a = starter.StartCommandFile(dir.windows() + "X.BAT");
  const int b = starter.StartCommandFile(dir.windows() + "x.bat");
  EXPECT_NE(a, b);
  EXPECT_EQ(starter.Wait(b), 0);
  EXPECT_EQ(starter.Wait(a), 0);
  EXPECT_EQ(starter.Wait(a), 0);
}
