// The pages with Qt Test on the offscreen platform: flow, enabling rules, handlers, close step.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "fakes/fake_dao.h"
#include "fakes/fake_services.h"
#include "platform/run_lock.h"
#include "support/temp_dir.h"
#include "wizard/frmSplash.h"
#include "wizard/page_flow.h"
#include "wizard/wizard_page.h"

namespace fs = std::filesystem;
using namespace testing_support;
using wizard::PageId;

namespace {

class PagesTest : public ::testing::Test {
 protected:
  PagesTest()
      : flow(settings, {dialogs, commands, end, [] { return std::shared_ptr<dao::Engine>(); }}) {}

  template <class T = QWidget>
  T* Find(PageId page, const char* name) {
    auto* widget = flow.Page(page)->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(PageId page, const char* name) {
    QTest::mouseClick(Find<QAbstractButton>(page, name), Qt::LeftButton);
  }
  // Sales.mdb in `dir` chosen, and the query tool.
  void ChooseSalesIn(const TempDir& dir) {
    settings.AccessDbPath = dir.windows() + "Sales.mdb";
    settings.WorkFolder = dir.windows();
    settings.TargetDbFileName = "Sales.db";
    settings.QueryToolFileName = "ivex.exe";
    settings.QueryToolPath = "Z:\\opt\\";
  }
  bool Visible(PageId page) { return flow.Page(page) != nullptr && flow.Page(page)->isVisible(); }

  MigrationSettings settings;
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingEnd end;
  wizard::PageFlow flow;
};

}  // namespace

TEST_F(PagesTest, options_page_starts_as_designed) {
  flow.Show(PageId::Option);
  EXPECT_EQ(flow.Page(PageId::Option)->windowTitle(), "Migration Options");
  EXPECT_FALSE(Find<QCheckBox>(PageId::Option, "Check1(0)")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>(PageId::Option, "Option1(0)")->isChecked());
  EXPECT_FALSE(Find(PageId::Option, "Option1(0)")->isEnabled());
  EXPECT_FALSE(Find(PageId::Option, "Option1(1)")->isEnabled());
  EXPECT_FALSE(Find(PageId::Option, "Text1")->isEnabled());
  EXPECT_EQ(Find<QLineEdit>(PageId::Option, "Text1")->text(), "Old_");
  EXPECT_EQ(flow.Page(PageId::Option)->findChild<QWidget*>("Command1(0)"), nullptr);
}

// The text a control shows, whatever its kind.
QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return QString();
}

