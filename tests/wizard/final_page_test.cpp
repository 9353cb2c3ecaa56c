// The final page over the in-memory engine: "Migrate", what the run shows there, "Finish".
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "fakes/fake_dao.h"
#include "fakes/fake_services.h"
#include "support/temp_dir.h"
#include "wizard/migration_results_window.h"
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

class FakeVerifier : public reporting::MigrationVerifier {
 public:
  void BeforeRun(const MigrationSettings&) override { calls.push_back("before"); }
  std::vector<reporting::TableReport> Verify(const MigrationSettings&,
                                             const std::string& connection) override {
    calls.push_back("verify " + connection);
    return tables;
  }
  std::string KeysOfRowsBreaking(const std::string&, const std::string&,
                                 const std::string&) override {
    return {};
  }
  std::vector<std::string> calls;
  std::vector<reporting::TableReport> tables;
};

reporting::TableReport GoodTable(const std::string& name) {
  reporting::TableReport t;
  t.accessName = t.targetName = name;
  t.accessRows = t.targetRows = 5;
  t.checksumsEqual = true;
  t.primaryKeyExpected = t.primaryKeyPresent = true;
  return t;
}

class FinalPageTest : public ::testing::Test {
 protected:
  ~FinalPageTest() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "MigrationResults") w->hide();
  }
  void UseResultsCheck() {
    flow.SetResultsCheck(std::make_unique<wizard::ResultsCheck>(
        wizard::ResultsCheck{verifier, [this](int) { return std::exchange(toolErrors, {}); },
                             [] { return std::string("DSN=Sales"); }}));
  }
  QWidget* WaitForResults() {
    QWidget* found = nullptr;
    (void)QTest::qWaitFor(
        [&] {
          for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "MigrationResults" && w->isVisible()) found = w;
          return found != nullptr;
        },
        5000);
    return found;
  }

  FinalPageTest()
      : engine(std::make_shared<fakes::FakeEngine>(&chooser)),
        flow(settings, {dialogs,
                        commands,
                        end,
                        [this] { return engine; },
                        {},
                        [](const std::string&, const std::string&, const std::string&) {
                          return std::string();  // no row breaks a rule
                        }}) {
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
  FakeVerifier verifier;
  std::vector<std::string> toolErrors;
  wizard::PageFlow flow;
};

}  // namespace

TEST_F(FinalPageTest, before_a_run_finish_is_disabled_and_the_bar_hidden) {
  EXPECT_EQ(flow.Page(PageId::Final)->windowTitle(), "The final stop in the Migration Process");
  EXPECT_EQ(Find<QLineEdit>("Text1(0)")->text().toStdString(), (dir.path() / "sales.db").string());
  EXPECT_TRUE(Find<QLineEdit>("Text1(1)")->text().isEmpty());
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_TRUE(Find("Command1(1)")->isEnabled());
  EXPECT_FALSE(Find("Bar1")->isVisibleTo(flow.Page(PageId::Final)));
}

TEST_F(FinalPageTest, a_run_fills_the_source_box_starts_reload_bat_and_enables_finish) {
  commands.pollsUntilDone = 1 << 30;
  Migrate();
  EXPECT_EQ(Find<QLineEdit>("Text1(1)")->text().toStdString(),
            std::string(kCompleted).substr(4));  // "ODBC;" + completed, without nine characters
  EXPECT_EQ(Find<QLineEdit>("Text1(1)")->cursorPosition(), 0);  // the name in sight, not the end
  // Neither a second run nor "Finish" while reload.bat works, and Enter presses nothing.
  EXPECT_FALSE(Find("Command1(1)")->isEnabled());
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("Command1(2)")->isDefault());
  EXPECT_FALSE(Find<QPushButton>("Command1(1)")->isDefault());
  EXPECT_FALSE(Find("Bar1")->isVisibleTo(flow.Page(PageId::Final)));
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(),
            "Waiting for reload.bat to finish ...");
  EXPECT_EQ(commands.started, std::vector<std::string>{dir.windows() + "reload.bat"});
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "reload1.sql"));
}

