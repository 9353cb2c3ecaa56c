// The check before a run and the undo of a link-back, on real Access files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/preflight.h"
#include "engine/restore.h"
#include "engine_support.h"
#include "platform/paths.h"
#include "wizard/settings.h"

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

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() {
    file = engine_test::CopyFixture("nwind.mdb", dir);
    original = ReadBytes(file);
    settings.AccessDbPath = platform::paths::ToWindows(file);
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "nwind.db";
    settings.LinkTablesFlag = 1;
    WriteBytes(dir.path() / "nwind.db", "new database");
    WriteBytes(dir.path() / "nwind.log", "log");
  }
  // What a run with link-back leaves: the backup, a changed file, and the record.
  void LinkBack() {
    engine::LinkBackRecorder recorder(settings);
    fs::copy_file(file, file.string() + ".bak");
    WriteBytes(file, original + std::string(4096, '\0'));
    platform::FailureLog failures;
    recorder.AfterRun(failures);
    EXPECT_TRUE(failures.empty());
  }
  engine::RestoreOutcome Restore() {
    auto engine = platform::access::CreateEngine({});
    return engine::RestoreFromBackup(*engine, settings.AccessDbPath);
  }

  TempDir dir{"restore"};
  fs::path file;
  std::string original;
  MigrationSettings settings;
};

TEST_F(RestoreTest, restore_after_link_back_gives_back_the_original_bytes_and_removes_the_new_db) {
  LinkBack();
  ASSERT_TRUE(engine::HasLinkBackRecord(file));
  const auto outcome = Restore();
  EXPECT_TRUE(outcome.restored) << outcome.message;
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_FALSE(fs::exists(dir.path() / "nwind.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "nwind.log"));
  EXPECT_FALSE(fs::exists(file.string() + ".bak"));
  EXPECT_FALSE(engine::HasLinkBackRecord(file));
  EXPECT_THAT(outcome.message, HasSubstr("Restored " + settings.AccessDbPath));

  const auto again = Restore();  // nothing left to undo
  EXPECT_FALSE(again.restored);
  EXPECT_THAT(again.message, HasSubstr("no record of a link-back"));
}

TEST_F(RestoreTest, restore_is_refused_when_the_file_changed_or_the_backup_does_not_match) {
  LinkBack();
  const std::string linked = ReadBytes(file);
  WriteBytes(file, linked + "x");
  auto outcome = Restore();
  EXPECT_FALSE(outcome.restored);
  EXPECT_THAT(outcome.message, HasSubstr("was changed after the link-back"));
  EXPECT_EQ(ReadBytes(file), linked + "x");
  EXPECT_TRUE(fs::exists(dir.path() / "nwind.db"));

  WriteBytes(file, linked);
  WriteBytes(file.string() + ".bak", original.substr(0, 4096));
  outcome = Restore();
  EXPECT_FALSE(outcome.restored);
  EXPECT_THAT(outcome.message, HasSubstr("does not match the one made at the link-back"));
  EXPECT_EQ(ReadBytes(file), linked);

  fs::remove(file.string() + ".bak");
  EXPECT_THAT(Restore().message, HasSubstr("is missing"));
}

TEST_F(RestoreTest, a_run_that_made_no_backup_leaves_no_record) {
  WriteBytes(file.string() + ".bak", "an old backup of the user's own");
  engine::LinkBackRecorder recorder(settings);
  platform::FailureLog failures;
  recorder.AfterRun(failures);
  EXPECT_FALSE(engine::HasLinkBackRecord(file));
  EXPECT_TRUE(failures.empty());
}