TEST_F(PagesTest, every_page_shows_its_title_and_captions_exactly) {
  struct Caption {
    PageId page;
    const char* object;
    const char* text;
  };
  const std::pair<PageId, const char*> titles[] = {
      {PageId::Option, "Migration Options"},
      {PageId::GetAccess, "Select the MS Access DB to Migrate"},
      {PageId::Ivex, "Norvane's IVEX selection"},
      {PageId::Createdb, "Create a Norvane DataBase"},
      {PageId::Final, "The final stop in the Migration Process"}};
  const Caption captions[] = {
      {PageId::Option, "Label1",
       "You may choose to only create a Norvane DB based on your Access DB or you may also "
       "include a link to the newly created Norvane tables back to your Access DB Application."},
      {PageId::Option, "Check1(0)", "Transfer and Link Norvane Tables."},
      {PageId::Option, "Option1(0)", "Precede MS Access table names with \"Old_\" "},
      {PageId::Option, "Option1(1)", "Other:"},
      {PageId::Option, "Command3", "Help"},
      {PageId::Option, "Command1(1)", ">>"},
      {PageId::Option, "Command1(2)", "Cancel"},
      {PageId::GetAccess, "Label1",
       "Select the Microsoft Access Database that you would like to Migrate to Norvane."},
      {PageId::GetAccess, "Command2", "Browse ..."},
      {PageId::GetAccess, "Command3", "Help"},
      {PageId::GetAccess, "Command1(0)", "<<"},
      {PageId::GetAccess, "Command1(1)", ">>"},
      {PageId::GetAccess, "Command1(2)", "Cancel"},
      {PageId::Ivex, "Label1",
       "Locate Norvane 's  ivex.exe.  It will probably be located in the norvane default "
       "directory \\win or \\win32:"},
      {PageId::Ivex, "Command2", "Browse ..."},
      {PageId::Ivex, "Command3", "Help"},
      {PageId::Ivex, "Command1(0)", "<<"},
      {PageId::Ivex, "Command1(1)", ">>"},
      {PageId::Ivex, "Command1(2)", "Cancel"},
      {PageId::Createdb, "Label1",
       "The location of the new Norvane DB file is going to be in the same location as the "
       "Access DB."},
      {PageId::Createdb, "Label2", "Click on 'Create DB' to proceed:"},
      {PageId::Createdb, "Command3", "Create DB"},
      {PageId::Createdb, "Command5", "Help"},
      {PageId::Createdb, "Command1(0)", "<<"},
      {PageId::Createdb, "Command1(1)", ">>"},
      {PageId::Createdb, "Command1(2)", "Cancel"},
      {PageId::Final, "Label4(0)", "DB File:"},
      {PageId::Final, "Label4(1)", "ODBC source:"},
      {PageId::Final, "Label1",
       "You must select a Norvane ODBC Data Source that includes the newly created Norvane DB."},
      {PageId::Final, "Label2",
       "If you do not have one please proceed to create one and then specifying the new "
       "Norvane DB in your ODBC Data Source."},
      {PageId::Final, "Label3",
       "If you require help on the specifics, please refer to the button: \"Things to Note for "
       "your MIGRATION\"."},
      {PageId::Final, "Command1(0)", "<<"},
      {PageId::Final, "Command1(1)", "Migrate"},
      {PageId::Final, "Command1(2)", "Finish"},
      {PageId::Final, "Command3", "Help"},
  };
  for (const auto& [page, title] : titles) {
    flow.Show(page);
    EXPECT_EQ(flow.Page(page)->windowTitle().toStdString(), title);
  }
  for (const Caption& c : captions) {
    QWidget* widget = Find(c.page, c.object);
    if (widget != nullptr) {
      EXPECT_EQ(TextOf(widget).toStdString(), c.text) << c.object;
    }
  }
}

TEST_F(PagesTest, check_box_selects_first_option_again_and_keeps_typed_text) {
  flow.Show(PageId::Option);
  Click(PageId::Option, "Check1(0)");
  Click(PageId::Option, "Option1(1)");
  EXPECT_TRUE(Find(PageId::Option, "Text1")->isEnabled());
  auto* text = Find<QLineEdit>(PageId::Option, "Text1");
  text->setText("Arch_");
  Click(PageId::Option, "Check1(0)");  // off
  EXPECT_FALSE(Find(PageId::Option, "Option1(1)")->isEnabled());
  EXPECT_FALSE(text->isEnabled());
  Click(PageId::Option, "Check1(0)");  // on again
  EXPECT_TRUE(Find<QRadioButton>(PageId::Option, "Option1(0)")->isChecked());
  EXPECT_FALSE(text->isEnabled());
  EXPECT_EQ(text->text(), "Arch_");
}

TEST_F(PagesTest, blank_other_entry_keeps_the_user_on_the_options_page) {
  flow.Show(PageId::Option);
  Click(PageId::Option, "Check1(0)");
  Click(PageId::Option, "Option1(1)");
  Find<QLineEdit>(PageId::Option, "Text1")->setText("  ");
  Click(PageId::Option, "Command1(1)");
  EXPECT_EQ(
      dialogs.messages,
      std::vector<std::string>{"Because you selected <Other:> the entry box must not be empty!"});
  EXPECT_TRUE(Visible(PageId::Option));
  EXPECT_EQ(flow.Page(PageId::GetAccess), nullptr);
  EXPECT_EQ(settings.LinkTablesFlag, 1);
}

TEST_F(PagesTest, going_back_shows_the_options_as_left_not_as_loaded) {
  flow.Show(PageId::Option);
  Click(PageId::Option, "Check1(0)");
  Click(PageId::Option, "Option1(1)");
  Find<QLineEdit>(PageId::Option, "Text1")->setText("Arch_");
  Click(PageId::Option, "Command1(1)");
  EXPECT_EQ(settings.TablePrefix, "Arch_");
  EXPECT_FALSE(Visible(PageId::Option));
  EXPECT_TRUE(Visible(PageId::GetAccess));
  Click(PageId::GetAccess, "Command1(0)");
  EXPECT_TRUE(Visible(PageId::Option));
  EXPECT_TRUE(Find<QRadioButton>(PageId::Option, "Option1(1)")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(PageId::Option, "Text1")->text(), "Arch_");
}

