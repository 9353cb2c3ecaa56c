// The check before a run and the undo of a link-back, on real Access files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/preflight.h"
#include "engine/restore.h"
#include "engine/work_files.h"
#include "engine_support.h"
#include "options/settings.h"
#include "platform/paths.h"

#include <optional>

namespace fs = std::filesystem;
using engine::FindingKind;
using testing::ElementsAre;
using testing::HasSubstr;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::vector<const engine::Finding*> Of(const engine::PreflightResult& result, FindingKind kind) {
  std::vector<const engine::Finding*> found;
  for (const auto& f : result.findings)
    if (f.kind == kind) found.push_back(&f);
  return found;
}

engine::PreflightResult Check(const fs::path& file, bool link = false) {
  auto engine = platform::access::CreateEngine({});
  return engine::RunPreflight(*engine, {platform::paths::ToWindows(file), "", link, "Old_", ""});
}

}  // namespace

TEST(PreflightOnFiles, the_file_made_for_it_shows_each_finding_and_is_left_untouched) {
  TempDir dir("preflight");
  const fs::path file = engine_test::CopyFixture("preflight-dev.mdb", dir);
  const auto before = fs::last_write_time(file);
  const std::string bytes = ReadBytes(file);

  const auto result = Check(file, true);
  const auto collisions = Of(result, FindingKind::TargetNameCollision);
  ASSERT_EQ(collisions.size(), 1u) << result.Text();
  EXPECT_THAT(collisions[0]->text, HasSubstr("\"Order Notes\" and \"Order_Notes\""));
  const auto orphans = Of(result, FindingKind::OrphanRows);
  ASSERT_EQ(orphans.size(), 1u) << result.Text();
  EXPECT_THAT(orphans[0]->keys, ElementsAre("555", "556"));
  EXPECT_THAT(orphans[0]->text, HasSubstr("have no parent in \"Parents\""));
  const auto loose = Of(result, FindingKind::NoUniqueIndex);
  ASSERT_EQ(loose.size(), 1u) << result.Text();
  EXPECT_THAT(loose[0]->text, HasSubstr("\"Loose Rows\""));
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Confirm);
  EXPECT_EQ(result.accessPath, platform::paths::ToWindows(file));

  EXPECT_EQ(ReadBytes(file), bytes);
  EXPECT_EQ(fs::last_write_time(file), before);
  EXPECT_FALSE(fs::exists(dir.path() / "preflight-dev.ldb"));

  EXPECT_TRUE(Check(engine_test::Fixture("nwind.mdb")).findings.empty())
      << Check(engine_test::Fixture("nwind.mdb")).Text();
}

// Every Access file of the test data: keys taken as they come find what sorting every key finds,
// in memory and through the temporary file.
TEST(PreflightOnFiles, keys_as_they_come_find_what_sorted_keys_find_on_every_file) {
  std::size_t files = 0, withKeyFindings = 0;
  for (const auto& entry : fs::recursive_directory_iterator(NORVANE_TEST_DATA)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".mdb" && extension != ".accdb")) continue;
    ++files;
    auto engine = platform::access::CreateEngine({});
    const engine::PreflightRequest request{platform::paths::ToWindows(entry.path()), "", false,
                                           "Old_", ""};
    const auto streamed = engine::RunPreflight(*engine, request);
    EXPECT_EQ(engine::RunPreflight(*engine, request, engine::kPreflightKeyMemory, false).Text(),
              streamed.Text())
        << entry.path();
    EXPECT_EQ(engine::RunPreflight(*engine, request, 256, true).Text(), streamed.Text())
        << entry.path();
    EXPECT_EQ(engine::RunPreflight(*engine, request, 256, false).Text(), streamed.Text())
        << entry.path();
    for (const auto& finding : streamed.findings)
      if (finding.kind == FindingKind::OrphanRows || finding.kind == FindingKind::KeyDuplicates) {
        ++withKeyFindings;
        break;
      }
  }
  EXPECT_GE(files, 15u);
  EXPECT_GE(withKeyFindings, 1u);
}

