// The tables a migration takes, on every Access file at hand: the dry run's plan, the check
// before the run, the run itself and the check after it name the same tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine/dry_run.h"
#include "engine/migration_run.h"
#include "engine/names.h"
#include "engine/preflight.h"
#include "engine_support.h"
#include "fakes/recording_view.h"
#include "options/settings.h"
#include "platform/paths.h"
#include "platform/quoting.h"
#include "platform/verify/migration_check.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

// Every Access file of the test data, and those of the shared folder that differ from them.
std::vector<fs::path> AccessFiles() {
  std::vector<fs::path> files;
  const auto add = [&](const fs::path& folder) {
    if (!fs::is_directory(folder)) return;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".mdb" && ext != ".accdb") continue;
      const bool same = std::any_of(files.begin(), files.end(), [&](const fs::path& f) {
        return f.filename() == entry.path().filename() && ReadBytes(f) == ReadBytes(entry.path());
      });
      if (!same) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  };
  add(NORVANE_TEST_DATA);
  add("/work/shared/testdata");
  return files;
}

std::set<std::string> TargetNamesOf(const std::vector<std::string>& names) {
  std::set<std::string> targets;
  for (const auto& name : names) targets.insert(engine::TargetNameOf(name));
  return targets;
}

// "table Orders -> Orders" lines of the plan.
std::vector<std::string> PlannedTables(const engine::DryRunPlan& plan) {
  std::vector<std::string> names;
  for (const auto& line : plan.lines)
    if (line.starts_with("table ")) names.push_back(line.substr(6, line.rfind(" -> ") - 6));
  return names;
}

// The target names the run announced as "Transferring <name> table ...".
std::set<std::string> TransferredTables(const fakes::RecordingView& view) {
  std::set<std::string> names;
  const std::string head = "Transferring ", tail = " table ...";
  for (const auto& s : view.statuses)
    if (s.starts_with(head) && s.ends_with(tail))
      names.insert(s.substr(head.size(), s.size() - head.size() - tail.size()));
  return names;
}

// Tables not named "MSys..." that the file marks as system objects.
std::vector<std::string> FlaggedTables(const fs::path& file) {
  auto engine = platform::access::CreateEngine({});
  auto db = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                ->OpenDatabase(file.string(), {false, true}, "");
  std::vector<std::string> names;
  for (int i = 0; i < db->TableDefs().Count(); ++i) {
    const auto table = db->TableDefs().Item(i);
    if (!table->Name().starts_with("MSys") && (table->Attributes() & dao::kSystemObject) != 0)
      names.push_back(table->Name());
  }
  db->Close();
  return names;
}

TEST(SystemTables, dry_run_check_before_run_and_check_after_take_the_same_tables) {
  const std::vector<fs::path> files = AccessFiles();
  ASSERT_FALSE(files.empty());
  bool sawFlaggedTable = false;
  for (const fs::path& original : files) {
    SCOPED_TRACE(original.string());
    TempDir dir{"systables"};
    const fs::path file = dir.path() / original.filename();
    fs::copy_file(original, file);
    const std::string windowsPath = platform::paths::ToWindows(file);
    const auto db = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
    const std::string connect = "ODBC;" + engine_test::NorvaneSource(db);

    MigrationSettings settings;
    settings.AccessDbPath = windowsPath;
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "out.db";
    settings.TablePrefix = "Old_";

    // (a) the dry run's plan
    fs::create_directories(dir.path() / "dry");
    MigrationSettings drySettings = settings;
    drySettings.WorkFolder = platform::paths::ToWindows(dir.path() / "dry") + "\\";
    std::vector<std::string> planned;
    {
      auto engine = platform::access::CreateEngine({});
      planned = PlannedTables(engine::DryRun(*engine, drySettings, connect));
    }
    // (b) the check before the run
    std::vector<std::string> preflight;
    {
      auto engine = platform::access::CreateEngine({});
      preflight = engine::RunPreflight(*engine, {windowsPath, "", false, "Old_", connect}).tables;
    }
    // (d) the check after the run, as it notes the file before the run
    platform::verify::MigrationChecker checker;
    checker.BeforeRun(file.string(), std::chrono::seconds(60));
    const std::vector<std::string> checked = checker.TableNames();
    // (c) the run, through the real engine
    engine_test::ScriptedChooser chooser(engine_test::NorvaneSource(db));
    fakes::RecordingView view;
    fakes::RecordingStarter starter;
    engine::MigrationRun run{settings, view, starter, [&] {
                               return std::shared_ptr<dao::Engine>(platform::access::CreateEngine(
                                   {&chooser, nullptr, std::chrono::seconds(60)}));
                             }};
    ASSERT_EQ(run.lsfinish_migrate(), engine::RunOutcome::Finished);

    EXPECT_EQ(preflight, planned);
    EXPECT_EQ(checked, planned);
    EXPECT_EQ(TransferredTables(view), TargetNamesOf(planned));

    // A table the file flags as its own is in no list, nor in the dry run's key lines.
    const std::string reload1 = ReadBytes(dir.path() / "dry" / "reload1.sql");
    for (const std::string& name : FlaggedTables(file)) {
      sawFlaggedTable = true;
      EXPECT_EQ(std::count(planned.begin(), planned.end(), name), 0) << name;
      EXPECT_THAT(reload1, ::testing::Not(::testing::HasSubstr(platform::QuoteName(name)))) << name;
    }
  }
  EXPECT_TRUE(sawFlaggedTable);
}

}  // namespace
