// The whole wizard, page by page, over the real engine, catalog writer, command files and tools:
// only the dialogs answer from the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <filesystem>

#include "fakes/fake_services.h"
#include "platform/access/access_engine.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/postgres/connection.h"
#include "platform/postgres/server_target.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/verify/rows_breaking.h"
#include "platform/verify/server_target.h"
#include "platform/verify/target_inspector.h"
#include "support/private_postgres.h"
#include "support/temp_dir.h"
#include "target/postgres_target.h"
#include "wizard/page_flow.h"
#include "wizard/safety_prompts.h"
#include "wizard/wizard_page.h"

namespace fs = std::filesystem;
using namespace testing_support;
using wizard::PageId;

namespace {

class NewDatabaseChooser : public dao::DataSourceChooser {
 public:
  std::optional<std::string> ChooseDataSource() override { return connection; }
  std::string connection;
};

}  // namespace

TEST(WizardFlow, from_the_options_to_finish_with_link_back_on_nwind) {
  TempDir dir("wizard-flow");
  fs::create_directories(dir.path() / "My Data");
  const fs::path access = dir.path() / "My Data" / "nwind.mdb";
  fs::copy_file(fs::path(NORVANE_TEST_DATA) / "nwind.mdb", access);

  MigrationSettings settings;
  FakeDialogs dialogs;
  RecordingEnd end;
  platform::shell::PosixCommandStarter commands;
  NewDatabaseChooser chooser;
  platform::verify::NorvaneTargetInspector inspector;
  std::vector<std::string> forgotten;  // the databases whose data sources were removed
  chooser.connection = "Driver=Norvane;Database=" + (dir.path() / "My Data" / "nwind.db").string();
  wizard::PageFlow flow(
      settings,
      {dialogs,
       commands,
       end,
       [&] {
         return platform::access::CreateEngine(
             {.chooser = &chooser, .writerFactory = jetwriter::OpenJetCatalogWriter});
       },
       {},
       [&](const std::string& connection, const std::string& table, const std::string& condition) {
         platform::odbc::Connection db(connection);
         return platform::verify::KeysOfRowsBreaking(db, table, condition);
       },
       &inspector,
       [&](const std::string& database) { forgotten.push_back(database); }});
  const auto click = [&](PageId page, const char* name) {
    auto* button = flow.Page(page)->findChild<QAbstractButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isEnabled()) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  };
  // Command files are tasks 1 (migrate.bat) and 2 (reload.bat).
  const auto waitForCommandFile = [&](int task) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return !commands.IsRunning(task); }, 60000));
  };

  flow.Show(PageId::Option);
  click(PageId::Option, "Check1(0)");
  click(PageId::Option, "Command1(1)");
  dialogs.Choose(platform::FileChoice{platform::paths::ToWindows(access), "nwind.mdb"});
  click(PageId::GetAccess, "Command2");
  click(PageId::GetAccess, "Command1(1)");
  click(PageId::Target, "Command1(1)");  // Norvane, as chosen at first
  const fs::path ivex = fs::path(NORVANE_TOOLS_DIR) / "ivex.exe";
  dialogs.Choose(platform::FileChoice{platform::paths::ToWindows(ivex), "ivex.exe"});
  click(PageId::Ivex, "Command2");
  click(PageId::Ivex, "Command1(1)");
  click(PageId::Createdb, "Command3");  // Create DB
  waitForCommandFile(1);
  ASSERT_TRUE(fs::exists(dir.path() / "My Data" / "nwind.db"));
  click(PageId::Createdb, "Command1(1)");
  click(PageId::Final, "Command1(1)");     // Migrate
  EXPECT_EQ(dialogs.messages.size(), 1u);  // the WAIT message only: no failures to report
  waitForCommandFile(2);
  EXPECT_FALSE(flow.Page(PageId::Final)->findChild<QLineEdit*>("Text1(1)")->text().isEmpty());
  // Then properties.bat; the results window names what was not carried.
  QPlainTextEdit* report = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (w->objectName() == "MigrationResults" && w->isVisible())
            report = w->findChild<QPlainTextEdit*>("Report");
        return report != nullptr;
      },
      120000));
  EXPECT_TRUE(report->toPlainText().contains("not carried: rule of BirthDate <Date()"))
      << report->toPlainText().toStdString();
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "properties.sql"));

  {
    const auto catalog = platform::access::CreateEngine({})
                             ->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                             ->OpenDatabase(access.string(), {}, "");
    EXPECT_EQ(catalog->TableDefs().Item("Orders")->SourceTableName(), "Orders");
    EXPECT_EQ(catalog->TableDefs().Item("Old_Orders")->Connect(), "");
  }

  // A second "Migrate" is stopped, with the offer to restore (declined here).
  const std::string linked = ReadBytes(access);
  click(PageId::Final, "Command1(1)");
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_NE(dialogs.questions[0].find("already migrated and linked"), std::string::npos);
  EXPECT_NE(dialogs.questions[0].find(wizard::kRestoreQuestion), std::string::npos);
  EXPECT_EQ(ReadBytes(access), linked);
  EXPECT_FALSE(fs::exists(access.string() + ".bak2"));

  // A row added through the links' driver: "Restore" asks once more, naming the table, and
  // keeps everything when the answer is no.
  platform::odbc::Connection(chooser.connection)
      .ExecDirect("INSERT INTO \"Shippers\" (\"CompanyName\") VALUES ('Late Freight')");
  auto* restore = flow.Page(PageId::Final)->findChild<QAbstractButton*>("Restore");
  ASSERT_NE(restore, nullptr);
  ASSERT_TRUE(restore->isVisible());
  dialogs.answerYes = true;
  dialogs.questions.clear();
  dialogs.noAfter = 1;
  click(PageId::Final, "Restore");
  ASSERT_EQ(dialogs.questions.size(), 2u) << dialogs.messages.back();
  EXPECT_NE(dialogs.questions[1].find("Changed tables:\n  Shippers"), std::string::npos)
      << dialogs.questions[1];
  EXPECT_EQ(ReadBytes(access), linked);
  EXPECT_TRUE(fs::exists(dir.path() / "My Data" / "nwind.db"));
  EXPECT_TRUE(restore->isVisible());

  // "Restore" with both answers yes gives back the original file and removes the new database.
  dialogs.noAfter = -1;
  click(PageId::Final, "Restore");
  EXPECT_EQ(ReadBytes(access), ReadBytes(fs::path(NORVANE_TEST_DATA) / "nwind.mdb"));
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "nwind.db"));
  EXPECT_FALSE(restore->isVisible());
  EXPECT_NE(dialogs.messages.back().find("Restored "), std::string::npos)
      << dialogs.messages.back();
  // Nothing of the run stays on the page: no results, no "Migrate" for the removed database,
  // and the data sources of the database are removed.
  EXPECT_EQ(forgotten, std::vector<std::string>{(dir.path() / "My Data" / "nwind.db").string()});
  EXPECT_FALSE(flow.Page(PageId::Final)->findChild<QWidget*>("ShowResults")->isVisible());
  EXPECT_FALSE(flow.Page(PageId::Final)->findChild<QWidget*>("Command1(1)")->isEnabled());
  EXPECT_TRUE(flow.Page(PageId::Final)->findChild<QLineEdit*>("Text1(1)")->text().isEmpty());
  // No message holds the Windows form of a path.
  for (const std::string& message : dialogs.messages)
    EXPECT_EQ(message.find("Z:\\"), std::string::npos) << message;

  click(PageId::Final, "Command1(2)");  // Finish
  EXPECT_GE(end.calls, 1);
  for (const char* name :
       {"reload1.sql", "reload2.sql", "reload.sql", "reload.bat", "migrate.bat", "sp.sql"})
    EXPECT_FALSE(fs::exists(dir.path() / "My Data" / name)) << name;
}