TEST_F(FinalPageTest, migrate_after_a_finished_run_runs_the_whole_migration_again) {
  Migrate();
  ASSERT_EQ(engine->Statements().size(), 1u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find("Command1(1)")->isEnabled(); }, 5000));
  Migrate();
  // New engine objects (the check and the properties step before each run open their own Jet
  // workspaces as well).
  EXPECT_EQ(engine->CallsStartingWith("CreateWorkspace(NewODBCWorkspace").size(), 2u);
  EXPECT_EQ(engine->CallsStartingWith("CreateWorkspace(,").size(), 6u);
  EXPECT_EQ(engine->Statements().size(), 2u);
  EXPECT_EQ(commands.started, std::vector<std::string>(2, dir.windows() + "reload.bat"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
}

TEST_F(FinalPageTest, a_failed_access_open_shows_the_message_and_leaves_finish_disabled) {
  // Another program has it open: the check reads it, the run cannot open it exclusively.
  engine->File(settings.AccessDbPath).sharedOpens = 1;
  Migrate();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].rfind(
                "There is an error opening the database in exclusive mode.  Please close", 0),
            0u);
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(), "Connecting to Access Database ...");
  engine->File(settings.AccessDbPath).sharedOpens = 0;
  Migrate();  // "Migrate" can try again
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
}

TEST_F(FinalPageTest, a_clean_run_ends_in_the_results_window_saying_complete) {
  verifier.tables = {GoodTable("Customers")};
  UseResultsCheck();
  Migrate();
  auto* results = WaitForResults();
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(verifier.calls, (std::vector<std::string>{"before", "verify DSN=Sales"}));
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(), "Migration complete");
  EXPECT_EQ(results->findChild<QLabel*>("Headline")->text(), "Migration complete");
  const QString report = results->findChild<QPlainTextEdit*>("Report")->toPlainText();
  EXPECT_TRUE(report.contains(QRegularExpression("Customers +5 +5  equal")))
      << report.toStdString();
  EXPECT_TRUE(report.contains("everything checked out"));
  EXPECT_TRUE(Find("Command1(1)")->isEnabled());

  // Saved as text: the headline, then the report as shown.
  auto* window = qobject_cast<wizard::MigrationResultsWindow*>(results);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(window->SaveTo(QString::fromStdString((dir.path() / "report.txt").string())), "");
  const std::string saved = ReadBytes(dir.path() / "report.txt");
  EXPECT_EQ(saved.rfind("Migration complete\nEverything arrived and checked out.\n\n", 0), 0u);
  EXPECT_NE(saved.find("Customers"), std::string::npos);
  // A folder that is not there: the reason is said.
  EXPECT_NE(window->SaveTo(QString::fromStdString((dir.path() / "no" / "x.txt").string())), "");
  // A link under the chosen name is replaced; the file it points at stays as it was.
  WriteBytes(dir.path() / "victim.txt", "victim\n");
  std::filesystem::create_symlink(dir.path() / "victim.txt", dir.path() / "linked.txt");
  ASSERT_EQ(window->SaveTo(QString::fromStdString((dir.path() / "linked.txt").string())), "");
  EXPECT_EQ(ReadBytes(dir.path() / "linked.txt"), saved);
  EXPECT_EQ(ReadBytes(dir.path() / "victim.txt"), "victim\n");

  // Room for more: a section of lines under the report and an action beside "Save as text...".
  window->AddSection("Carried", {"Customers: default values"});
  EXPECT_TRUE(window->Text().contains("Carried\n  Customers: default values"));
  auto* restore = new QPushButton("Restore");
  restore->setObjectName("Restore");
  window->AddAction(restore);
  EXPECT_EQ(results->findChild<QPushButton*>("Restore"), restore);
}