TEST_F(PagesTest, source_page_first_cancel_then_choice_then_cancel_again) {
  flow.Show(PageId::GetAccess);
  EXPECT_FALSE(Find(PageId::GetAccess, "Command1(1)")->isEnabled());
  dialogs.Choose(std::nullopt);
  Click(PageId::GetAccess, "Command2");
  EXPECT_EQ(dialogs.filters.back(), "Access Database (*.mdb *.accdb) | *.mdb *.accdb");
  EXPECT_EQ(dialogs.messages.back(),
            "You must choose an Access DB before you will be allowed to proceed further.");
  EXPECT_FALSE(Find(PageId::GetAccess, "Command1(1)")->isEnabled());

  dialogs.Choose(platform::FileChoice{"Z:\\home\\My Data\\Sales.mdb", "Sales.mdb"});
  Click(PageId::GetAccess, "Command2");
  EXPECT_EQ(Find<QLineEdit>(PageId::GetAccess, "Text1(0)")->text(), "/home/My Data/Sales.mdb");
  EXPECT_TRUE(Find(PageId::GetAccess, "Command1(1)")->isEnabled());

  dialogs.Choose(std::nullopt);  // a later cancel applies the previous choice again
  Click(PageId::GetAccess, "Command2");
  EXPECT_EQ(settings.AccessDbPath, "Z:\\home\\My Data\\Sales.mdb");
  EXPECT_EQ(settings.TargetDbFileName, "Sales.db");
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(PagesTest, query_tool_page_shows_the_folder_as_this_system_writes_it) {
  TempDir dir;
  fs::create_directories(dir.path() / "Norvane Tools" / "win32");
  flow.Show(PageId::Ivex);
  dialogs.Choose(
      platform::FileChoice{dir.windows() + "Norvane Tools\\win32\\ivex.exe", "ivex.exe"});
  Click(PageId::Ivex, "Command2");
  EXPECT_EQ(Find<QLineEdit>(PageId::Ivex, "Text1(0)")->text().toStdString(),
            (dir.path() / "Norvane Tools" / "win32").string() + "/");
  EXPECT_EQ(settings.QueryToolPath.rfind("Z:\\", 0), 0u) << settings.QueryToolPath;
}

TEST_F(PagesTest, query_tool_page_rejects_other_programs_but_keeps_an_earlier_choice) {
  flow.Show(PageId::Ivex);
  dialogs.Choose(platform::FileChoice{"C:\\Program Files\\Tools\\win32\\ivex.exe", "ivex.exe"});
  Click(PageId::Ivex, "Command2");
  EXPECT_EQ(Find<QLineEdit>(PageId::Ivex, "Text1(0)")->text(), "C:\\Progra~1\\Tools\\win32\\");
  Find<QLineEdit>(PageId::Ivex, "Text1(0)")->clear();
  dialogs.Choose(std::nullopt);  // a cancel applies the accepted choice again
  Click(PageId::Ivex, "Command2");
  EXPECT_EQ(Find<QLineEdit>(PageId::Ivex, "Text1(0)")->text(), "C:\\Progra~1\\Tools\\win32\\");
  EXPECT_TRUE(dialogs.messages.empty());
  dialogs.Choose(platform::FileChoice{"C:\\x\\vorlin.exe", "vorlin.exe"});
  Click(PageId::Ivex, "Command2");
  EXPECT_EQ(dialogs.messages.back(),
            "If you don't select a valid ivex/wivex path you will not be able to proceed.");
  EXPECT_EQ(Find<QLineEdit>(PageId::Ivex, "Text1(0)")->text(), "");
  EXPECT_TRUE(Find(PageId::Ivex, "Command1(1)")->isEnabled());
  EXPECT_EQ(settings.QueryToolFileName, "ivex.exe");
  Click(PageId::Ivex, "Command1(1)");
  EXPECT_TRUE(Visible(PageId::Createdb));
}

TEST_F(PagesTest, pages_show_the_current_file_after_going_back_and_choosing_another) {
  TempDir dir;
  settings.QueryToolFileName = "ivex.exe";
  settings.QueryToolPath = "Z:\\opt\\";
  dialogs.Choose(platform::FileChoice{dir.windows() + "notes.mdb", "notes.mdb"});
  flow.Show(PageId::GetAccess);
  Click(PageId::GetAccess, "Command2");
  flow.Show(PageId::Createdb);
  Click(PageId::Createdb, "Command3");  // Create DB for notes.mdb
  ASSERT_TRUE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  Click(PageId::Createdb, "Command1(1)");
  EXPECT_EQ(Find<QLineEdit>(PageId::Final, "Text1(0)")->text().toStdString(),
            (dir.path() / "notes.db").string());

  // "<<" back to the source page, another file, forward again.
  flow.Hide(PageId::Final);
  dialogs.Choose(platform::FileChoice{dir.windows() + "sales.mdb", "sales.mdb"});
  flow.Show(PageId::GetAccess);
  Click(PageId::GetAccess, "Command2");
  flow.Hide(PageId::GetAccess);
  flow.Show(PageId::Createdb);
  EXPECT_EQ(Find<QLineEdit>(PageId::Createdb, "Text1(0)")->text().toStdString(),
            (dir.path() / "sales.db").string());
  EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());  // not created for sales.mdb
  EXPECT_TRUE(Find<QStatusBar>(PageId::Createdb, "StatusBar1")->currentMessage().isEmpty());
  Click(PageId::Createdb, "Command3");
  EXPECT_TRUE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  Click(PageId::Createdb, "Command1(1)");
  EXPECT_EQ(Find<QLineEdit>(PageId::Final, "Text1(0)")->text().toStdString(),
            (dir.path() / "sales.db").string());

  // Back to the first file, whose database was created: ">>" is enabled again.
  flow.Hide(PageId::Final);
  dialogs.Choose(platform::FileChoice{dir.windows() + "notes.mdb", "notes.mdb"});
  flow.Show(PageId::GetAccess);
  Click(PageId::GetAccess, "Command2");
  flow.Show(PageId::Createdb);
  EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());  // sales.db was the last
}

