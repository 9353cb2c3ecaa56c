// migrate.bat and reload.bat as the wizard writes them, run by cmdshell in folders whose names
// need the short aliases; cmdshell's own rules; the command starter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/names.h"
#include "engine/script_lines.h"
#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/shell/tool_output.h"
#include "platform/short_path.h"
#include "support/tool_process.h"
#include "target/create_db.h"

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

  explicit Installation(const std::string& toolName, const std::string& workName = "Sample Data",
                        const std::string& toolsName = "Norvane Tools") {
    work = root.path() / workName;
    tools = root.path() / toolsName / "win32";
    fs::create_directories(work);
    fs::create_directories(tools);
    for (const char* tool : {"vorlin.exe", "vorlinw.exe", "ivex.exe", "ivexw.exe"})
      fs::copy_file(kToolsDir / tool, tools / tool);
    settings.AccessDbPath = platform::paths::ToWindows(work / "Sales.mdb");
    settings.WorkFolder = platform::paths::ShortPathOf(settings.AccessDbPath);
    settings.TargetDbFileName = "Sales.db";
    settings.QueryToolPath =
        platform::paths::ShortPathOf(platform::paths::ToWindows(tools / "ivex.exe"));
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

std::vector<std::string> ErrorLines(const std::string& output) {
  std::vector<std::string> found;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t nl = output.find('\n', start);
    if (nl == std::string::npos) nl = output.size();
    const std::string line = output.substr(start, nl - start);
    if (platform::shell::IsToolErrorLine(line)) found.push_back(line);
    start = nl + 1;
  }
  return found;
}

// Runs migrate.bat, leaves two tables as the transfer would, writes the two scripts and runs
// reload.bat through the command starter: everything the two command files do must be in the
// database afterwards. Returns reload.bat's output.
std::string MigrateAndReload(Installation& inst) {
  inst.WriteWorkFiles();
  const Outcome migrate = RunProgram(kCmdshell, {inst.settings.WorkFolder + "migrate.bat"});
  EXPECT_EQ(migrate.status, 0) << migrate.output;
  EXPECT_THAT(migrate.output, HasSubstr(">vorlin.exe " + inst.settings.WorkFolder + "Sales.db"));
  EXPECT_THAT(migrate.output, HasSubstr("finished migrate.bat"));
  EXPECT_THAT(ErrorLines(migrate.output), ::testing::IsEmpty()) << migrate.output;
  EXPECT_TRUE(fs::exists(inst.work / "Sales.log"));
  if (!fs::exists(inst.Database())) {
    ADD_FAILURE() << "migrate.bat made no database file: " << migrate.output;
    return {};
  }
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

  std::string output;
  platform::shell::PosixCommandStarter starter(kCmdshell,
                                               [&](std::string_view chunk) { output += chunk; });
  const int task = starter.StartCommandFile(inst.settings.WorkFolder + "reload.bat");
  EXPECT_EQ(starter.Wait(task), 0) << output;
  EXPECT_FALSE(starter.IsRunning(task));
  EXPECT_THAT(output, HasSubstr("finished reload.bat"));
  EXPECT_THAT(ErrorLines(output), ::testing::IsEmpty()) << output;

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
  return output;
}

}  // namespace

TEST(CommandFiles, migrate_and_reload_create_load_and_finish_the_database) {
  Installation inst("ivex.exe");
  ASSERT_THAT(inst.settings.WorkFolder, HasSubstr("\\Sample~1\\"));
  ASSERT_THAT(inst.settings.QueryToolPath, HasSubstr("\\Norvan~1\\win32\\"));
  MigrateAndReload(inst);
}

