// Work files on real folders: writing whole files with CR LF, sp.sql byte for byte, removal.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/error_number.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

class RecordingEnd : public platform::ProgramEnd {
 public:
  void EndProgram() override { ++calls; }
  int calls = 0;
};

int DeleteErrorNumber(const std::string& windowsPath) {
  return testing_support::ErrorNumberOf([&] { platform::files::DeleteFile(windowsPath); });
}

}  // namespace

TEST(WriteTextLines, ends_every_line_in_crlf_and_replaces_a_longer_file) {
  TempDir dir;
  WriteBytes(dir.path() / "out.bat", std::string(1000, 'x'));
  platform::files::WriteTextLines(dir.windows() + "out.bat", {"cd Z:\\", "", "Umsätze"});
  EXPECT_EQ(ReadBytes(dir.path() / "out.bat"), "cd Z:\\\r\n\r\nUmsätze\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WriteTextLines, fails_clearly_in_a_missing_folder) {
  TempDir dir;
  try {
    platform::files::WriteTextLines(dir.windows() + "nope\\out.bat", {"x"});
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), platform::err::kPathNotFound);
  }
}

TEST(DeleteFile, tells_a_missing_file_from_other_failures) {
  TempDir dir;
  fs::create_directories(dir.path() / "held.sql" / "inside");
  EXPECT_EQ(DeleteErrorNumber(dir.windows() + "none.sql"), platform::err::kFileNotFound);
  EXPECT_EQ(DeleteErrorNumber(dir.windows() + "held.sql"), platform::err::kPathFileAccess);
}

TEST(ClearAttributes, makes_a_read_only_file_writable) {
  TempDir dir;
  WriteBytes(dir.path() / "Sales.db", "x");
  fs::permissions(dir.path() / "Sales.db", fs::perms::owner_read);
  platform::files::ClearAttributes(dir.windows() + "SALES.DB");
  EXPECT_NE(fs::status(dir.path() / "Sales.db").permissions() & fs::perms::owner_write,
            fs::perms::none);
}

TEST(WorkFileWriters, replace_a_link_planted_under_the_name_and_never_write_through_it) {
  TempDir dir;
  fs::create_directories(dir.path() / "elsewhere");
  const fs::path victim = dir.path() / "elsewhere" / "victim.txt";
  const fs::path nowhere = dir.path() / "elsewhere" / "made through a link";
  WriteBytes(victim, "victim bytes\n");
  fs::permissions(victim, fs::perms::owner_read);
  const auto plant = [&](const char* name, int kind) {
    std::error_code ec;
    fs::remove(dir.path() / name, ec);
    if (kind == 0) fs::create_symlink(victim, dir.path() / name);
    if (kind == 1) fs::create_hard_link(victim, dir.path() / name);
    if (kind == 2) fs::create_symlink(nowhere, dir.path() / name);
  };
  for (int kind : {0, 1, 2}) {
    SCOPED_TRACE(kind == 0 ? "symbolic link" : kind == 1 ? "hard link" : "link to nothing");
    plant("reload1.sql", kind);
    platform::files::LineFileWriter writer;
    writer.Open(dir.windows() + "reload1.sql");
    writer.WriteLine("select 1;");
    writer.Close();
    EXPECT_EQ(ReadBytes(dir.path() / "reload1.sql"), "select 1;\r\n");
    EXPECT_FALSE(fs::is_symlink(dir.path() / "reload1.sql"));

    plant("reload.bat", kind);
    platform::files::WriteTextLines(dir.windows() + "reload.bat", {"rem"});
    EXPECT_EQ(ReadBytes(dir.path() / "reload.bat"), "rem\r\n");

    // A link counts as a file of its own: it is deleted, its target keeps its mode.
    plant("Sales.log", kind);
    EXPECT_TRUE(platform::files::FileExists(dir.windows() + "Sales.log"));
    platform::files::ClearAttributes(dir.windows() + "Sales.log");
    platform::files::DeleteFile(dir.windows() + "Sales.log");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "Sales.log")));

    EXPECT_EQ(ReadBytes(victim), "victim bytes\n");
    EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all, fs::perms::owner_read);
    EXPECT_EQ(fs::hard_link_count(victim), 1u);  // every name that shared it let go
    EXPECT_FALSE(fs::exists(nowhere));
  }
}