TEST(PreflightOnFiles, a_text_file_or_a_missing_file_is_refused_at_once) {
  TempDir dir("preflight");
  WriteBytes(dir.path() / "notes.mdb", "These are my notes, not a database.\n");
  auto result = Check(dir.path() / "notes.mdb");
  ASSERT_EQ(result.findings.size(), 1u);
  EXPECT_EQ(result.findings[0].kind, FindingKind::NotAccessFile);
  EXPECT_THAT(result.findings[0].text, HasSubstr("Z:\\"));
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Stop);

  result = Check(dir.path() / "none.mdb");
  ASSERT_EQ(result.findings.size(), 1u);
  EXPECT_EQ(result.findings[0].kind, FindingKind::CannotOpen);
}

// The new database as restore sees it, set by each test.
class FakeInspector : public engine::TargetDatabaseInspector {
 public:
  bool IsNorvaneDatabase(const std::string& path) override {
    return ReadBytes(path).rfind("norvane", 0) == 0;
  }
  long ProgramHolding(const std::string&) override { return holder; }
  std::vector<engine::TableState> Tables(const std::string&) override { return tables; }
  std::vector<std::string> TablesLinkedTo(const std::string&, const std::string& db) override {
    return db == linkedTo ? std::vector<std::string>{"Customers"} : std::vector<std::string>{};
  }
  void Remove(const std::string& path) override { fs::remove(path); }

  long holder = 0;
  std::vector<engine::TableState> tables{{"Customers", 91, 7}, {"Orders", 830, 9}};
  std::string linkedTo;
};

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() {
    file = engine_test::CopyFixture("nwind.mdb", dir);
    original = ReadBytes(file);
    settings.AccessDbPath = platform::paths::ToWindows(file);
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "nwind.db";
    settings.LinkTablesFlag = 1;
    database = dir.path() / "nwind.db";
    WriteBytes(database, "norvane database");
    WriteBytes(dir.path() / "nwind.log", "log");
    inspector.linkedTo = database.string();
  }
  // What the end of a link-back does: the backup, the changed file complete, the record, then
  // the rename; `stopBeforeRename` leaves the state a kill there leaves.
  void LinkBack(bool stopBeforeRename = false) {
    recorder.emplace(settings);
    fs::copy_file(file, file.string() + ".bak");
    const fs::path changed = file.string() + ".linking";
    WriteBytes(changed, original + std::string(4096, '\0'));
    recorder->BeforeReplace()(file.string() + ".bak", changed.string());
    if (stopBeforeRename) return;
    fs::rename(changed, file);
    platform::FailureLog failures;
    recorder->AfterRun(failures);
    recorder->AfterMigration(inspector, failures);
    EXPECT_TRUE(failures.empty());
  }
  engine::RestoreOutcome Restore(bool discardChanges = false) {
    auto engine = platform::access::CreateEngine({});
    return engine::RestoreFromBackup(*engine, inspector, {settings.AccessDbPath, discardChanges});
  }
  bool NewRunRefused() { return !Of(Check(file, true), FindingKind::AlreadyLinked).empty(); }

  TempDir dir{"restore"};
  fs::path file, database;
  std::string original;
  MigrationSettings settings;
  FakeInspector inspector;
  std::optional<engine::LinkBackRecorder> recorder;
};

TEST_F(RestoreTest, restore_after_link_back_gives_back_the_original_bytes_and_removes_the_new_db) {
  LinkBack();
  ASSERT_TRUE(engine::HasLiveLinkBackRecord(file));
  EXPECT_TRUE(NewRunRefused());
  const auto outcome = Restore();
  EXPECT_TRUE(outcome.restored) << outcome.message;
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_FALSE(fs::exists(database));
  EXPECT_FALSE(fs::exists(dir.path() / "nwind.log"));
  EXPECT_FALSE(fs::exists(file.string() + ".bak"));
  EXPECT_FALSE(engine::HasLinkBackRecord(file));
  EXPECT_THAT(outcome.message, HasSubstr("Restored " + settings.AccessDbPath));
  EXPECT_FALSE(NewRunRefused());

  const auto again = Restore();  // nothing left to undo
  EXPECT_FALSE(again.restored);
  EXPECT_THAT(again.message, HasSubstr("no record of a link-back"));
}