// "My Data" gives the short name "My Dat~1": every path in the two command files holds a blank.
TEST(CommandFiles, run_with_short_folder_names_that_keep_a_blank) {
  Installation inst("ivex.exe", "My Data", "My Tools");
  ASSERT_THAT(inst.settings.WorkFolder, HasSubstr("\\My Dat~1\\"));
  ASSERT_THAT(inst.settings.QueryToolPath, HasSubstr("\\My Too~1\\win32\\"));
  const std::string w = inst.settings.WorkFolder;
  const std::string output = MigrateAndReload(inst);
  EXPECT_THAT(output, HasSubstr(">cd " + inst.settings.QueryToolPath + "\n"));
  EXPECT_THAT(output, HasSubstr(">copy " + w + "reload1.sql + " + w + "reload2.sql " + w +
                                "reload.sql\n        1 file(s) copied."));
  EXPECT_THAT(output, HasSubstr("\" read " + w + "reload.SQL\n"));
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
  EXPECT_THAT(o.output, HasSubstr("cmdshell: error: line 2 failed (D:): "));
  EXPECT_THAT(o.output, HasSubstr("line 3 failed (cd Z:\\no\\such\\folder): "));
  EXPECT_THAT(o.output, HasSubstr("line 6 failed (nosuchtool.exe x): "));
  EXPECT_EQ(ErrorLines(o.output).size(), 3u) << o.output;
  EXPECT_THAT(o.output, HasSubstr("'nosuchtool.exe' is not recognized"));
  EXPECT_THAT(o.output, HasSubstr("done\nfinished run.bat"));
  EXPECT_THAT(o.output, ::testing::Not(HasSubstr("echo done")));
  EXPECT_EQ(ReadBytes(dir.path() / "joined.txt"), "first\r\nsecond\r\n");

  // A failing tool's own status is the batch's status when it is the last failure.
  WriteBytes(dir.path() / "tool.bat", "nosuchtool\r\n" + (kToolsDir / "ivex.exe").string() +
                                          " -c \"uid=dba;pwd=x;dbf=none.db\" read x.sql\r\n");
  const Outcome tool = RunProgram(kCmdshell, {(dir.path() / "tool.bat").string()});
  EXPECT_EQ(tool.status, 2);
  EXPECT_THAT(tool.output, HasSubstr("ivex: error: refused: "));

  WriteBytes(dir.path() / "copy.bat", "copy a.txt + missing.txt out.txt\r\n");
  const Outcome copy = RunProgram(kCmdshell, {(dir.path() / "copy.bat").string()}, dir.path());
  EXPECT_EQ(copy.status, 1);
  EXPECT_FALSE(fs::exists(dir.path() / "out.txt"));
}

