// Under a real X server with a window manager (run through with_xvfb.sh): every window of a
// whole walk through the wizard lies on the screen, and each page keeps the place of the last.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "fakes/fake_services.h"
#include "platform/paths.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/ui/command_windows.h"
#include "platform/ui/data_source_dialog.h"
#include "platform/ui/qt_dialogs.h"
#include "platform/ui/window_placement.h"
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

std::string Frame(const QWidget* window) {
  const QRect r = window->frameGeometry();
  return "(" + std::to_string(r.x()) + "," + std::to_string(r.y()) + ") " +
         std::to_string(r.width()) + "x" + std::to_string(r.height());
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
  for (PageId next :
       {PageId::GetAccess, PageId::Target, PageId::Ivex, PageId::Createdb, PageId::Final}) {
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

  // The three command windows beside the page, none over it, none on another.
  platform::shell::PosixCommandStarter starter;
  platform::ui::CommandWindows windows(
      starter, [&] { return settings.WorkFolder + "nwind.db"; },
      [&] { return flow.VisiblePage(); });
  std::vector<QWidget*> commandWindows;
  for (const char* name : {"migrate.bat", "reload.bat", "properties.bat"}) {
    WriteBytes(dir.path() / name, std::string("echo ") + name + "\r\n");
    const int task = windows.StartCommandFile(dir.windows() + name);
    QWidget* window = windows.WindowOf(dir.windows() + name);
    Settle(window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(task); }, 20000));
    commandWindows.push_back(window);
  }
  page = flow.Page(PageId::Createdb);
  QTest::qWait(150);
  EXPECT_ON_SCREEN(page);
  for (QWidget* window : commandWindows) {
    EXPECT_ON_SCREEN(window);
    EXPECT_FALSE(window->frameGeometry().intersects(page->frameGeometry()))
        << window->windowTitle().toStdString() << " " << Frame(window) << " over the page "
        << Frame(page);
  }
  EXPECT_NE(commandWindows[0]->frameGeometry().topLeft(),
            commandWindows[1]->frameGeometry().topLeft());
  EXPECT_NE(commandWindows[1]->frameGeometry().topLeft(),
            commandWindows[2]->frameGeometry().topLeft());

  // The results window beside the final page, the long line in reach.
  flow.Show(PageId::Final);
  page->hide();
  page = flow.Page(PageId::Final);
  Settle(page);
  wizard::MigrationResultsWindow results(dialogs);
  reporting::MigrationReport report;
  report.toolErrors.push_back("ivex: error: statement at line 2 (x): " + std::string(200, 'w'));
  results.ShowReport(report, settings.WorkFolder + "nwind.db", page);
  Settle(&results);
  EXPECT_ON_SCREEN(&results);
  EXPECT_ON_SCREEN(page);
  EXPECT_FALSE(results.frameGeometry().intersects(page->frameGeometry()));
  auto* text = results.findChild<QPlainTextEdit*>("Report");
  EXPECT_TRUE(text->horizontalScrollBar()->maximum() > 0);  // the long line scrolls, not cut

  // A centred page leaves no room beside it on this screen: it steps aside to the edge.
  page->move(platform::ui::CentredOn(page->frameGeometry().size(), Screen()).topLeft());
  QTest::qWait(150);
  wizard::MigrationResultsWindow second(dialogs);
  second.ShowReport(report, settings.WorkFolder + "nwind.db", page);
  Settle(&second);
  QTest::qWait(150);
  EXPECT_ON_SCREEN(&second);
  EXPECT_ON_SCREEN(page);
  EXPECT_FALSE(second.frameGeometry().intersects(page->frameGeometry()))
      << Frame(&second) << " over the page " << Frame(page);
  EXPECT_GE(second.frameGeometry().width(), 360);
  second.close();

  // The help window beside the page.
  platform::ui::QtDialogs help;
  page->activateWindow();
  QTest::qWait(150);
  help.ShowHelp(platform::paths::ToWindows(NORVANE_HELP_FILE), "create ODBC data source");
  Settle(help.helpWindow());
  EXPECT_ON_SCREEN(help.helpWindow());
  EXPECT_FALSE(help.helpWindow()->frameGeometry().intersects(page->frameGeometry()));
  help.helpWindow()->close();

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
  for (QWidget* window : commandWindows) window->close();
}
