// The order of a whole migration on the in-memory engine: which steps the flow takes, in which
// order, for a clean run, a failing reload.bat, a finding that stops the run, a cancelled
// confirmation and a restore; driven blocking and from a polling loop, with the same steps.
#include "engine/migration_flow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/work_files.h"
#include "fakes/fake_dao.h"
#include "fakes/flow_fakes.h"
#include "options/settings.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using engine::FlowNext;
using engine::FlowPlan;
using engine::FlowStep;
using testing::ElementsAre;
using testing::HasSubstr;
using Steps = std::vector<std::string>;

constexpr const char* kCompleted = "DSN=Northwind;UID=dba;PWD=KWZ;DBF=Z:\\data\\Sales.db";

class Flow : public testing::Test {
 protected:
  Flow() {
    settings.AccessDbPath = dir.windows() + "Sales.mdb";
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "Sales.db";
    settings.TablePrefix = "Old_";
    settings.QueryToolPath = dir.windows();
    settings.QueryToolFileName = "ivex.exe";
    NewEngine();
  }
  // A fresh Access file and target, as before a first run.
  void NewEngine() {
    engine = std::make_shared<fakes::FakeEngine>(&chooser);
    file = &engine->AddAccessFile(settings.AccessDbPath);
    file->AddTable("Customers", {"ID", "Name"}, {{"PrimaryKey", "+ID", true, true}}, 3);
    engine->AddDataSource("DSN=Northwind", kCompleted);
  }

  engine::FlowServices Services() {
    return {.commands = commands,
            .runEngine = [this] { return engine; },
            .accessEngine = [this] { return engine; },
            .verifier = [this] { return &verifier; },
            .rowsBreaking = [](const std::string&, const std::string&,
                               const std::string&) { return std::string(); },
            .toolErrors = [](int) { return std::vector<std::string>(); },
            .targetConnection = [] { return std::string("DSN=Northwind"); }};
  }

  // The plan driven as norvane-migrate drives it.
  bool Blocking(FlowPlan plan) {
    engine::MigrationFlow flow(settings, Services(), locks, engine::WorkFiles::RemovedAtEnd);
    return flow.RunToEnd(plan, frontEnd);
  }
  // The plan driven as the wizard drives it: Advance again after each wait, never blocking;
  // what each wait was is noted in `waits`.
  bool Polled(FlowPlan plan) {
    engine::MigrationFlow flow(settings, Services(), locks, engine::WorkFiles::RemovedAtEnd);
    EXPECT_TRUE(flow.Start(plan, frontEnd));
    for (int turn = 0; turn < 1000; ++turn) {
      const FlowNext next = flow.Advance();
      if (next == FlowNext::Done) return flow.Succeeded();
      if (next == FlowNext::Soon) waits.push_back("soon");
      if (next == FlowNext::Later) waits.push_back("later");
    }
    ADD_FAILURE() << "the flow did not end";
    return false;
  }

  testing_support::TempDir dir;
  fakes::ScriptedChooser chooser{std::string("DSN=Northwind")};
  std::shared_ptr<fakes::FakeEngine> engine;
  fakes::AccessFile* file = nullptr;
  MigrationSettings settings;
  fakes::ScriptedCommands commands;
  fakes::NotingVerifier verifier;
  target::RunLocks locks;
  fakes::RecordingFrontEnd frontEnd;
  Steps waits;
};

const Steps kWholeMigration = {
    "check",           "locks",  "create db",        "wait create", "note access",
    "read properties", "run",    "wait reload",      "properties",  "wait properties",
    "check after",     "report", "remove work files"};

TEST_F(Flow, a_clean_migration_takes_every_step_in_order_driven_either_way) {
  ASSERT_TRUE(Blocking(FlowPlan::CreateAndMigrate)) << testing::PrintToString(frontEnd.told);
  const Steps blocking = frontEnd.steps;
  EXPECT_EQ(blocking, kWholeMigration);
  EXPECT_THAT(commands.started, ElementsAre("migrate.bat", "reload.bat"));
  // Blocking, the Access side is read ahead while reload.bat runs, then the wait blocks.
  EXPECT_EQ(verifier.calls,
            (Steps{"before", "ahead DSN=Northwind", "read", "read", "verify DSN=Northwind"}));
  EXPECT_GE(commands.waits, 2);
  ASSERT_EQ(frontEnd.reports.size(), 1u);
  EXPECT_TRUE(frontEnd.reports[0].Ok());
  EXPECT_THAT(frontEnd.ended, ElementsAre(true));

  frontEnd = {};
  verifier.calls.clear();
  NewEngine();
  ASSERT_TRUE(Polled(FlowPlan::CreateAndMigrate));
  EXPECT_EQ(frontEnd.steps, blocking);
  // Polled, the reads ahead come one per turn and the waits are turns of the loop.
  EXPECT_EQ(verifier.calls,
            (Steps{"before", "ahead DSN=Northwind", "read", "read", "verify DSN=Northwind"}));
  EXPECT_THAT(waits, testing::Contains("soon"));
  EXPECT_THAT(waits, testing::Contains("later"));
}