TEST_F(PagesTest, create_db_enables_next_and_keeps_its_status_text) {
  TempDir dir;
  settings.WorkFolder = dir.windows();
  settings.TargetDbFileName = "Sales.db";
  settings.QueryToolFileName = "ivex.exe";
  settings.QueryToolPath = "Z:\\opt\\";
  flow.Show(PageId::Createdb);
  EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  Click(PageId::Createdb, "Command3");
  EXPECT_TRUE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  EXPECT_EQ(Find<QStatusBar>(PageId::Createdb, "StatusBar1")->currentMessage(),
            "Creating database ...");
  EXPECT_EQ(commands.started, std::vector<std::string>{dir.windows() + "migrate.bat"});
}

TEST_F(PagesTest, create_db_is_refused_while_another_run_holds_the_access_file) {
  TempDir dir;
  ChooseSalesIn(dir);
  flow.Show(PageId::Createdb);
  {
    platform::RunLock otherRun((dir.path() / "Sales.mdb").string());
    Click(PageId::Createdb, "Command3");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].find("Another migration run is using '" +
                                       (dir.path() / "Sales.mdb").string()),
              std::string::npos)
        << dialogs.messages[0];
    EXPECT_TRUE(commands.started.empty());
    EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  }
  // Once the other run has ended: created, and this wizard now holds both files.
  Click(PageId::Createdb, "Command3");
  EXPECT_EQ(commands.started, std::vector<std::string>{dir.windows() + "migrate.bat"});
  EXPECT_THROW(platform::RunLock((dir.path() / "Sales.db").string()), platform::Error);
}

