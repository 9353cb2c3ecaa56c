// What the pages say and ask of the flow's check, on the in-memory engine.
#include "wizard/safety_prompts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_dao.h"
#include "fakes/fake_services.h"
#include "fakes/recording_view.h"
#include "options/settings.h"

namespace {

using testing::HasSubstr;

constexpr const char* kFile = "Z:\\data\\Sales.mdb";

TEST(PagePrompts, migrate_asks_before_a_run_with_findings_and_stops_a_second_link_back) {
  fakes::FakeEngine engine;
  fakes::AccessFile& file = engine.AddAccessFile(kFile);
  MigrationSettings settings;
  settings.AccessDbPath = kFile;
  settings.WorkFolder = "Z:\\data\\";
  settings.TargetDbFileName = "Sales.db";
  settings.LinkTablesFlag = 1;
  settings.TablePrefix = "Old_";
  testing_support::FakeDialogs dialogs;
  fakes::RecordingStarter commands;
  target::RunLocks locks;
  const std::shared_ptr<dao::Engine> borrowed(&engine, [](dao::Engine*) {});
  engine::MigrationFlow flow(settings,
                             {.commands = commands,
                              .runEngine = [&] { return borrowed; },
                              .accessEngine = [&] { return borrowed; }},
                             locks, engine::WorkFiles::Kept);
  wizard::PagePrompts prompts(flow, dialogs);
  const auto confirm = [&] {
    const engine::PreflightResult result =
        engine::RunPreflight(engine, engine::PreflightRequestOf(settings));
    return prompts.AcceptCheck(result, engine::GateOf(result), engine::FlowPlan::MigrateOnly);
  };
  file.AddTable("Loose", {"ID"}, {});
  EXPECT_FALSE(confirm());
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_THAT(dialogs.questions[0], HasSubstr("\"Loose\" has no unique index"));
  EXPECT_THAT(dialogs.questions[0], HasSubstr("Migrate anyway?"));
  dialogs.answerYes = true;
  EXPECT_TRUE(confirm());

  auto& link = file.AddTable("Customers", {"ID"}, {});
  link.connect = "ODBC;Driver=Norvane;Database=/data/Sales.db";
  EXPECT_FALSE(confirm());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_THAT(dialogs.messages[0], HasSubstr("The migration cannot start."));
  EXPECT_THAT(dialogs.messages[0], HasSubstr("already migrated and linked"));
}

}  // namespace
