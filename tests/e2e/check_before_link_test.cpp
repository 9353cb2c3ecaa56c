// The check before a run finds what a link-back would fail on late, with real files and the real
// program: `--check --link` stops on it, and a run with --link stops before "Create DB" with
// nothing created.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/temp_dir.h"
#include "support/tool_process.h"
#include "target/create_db.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

bool Has(const tools_test::Outcome& run, const std::string& text) {
  return run.output.find(text) != std::string::npos;
}

class CheckBeforeLink : public ::testing::Test {
 protected:
  fs::path Copy(const std::string& data, const fs::path& folder, const std::string& name = "") {
    fs::create_directories(dir.path() / folder);
    const fs::path access = dir.path() / folder / (name.empty() ? data : name);
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / data, access);
    return access;
  }
  tools_test::Outcome Migrate(std::vector<std::string> args) {
    return tools_test::RunProgram(NORVANE_MIGRATE, args, dir.path());
  }
  static fs::path DatabaseOf(const fs::path& access) {
    return fs::path(access).replace_extension(".db");
  }

  // `--check --link` stops on `finding`; the run with --link stops at the check: nothing made,
  // the Access file as it was.
  void ExpectStopped(const std::string& what, const fs::path& access, const std::string& finding,
                     const std::string& prefix = "Old_") {
    SCOPED_TRACE(what);
    const std::string before = ReadBytes(access);
    auto run = Migrate({"--access", access.string(), "--check", "--link", "--prefix", prefix});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run, "- Stop: ")) << run.output;
    EXPECT_TRUE(Has(run, finding)) << run.output;

    run = Migrate({"--access", access.string(), "--link", "--prefix", prefix});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run, finding)) << run.output;
    EXPECT_TRUE(Has(run, "Nothing was changed.")) << run.output;
    EXPECT_FALSE(Has(run, "Creating database")) << run.output;
    EXPECT_FALSE(fs::exists(DatabaseOf(access)));
    EXPECT_FALSE(fs::exists(access.parent_path() / "migrate.bat"));
    EXPECT_FALSE(fs::exists(access.string() + ".bak"));
    EXPECT_EQ(ReadBytes(access), before);
  }

  TempDir dir{"norvane-check"};
};

// A file or folder this process cannot write: no write permission, and for root, which write
// permissions do not stop, the file system's immutable flag as well. Undone at the end.
class Unwritable {
 public:
  explicit Unwritable(const fs::path& path) : path_(path), perms_(fs::status(path).permissions()) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    made_ = geteuid() != 0 || Immutable(true);
  }
  ~Unwritable() {
    if (geteuid() == 0) Immutable(false);
    fs::permissions(path_, perms_);
  }
  bool made() const { return made_; }

 private:
  bool Immutable(bool on) {
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
  }
  fs::path path_;
  fs::perms perms_;
  bool made_ = false;
};

}  // namespace

TEST_F(CheckBeforeLink, a_journal_a_folder_name_and_prefixes_the_access_file_cannot_take) {
  // A journal beside the file: named once, and no backup that is not there.
  const fs::path journaled = Copy("testV1997.mdb", "Journal");
  WriteBytes(journaled.string() + "-journal", "planted");
  ExpectStopped("journal", journaled, "testV1997.mdb-journal' lies beside the Access file");
  auto run = Migrate({"--access", journaled.string(), "--check", "--link"});
  EXPECT_FALSE(Has(run, ".bak")) << run.output;
  // The journal matters to the link-back alone.
  run = Migrate({"--access", journaled.string(), "--check"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "nothing found")) << run.output;
  EXPECT_EQ(ReadBytes(journaled.string() + "-journal"), "planted");

  // A Jet 3 file keeps its links' connect strings in code page 1252.
  ExpectStopped("Łódź", Copy("testV1997.mdb", "Łódź"),
                "the Access file cannot hold its connect string: The character U+0141");
  run = Migrate({"--access", Copy("testV2000.mdb", "Łódź").string(), "--check", "--link"});
  EXPECT_EQ(run.status, 0) << run.output;  // Jet 4 holds it

  const fs::path jet3 = Copy("testV1997.mdb", "Prefixes");
  const std::string renamed = "4 tables cannot be renamed with the prefix ";
  for (const std::string prefix : {"Old[", "Old]", "a\nb"})
    ExpectStopped(prefix, jet3,
                  renamed + "\"" + prefix +
                      "\" for their links: It isn't a valid "
                      "name: it holds a character names may not hold.",
                  prefix);
  ExpectStopped("70 characters", jet3, "it is longer than 64 characters", std::string(70, 'x'));
  // An .accdb file the same: before its database (Shop.db) is made.
  ExpectStopped("accdb", Copy("modern-dev-V2010.accdb", "Prefixes", "Shop.accdb"),
                "5 tables cannot be renamed with the prefix \"Old[\"", "Old[");
  ExpectStopped("Ł", jet3, "The character U+0141 cannot be stored in a Jet 3 catalog name", "Ł");
  // Without --link the prefix is not used.
  run = Migrate({"--access", jet3.string(), "--check", "--prefix", "Old["});
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(CheckBeforeLink, a_semicolon_or_a_path_longer_than_the_database_takes) {
  ExpectStopped("; in a folder", Copy("testV2000.mdb", "a;b"), "holds the character ;");
  ExpectStopped("; in a name", Copy("testV2000.mdb", "Plain", "x;y.mdb"), "holds the character ;");

  // The longest path the new database can have migrates; one byte more is stopped.
  const fs::path deep = fs::path(std::string(200, 'g')) / std::string(200, 'h');
  const std::size_t room = target::kLongestDatabasePath - (dir.path() / deep).string().size() - 1;
  const fs::path longest = Copy("testV2000.mdb", deep, std::string(room - 3, 'm') + ".mdb");
  ASSERT_EQ(DatabaseOf(longest).string().size(), target::kLongestDatabasePath);
  const fs::path tooLong = Copy("testV2000.mdb", deep, std::string(room - 2, 'm') + ".mdb");
  ExpectStopped("too long", tooLong, "bytes long, and the database takes at most 496");
  auto run = Migrate({"--access", longest.string(), "--link"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::exists(DatabaseOf(longest)));
}

TEST_F(CheckBeforeLink, a_read_only_file_or_folder) {
  const fs::path file = Copy("testV2000.mdb", "File");
  {
    const Unwritable readOnly(file);
    if (!readOnly.made()) GTEST_SKIP() << "this file system cannot make a file read-only for root";
    ExpectStopped("file", file, "testV2000.mdb cannot be written (");
  }
  const fs::path inFolder = Copy("testV2000.mdb", "Folder");
  const Unwritable readOnly(inFolder.parent_path());
  ExpectStopped("folder", inFolder, "Folder cannot be written (");
  // The folder matters to every run, not to the link-back alone.
  const auto run = Migrate({"--access", inFolder.string(), "--check"});
  EXPECT_EQ(run.status, 1) << run.output;
}