TEST_F(FinalPageTest, a_run_with_failures_counts_them_in_the_headline_and_lists_them) {
  engine->FailWhen("Access.Execute", 3146, "ODBC--call failed.");
  auto table = GoodTable("Customers");
  table.targetRows = 0;
  table.checksumsEqual = false;
  verifier.tables = {table};
  toolErrors = {"ivex: error: statement at line 2 (alter table): no such table"};
  UseResultsCheck();
  commands.exitStatus = 1;
  Migrate();
  auto* results = WaitForResults();
  ASSERT_NE(results, nullptr);
  EXPECT_TRUE(dialogs.messages.empty());  // no message box: the window has it all
  // The failed transfer and the index after it, the ivex error, the table that does not check out.
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(), "Finished with 4 problems");
  EXPECT_EQ(results->findChild<QLabel*>("Headline")->text(), "Finished with 4 problems");
  const QString report = results->findChild<QPlainTextEdit*>("Report")->toPlainText();
  EXPECT_TRUE(report.contains("ODBC--call failed.")) << report.toStdString();
  EXPECT_TRUE(report.contains("Customers"));
  EXPECT_TRUE(report.contains("ivex: error: statement at line 2"));
  EXPECT_TRUE(report.contains("DIFFER"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
}

TEST_F(FinalPageTest, without_error_lines_a_failing_reload_bat_is_still_a_problem) {
  verifier.tables = {GoodTable("Customers")};
  UseResultsCheck();
  commands.exitStatus = 3;
  Migrate();
  auto* results = WaitForResults();
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(results->findChild<QLabel*>("Headline")->text(), "Finished with 1 problem");
  EXPECT_TRUE(results->findChild<QPlainTextEdit*>("Report")->toPlainText().contains(
      "reload.bat ended with exit status 3"));
}

TEST_F(FinalPageTest, the_page_refuses_to_close_while_a_run_is_under_way) {
  chooser.page = flow.Page(PageId::Final);
  Migrate();
  EXPECT_TRUE(chooser.stillVisible);
  EXPECT_EQ(end.calls, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
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
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
  EXPECT_FALSE(Find("Restore")->isVisible());  // no link-back, nothing to undo
}

TEST_F(FinalPageTest, the_source_page_tells_the_findings_at_once_in_posix_form) {
  engine->File(settings.AccessDbPath).AddTable("Loose Rows", {"Val"}, {});
  flow.Show(PageId::GetAccess);
  dialogs.Choose(platform::FileChoice{settings.AccessDbPath, "sales.mdb"});
  QTest::mouseClick(flow.Page(PageId::GetAccess)->findChild<QAbstractButton*>("Command2"),
                    Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].rfind(
                "The check of " + (dir.path() / "sales.mdb").string() + " found:\n", 0),
            0u)
      << dialogs.messages[0];
  EXPECT_NE(dialogs.messages[0].find("\"Loose Rows\" has no unique index."), std::string::npos);
  EXPECT_TRUE(engine->Statements().empty());
}

TEST_F(FinalPageTest, after_going_back_and_another_file_the_page_is_that_files) {
  verifier.tables = {GoodTable("Customers")};
  UseResultsCheck();
  Migrate();
  ASSERT_NE(WaitForResults(), nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find("Command1(2)")->isEnabled(); }, 5000));
  EXPECT_TRUE(Find<QPushButton>("Command1(2)")->isDefault());
  EXPECT_TRUE(Find("ShowResults")->isVisible());

  // "<<", another Access file, and forward again.
  QTest::mouseClick(Find<QAbstractButton>("Command1(0)"), Qt::LeftButton);
  settings.AccessDbPath = dir.windows() + "stock.mdb";
  settings.TargetDbFileName = "stock.db";
  engine->AddAccessFile(settings.AccessDbPath)
      .AddTable("Items", {"ID"}, {{"PK", "+ID", true, true}});
  flow.Hide(PageId::Createdb);
  flow.Show(PageId::Final);
  EXPECT_EQ(Find<QLineEdit>("Text1(0)")->text().toStdString(), (dir.path() / "stock.db").string());
  EXPECT_TRUE(Find<QLineEdit>("Text1(1)")->text().isEmpty());
  EXPECT_TRUE(Find<QStatusBar>("StatusBar1")->currentMessage().isEmpty());
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("Command1(1)")->isDefault());
  EXPECT_FALSE(Find("ShowResults")->isVisible());
  EXPECT_EQ(WaitForResults(), nullptr);  // the first file's results are put away

  // Enter migrates this file; it does not close the wizard.
  const std::size_t statements = engine->Statements().size();
  QTest::keyClick(flow.Page(PageId::Final), Qt::Key_Return);
  EXPECT_EQ(end.calls, 0);
  EXPECT_GT(engine->Statements().size(), statements);
  ASSERT_NE(WaitForResults(), nullptr);
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(), "Migration complete");
}

