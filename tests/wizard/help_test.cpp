// The help file and the help window: a topic for every page's keyword.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "platform/help_file.h"
#include "platform/paths.h"
#include "platform/ui/qt_dialogs.h"
#include "support/temp_dir.h"

#include <filesystem>

using platform::HelpTopic;

TEST(HelpTopic, finds_a_topic_by_keyword_without_regard_to_case_and_stops_at_the_next) {
  const std::string text = "@topic One\r\nfirst\r\n@topic Two words\nsecond\nmore\n@topic Three\n";
  EXPECT_EQ(HelpTopic(text, "one"), "first\n");
  EXPECT_EQ(HelpTopic(text, "TWO WORDS"), "second\nmore\n");
  EXPECT_EQ(HelpTopic(text, "Four"), std::nullopt);
}

TEST(MigrateHlp, has_a_real_topic_for_every_page_keyword) {
  const std::string text = testing_support::ReadBytes(NORVANE_HELP_FILE);
  for (const char* keyword :
       {"Migrate Options", "Choose MS Access DB", "locate ivex.exe", "create norvane db",
        "create ODBC data source", "choose target db", "create postgresql db"}) {
    const auto topic = HelpTopic(text, keyword);
    ASSERT_TRUE(topic.has_value()) << keyword;
    EXPECT_GT(topic->size(), 300u) << keyword;
  }
}

TEST(QtFilterOf, turns_the_pages_filters_into_qt_filters) {
  EXPECT_EQ(platform::ui::QtFilterOf("Access Database (*.mdb) | *.mdb"), "Access Database (*.mdb)");
  EXPECT_EQ(platform::ui::QtFilterOf("Norvane (*.exe) | *.exe"), "Norvane (*.exe)");
}

TEST(QtDialogs, show_help_opens_one_window_at_the_keywords_topic) {
  testing_support::TempDir dir;
  testing_support::WriteBytes(dir.path() / "Migrate.hlp",
                              "@topic locate ivex.exe\nPick **ivex.exe**.\n@topic Other\nno\n");
  platform::ui::QtDialogs dialogs;
  dialogs.ShowHelp(dir.windows() + "Migrate.HLP", "locate ivex.exe");
  QTextBrowser* window = dialogs.helpWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->toPlainText().trimmed(), "Pick ivex.exe.");
  dialogs.ShowHelp(dir.windows() + "Migrate.hlp", "Other");
  EXPECT_EQ(dialogs.helpWindow(), window);
  EXPECT_EQ(window->toPlainText().trimmed(), "no");
  window->close();
}

namespace {
// The text of the next message box, which is then closed.
void CloseNextMessage(QString* text) {
  QTimer::singleShot(0, [text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return CloseNextMessage(text);
    *text = box->text();
    box->accept();
  });
}
}  // namespace

TEST(HelpContents, is_every_topic_in_order_without_the_markers) {
  EXPECT_EQ(platform::HelpContents("@topic One\r\nfirst\r\n@topic Two\nsecond\n"),
            "first\nsecond\n");
}

TEST(QtDialogs, f1_in_any_window_opens_the_registered_help_at_its_contents) {
  testing_support::TempDir dir;
  testing_support::WriteBytes(dir.path() / "Migrate.hlp",
                              "@topic Migrate Options\nFirst page.\n@topic Other\nSecond.\n");
  platform::ui::QtDialogs dialogs;
  QWidget page;
  page.show();
  QTest::keyClick(&page, Qt::Key_F1);
  EXPECT_EQ(dialogs.helpWindow(), nullptr);  // nothing registered yet

  dialogs.RegisterProgramHelp(dir.windows() + "Migrate.hlp");
  QTest::keyClick(&page, Qt::Key_F1);
  QTextBrowser* window = dialogs.helpWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->toPlainText().simplified(), "First page. Second.");
  window->close();
}