// The check runs before "Create DB" too: a finding that stops the run writes nothing.
TEST(CreateDbPage, a_finding_that_stops_the_run_stops_create_db_before_anything_is_written) {
  TempDir dir;
  MigrationSettings settings;
  settings.AccessDbPath = dir.windows() + "Sales.mdb";
  settings.WorkFolder = dir.windows();
  settings.TargetDbFileName = "Sales.db";
  settings.QueryToolFileName = "ivex.exe";
  settings.QueryToolPath = "Z:\\opt\\";
  settings.LinkTablesFlag = 1;
  settings.TablePrefix = "Old_";
  auto engine = std::make_shared<fakes::FakeEngine>();
  auto& link = engine->AddAccessFile(settings.AccessDbPath).AddTable("Customers");
  link.connect = "ODBC;Driver=Norvane;Database=" + (dir.path() / "Sales.db").string();
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingEnd end;
  wizard::PageFlow flow(settings, {dialogs, commands, end,
                                   [engine] { return std::shared_ptr<dao::Engine>(engine); }});
  flow.Show(PageId::Createdb);
  QTest::mouseClick(flow.Page(PageId::Createdb)->findChild<QAbstractButton*>("Command3"),
                    Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("The database cannot be created."), std::string::npos);
  EXPECT_NE(dialogs.messages[0].find("already migrated and linked"), std::string::npos)
      << dialogs.messages[0];
  EXPECT_TRUE(commands.started.empty());
  EXPECT_FALSE(fs::exists(dir.path() / "migrate.bat"));

  link.connect.clear();  // nothing stops: created
  QTest::mouseClick(flow.Page(PageId::Createdb)->findChild<QAbstractButton*>("Command3"),
                    Qt::LeftButton);
  EXPECT_EQ(commands.started, std::vector<std::string>{dir.windows() + "migrate.bat"});
}

TEST_F(PagesTest, each_help_button_opens_its_own_keyword_in_the_app_folder) {
  settings.AppFolder = "Z:\\";
  const std::pair<PageId, const char*> buttons[] = {{PageId::Option, "Command3"},
                                                    {PageId::GetAccess, "Command3"},
                                                    {PageId::Ivex, "Command3"},
                                                    {PageId::Createdb, "Command5"}};
  for (const auto& [page, name] : buttons) {
    flow.Show(page);
    Click(page, name);
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Z:\\\\Migrate.hlp", "Migrate Options"},
      {"Z:\\\\Migrate.hlp", "Choose MS Access DB"},
      {"Z:\\\\Migrate.hlp", "locate ivex.exe"},
      {"Z:\\\\Migrate.hlp", "create norvane db"}};
  EXPECT_EQ(dialogs.help, expected);
}

TEST_F(PagesTest, cancel_removes_the_work_files_and_ends_the_program) {
  TempDir dir;
  for (const char* name :
       {"reload1.sql", "reload2.sql", "reload.sql", "reload.bat", "migrate.bat", "sp.sql"})
    WriteBytes(dir.path() / name, "x");
  settings.WorkFolder = dir.windows();
  flow.Show(PageId::Ivex);
  Click(PageId::Ivex, "Command1(2)");
  EXPECT_TRUE(fs::is_empty(dir.path()));
  EXPECT_EQ(end.calls, 1);
  EXPECT_FALSE(Visible(PageId::Ivex));
}

