// Command windows: a started command file's output appears in a window of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

#include "platform/paths.h"
#include "platform/ui/command_windows.h"
#include "support/temp_dir.h"

TEST(CommandWindows, show_the_output_of_each_command_file_until_it_has_finished) {
  testing_support::TempDir dir("command window");
  testing_support::WriteBytes(dir.path() / "hello.bat", "echo first line\r\necho second line\r\n");
  platform::shell::PosixCommandStarter starter;
  platform::ui::CommandWindows windows(starter);
  const int task = windows.StartCommandFile(dir.windows() + "hello.bat");

  QPlainTextEdit* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "CommandWindow" && w->isVisible())
      window = qobject_cast<QPlainTextEdit*>(w);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->windowTitle().startsWith("hello.bat"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(task); }, 20000));
  const QString text = window->toPlainText();
  EXPECT_TRUE(text.contains("second line")) << text.toStdString();
  EXPECT_TRUE(text.contains("finished hello.bat")) << text.toStdString();
  window->close();
}

TEST(CommandWindows, a_missing_command_file_opens_no_window) {
  platform::shell::PosixCommandStarter starter;
  platform::ui::CommandWindows windows(starter);
  const auto before = QApplication::topLevelWidgets().size();
  EXPECT_ANY_THROW(windows.StartCommandFile("Z:\\no\\such\\folder\\x.bat"));
  EXPECT_EQ(QApplication::topLevelWidgets().size(), before);
}

TEST(CommandWindows, one_window_per_command_file_reused_beside_the_wizard_and_titled) {
  testing_support::TempDir dir("command window");
  testing_support::WriteBytes(dir.path() / "migrate.bat", "echo run\r\n");
  testing_support::WriteBytes(dir.path() / "reload.bat", "nosuchtool.exe\r\n");
  platform::shell::PosixCommandStarter starter;
  QWidget wizard;
  platform::ui::CommandWindows windows(
      starter, [] { return std::string("Z:\\data\\Sales.db"); }, [&] { return &wizard; });
  wizard.resize(100, 100);  // room on its right on the offscreen screen (800 pixels)
  wizard.move(0, 0);
  wizard.show();

  const int first = windows.StartCommandFile(dir.windows() + "migrate.bat");
  QPlainTextEdit* window = windows.WindowOf(dir.windows() + "MIGRATE.BAT");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->windowTitle().startsWith("migrate.bat - Sales.db - "))
      << window->windowTitle().toStdString();
  EXPECT_GE(window->frameGeometry().left(), wizard.frameGeometry().right());  // beside it
  EXPECT_TRUE(window->screen()->availableGeometry().contains(window->frameGeometry()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(first); }, 20000));

  const int second = windows.StartCommandFile(dir.windows() + "migrate.bat");
  EXPECT_EQ(windows.WindowOf(dir.windows() + "migrate.bat"), window);  // the same window again
  EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(second); }, 20000));
  EXPECT_EQ(window->toPlainText().count("finished migrate.bat"), 1);  // cleared for the new run

  const int reload = windows.StartCommandFile(dir.windows() + "reload.bat");
  EXPECT_NE(windows.WindowOf(dir.windows() + "reload.bat"), window);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !windows.IsRunning(reload); }, 20000));
  windows.Wait(reload);
  const auto errors = windows.TakeToolErrors(reload);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("cmdshell: error: line 1 failed (nosuchtool.exe)", 0), 0u) << errors[0];
  EXPECT_TRUE(windows.TakeToolErrors(first).empty());
  window->close();
  windows.WindowOf(dir.windows() + "reload.bat")->close();
}
