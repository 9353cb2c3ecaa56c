// Under a real X server with a window manager (run through with_xvfb.sh): every window of a
// whole walk through the wizard lies on the screen, and each page keeps the place of the last.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "fakes/fake_services.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/ui/command_windows.h"
#include "platform/ui/data_source_dialog.h"
#include "report/migration_report.h"
#include "support/temp_dir.h"
#include "wizard/migration_results_window.h"
#include "wizard/page_flow.h"
#include "wizard/wizard_page.h"

using namespace testing_support;
using wizard::PageId;

namespace {

QRect Screen() {
  return QGuiApplication::primaryScreen()->availableGeometry();
}

// The window once the window manager has framed it.
void Settle(QWidget* window) {
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 5000)) << window->objectName().toStdString();
  QTest::qWait(150);
}

#define EXPECT_ON_SCREEN(window)                                                                 \
  EXPECT_TRUE(Screen().contains((window)->frameGeometry()))                                      \
      << (window)->objectName().toStdString() << " at (" << (window)->frameGeometry().x() << "," \
      << (window)->frameGeometry().y() << ") " << (window)->frameGeometry().width() << "x"       \
      << (window)->frameGeometry().height()

}  // namespace

TEST(OnScreen, no_window_of_a_whole_walk_leaves_the_screen) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run through with_xvfb.sh";
  TempDir dir("on screen");
  MigrationSettings settings;
  settings.WorkFolder = dir.windows();
  settings.TargetDbFileName = "nwind.db";
  settings.AccessDbPath = dir.windows() + "nwind.mdb";
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingEnd end;
  wizard::PageFlow flow(settings,
                        {dialogs, commands, end, [] { return std::shared_ptr<dao::Engine>(); }});

  flow.Show(PageId::Option);
  QWidget* page = flow.Page(PageId::Option);
  Settle(page);
  EXPECT_ON_SCREEN(page);
  const QRect first = page->frameGeometry();
  for (PageId next : {PageId::GetAccess, PageId::Ivex, PageId::Createdb, PageId::Final}) {
    QWidget* before = page;
    flow.Show(next);
    before->hide();
    page = flow.Page(next);
    Settle(page);
    EXPECT_ON_SCREEN(page);
    EXPECT_LE((page->frameGeometry().topLeft() - first.topLeft()).manhattanLength(), 2)
        << page->objectName().toStdString();
    EXPECT_EQ(page->size(), flow.Page(PageId::Option)->size());
  }

  // The user drags the page towards the bottom edge; the next page still fits.
  page->move(Screen().right() - 200, Screen().bottom() - 120);
  QTest::qWait(150);
  flow.Show(PageId::Createdb);
  page->hide();
  Settle(flow.Page(PageId::Createdb));
  EXPECT_ON_SCREEN(flow.Page(PageId::Createdb));

  // A command window beside the page.
  WriteBytes(dir.path() / "migrate.bat", "echo created\r\n");
  platform::shell::PosixCommandStarter starter;
  platform::ui::CommandWindows windows(starter, [&] { return settings.WorkFolder + "nwind.db"; });
  flow.Page(PageId::Createdb)->activateWindow();
  QTest::qWait(100);
  const int task = windows.StartCommandFile(dir.windows() + "migrate.bat");
  QWidget* commandWindow = windows.WindowOf(dir.windows() + "migrate.bat");
  Settle(commandWindow);
  EXPECT_ON_SCREEN(commandWindow);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(task); }, 20000));

  // The results window beside the final page.
  wizard::MigrationResultsWindow results(dialogs);
  reporting::MigrationReport report;
  report.toolErrors.push_back("ivex: error: statement at line 2 (x): " + std::string(200, 'w'));
  results.move(Screen().right() - 100, Screen().top() + 10);
  results.ShowReport(report, settings.WorkFolder + "nwind.db");
  Settle(&results);
  EXPECT_ON_SCREEN(&results);

  // The data-source dialog with a long database path: wide enough, on the screen.
  platform::ui::DataSourceDialog chooser(
      [&] { return dir.windows() + std::string(60, 'n') + ".db"; });
  bool checked = false;
  QTimer::singleShot(300, [&] {
    auto* dialog = QApplication::activeModalWidget();
    if (dialog != nullptr) {
      QTest::qWait(150);
      EXPECT_ON_SCREEN(dialog);
      auto* list = dialog->findChild<QListWidget*>("DataSources");
      ASSERT_GT(list->count(), 0);
      EXPECT_GE(list->viewport()->width(),
                list->fontMetrics().horizontalAdvance(list->item(0)->text()));
      checked = true;
      dialog->close();
    }
  });
  (void)chooser.ChooseDataSource();
  EXPECT_TRUE(checked);
  commandWindow->close();
}