TEST_F(RestoreTest, restore_leaves_no_file_of_the_run_beside_the_access_file) {
  // A database named as an earlier version named an .accdb's (vorlin's log: "aclog"), and the
  // log of the command files norvane-migrate keeps.
  fs::remove(database);
  fs::remove(dir.path() / "nwind.log");
  settings.TargetDbFileName = "nwind.acdb";
  database = dir.path() / "nwind.acdb";
  WriteBytes(database, "norvane database");
  WriteBytes(dir.path() / "nwind.aclog", "log");
  WriteBytes(engine::CommandLogPath(file.string()), "finished reload.bat\r\n");
  inspector.linkedTo = database.string();
  LinkBack();
  const auto outcome = Restore();
  EXPECT_TRUE(outcome.restored) << outcome.message;
  EXPECT_THAT(outcome.message, HasSubstr("nwind.aclog."));
  EXPECT_THAT(outcome.message, HasSubstr("nwind.mdb.norvane-migrate.log."));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"nwind.mdb"});
  EXPECT_EQ(ReadBytes(file), original);
}

TEST_F(RestoreTest, restore_is_refused_when_the_file_changed_or_the_backup_does_not_match) {
  LinkBack();
  const std::string linked = ReadBytes(file);
  WriteBytes(file, linked + "x");
  auto outcome = Restore();
  EXPECT_FALSE(outcome.restored);
  EXPECT_THAT(outcome.message, HasSubstr("was changed after the link-back"));
  EXPECT_EQ(ReadBytes(file), linked + "x");
  EXPECT_TRUE(fs::exists(database));

  WriteBytes(file, linked);
  WriteBytes(file.string() + ".bak", original.substr(0, 4096));
  outcome = Restore();
  EXPECT_FALSE(outcome.restored);
  EXPECT_THAT(outcome.message, HasSubstr("does not match the one made at the link-back"));
  EXPECT_EQ(ReadBytes(file), linked);

  fs::remove(file.string() + ".bak");
  EXPECT_THAT(Restore().message, HasSubstr("is missing"));
  EXPECT_TRUE(fs::exists(database));
}

TEST_F(RestoreTest, an_edited_record_never_removes_a_file_the_migration_did_not_make) {
  LinkBack();
  const fs::path record = engine::LinkBackRecordPath(file);
  const std::string text = ReadBytes(record);
  const auto edited = [&](const std::string& from, const std::string& to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    WriteBytes(record, changed);
  };
  // The target line names the Access file itself, then another file of the user's.
  edited("target=" + database.string(), "target=" + file.string());
  EXPECT_THAT(Restore().message, HasSubstr("damaged or was changed by hand"));
  const fs::path letter = dir.path() / "letter.txt";
  WriteBytes(letter, "Dear Ann");
  edited("target=" + database.string(), "target=" + letter.string());
  inspector.linkedTo = letter.string();
  EXPECT_THAT(Restore().message, HasSubstr("is not a Norvane database"));
  EXPECT_EQ(ReadBytes(letter), "Dear Ann");
  // A Norvane database, but not the one the links point at.
  const fs::path other = dir.path() / "other.db";
  WriteBytes(other, "norvane other");
  edited("target=" + database.string(), "target=" + other.string());
  inspector.linkedTo = database.string();
  EXPECT_THAT(Restore().message, HasSubstr("no table of"));
  // A backup name that leaves the folder.
  edited("backup=nwind.mdb.bak", "backup=../nwind.mdb.bak");
  EXPECT_THAT(Restore().message, HasSubstr("damaged or was changed by hand"));
  for (const fs::path& kept : {file, letter, other, database}) EXPECT_TRUE(fs::exists(kept));
  EXPECT_NE(ReadBytes(file), original);
}

