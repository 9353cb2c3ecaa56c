// The final page over the in-memory engine: "Migrate", what the run shows there, "Finish".
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>

#include "fake_services.h"
#include "fakes/fake_dao.h"
#include "support/temp_dir.h"
#include "wizard/page_flow.h"
#include "wizard/wizard_page.h"

using namespace testing_support;
using wizard::PageId;

namespace {

constexpr const char* kCompleted = "DSN=Sales;Driver=Norvane;Database=/data/Sales.db";

// Answers the data-source question; meanwhile tries to close the page, as an impatient user might.
class ClosingChooser : public dao::DataSourceChooser {
 public:
  std::optional<std::string> ChooseDataSource() override {
    if (page != nullptr) {
      page->close();
      stillVisible = page->isVisible();
    }
    return answer;
  }
  QWidget* page = nullptr;
  bool stillVisible = false;
  std::optional<std::string> answer = std::string("DSN=Sales");
};

class FinalPageTest : public ::testing::Test {
 protected:
  FinalPageTest()
      : engine(std::make_shared<fakes::FakeEngine>(&chooser)),
        flow(settings, {dialogs, commands, end, [this] { return engine; }}) {
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "sales.db";
    settings.AccessDbPath = dir.windows() + "sales.mdb";
    auto& file = engine->AddAccessFile(settings.AccessDbPath);
    file.AddTable("MSysObjects");
    file.AddTable("Customers", {"ID"}, {{"PrimaryKey", "+ID", true, true}});
    engine->AddDataSource("DSN=Sales", kCompleted);
    flow.Show(PageId::Final);
  }

  template <class T = QWidget>
  T* Find(const char* name) {
    auto* widget = flow.Page(PageId::Final)->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Migrate() { QTest::mouseClick(Find<QAbstractButton>("Command1(1)"), Qt::LeftButton); }

  TempDir dir;
  MigrationSettings settings;
  ClosingChooser chooser;
  std::shared_ptr<fakes::FakeEngine> engine;
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingEnd end;
  wizard::PageFlow flow;
};

}  // namespace

TEST_F(FinalPageTest, before_a_run_finish_is_disabled_and_the_bar_hidden) {
  EXPECT_EQ(flow.Page(PageId::Final)->windowTitle(), "The final stop in the Migration Process");
  EXPECT_EQ(Find<QLineEdit>("Text1(0)")->text().toStdString(), dir.windows() + "sales.db");
  EXPECT_TRUE(Find<QLineEdit>("Text1(1)")->text().isEmpty());
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_TRUE(Find("Command1(1)")->isEnabled());
  EXPECT_FALSE(Find("Bar1")->isVisibleTo(flow.Page(PageId::Final)));
}

TEST_F(FinalPageTest, a_run_fills_the_source_box_starts_reload_bat_and_enables_finish) {
  Migrate();
  EXPECT_EQ(Find<QLineEdit>("Text1(1)")->text().toStdString(),
            std::string(kCompleted).substr(4));  // "ODBC;" + completed, without nine characters
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
  EXPECT_TRUE(Find("Command1(1)")->isEnabled());
  EXPECT_FALSE(Find("Bar1")->isVisibleTo(flow.Page(PageId::Final)));
  EXPECT_TRUE(Find<QStatusBar>("StatusBar1")->currentMessage().isEmpty());
  EXPECT_EQ(commands.started, std::vector<std::string>{dir.windows() + "reload.bat"});
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "reload1.sql"));
}

TEST_F(FinalPageTest, migrate_after_a_finished_run_runs_the_whole_migration_again) {
  Migrate();
  ASSERT_EQ(engine->Statements().size(), 1u);
  Migrate();
  // New engine objects (the check before each run opens its own Jet workspace as well).
  EXPECT_EQ(engine->CallsStartingWith("CreateWorkspace(NewODBCWorkspace").size(), 2u);
  EXPECT_EQ(engine->CallsStartingWith("CreateWorkspace(,").size(), 4u);
  EXPECT_EQ(engine->Statements().size(), 2u);
  EXPECT_EQ(commands.started, std::vector<std::string>(2, dir.windows() + "reload.bat"));
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
}

TEST_F(FinalPageTest, a_failed_access_open_shows_the_message_and_leaves_finish_disabled) {
  engine->File(settings.AccessDbPath).openElsewhere = true;
  Migrate();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].rfind(
                "There is an error opening the database in exclusive mode.  Please close", 0),
            0u);
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(), "Connecting to Access Database ...");
  engine->File(settings.AccessDbPath).openElsewhere = false;
  Migrate();  // "Migrate" can try again
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
}

TEST_F(FinalPageTest, a_run_with_failures_lists_them_to_the_user) {
  engine->FailWhen("Access.Execute", 3146, "ODBC--call failed.");
  Migrate();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("ODBC--call failed."), std::string::npos);
  EXPECT_NE(dialogs.messages[0].find("Customers"), std::string::npos);
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
}

TEST_F(FinalPageTest, the_page_refuses_to_close_while_a_run_is_under_way) {
  chooser.page = flow.Page(PageId::Final);
  Migrate();
  EXPECT_TRUE(chooser.stillVisible);
  EXPECT_EQ(end.calls, 0);
  QTest::mouseClick(Find<QAbstractButton>("Command1(2)"), Qt::LeftButton);  // "Finish"
  EXPECT_EQ(end.calls, 1);
}

TEST_F(FinalPageTest, findings_of_the_check_are_confirmed_before_the_run_or_cancel_it) {
  engine->File(settings.AccessDbPath).AddTable("Loose Rows", {"Val"}, {});
  Migrate();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_NE(dialogs.questions[0].find("\"Loose Rows\" has no unique index"), std::string::npos);
  EXPECT_TRUE(engine->Statements().empty());
  EXPECT_TRUE(commands.started.empty());
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_TRUE(Find("Command1(1)")->isEnabled());

  dialogs.answerYes = true;
  Migrate();
  EXPECT_EQ(engine->Statements().size(), 2u);
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
  EXPECT_FALSE(Find("Restore")->isVisible());  // no link-back, nothing to undo
}

TEST_F(FinalPageTest, the_source_page_tells_the_findings_at_once_in_windows_form) {
  engine->File(settings.AccessDbPath).AddTable("Loose Rows", {"Val"}, {});
  flow.Show(PageId::GetAccess);
  dialogs.Choose(platform::FileChoice{settings.AccessDbPath, "sales.mdb"});
  QTest::mouseClick(flow.Page(PageId::GetAccess)->findChild<QAbstractButton*>("Command2"),
                    Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].rfind("The check of " + settings.AccessDbPath + " found:\n", 0), 0u)
      << dialogs.messages[0];
  EXPECT_NE(dialogs.messages[0].find("\"Loose Rows\" has no unique index."), std::string::npos);
  EXPECT_TRUE(engine->Statements().empty());
}
