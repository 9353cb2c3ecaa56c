// Command windows: a started command file's output appears in a window of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
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
