// Wrong targets fail at connect with a message naming the file and what it is; a target another
// program holds locked fails after a bounded time instead of waiting for ever.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "engine_support.h"
#include "platform/access/linked_targets.h"
#include "platform/access/target_file.h"
#include "platform/dao/dao.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/paths.h"
#include "support/error_number.h"
#include "support/locking_process.h"

namespace {

using engine_test::CopyFixture;
using engine_test::NewNorvaneDatabase;
using engine_test::NorvaneSource;
using testing_support::ErrorNumberOf;
using testing_support::LockingProcess;
using testing_support::TempDir;

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Target {
  TempDir dir{"target-file"};
  std::shared_ptr<dao::Engine> engine =
      platform::access::CreateEngine({nullptr, nullptr, std::chrono::seconds(30)});
  // Opens the target as the run does; "" when it opened, else the refusal's description.
  std::string Refusal(const std::filesystem::path& db) {
    std::string description;
    const int number = ErrorNumberOf(
        [&] {
          engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet)
              ->OpenDatabase("", {false, false}, "ODBC;" + NorvaneSource(db));
        },
        &description);
    if (number != 0) {
      EXPECT_EQ(number, dao::err::kOdbcCallFailed) << description;
    }
    return description;
  }
};

TEST(TargetFile, what_is_no_norvane_database_is_refused_at_connect_naming_the_file_and_its_kind) {
  Target t;
  const auto d = t.dir.path();
  WriteFile(d / "notes.db", "Orders and customers, to be moved.\r\n");
  WriteFile(d / "archive.db", std::string("PK\x03\x04", 4) + std::string(60, '\0'));
  WriteFile(d / "empty.db", "");
  WriteFile(d / "binary.db", std::string("\x7f"
                                         "ELF\x02\x01\x01",
                                         7) +
                                 std::string(200, '\0'));
  std::filesystem::create_directory(d / "folder.db");
  CopyFixture("edge-jet4.mdb", t.dir, "other.db");
  {
    sqlite3* h = nullptr;
    sqlite3_open((d / "plain.db").c_str(), &h);
    sqlite3_exec(h, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(h);
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"notes.db", "is a text file"},
      {"archive.db", "is a ZIP archive"},
      {"empty.db", "is an empty file"},
      {"binary.db", "is a file of another kind"},
      {"folder.db", "is a folder"},
      {"other.db", "is an Access database"},
      {"plain.db", "is a SQLite database of another program"},
      {"missing.db", "is not there"},
  };
  for (const auto& [name, kind] : cases) {
    const auto path = d / name;
    const std::string before = std::filesystem::is_regular_file(path) ? ReadFile(path) : "";
    const std::string refusal = t.Refusal(path);
    EXPECT_NE(refusal.find(path.string()), std::string::npos) << name << ": " << refusal;
    EXPECT_NE(refusal.find(kind), std::string::npos) << name << ": " << refusal;
    EXPECT_NE(refusal.find("not a Norvane database"), std::string::npos) << refusal;
    if (std::filesystem::is_regular_file(path)) {
      EXPECT_EQ(ReadFile(path), before) << name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(d / "missing.db"));  // the driver did not create it
  // A fresh database as "Create DB" leaves it opens, also when named in Windows form.
  EXPECT_EQ(t.Refusal(NewNorvaneDatabase(d / "fresh.db")), "");
  EXPECT_EQ(platform::access::KindOfTargetFile((d / "fresh.db").string()),
            platform::access::TargetFileKind::kNorvane);
  EXPECT_NO_THROW(platform::access::CheckTargetFile("Driver=Norvane;Database=" +
                                                    platform::paths::ToWindows(d / "fresh.db")));
  // A string naming no file is left to the driver.
  EXPECT_NO_THROW(platform::access::CheckTargetFile("Driver=Norvane"));
}

TEST(TargetFile, a_database_another_program_holds_locked_fails_in_bounded_time) {
  TempDir dir("target-file");
  const auto db = NewNorvaneDatabase(dir.path() / "busy.db");
  LockingProcess holder(db);
  ASSERT_TRUE(holder.locked());
  // At connect: refused after the short wait, naming the process.
  std::string description;
  EXPECT_EQ(ErrorNumberOf(
                [&] {
                  platform::access::CheckTargetFile(NorvaneSource(db),
                                                    std::chrono::milliseconds(200));
                },
                &description),
            dao::err::kOdbcCallFailed);
  EXPECT_NE(description.find("process " + std::to_string(holder.pid())), std::string::npos)
      << description;
  // A connection (the driver reads the file's header at connect) ends after the statement's
  // time limit, not the login limit.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorNumberOf(
                [&] {
                  platform::odbc::Connection connection(
                      NorvaneSource(db), {.statement = std::chrono::milliseconds(300)});
                  connection.ExecDirect("SELECT count(*) FROM sqlite_master");
                },
                &description),
            dao::err::kOdbcCallFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(description.find("database is locked"), std::string::npos) << description;
  const std::string locked = db.string() + " is locked by another program (process " +
                             std::to_string(holder.pid()) + "); gave up after 300 ms";
  EXPECT_NE(description.find(locked), std::string::npos) << description;
  // Once a wait ran out, every later read of the held file fails at once, on any connection,
  // with what the first wait found.
  try {
    platform::odbc::Connection another(NorvaneSource(db),
                                       {.statement = std::chrono::milliseconds(60000)});
    another.TableNames();
    ADD_FAILURE() << "a held database was read";
  } catch (const platform::DatabaseLocked& e) {
    EXPECT_NE(e.Description().find(locked + " earlier in this run"), std::string::npos)
        << e.Description();
  }
}