TEST_F(FinalPageTest, a_close_while_reload_bat_runs_waits_and_the_properties_and_results_come) {
  // A required field to carry: properties.bat runs after reload.bat.
  for (auto& table : engine->File(settings.AccessDbPath).tables)
    if (table->name == "Customers") table->fields = {{"ID", 4, 4, false, true, true, "", ""}};
  verifier.tables = {GoodTable("Customers")};
  UseResultsCheck();
  commands.pollsUntilDone = 1 << 30;  // reload.bat runs until the test lets it end
  Migrate();
  EXPECT_FALSE(Find("Command1(2)")->isEnabled());  // no "Finish" while it runs
  QString waitText;
  QTimer::singleShot(100, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "WaitForCommandFiles" && w->isVisible())
        waitText = w->findChild<QLabel*>("WaitText")->text();
    commands.pollsUntilDone = 0;  // reload.bat and properties.bat end
  });
  flow.Page(PageId::Final)->close();
  EXPECT_TRUE(waitText.contains("properties.bat")) << waitText.toStdString();
  EXPECT_EQ(commands.started, (std::vector<std::string>{dir.windows() + "reload.bat",
                                                        dir.windows() + "properties.bat"}));
  ASSERT_NE(WaitForResults(), nullptr);
  // The page stays for the results; "Finish" ends the wizard now.
  EXPECT_TRUE(flow.Page(PageId::Final)->isVisible());
  EXPECT_EQ(end.calls, 0);
  EXPECT_TRUE(Find("Command1(2)")->isEnabled());
  QTest::mouseClick(Find<QAbstractButton>("Command1(2)"), Qt::LeftButton);
  EXPECT_EQ(end.calls, 1);
}

TEST_F(FinalPageTest, the_results_window_aligns_non_ascii_names_and_opens_again) {
  auto orders = GoodTable("Auftr\xC3\xA4ge");  // "Aufträge"
  auto sales = GoodTable("Ums\xC3\xA4tze");
  sales.accessRows = sales.targetRows = 12345;
  verifier.tables = {GoodTable("Customers"), orders, sales};
  UseResultsCheck();
  Migrate();
  auto* results = WaitForResults();
  ASSERT_NE(results, nullptr);
  const QStringList lines =
      results->findChild<QPlainTextEdit*>("Report")->toPlainText().split('\n');
  // The row counts end in the same column, counted in characters (as a fixed font shows them).
  std::vector<qsizetype> ends;
  for (const QString& line : lines)
    if (line.startsWith("Customers") || line.startsWith("Auftr") || line.startsWith("Ums"))
      ends.push_back(line.indexOf("  equal"));
  ASSERT_EQ(ends.size(), 3u) << lines.join('\n').toStdString();
  EXPECT_EQ(ends[0], ends[1]);
  EXPECT_EQ(ends[0], ends[2]);
  EXPECT_EQ(results->findChild<QLabel*>("Findings")->text(), "Everything arrived and checked out.");

  // Escape closes it; the page's "Results" opens it again.
  QTest::keyClick(results->findChild<QPlainTextEdit*>("Report"), Qt::Key_Escape);
  EXPECT_FALSE(results->isVisible());
  QTest::mouseClick(Find<QAbstractButton>("ShowResults"), Qt::LeftButton);
  EXPECT_TRUE(results->isVisible());
}

TEST(ResultsWindow, the_findings_line_keeps_failures_apart_from_findings_about_the_data) {
  FakeDialogs dialogs;
  wizard::MigrationResultsWindow window(dialogs);
  reporting::MigrationReport report;
  report.tables = {GoodTable("Orders")};
  report.properties = {{"Orders", {"defaults (Qty)"}, {"rule of Qty", "rule of Price", "Due"}}};
  window.ShowReport(report, "/data/Shop.db");
  const auto findings = [&] { return window.findChild<QLabel*>("Findings")->text().toStdString(); };
  EXPECT_EQ(window.findChild<QLabel*>("Headline")->text(), "Migration complete");
  EXPECT_EQ(findings(),
            "Everything arrived and checked out; 3 properties were not carried: see the report "
            "below.");
  report.toolErrors = {"ivex: error: statement at line 2 (x): no such table"};
  window.ShowReport(report, "/data/Shop.db");
  EXPECT_EQ(window.findChild<QLabel*>("Headline")->text(), "Finished with 1 problem");
  EXPECT_EQ(findings(),
            "1 failure in the run or the check: marked in the report below; besides, 3 "
            "properties were not carried (findings about the data).");
  EXPECT_TRUE(window.Text().startsWith("Finished with 1 problem\n1 failure"));
  window.hide();
}
