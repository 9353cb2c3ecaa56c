// norvane-migrate among planted files: links under the names it writes never lead it into
// another file, and --report-json never takes a file of the migration or one that is not ours.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/paths.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

// Every name the run writes in the Access file's folder (the database with --overwrite).
const char* const kWrittenNames[] = {
    "reload1.sql",  "reload2.sql",    "reload.sql",     "reload.bat", "migrate.bat",
    "sp.sql",       "properties.sql", "properties.bat", "nwind.log",  "nwind.db-journal",
    "nwind.db-wal", "nwind.db-shm",   "nwind.mdb.bak",  "nwind.db"};

class PlantedFiles : public ::testing::Test {
 protected:
  PlantedFiles() {
    fs::create_directories(folder);
    fs::create_directories(elsewhere);
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / "nwind.mdb", access);
  }
  tools_test::Outcome Migrate(std::vector<std::string> args) {
    return tools_test::RunProgram(NORVANE_MIGRATE, args, dir.path());
  }
  fs::path Victim(const std::string& name) const { return elsewhere / ("victim of " + name); }
  // Name, size and bytes of every entry of the folder.
  std::map<std::string, std::string> Listing(const fs::path& where) const {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::directory_iterator(where))
      entries[e.path().filename().string()] = e.is_symlink()
                                                  ? "-> " + fs::read_symlink(e.path()).string()
                                              : e.is_directory() ? "folder"
                                                                 : ReadBytes(e.path());
    return entries;
  }

  TempDir dir{"norvane-planted"};
  fs::path folder = dir.path() / "My Data";
  fs::path elsewhere = dir.path() / "Elsewhere";
  fs::path access = folder / "nwind.mdb";
};

}  // namespace

TEST_F(PlantedFiles, links_under_every_name_the_run_writes_leave_their_targets_untouched) {
  for (const bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard links" : "symbolic links");
    std::error_code ec;
    for (const char* name : kWrittenNames) {
      fs::remove(folder / name, ec);
      WriteBytes(Victim(name), std::string("victim bytes of ") + name + "\r\n");
      if (hard)
        fs::create_hard_link(Victim(name), folder / name);
      else
        fs::create_symlink(Victim(name), folder / name);
    }
    // A link to nothing: following it would create the file it names.
    fs::remove(folder / "reload.sql");
    if (!hard) fs::create_symlink(elsewhere / "made through a link", folder / "reload.sql");
    const auto before = Listing(elsewhere);

    std::vector<std::string> args = {"--access", access.string(), "--link", "--overwrite"};
    if (!hard) args.insert(args.end(), {"--report-json", (dir.path() / "fresh.json").string()});
    const auto run = Migrate(args);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Listing(elsewhere), before) << run.output;
    for (const char* name : kWrittenNames) {
      // The run replaced or removed every name that shared the victim's file; a backup beside
      // one that is there goes under the next free name.
      struct stat st {};
      ASSERT_EQ(::stat(Victim(name).c_str(), &st), 0) << name;
      if (hard && std::string(name) != "nwind.mdb.bak") {
        EXPECT_EQ(st.st_nlink, 1u) << name;
      }
    }
    EXPECT_TRUE(fs::exists(folder / "nwind.db"));
    if (!hard) {
      EXPECT_TRUE(ReadBytes(dir.path() / "fresh.json").starts_with("{\"report\":")) << run.output;
      // Restore the Access file for the second round.
      ASSERT_EQ(Migrate({"--restore", access.string()}).status, 0);
    }
  }
}