TEST(LineFileWriter, names_a_folder_standing_under_the_name) {
  TempDir dir;
  fs::create_directories(dir.path() / "reload2.sql" / "inside");
  platform::files::LineFileWriter writer;
  try {
    writer.Open(dir.windows() + "reload2.sql");
    FAIL() << "a folder was opened";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), platform::err::kPathFileAccess);
    EXPECT_NE(e.Description().find("reload2.sql"), std::string::npos) << e.Description();
  }
  EXPECT_TRUE(fs::exists(dir.path() / "reload2.sql" / "inside"));
}

TEST(WriteTimeFixProcedure, replaces_an_older_file_with_the_exact_procedure) {
  TempDir dir;
  WriteBytes(dir.path() / "SP.SQL", "old content that must go\r\n");
  MigrationSettings s;
  s.WorkFolder = dir.windows();
  engine::WriteTimeFixProcedure(s);

  EXPECT_FALSE(fs::exists(dir.path() / "SP.SQL"));
  const std::string bytes = ReadBytes(dir.path() / "sp.sql");
  EXPECT_EQ(bytes, ReadBytes(fs::path(NORVANE_TEST_DATA) / "golden" / "sp.sql"));
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 25);
  EXPECT_TRUE(bytes.ends_with("End; \r\n\r\n"));
  EXPECT_NE(bytes.find("||id ;\r\n"), std::string::npos);       // line 13: no trailing blank
  EXPECT_NE(bytes.find("end if;    \r\n"), std::string::npos);  // line 20: four blanks
}

class RemoveWorkFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.WorkFolder = dir.windows(); }
  void Create(std::initializer_list<const char*> names) {
    for (const char* n : names) WriteBytes(dir.path() / n, "x");
  }
  bool Present(const char* name) const { return fs::exists(dir.path() / name); }

  TempDir dir;
  MigrationSettings settings;
  RecordingEnd end;
  platform::FailureLog failures;
};

TEST_F(RemoveWorkFilesTest, all_present_deletes_all_six_and_ends_the_program) {
  Create({"reload1.sql", "reload2.sql", "reload.sql", "reload.bat", "migrate.bat", "sp.sql",
          "Sales.db"});
  engine::RemoveWorkFiles(settings, end, failures);
  for (const char* n : engine::kWorkFileNames) EXPECT_FALSE(Present(n)) << n;
  EXPECT_TRUE(Present("Sales.db"));
  EXPECT_EQ(end.calls, 1);
  EXPECT_TRUE(failures.empty());
}

TEST_F(RemoveWorkFilesTest, after_create_db_alone_removes_the_three_files_it_wrote) {
  // "Create DB" writes these; reload1.sql, reload2.sql and reload.sql come only with "Migrate".
  Create({"reload.bat", "migrate.bat", "sp.sql"});
  engine::RemoveWorkFiles(settings, end, failures);
  for (const char* n : engine::kWorkFileNames) EXPECT_FALSE(Present(n)) << n;
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(end.calls, 1);
}

TEST_F(RemoveWorkFilesTest, missing_files_anywhere_in_the_order_are_passed_over) {
  Create({"reload1.sql", "reload.bat", "sp.sql"});
  engine::RemoveWorkFiles(settings, end, failures);
  for (const char* n : engine::kWorkFileNames) EXPECT_FALSE(Present(n)) << n;
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(end.calls, 1);
}

TEST_F(RemoveWorkFilesTest, a_file_that_cannot_be_deleted_is_reported_and_skipped) {
  Create({"reload1.sql", "reload2.sql", "reload.bat", "migrate.bat", "sp.sql"});
  fs::create_directories(dir.path() / "reload.sql" / "held");
  engine::RemoveWorkFiles(settings, end, failures);
  EXPECT_TRUE(Present("reload.sql"));
  for (const char* n : {"reload1.sql", "reload2.sql", "reload.bat", "migrate.bat", "sp.sql"})
    EXPECT_FALSE(Present(n)) << n;
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].context.find("reload.sql"), std::string::npos);
  EXPECT_EQ(end.calls, 1);
}

TEST_F(RemoveWorkFilesTest, an_empty_work_folder_deletes_nothing_in_the_current_folder) {
  Create({"reload1.sql", "reload2.sql", "reload.sql", "reload.bat", "migrate.bat", "sp.sql"});
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  settings.WorkFolder.clear();
  engine::RemoveWorkFiles(settings, end, failures);
  fs::current_path(before);
  for (const char* n : engine::kWorkFileNames) EXPECT_TRUE(Present(n)) << n;
  EXPECT_EQ(end.calls, 0);
}