TEST(TargetFile, a_database_free_again_opens_after_the_holder_ends) {
  TempDir dir("target-file");
  const auto db = NewNorvaneDatabase(dir.path() / "busy.db");
  {
    LockingProcess holder(db);
    ASSERT_TRUE(holder.locked());
    EXPECT_NE(platform::WriterHoldingLock(db.string()), 0);
  }
  EXPECT_EQ(platform::WriterHoldingLock(db.string()), 0);
  EXPECT_NO_THROW(platform::access::CheckTargetFile(NorvaneSource(db)));
  // A file given up on earlier is read again once nobody holds it.
  platform::NoteGaveUpWaiting(db.string(), std::chrono::seconds(60));
  EXPECT_EQ(platform::GaveUpEarlier(db.string()), "");
  EXPECT_NO_THROW(platform::odbc::Connection(NorvaneSource(db)).TableNames());
  // The connection's time limits stay out of the string links are written with, and a link
  // that carries a busy limit of its own ("Timeout=", as links written earlier may) connects.
  platform::odbc::Connection connection(NorvaneSource(db));
  EXPECT_EQ(connection.CompletedString().find("Timeout="), std::string::npos)
      << connection.CompletedString();
  platform::odbc::Connection withTimeout(NorvaneSource(db) + ";Timeout=2000");
  EXPECT_NO_THROW(withTimeout.TableNames());
}

// The file a connect string names is read as the driver reads it, also from the string the
// driver completes, where a path with a ";" is in braces.
TEST(TargetFile, the_file_a_connect_string_names_is_the_one_the_driver_opens) {
  using platform::access::DatabaseFileOf;
  EXPECT_EQ(DatabaseFileOf("ODBC;DRIVER=Norvane;DBF=/c.db;DBQ=/b.db"), "/b.db");
  EXPECT_EQ(DatabaseFileOf("Driver=Norvane;DBQ=/b.db;Database=/a.db"), "/a.db");
  EXPECT_EQ(DatabaseFileOf("Driver=Norvane"), "");
  TempDir dir("target-file");
  std::filesystem::create_directory(dir.path() / "a;b");
  const auto db = NewNorvaneDatabase(dir.path() / "a;b" / "x}.db");
  platform::odbc::Connection connection("Driver=Norvane;Database={" + dir.path().string() +
                                        "/a;b/x}}.db}");
  EXPECT_EQ(DatabaseFileOf(connection.CompletedString()), db.string())
      << connection.CompletedString();
  EXPECT_EQ(platform::access::TargetFilePath(connection.CompletedString()), db.string());
}

}  // namespace

// Before anything is made: a data source that is not there, a connection naming no file, or a
// file that is no Norvane database is refused, naming it; the database "Create DB" makes is not.
TEST(TargetFile, a_connection_is_judged_before_the_run_without_touching_what_it_names) {
  using platform::access::TargetConnectionRefusal;
  TempDir dir("target-file");
  const auto d = dir.path();
  const auto fresh = NewNorvaneDatabase(d / "fresh.db");
  WriteFile(d / "notes.db", "not a database\n");
  const std::string norvane = "Driver=Norvane;Database=";
  EXPECT_EQ(TargetConnectionRefusal(norvane + fresh.string(), ""), "");
  EXPECT_EQ(TargetConnectionRefusal(norvane + platform::paths::ToWindows(fresh), ""), "");
  EXPECT_EQ(TargetConnectionRefusal(norvane + (d / "new.db").string(), (d / "new.db").string()),
            "");
  EXPECT_EQ(TargetConnectionRefusal(norvane + (d / "new.db").string(), ""),
            "The database " + (d / "new.db").string() +
                " that the connection names does not exist; only the database beside the Access "
                "file is created.");
  EXPECT_EQ(TargetConnectionRefusal(norvane + (d / "notes.db").string(), ""),
            "The database " + (d / "notes.db").string() +
                " that the connection names is a text file, not a Norvane database.");
  EXPECT_EQ(ReadFile(d / "notes.db"), "not a database\n");
  EXPECT_FALSE(std::filesystem::exists(d / "new.db"));
  EXPECT_NE(TargetConnectionRefusal("Driver=Norvane", "").find("names no database file"),
            std::string::npos);

  // Data sources, from a user file of this test's own.
  const char* before = std::getenv("ODBCINI");
  const std::string saved = before ? before : "";
  WriteFile(d / "odbc.ini",
            "[Shop]\nDriver=Norvane\nDatabase=" + fresh.string() + "\n\n[Blank]\nDriver=Norvane\n");
  setenv("ODBCINI", (d / "odbc.ini").c_str(), 1);
  EXPECT_EQ(TargetConnectionRefusal("DSN=Shop", ""), "");
  EXPECT_EQ(TargetConnectionRefusal("DSN=NoSuchDSN", ""),
            "The ODBC data source \"NoSuchDSN\" does not exist: the driver manager knows no data "
            "source of that name (odbcinst -q -s lists them).");
  EXPECT_NE(TargetConnectionRefusal("DSN=Blank", "").find("\"Blank\" names no database file"),
            std::string::npos);
  if (before)
    setenv("ODBCINI", saved.c_str(), 1);
  else
    unsetenv("ODBCINI");
}