TEST_F(RestoreTest, a_database_changed_since_the_migration_or_in_use_needs_consent_or_waits) {
  LinkBack();
  inspector.tables[1].rows = 831;  // a row added through the links
  auto outcome = Restore();
  EXPECT_FALSE(outcome.restored);
  EXPECT_TRUE(outcome.needsConsent);
  EXPECT_THAT(outcome.changedTables, ElementsAre("Orders"));
  EXPECT_TRUE(fs::exists(database));
  EXPECT_NE(ReadBytes(file), original);

  inspector.holder = 4242;
  outcome = Restore(true);
  EXPECT_FALSE(outcome.restored);
  EXPECT_THAT(outcome.message, HasSubstr("in use by another program (process 4242)"));
  EXPECT_TRUE(fs::exists(database));

  inspector.holder = 0;
  outcome = Restore(true);
  EXPECT_TRUE(outcome.restored) << outcome.message;
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_FALSE(fs::exists(database));
}

TEST_F(RestoreTest, a_write_that_fails_half_way_says_why_and_leaves_the_linked_file) {
  LinkBack();
  const std::string linked = ReadBytes(file);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A disk that fills after 64 KiB of the copy.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string message = Restore().message;
    (void)!write(pipeFds[1], message.data(), message.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    message.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  EXPECT_THAT(message, HasSubstr("could not be put in place"));
  EXPECT_THAT(message, HasSubstr("File too large"));
  EXPECT_THAT(message, testing::Not(HasSubstr("Success")));
  EXPECT_EQ(ReadBytes(file), linked);
  EXPECT_TRUE(fs::exists(database));
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".nwind.mdb."), std::string::npos)
        << "left behind: " << entry.path();
  EXPECT_TRUE(Restore().restored);
}

TEST_F(RestoreTest, a_run_that_never_replaced_the_file_leaves_no_record) {
  WriteBytes(file.string() + ".bak", "an old backup of the user's own");
  engine::LinkBackRecorder idle(settings);
  platform::FailureLog failures;
  idle.AfterRun(failures);
  EXPECT_FALSE(engine::HasLinkBackRecord(file));
  // The record was written, but the rename did not happen (a full disk, a replaced file).
  fs::remove(file.string() + ".bak");
  LinkBack(true);
  ASSERT_TRUE(engine::HasLinkBackRecord(file));
  recorder->AfterRun(failures);
  EXPECT_FALSE(engine::HasLinkBackRecord(file));
  EXPECT_TRUE(failures.empty());
}

// Kills at every step of the end of a link-back and of restore: after each, restore and a new run
// both find a state they handle, and the file ends as the original.
TEST_F(RestoreTest, a_kill_at_any_step_leaves_a_state_that_restore_or_a_new_run_handles) {
  // Killed between the record and the rename: the file is unchanged, a new run goes ahead and
  // restore removes what the run left.
  LinkBack(true);
  EXPECT_FALSE(engine::HasLiveLinkBackRecord(file));
  EXPECT_FALSE(NewRunRefused());
  auto outcome = Restore();  // the database was never noted: it may hold anything
  EXPECT_TRUE(outcome.needsConsent) << outcome.message;
  outcome = Restore(true);
  EXPECT_TRUE(outcome.restored) << outcome.message;
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_FALSE(fs::exists(database));
  fs::remove(file.string() + ".linking");

  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE("killed before restore step " + std::to_string(step));
    WriteBytes(database, "norvane database");
    fs::remove(file.string() + ".bak");
    WriteBytes(file, original);
    LinkBack();
    static int killAt;
    killAt = step;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      engine::SetRestoreStepObserver([](int s) {
        if (s == killAt) _exit(9);
      });
      Restore();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    EXPECT_TRUE(engine::HasLinkBackRecord(file));
    // A new run is refused only while the file is still the linked one, and then says why.
    EXPECT_EQ(NewRunRefused(), step == 1);
    outcome = Restore();
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_EQ(ReadBytes(file), original);
    EXPECT_FALSE(fs::exists(database));
    EXPECT_FALSE(fs::exists(file.string() + ".bak"));
    EXPECT_FALSE(engine::HasLinkBackRecord(file));
  }
}