TEST_F(PlantedFiles, report_json_refuses_every_file_of_the_migration_and_files_not_its_own) {
  ASSERT_EQ(Migrate({"--access", access.string(), "--link"}).status, 0);
  ASSERT_TRUE(fs::exists(access.string() + ".bak"));
  ASSERT_TRUE(fs::exists(access.string() + ".norvane-undo"));
  WriteBytes(dir.path() / "notes.txt", "my own notes\n");
  fs::create_hard_link(access, dir.path() / "hard.json");
  WriteBytes(dir.path() / "ours.json",
             "{\"report\":\"norvane-migrate\",\"files\":[],\"status\":0}\n");
  fs::create_symlink(dir.path() / "ours.json", dir.path() / "link.json");
  fs::create_directory(dir.path() / "folder.json");

  const std::string windowsFolder = platform::paths::ToWindows(folder) + "\\";
  const std::vector<std::string> protectedPaths = {
      access.string(),
      windowsFolder + "NWIND.MDB",  // Windows form, other letter case
      (folder / "." / "nwind.mdb").string(),
      access.string() + ".bak",
      access.string() + ".bak2",
      access.string() + ".norvane-undo",
      (folder / "nwind.db").string(),
      windowsFolder + "nwind.db-journal",
      (folder / "nwind.db-wal").string(),
      (folder / "nwind.log").string(),
      (folder / "nwind.ldb").string(),
      (folder / "reload1.sql").string(),
      (folder / "Reload2.sql").string(),
      (folder / "reload.sql").string(),
      (folder / "reload.bat").string(),
      (folder / "migrate.bat").string(),
      (folder / "sp.sql").string(),
      (folder / "properties.sql").string(),
      (folder / "properties.bat").string(),
      (dir.path() / "notes.txt").string(),
      (dir.path() / "hard.json").string(),
      (dir.path() / "link.json").string(),
      (dir.path() / "folder.json").string(),
      (dir.path() / "no such folder" / "r.json").string(),
  };
  const auto inFolder = Listing(folder);
  const auto inDir = Listing(dir.path());
  for (const std::string& path : protectedPaths) {
    // --dry-run writes work files: the refusal comes before them.
    const auto run = Migrate({"--access", access.string(), "--dry-run", "--report-json", path});
    EXPECT_EQ(run.status, 2) << path << "\n" << run.output;
    EXPECT_NE(run.output.find("The JSON report cannot be written to " + path + ": "),
              std::string::npos)
        << run.output;
    EXPECT_EQ(Listing(folder), inFolder) << path;
    EXPECT_EQ(Listing(dir.path()), inDir) << path;
  }
  // An Access file given through a link: its backups lie beside the file itself.
  fs::create_symlink(access, elsewhere / "linked.mdb");
  auto linked = Migrate({"--access", (elsewhere / "linked.mdb").string(), "--dry-run",
                         "--report-json", access.string() + ".bak3"});
  EXPECT_EQ(linked.status, 2) << linked.output;
  EXPECT_FALSE(fs::exists(access.string() + ".bak3"));

  // The database named by --connect is guarded as well.
  const auto run = Migrate({"--access", access.string(), "--check", "--connect",
                            "ODBC;Driver=Norvane;Database=" + (elsewhere / "other.db").string(),
                            "--report-json", (elsewhere / "other.db-journal").string()});
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_FALSE(fs::exists(elsewhere / "other.db-journal"));
}

TEST_F(PlantedFiles, an_earlier_report_is_replaced_whole_and_a_new_name_is_created) {
  const fs::path report = dir.path() / "report.json";
  auto run = Migrate({"--access", access.string(), "--check", "--report-json", report.string()});
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string first = ReadBytes(report);
  ASSERT_TRUE(first.starts_with("{\"report\":\"norvane-migrate\",\"files\":[")) << first;

  // One of an earlier version, before the first key was there.
  WriteBytes(report,
             "{\"files\":[{\"file\":\"Z:\\\\old.mdb\",\"status\":1,\"ok\":false}],"
             "\"status\":1}\n");
  run = Migrate({"--access", access.string(), "--check", "--report-json", report.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadBytes(report), first);

  // A report cut short is not taken for one.
  WriteBytes(report, first.substr(0, first.size() / 2));
  run = Migrate({"--access", access.string(), "--check", "--report-json", report.string()});
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_EQ(ReadBytes(report), first.substr(0, first.size() / 2));

  // Nothing but the report is left beside it.
  fs::remove(report);
  run = Migrate({"--access", access.string(), "--check", "--report-json", report.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Elsewhere", "My Data", "report.json"}));
}
