// The migration flow driven from the event loop, as the wizard's pages drive it: the same steps
// as a blocking drive, the window events served while a command file runs.
#include "wizard/flow_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include "fakes/fake_dao.h"
#include "fakes/flow_fakes.h"
#include "options/settings.h"
#include "support/temp_dir.h"

namespace {

using engine::FlowPlan;

class FlowDriverTest : public testing::Test {
 protected:
  FlowDriverTest() {
    settings.AccessDbPath = dir.windows() + "Sales.mdb";
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "Sales.db";
    settings.TablePrefix = "Old_";
  }
  // A first run's Access file and target.
  std::shared_ptr<fakes::FakeEngine> NewEngine() {
    auto engine = std::make_shared<fakes::FakeEngine>(&chooser);
    engine->AddAccessFile(settings.AccessDbPath)
        .AddTable("Customers", {"ID"}, {{"PrimaryKey", "+ID", true, true}}, 3);
    engine->AddDataSource("DSN=Northwind", "DSN=Northwind;DBF=Z:\\data\\Sales.db");
    return engine;
  }
  engine::FlowServices Services(std::shared_ptr<fakes::FakeEngine> engine) {
    return {.commands = commands,
            .runEngine = [engine] { return engine; },
            .accessEngine = [engine] { return engine; },
            .verifier = [this] { return &verifier; },
            .rowsBreaking = [](const std::string&, const std::string&,
                               const std::string&) { return std::string(); },
            .targetConnection = [] { return std::string("DSN=Northwind"); }};
  }

  testing_support::TempDir dir;
  fakes::ScriptedChooser chooser{std::string("DSN=Northwind")};
  MigrationSettings settings;
  fakes::ScriptedCommands commands;
  fakes::NotingVerifier verifier;
  target::RunLocks locks;
};

TEST_F(FlowDriverTest, the_event_loop_takes_the_steps_a_blocking_drive_takes_and_stays_live) {
  fakes::RecordingFrontEnd blocking;
  {
    engine::MigrationFlow flow(settings, Services(NewEngine()), locks,
                               engine::WorkFiles::RemovedAtClose);
    ASSERT_TRUE(flow.RunToEnd(FlowPlan::MigrateOnly, blocking));
  }

  commands.polls = 5;
  fakes::RecordingFrontEnd driven;
  engine::MigrationFlow flow(settings, Services(NewEngine()), locks,
                             engine::WorkFiles::RemovedAtClose);
  bool ending = false;
  wizard::FlowDriver driver(flow, [&ending] { return ending; });
  ASSERT_TRUE(driver.Start(FlowPlan::MigrateOnly, driven));
  // Start returns at the first wait: reload.bat still runs, the rest comes from the loop.
  EXPECT_TRUE(flow.Active());
  EXPECT_EQ(driven.steps.back(), "wait reload");
  EXPECT_FALSE(driver.Start(FlowPlan::CheckOnly, driven));
  int ticks = 0;
  QTimer other;
  QObject::connect(&other, &QTimer::timeout, [&ticks] { ++ticks; });
  other.start(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !flow.Active(); }, 10000));
  EXPECT_GT(ticks, 0);  // other events were served while the flow waited
  EXPECT_EQ(driven.steps, blocking.steps);
  EXPECT_THAT(driven.ended, testing::ElementsAre(true));
  EXPECT_EQ(commands.waits, 2);  // once per reload.bat, after it had ended: never blocking
}

TEST_F(FlowDriverTest, a_program_that_ends_leaves_the_flow_where_it_is) {
  commands.polls = 1000;
  fakes::RecordingFrontEnd driven;
  engine::MigrationFlow flow(settings, Services(NewEngine()), locks,
                             engine::WorkFiles::RemovedAtClose);
  bool ending = false;
  wizard::FlowDriver driver(flow, [&ending] { return ending; });
  ASSERT_TRUE(driver.Start(FlowPlan::MigrateOnly, driven));
  ending = true;
  QTest::qWait(400);
  EXPECT_EQ(driven.steps.back(), "wait reload");
  EXPECT_TRUE(driven.reports.empty());
  EXPECT_TRUE(flow.Active());
}

}  // namespace