TEST(QtDialogs, a_missing_help_file_or_keyword_is_told_to_the_user) {
  testing_support::TempDir dir;
  platform::ui::QtDialogs dialogs;
  QString text;
  CloseNextMessage(&text);
  dialogs.ShowHelp(dir.windows() + "Migrate.hlp", "Migrate Options");
  EXPECT_TRUE(text.contains("could not be found")) << text.toStdString();
  EXPECT_EQ(dialogs.helpWindow(), nullptr);

  testing_support::WriteBytes(dir.path() / "Migrate.hlp", "@topic Other\ntext\n");
  CloseNextMessage(&text);
  dialogs.ShowHelp(dir.windows() + "Migrate.hlp", "Migrate Options");
  EXPECT_TRUE(text.contains("has no topic \"Migrate Options\"")) << text.toStdString();
}

namespace {

// Answers the next file dialog: notes the folder it opened in, then picks `file` (or cancels).
void AnswerFileDialog(QString* folder, const QString& file) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return AnswerFileDialog(folder, file);
    *folder = dialog->directory().absolutePath();
    if (file.isEmpty()) return dialog->reject();
    dialog->selectFile(file);
    QMetaObject::invokeMethod(dialog, "accept");
  });
}

}  // namespace

TEST(QtDialogs, file_dialogs_remember_their_last_folder_across_runs) {
  // The test program keeps its settings in a private folder (qt_main.cpp).
  testing_support::TempDir dir;
  std::filesystem::create_directories(dir.path() / "tools");
  std::filesystem::create_directories(dir.path() / "data");
  testing_support::WriteBytes(dir.path() / "data" / "Sales.mdb", "x");
  const QString tools = QString::fromStdString((dir.path() / "tools").string());
  const QString data = QString::fromStdString((dir.path() / "data").string());
  {
    platform::ui::QtDialogs dialogs;
    dialogs.SetStartFolder("Norvane (*.exe) | *.exe", tools.toStdString());
    QString opened;
    AnswerFileDialog(&opened, "");
    EXPECT_FALSE(dialogs.OpenFile("Norvane (*.exe) | *.exe").has_value());
    EXPECT_EQ(opened, tools);  // nothing remembered yet: the given start folder
    AnswerFileDialog(&opened, data + "/Sales.mdb");
    const auto chosen = dialogs.OpenFile("Access Database (*.mdb) | *.mdb");
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->title, "Sales.mdb");
  }
  platform::ui::QtDialogs nextRun;
  nextRun.SetStartFolder("Norvane (*.exe) | *.exe", tools.toStdString());
  EXPECT_EQ(nextRun.StartFolder("Access Database (*.mdb) | *.mdb"), data);
  EXPECT_EQ(nextRun.StartFolder("Norvane (*.exe) | *.exe"), tools);  // each filter its own
  std::filesystem::remove_all(dir.path() / "data");
  EXPECT_NE(nextRun.StartFolder("Access Database (*.mdb) | *.mdb"), data);  // gone: not used
}

TEST(QtDialogs, the_help_window_takes_input_while_a_message_box_is_open) {
  testing_support::TempDir dir;
  std::string text = "@topic locate ivex.exe\n";
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\n\n";
  testing_support::WriteBytes(dir.path() / "Migrate.hlp", text);
  QWidget page;
  page.show();
  QApplication::setActiveWindow(&page);
  platform::ui::QtDialogs dialogs;
  int scrolled = -1;
  QTimer::singleShot(0, [&] {
    dialogs.ShowHelp(dir.windows() + "Migrate.hlp", "locate ivex.exe");
    QTextBrowser* help = dialogs.helpWindow();
    // Input through the window system, which holds back what a modal dialog blocks.
    QTest::keyClick(help->windowHandle(), Qt::Key_End);
    scrolled = help->verticalScrollBar()->value();
    QApplication::activeModalWidget()->close();
  });
  dialogs.Message("a dialog is open");
  EXPECT_GT(scrolled, 0);
  dialogs.helpWindow()->close();
}