TEST_F(PagesTest, enter_presses_the_default_button_and_focus_starts_on_the_first_control) {
  flow.Show(PageId::Option);
  QWidget* options = flow.Page(PageId::Option);
  EXPECT_EQ(options->focusWidget(), Find(PageId::Option, "Check1(0)"));
  EXPECT_TRUE(Find<QPushButton>(PageId::Option, "Command1(1)")->isDefault());
  QTest::keyClick(options->focusWidget(), Qt::Key_Return);
  ASSERT_TRUE(Visible(PageId::GetAccess));  // Enter on the check box pressed ">>"

  // Before a file is chosen, Enter browses; read-only boxes never take the focus on arrival.
  QWidget* source = flow.Page(PageId::GetAccess);
  EXPECT_EQ(source->focusWidget(), Find(PageId::GetAccess, "Command2"));
  EXPECT_TRUE(Find<QPushButton>(PageId::GetAccess, "Command2")->isDefault());
  dialogs.Choose(platform::FileChoice{"C:\\DATA\\sales.mdb", "sales.mdb"});
  QTest::keyClick(Find(PageId::GetAccess, "Text1(0)"), Qt::Key_Return);
  EXPECT_EQ(settings.AccessDbPath, "C:\\DATA\\sales.mdb");
  EXPECT_TRUE(Find<QPushButton>(PageId::GetAccess, "Command1(1)")->isDefault());
  QTest::keyClick(Find(PageId::GetAccess, "Text1(0)"), Qt::Key_Enter);
  ASSERT_TRUE(Visible(PageId::Target));
  // The choice of the target starts on Norvane, and Enter goes on to the query tool.
  EXPECT_EQ(flow.Page(PageId::Target)->focusWidget(), Find(PageId::Target, "Option1(0)"));
  QTest::keyClick(flow.Page(PageId::Target)->focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(Visible(PageId::Ivex));

  flow.Show(PageId::Createdb);
  EXPECT_EQ(flow.Page(PageId::Createdb)->focusWidget(), Find(PageId::Createdb, "Command3"));
  flow.Show(PageId::Final);
  EXPECT_EQ(flow.Page(PageId::Final)->focusWidget(), Find(PageId::Final, "Command1(1)"));
  EXPECT_TRUE(Find<QPushButton>(PageId::Final, "Command1(1)")->isDefault());
}

TEST_F(PagesTest, every_page_opens_in_the_place_and_size_of_the_one_before) {
  flow.Show(PageId::Option);
  QWidget* first = flow.Page(PageId::Option);
  const QRect screen = first->screen()->availableGeometry();
  EXPECT_LE(std::abs(first->frameGeometry().center().x() - screen.center().x()), 2);
  first->move(first->pos() + QPoint(37, -21));  // the user moves the page
  first->resize(first->size() + QSize(40, 30));
  const QRect moved = first->frameGeometry();
  Click(PageId::Option, "Command1(1)");
  ASSERT_TRUE(Visible(PageId::GetAccess));
  EXPECT_EQ(flow.Page(PageId::GetAccess)->frameGeometry(), moved);
  for (PageId next :
       {PageId::Target, PageId::Ivex, PageId::Createdb, PageId::Final, PageId::GetAccess}) {
    flow.Show(next);
    EXPECT_EQ(flow.Page(next)->frameGeometry(), moved) << static_cast<int>(next);
  }

  // A page left partly off the screen brings the next one back onto it.
  flow.Page(PageId::GetAccess)->move(screen.right() - 100, screen.bottom() - 50);
  flow.Show(PageId::Ivex);
  EXPECT_TRUE(screen.contains(flow.Page(PageId::Ivex)->frameGeometry()));
}

TEST_F(PagesTest, stopping_the_close_time_wait_leaves_the_work_files_and_says_so) {
  TempDir dir;
  for (const char* name : {"reload1.sql", "reload.bat", "migrate.bat"})
    WriteBytes(dir.path() / name, "x");
  settings.WorkFolder = dir.windows();
  commands.pollsUntilDone = 1 << 30;  // reload.bat hangs
  flow.StartCommandFile(dir.windows() + "reload.bat");
  QString waitText;
  QTimer::singleShot(100, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() != "WaitForCommandFiles" || !w->isVisible()) continue;
      waitText = w->findChild<QLabel*>("WaitText")->text();
      QTest::mouseClick(w->findChild<QPushButton*>("StopWaiting"), Qt::LeftButton);
    }
  });
  flow.Show(PageId::Option);
  flow.Page(PageId::Option)->close();
  EXPECT_TRUE(waitText.contains(QString::fromStdString((dir.path() / "reload.bat").string())))
      << waitText.toStdString();
  EXPECT_TRUE(fs::exists(dir.path() / "reload1.sql"));
  EXPECT_TRUE(fs::exists(dir.path() / "migrate.bat"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("left in " + dir.path().string() + "/:"), std::string::npos)
      << dialogs.messages[0];
  EXPECT_EQ(end.calls, 1);
}

TEST_F(PagesTest, closing_waits_for_a_running_command_file_before_removing_work_files) {
  TempDir dir;
  WriteBytes(dir.path() / "reload1.sql", "x");
  settings.WorkFolder = dir.windows();
  commands.pollsUntilDone = 3;
  flow.StartCommandFile(dir.windows() + "reload.bat");
  flow.Show(PageId::Option);
  flow.Page(PageId::Option)->close();
  EXPECT_TRUE(commands.running.empty());
  EXPECT_FALSE(fs::exists(dir.path() / "reload1.sql"));
  EXPECT_EQ(end.calls, 1);
}