TEST(Cmdshell, copy_replaces_a_link_under_the_target_name_and_never_writes_through_it) {
  TempDir dir;
  fs::create_directories(dir.path() / "elsewhere");
  WriteBytes(dir.path() / "a.sql", "a\r\n");
  WriteBytes(dir.path() / "b.sql", "b\r\n");
  WriteBytes(dir.path() / "elsewhere" / "victim", "victim\n");
  WriteBytes(dir.path() / "copy.bat", "copy a.sql + b.sql reload.sql\r\n");
  for (const fs::path& target :
       {dir.path() / "elsewhere" / "victim", dir.path() / "elsewhere", dir.path() / "a.sql"}) {
    SCOPED_TRACE(target.string());
    fs::remove(dir.path() / "reload.sql");
    fs::create_symlink(target, dir.path() / "reload.sql");
    const Outcome o = RunProgram(kCmdshell, {(dir.path() / "copy.bat").string()}, dir.path());
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_FALSE(fs::is_symlink(dir.path() / "reload.sql"));
    EXPECT_EQ(ReadBytes(dir.path() / "reload.sql"), "a\r\nb\r\n");
    EXPECT_EQ(ReadBytes(dir.path() / "elsewhere" / "victim"), "victim\n");
    EXPECT_EQ(ReadBytes(dir.path() / "a.sql"), "a\r\n");
    EXPECT_FALSE(fs::exists(dir.path() / "elsewhere" / "a.sql"));
  }
  // Onto one of its own sources, a plain file: refused as before.
  WriteBytes(dir.path() / "self.bat", "copy a.sql + b.sql a.sql\r\n");
  const Outcome self = RunProgram(kCmdshell, {(dir.path() / "self.bat").string()}, dir.path());
  EXPECT_EQ(self.status, 1);
  EXPECT_THAT(self.output, HasSubstr("cannot be copied onto itself"));
  EXPECT_EQ(ReadBytes(dir.path() / "a.sql"), "a\r\n");
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

TEST(PosixCommandStarter, a_sink_gets_all_output_and_the_failed_statements_as_error_lines) {
  TempDir dir;
  const fs::path db = NewDatabase(dir);
  WriteBytes(dir.path() / "script.sql",
             "create table t (a integer);\r\n"
             "insert into nosuch values (1);\r\n"
             "insert into t values (1);\r\n"
             "select a\r\n  from missing_table;\r\n"
             "select 'ivex: error: not one' from t;\r\n");
  WriteBytes(dir.path() / "run.bat",
             "cd " + platform::paths::ToWindows(kToolsDir) +
                 "\r\nivex.exe -c \"uid=dba;pwd=KWZ;dbf=" + platform::paths::ToWindows(db) +
                 "\" read " + dir.windows() + "script.sql\r\necho after\r\n");

  platform::shell::PosixCommandStarter plain(kCmdshell);
  std::string output;
  platform::shell::PosixCommandStarter capturing(kCmdshell,
                                                 [&](std::string_view chunk) { output += chunk; });
  const int task = capturing.StartCommandFile(dir.windows() + "run.bat");
  EXPECT_EQ(capturing.Wait(task), 1);
  EXPECT_EQ(capturing.Wait(task), 1);
  EXPECT_THAT(output, HasSubstr("line 3: insert into t values (1)\n"));
  EXPECT_THAT(output, HasSubstr("ivex: 2 of the script's statements failed\n"));
  EXPECT_THAT(output, HasSubstr("\n ivex: error: not one\n"));  // a value, not a failure
  EXPECT_THAT(output, HasSubstr("after\nfinished run.bat\n"));
  const auto errors = ErrorLines(output);
  ASSERT_EQ(errors.size(), 2u) << output;
  EXPECT_THAT(errors[0], ::testing::StartsWith("ivex: error: statement at line 2 (insert into "
                                               "nosuch values (1)): "));
  EXPECT_THAT(errors[0], HasSubstr("nosuch"));
  EXPECT_THAT(errors[1],
              ::testing::StartsWith("ivex: error: statement at line 4 (select a ...): "));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM t"), "1");

  // The same file without a sink ends with the same status.
  EXPECT_EQ(plain.Wait(plain.StartCommandFile(dir.windows() + "run.bat")), 1);
}

TEST(PosixCommandStarter, polling_forwards_output_without_blocking_and_wait_reads_to_the_end) {
  TempDir dir;
  // Far more than a pipe holds: the child can only end when its output is read.
  std::string bat = "@echo off\r\n";
  for (int i = 0; i < 3000; ++i)
    bat += "echo line " + std::to_string(i) + std::string(60, '.') + "\r\n";
  WriteBytes(dir.path() / "long.bat", bat);

  std::string polled;
  platform::shell::PosixCommandStarter starter(kCmdshell, [&](std::string_view c) { polled += c; });
  int task = starter.StartCommandFile(dir.windows() + "long.bat");
  while (starter.IsRunning(task)) ::usleep(1000);
  EXPECT_EQ(starter.Wait(task), 0);
  EXPECT_THAT(polled, ::testing::StartsWith("line 0....."));
  EXPECT_THAT(polled,
              ::testing::EndsWith("line 2999" + std::string(60, '.') + "\nfinished long.bat\n"));

  std::string waited;
  starter.SetOutputSink([&](std::string_view c) { waited += c; });
  task = starter.StartCommandFile(dir.windows() + "long.bat");
  EXPECT_EQ(starter.Wait(task), 0);
  EXPECT_EQ(waited, polled);
  EXPECT_FALSE(starter.IsRunning(task));
}

TEST(Tools, join_an_unquoted_path_that_arrives_split_at_its_blanks) {
  TempDir dir;
  fs::create_directories(dir.path() / "My Data");
  const std::string base = dir.windows() + "My";
  const Outcome vorlin = RunProgram(kToolsDir / "vorlin.exe", {base, "Data\\Sales.db"});
  EXPECT_EQ(vorlin.status, 0) << vorlin.output;
  const fs::path db = dir.path() / "My Data" / "Sales.db";
  EXPECT_TRUE(fs::exists(db));

  WriteBytes(dir.path() / "My Data" / "a b.sql", "create table t (a integer);\r\n");
  const Outcome ivex =
      RunProgram(kToolsDir / "ivex.exe", {"-c", "uid=dba;pwd=KWZ;dbf=" + base + " Data\\Sales.db",
                                          "-q", "read", base, "Data\\a", "b.sql"});
  EXPECT_EQ(ivex.status, 0) << ivex.output;
  EXPECT_EQ(Query(db, "SELECT count(*) FROM t"), "0");
}
