// The help file and the help window: a topic for every page's keyword.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "platform/help_file.h"
#include "platform/paths.h"
#include "platform/ui/qt_dialogs.h"
#include "support/temp_dir.h"

using platform::HelpTopic;

TEST(HelpTopic, finds_a_topic_by_keyword_without_regard_to_case_and_stops_at_the_next) {
  const std::string text = "@topic One\r\nfirst\r\n@topic Two words\nsecond\nmore\n@topic Three\n";
  EXPECT_EQ(HelpTopic(text, "one"), "first\n");
  EXPECT_EQ(HelpTopic(text, "TWO WORDS"), "second\nmore\n");
  EXPECT_EQ(HelpTopic(text, "Four"), std::nullopt);
}

TEST(MigrateHlp, has_a_real_topic_for_every_page_keyword) {
  const std::string text = testing_support::ReadBytes(NORVANE_HELP_FILE);
  for (const char* keyword : {"Migrate Options", "Choose MS Access DB", "locate ivex.exe",
                              "create norvane db", "create ODBC data source"}) {
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