TEST_F(PagesTest, cancel_before_any_file_was_chosen_deletes_nothing_and_ends) {
  TempDir dir;
  WriteBytes(dir.path() / "reload1.sql", "not the wizard's");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  flow.Show(PageId::Option);
  Click(PageId::Option, "Command1(2)");
  fs::current_path(before);
  EXPECT_TRUE(fs::exists(dir.path() / "reload1.sql"));
  EXPECT_EQ(end.calls, 1);
}

TEST_F(PagesTest, splash_timer_records_the_current_folder_and_opens_the_options) {
  TempDir dir;
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  wizard::frmSplash splash(flow);
  splash.show();
  auto* timer = splash.findChild<QTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 3000);
  EXPECT_TRUE(QTest::qWaitFor([&] { return flow.Page(PageId::Option) != nullptr; }, 5000));
  fs::current_path(before);
  EXPECT_EQ(settings.AppFolder, platform::paths::ToWindows(dir.path()));
  EXPECT_EQ(dialogs.programHelp, settings.AppFolder + "\\Migrate.hlp");
  EXPECT_TRUE(Visible(PageId::Option));
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(end.calls, 0);
}

TEST_F(PagesTest, a_click_on_the_splash_frame_ends_without_a_page) {
  wizard::frmSplash splash(flow);
  splash.show();
  QTest::mouseClick(splash.findChild<QWidget*>("Frame1"), Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(end.calls, 1);
  EXPECT_EQ(flow.Page(PageId::Option), nullptr);
  EXPECT_TRUE(settings.AppFolder.empty());
}

TEST_F(PagesTest, a_click_on_the_splash_picture_does_nothing) {
  wizard::frmSplash splash(flow);
  splash.show();
  QTest::mouseClick(splash.findChild<QWidget*>("Image1"), Qt::LeftButton, {}, QPoint(100, 80));
  EXPECT_EQ(end.calls, 0);
  EXPECT_TRUE(splash.isVisible());
  EXPECT_TRUE(splash.findChild<QTimer*>("Timer1")->isActive());
}

TEST(SourcePage, a_file_the_check_stops_gets_neither_next_nor_create_db) {
  TempDir dir;
  MigrationSettings settings;
  settings.QueryToolFileName = "ivex.exe";
  settings.QueryToolPath = "Z:\\opt\\";
  settings.LinkTablesFlag = 1;
  settings.TablePrefix = "Old_";
  auto engine = std::make_shared<fakes::FakeEngine>();
  // Sales.mdb was migrated and linked already: its check stops a second run.
  auto& link = engine->AddAccessFile(dir.windows() + "Sales.mdb").AddTable("Customers");
  link.connect = "ODBC;Driver=Norvane;Database=" + (dir.path() / "Sales.db").string();
  engine->AddAccessFile(dir.windows() + "Notes.mdb").AddTable("Notes", {"ID"}, {});
  FakeDialogs dialogs;
  FakeCommands commands;
  RecordingEnd end;
  wizard::PageFlow flow(settings, {dialogs, commands, end,
                                   [engine] { return std::shared_ptr<dao::Engine>(engine); }});
  const auto choose = [&](const char* title) {
    dialogs.Choose(platform::FileChoice{dir.windows() + title, title});
    QTest::mouseClick(flow.Page(PageId::GetAccess)->findChild<QAbstractButton*>("Command2"),
                      Qt::LeftButton);
  };
  const auto next = [&] {
    return flow.Page(PageId::GetAccess)->findChild<QPushButton*>("Command1(1)");
  };
  flow.Show(PageId::GetAccess);
  choose("Sales.mdb");
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].rfind("This file cannot be migrated. The check of " +
                                          (dir.path() / "Sales.mdb").string() + " found:",
                                      0),
            0u)
      << dialogs.messages[0];
  EXPECT_FALSE(next()->isEnabled());
  EXPECT_TRUE(flow.Page(PageId::GetAccess)->findChild<QPushButton*>("Command2")->isDefault());
  // Should the page that creates be reached all the same, it refuses too.
  flow.Show(PageId::Createdb);
  EXPECT_FALSE(flow.Page(PageId::Createdb)->findChild<QPushButton*>("Command3")->isEnabled());
  flow.Hide(PageId::Createdb);

  choose("Notes.mdb");  // a findings-only file: ">>" and "Create DB" again
  EXPECT_TRUE(next()->isEnabled());
  flow.Show(PageId::Createdb);
  EXPECT_TRUE(flow.Page(PageId::Createdb)->findChild<QPushButton*>("Command3")->isEnabled());
  EXPECT_TRUE(commands.started.empty());
}