// The same walk with a PostgreSQL server as the target (a private one started by the test): no
// query tool page, the database made by createdb and psql, the tables linked through psqlODBC.
TEST(WizardFlow, into_a_postgresql_server_with_link_back_on_nwind) {
  const PrivateServer& server = SharedServer();
  server.ExportPassword();
  TempDir dir("wizard-flow-pg");
  const fs::path access = dir.path() / "nwind.mdb";
  fs::copy_file(fs::path(NORVANE_TEST_DATA) / "nwind.mdb", access);

  MigrationSettings settings;
  FakeDialogs dialogs;
  RecordingEnd end;
  platform::shell::PosixCommandStarter commands;
  NewDatabaseChooser chooser;  // answers as the program's does: the server's connection
  platform::verify::AnyTargetInspector inspector;
  platform::verify::ServerDatabasesThroughOdbc serverDatabases;
  wizard::PageFlow flow(
      settings,
      {dialogs,
       commands,
       end,
       [&] {
         return platform::access::CreateEngine(
             {.chooser = &chooser,
              .writerFactory = jetwriter::OpenJetCatalogWriter,
              .serverTransfer = platform::postgres::TransferToServer});
       },
       [&](const std::string& file, const std::string& database) {
         return inspector.TablesLinkedTo(file, database);
       },
       [&](const std::string& connection, const std::string& table, const std::string& condition) {
         platform::odbc::Connection db(connection);
         return platform::verify::KeysOfRowsBreaking(db, table, condition);
       },
       &inspector,
       {},
       &serverDatabases});
  const auto click = [&](PageId page, const char* name) {
    auto* button = flow.Page(page)->findChild<QAbstractButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isEnabled()) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  };
  const auto type = [&](int field, const std::string& text) {
    auto* box = flow.Page(PageId::Target)->findChild<QLineEdit*>(QString("Text1(%1)").arg(field));
    ASSERT_NE(box, nullptr) << field;
    box->setText(QString::fromStdString(text));
  };

  flow.Show(PageId::Option);
  click(PageId::Option, "Check1(0)");
  click(PageId::Option, "Command1(1)");
  dialogs.Choose(platform::FileChoice{platform::paths::ToWindows(access), "nwind.mdb"});
  click(PageId::GetAccess, "Command2");
  click(PageId::GetAccess, "Command1(1)");
  click(PageId::Target, "Option1(1)");
  type(0, server.Get("NORVANE_PG_TCP_HOST"));
  type(1, server.Get("PGPORT"));
  type(2, "wizard_nwind");
  type(3, server.Get("PGUSER"));
  click(PageId::Target, "Command1(1)");
  ASSERT_TRUE(flow.Page(PageId::Createdb)->isVisible()) << "the query tool page is skipped";
  chooser.connection = target::PostgresConnectString(settings);
  click(PageId::Createdb, "Command3");                                // Create DB
  ASSERT_EQ(dialogs.messages.size(), 1u) << dialogs.messages.back();  // the WAIT message
  EXPECT_TRUE(QTest::qWaitFor([&] { return !commands.IsRunning(1); }, 60000));
  click(PageId::Createdb, "Command1(1)");
  click(PageId::Final, "Command1(1)");  // Migrate
  EXPECT_TRUE(QTest::qWaitFor([&] { return !commands.IsRunning(2); }, 60000));
  QPlainTextEdit* report = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (w->objectName() == "MigrationResults" && w->isVisible())
            report = w->findChild<QPlainTextEdit*>("Report");
        return report != nullptr;
      },
      120000))
      << (dialogs.messages.empty() ? "" : dialogs.messages.back());
  const std::string text = report->toPlainText().toStdString();
  EXPECT_NE(text.find("PostgreSQL database 'wizard_nwind'"), std::string::npos) << text;
  EXPECT_EQ(text.find("failed"), std::string::npos) << text;

  // The links name the server, never the password, and read the rows through psqlODBC.
  {
    const auto catalog = platform::access::CreateEngine({})
                             ->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                             ->OpenDatabase(access.string(), {}, "");
    const std::string connect = catalog->TableDefs().Item("Orders")->Connect();
    EXPECT_EQ(connect, "ODBC;" + target::PostgresConnectString(settings));
    EXPECT_NE(connect.find("Database=wizard_nwind"), std::string::npos) << connect;
    EXPECT_EQ(connect.find(server.Password()), std::string::npos);
    EXPECT_EQ(catalog->TableDefs().Item("Old_Orders")->Connect(), "");
  }
  {
    platform::postgres::Connection db(server.Address(true, "wizard_nwind"));
    EXPECT_EQ(db.Query("SELECT count(*) FROM \"Orders\"").at(0).at(0).value_or(""), "830");
  }

  // Restore gives back the Access file and drops the database.
  dialogs.answerYes = true;
  click(PageId::Final, "Restore");
  EXPECT_EQ(ReadBytes(access), ReadBytes(fs::path(NORVANE_TEST_DATA) / "nwind.mdb"));
}