TEST_F(Flow, a_failing_reload_bat_is_reported_and_the_steps_after_it_still_run) {
  commands.exitStatus["reload.bat"] = 3;
  EXPECT_FALSE(Blocking(FlowPlan::CreateAndMigrate));
  EXPECT_EQ(frontEnd.steps, kWholeMigration);
  ASSERT_EQ(frontEnd.reports.size(), 1u);
  EXPECT_THAT(frontEnd.reports[0].toolErrors, ElementsAre("reload.bat ended with exit status 3"));
  const Steps blocking = frontEnd.steps;

  frontEnd = {};
  NewEngine();
  EXPECT_FALSE(Polled(FlowPlan::CreateAndMigrate));
  EXPECT_EQ(frontEnd.steps, blocking);
}

TEST_F(Flow, a_failing_migrate_bat_ends_before_the_run_and_says_why) {
  commands.exitStatus["migrate.bat"] = 1;
  EXPECT_FALSE(Blocking(FlowPlan::CreateAndMigrate));
  EXPECT_EQ(frontEnd.steps, (Steps{"check", "locks", "create db", "wait create"}));
  EXPECT_THAT(frontEnd.told, testing::Contains(HasSubstr("migrate.bat failed (exit status 1)")));
  EXPECT_THAT(commands.started, ElementsAre("migrate.bat"));
  EXPECT_TRUE(frontEnd.reports.empty());
}

TEST_F(Flow, a_finding_that_stops_the_run_ends_the_flow_at_the_check_whatever_the_answer) {
  settings.LinkTablesFlag = 1;
  file->AddTable("Orders", {"ID"}, {{"PrimaryKey", "+ID", true, true}}).connect =
      "ODBC;Driver=Norvane;Database=" + (dir.path() / "Sales.db").string();
  for (const FlowPlan plan : {FlowPlan::CreateAndMigrate, FlowPlan::MigrateOnly}) {
    frontEnd = {};
    EXPECT_FALSE(Blocking(plan));
    EXPECT_THAT(frontEnd.steps, ElementsAre("check"));
    EXPECT_THAT(frontEnd.gates, ElementsAre(engine::Gate::Stop));
    EXPECT_THAT(frontEnd.found, HasSubstr("already migrated and linked"));
    EXPECT_THAT(frontEnd.ended, ElementsAre(false));
  }
  EXPECT_TRUE(commands.started.empty());
  EXPECT_TRUE(verifier.calls.empty());
}

TEST_F(Flow, a_connection_that_reaches_no_norvane_database_stops_every_plan_at_the_check) {
  std::vector<std::string> asked;
  engine::FlowServices services = Services();
  services.plannedConnection = [] { return std::string("DSN=Nowhere"); };
  services.connectionRefusal = [&](const std::string& connection, const std::string& created) {
    asked = {connection, created};
    return std::string("The ODBC data source \"Nowhere\" does not exist.");
  };
  engine::MigrationFlow flow(settings, services, locks, engine::WorkFiles::RemovedAtEnd);
  EXPECT_FALSE(flow.CheckStopped());  // no check yet
  for (const FlowPlan plan : {FlowPlan::CreateAndMigrate, FlowPlan::DryRun, FlowPlan::CheckOnly}) {
    frontEnd = {};
    EXPECT_FALSE(flow.RunToEnd(plan, frontEnd));
    EXPECT_THAT(frontEnd.steps, ElementsAre("check"));
    EXPECT_THAT(frontEnd.gates, ElementsAre(engine::Gate::Stop));
    EXPECT_THAT(frontEnd.found, HasSubstr("- Stop: The ODBC data source \"Nowhere\" does not"));
    EXPECT_TRUE(flow.CheckStopped());
    ASSERT_TRUE(flow.LastCheck());
    EXPECT_EQ(flow.LastCheck()->findings.at(0).kind, engine::FindingKind::UnusableTarget);
  }
  // Asked with the database "Create DB" makes, which the connection may name before it exists.
  EXPECT_EQ(asked, (Steps{"DSN=Nowhere", (dir.path() / "Sales.db").string()}));
  EXPECT_TRUE(commands.started.empty());
  EXPECT_FALSE(fs::exists(dir.path() / "migrate.bat"));

  // A connection it accepts, or none planned, leaves the check to the Access file.
  services.connectionRefusal = [](const std::string&, const std::string&) { return ""; };
  engine::MigrationFlow accepted(settings, services, locks, engine::WorkFiles::RemovedAtEnd);
  frontEnd = {};
  EXPECT_TRUE(accepted.RunToEnd(FlowPlan::CheckOnly, frontEnd));
  EXPECT_FALSE(accepted.CheckStopped());
  services.plannedConnection = {};
  services.connectionRefusal = [](const std::string&, const std::string&) -> std::string {
    ADD_FAILURE() << "asked without a planned connection";
    return "";
  };
  engine::MigrationFlow unplanned(settings, services, locks, engine::WorkFiles::RemovedAtEnd);
  EXPECT_TRUE(unplanned.RunToEnd(FlowPlan::CheckOnly, frontEnd));
}