TEST_F(PagesTest, the_work_files_of_every_folder_written_are_removed_at_the_end) {
  TempDir first, second;
  for (const TempDir* dir : {&first, &second}) {
    settings.WorkFolder = dir->windows();
    for (const char* name : {"reload1.sql", "reload.bat", "migrate.bat"})
      WriteBytes(dir->path() / name, "x");
    flow.StartCommandFile(dir->windows() + "reload.bat");
  }
  WriteBytes(first.path() / "Sales.mdb", "kept");  // not a work file
  flow.Show(PageId::Option);
  Click(PageId::Option, "Command1(2)");  // Cancel
  for (const TempDir* dir : {&first, &second})
    for (const char* name : {"reload1.sql", "reload.bat", "migrate.bat"})
      EXPECT_FALSE(fs::exists(dir->path() / name)) << dir->path() << " " << name;
  EXPECT_TRUE(fs::exists(first.path() / "Sales.mdb"));
  EXPECT_EQ(end.calls, 1);
}

TEST_F(PagesTest, create_db_says_when_migrate_bat_ended_and_next_needs_the_database) {
  TempDir dir;
  ChooseSalesIn(dir);
  commands.pollsUntilDone = 3;
  commands.onStart = [&](const std::string&) { WriteBytes(dir.path() / "Sales.db", "db"); };
  flow.Show(PageId::Createdb);
  Click(PageId::Createdb, "Command3");
  auto* status = Find<QStatusBar>(PageId::Createdb, "StatusBar1");
  EXPECT_EQ(status->currentMessage(), "Creating database ...");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return status->currentMessage() != "Creating database ..."; }, 5000));
  EXPECT_EQ(status->currentMessage().toStdString(),
            "Database created: " + (dir.path() / "Sales.db").string());
  EXPECT_TRUE(Find(PageId::Createdb, "Command1(1)")->isEnabled());

  // The database removed (as restore does): ">>" is off when the page is shown again.
  fs::remove(dir.path() / "Sales.db");
  flow.Hide(PageId::Createdb);
  flow.Show(PageId::Createdb);
  EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
  EXPECT_TRUE(status->currentMessage().isEmpty());

  // migrate.bat that makes no database says so.
  commands.onStart = nullptr;
  Click(PageId::Createdb, "Command3");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return status->currentMessage() != "Creating database ..."; }, 5000));
  EXPECT_EQ(status->currentMessage(), "migrate.bat ended without the database: see its window.");
  EXPECT_FALSE(Find(PageId::Createdb, "Command1(1)")->isEnabled());
}

TEST_F(PagesTest, a_file_given_at_the_start_is_chosen_on_the_first_arrival) {
  TempDir dir;
  flow.SetStartFile(platform::FileChoice{dir.windows() + "Shop.accdb", "Shop.accdb"});
  flow.Show(PageId::GetAccess);
  EXPECT_EQ(settings.AccessDbPath, dir.windows() + "Shop.accdb");
  EXPECT_EQ(Find<QLineEdit>(PageId::GetAccess, "Text1(0)")->text().toStdString(),
            (dir.path() / "Shop.accdb").string());
  EXPECT_TRUE(Find(PageId::GetAccess, "Command1(1)")->isEnabled());
  EXPECT_TRUE(dialogs.filters.empty());  // no dialog was needed
  // Later arrivals keep what the user chose since.
  settings.AccessDbPath = dir.windows() + "Other.mdb";
  flow.Hide(PageId::GetAccess);
  flow.Show(PageId::GetAccess);
  EXPECT_EQ(settings.AccessDbPath, dir.windows() + "Other.mdb");
}