TEST_F(Flow, a_run_that_cannot_open_the_access_file_removes_the_database_it_created) {
  file->sharedOpens = 1;  // another program has it open: the check reads it, the run cannot
  const fs::path db = dir.path() / "Sales.db";
  commands.onStart = [&](const std::string& name) {
    if (name == "migrate.bat") testing_support::WriteBytes(db, "made by vorlin");
  };
  EXPECT_FALSE(Blocking(FlowPlan::CreateAndMigrate));
  EXPECT_THAT(frontEnd.steps, testing::Contains("run"));
  EXPECT_THAT(commands.started, ElementsAre("migrate.bat"));
  EXPECT_FALSE(fs::exists(db));
  for (const char* name : engine::kWorkFileNames) EXPECT_FALSE(fs::exists(dir.path() / name));

  // A database it did not create (the wizard's "Migrate") stays.
  testing_support::WriteBytes(db, "made by an earlier Create DB");
  frontEnd = {};
  EXPECT_FALSE(Blocking(FlowPlan::MigrateOnly));
  EXPECT_TRUE(fs::exists(db));
}

TEST_F(Flow, a_confirmation_the_user_cancels_runs_nothing_and_one_accepted_runs_everything) {
  file->AddTable("Loose", {"ID"}, {});
  frontEnd.accept = false;
  EXPECT_FALSE(Blocking(FlowPlan::MigrateOnly));
  EXPECT_THAT(frontEnd.steps, ElementsAre("check"));
  EXPECT_THAT(frontEnd.gates, ElementsAre(engine::Gate::Confirm));
  EXPECT_TRUE(commands.started.empty());

  frontEnd = {};
  EXPECT_TRUE(Polled(FlowPlan::MigrateOnly));
  EXPECT_EQ(frontEnd.steps,
            (Steps{"check", "note access", "read properties", "run", "wait reload", "properties",
                   "wait properties", "check after", "report", "remove work files"}));
  EXPECT_THAT(commands.started, ElementsAre("reload.bat"));
}

TEST_F(Flow, the_check_alone_and_the_dry_run_stop_where_their_plans_end) {
  EXPECT_TRUE(Blocking(FlowPlan::CheckOnly));
  EXPECT_THAT(frontEnd.steps, ElementsAre("check"));

  frontEnd = {};
  EXPECT_TRUE(Blocking(FlowPlan::DryRun));
  EXPECT_THAT(frontEnd.steps, ElementsAre("check", "locks", "dry run"));
  EXPECT_THAT(frontEnd.told, testing::Contains(HasSubstr("Dry run: the work files are in")));
  EXPECT_TRUE(commands.started.empty());
}

TEST_F(Flow, a_plan_under_way_refuses_a_second_start) {
  engine::MigrationFlow flow(settings, Services(), locks, engine::WorkFiles::Kept);
  ASSERT_TRUE(flow.Start(FlowPlan::MigrateOnly, frontEnd));
  fakes::RecordingFrontEnd other;
  EXPECT_FALSE(flow.Start(FlowPlan::CheckOnly, other));
  while (flow.Advance() != FlowNext::Done) {
  }
  EXPECT_TRUE(other.steps.empty());
  EXPECT_TRUE(flow.Start(FlowPlan::CheckOnly, other));
}

TEST_F(Flow, restore_without_a_record_or_an_inspector_restores_nothing_and_says_why) {
  engine::MigrationFlow flow(settings, Services(), locks, engine::WorkFiles::Kept);
  const engine::RestoreOutcome outcome = flow.Restore(frontEnd, false);
  EXPECT_FALSE(outcome.restored);
  EXPECT_EQ(outcome.message, "Nothing was restored: the new database cannot be checked.");
  EXPECT_THAT(frontEnd.steps, ElementsAre("restore"));
  EXPECT_FALSE(flow.CanRestore());
}

}  // namespace
