// The data-source chooser of the target open, over the private ODBC files of the test program
// (qt_main.cpp): "New Norvane database..." first, the Norvane data sources after it, a user data
// source registered for the new file and found again by the next run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>

#include <cstdlib>

#include "norvane/catalog.h"
#include "platform/odbc/odbc.h"
#include "platform/paths.h"
#include "platform/ui/data_source_dialog.h"
#include "platform/ui/norvane_data_sources.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

namespace {

struct Seen {
  QStringList entries;
  int current = -1;
  int dialogWidth = 0;
  int widestEntry = 0;
};

// Answers the next modal dialog once it is up: picks `row` (or keeps the current one) and
// accepts, or rejects it.
void AnswerDialog(bool accept, Seen* seen = nullptr, int row = -1) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return AnswerDialog(accept, seen, row);
    auto* list = dialog->findChild<QListWidget*>("DataSources");
    if (seen != nullptr) {
      for (int i = 0; i < list->count(); ++i) {
        seen->entries.append(list->item(i)->text());
        seen->widestEntry = std::max(seen->widestEntry,
                                     list->fontMetrics().horizontalAdvance(list->item(i)->text()));
      }
      seen->current = list->currentRow();
      seen->dialogWidth = list->width();
    }
    if (row >= 0) list->setCurrentRow(row);
    accept ? dialog->accept() : dialog->reject();
  });
}

// The driver manager caches ini files by their modification time in whole seconds: each write
// gets a time of its own.
void WriteIni(const fs::path& file, const std::string& text) {
  static auto stamp = fs::file_time_type::clock::now();
  WriteBytes(file, text);
  stamp += std::chrono::seconds(2);
  fs::last_write_time(file, stamp);
}

fs::path UserIni() {
  return std::getenv("ODBCINI");
}
fs::path SystemIni() {
  return fs::path(std::getenv("ODBCSYSINI")) / "odbc.ini";
}

class DataSourceDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("ODBCINI"), nullptr);  // never the user's own ~/.odbc.ini
    WriteIni(UserIni(), "");
    WriteIni(SystemIni(), "");
  }
  void TearDown() override {
    WriteIni(UserIni(), "");
    WriteIni(SystemIni(), "");
  }
  testing_support::TempDir dir;
};

}  // namespace

// What the dialog registers is a data source of the Norvane driver: the run connects through it
// to the file it names.
TEST_F(DataSourceDialogTest, a_registered_source_connects_through_the_norvane_driver) {
  const fs::path db = dir.path() / "Stock.db";
  norvane::CreateDatabase(db);
  const std::string name = platform::ui::RegisterUserDataSource(db.string());
  EXPECT_EQ(name, "Stock");
  platform::odbc::Connection connection("DSN=" + name);
  EXPECT_EQ(connection.DbmsName(), "Norvane");
  EXPECT_EQ(connection.DatabaseFile(), db.string()) << connection.CompletedString();
  connection.ExecDirect("CREATE TABLE t (x integer)");
  EXPECT_EQ(connection.TableNames(), std::vector<std::string>{"t"});
}

TEST_F(DataSourceDialogTest, new_database_registers_a_user_source_that_the_next_run_finds) {
  const std::string file = dir.windows() + "Sales.db";
  const std::string posix = (dir.path() / "Sales.db").string();
  platform::ui::DataSourceDialog chooser([&] { return file; });
  Seen first;
  AnswerDialog(true, &first);
  EXPECT_EQ(chooser.ChooseDataSource(), "DSN=Sales");
  EXPECT_EQ(chooser.LastChoice(), "DSN=Sales");
  ASSERT_EQ(first.entries.size(), 1);
  EXPECT_TRUE(first.entries.front().startsWith("New Norvane database..."));
  EXPECT_TRUE(
      first.entries.front().contains(QString::fromStdString(posix)));  // as the system writes it
  EXPECT_GE(first.dialogWidth, first.widestEntry);                     // nothing cut off
  EXPECT_NE(ReadBytes(UserIni()).find("Database=" + posix), std::string::npos);

  // The next run lists it, chooses it by default, and registers nothing twice.
  platform::ui::DataSourceDialog later([&] { return file; });
  Seen second;
  AnswerDialog(true, &second);
  EXPECT_EQ(later.ChooseDataSource(), "DSN=Sales");
  ASSERT_EQ(second.entries.size(), 2);
  EXPECT_TRUE(second.entries[1].startsWith("Sales  (user data source"));
  EXPECT_EQ(second.current, 1);
  const auto sources = platform::ui::NorvaneDataSources();
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(sources[0].database, posix);
}

TEST_F(DataSourceDialogTest, lists_user_and_system_sources_of_the_norvane_driver_only) {
  WriteIni(UserIni(),
           "[Mine]\nDriver=Norvane\nDatabase=/data/mine.db\n"
           "[Other]\nDriver=SomeOtherDriver\nDatabase=/data/other\n");
  WriteIni(SystemIni(), "[Shared]\nDriver=Norvane\nDatabase=/srv/shared.db\n");
  platform::ui::DataSourceDialog chooser([] { return std::string(); });
  Seen seen;
  AnswerDialog(true, &seen, 1);
  EXPECT_EQ(chooser.ChooseDataSource(), "DSN=Shared");
  ASSERT_EQ(seen.entries.size(), 2) << seen.entries.join("|").toStdString();
  EXPECT_TRUE(seen.entries[0].startsWith("Mine  (user data source: /data/mine.db)"));
  EXPECT_EQ(seen.entries[1].toStdString(), "Shared  (system data source: /srv/shared.db)");
}

TEST_F(DataSourceDialogTest, a_name_taken_by_another_file_gets_a_number) {
  WriteIni(UserIni(), "[Sales]\nDriver=Norvane\nDatabase=/elsewhere/Sales.db\n");
  EXPECT_EQ(platform::ui::RegisterUserDataSource((dir.path() / "Sales.db").string()), "Sales_2");
  EXPECT_EQ(platform::ui::RegisterUserDataSource((dir.path() / "Sales.db").string()), "Sales_2");
  EXPECT_NE(ReadBytes(UserIni()).find("Database=/elsewhere/Sales.db"), std::string::npos);
}

TEST_F(DataSourceDialogTest, cancel_chooses_nothing_and_registers_nothing) {
  platform::ui::DataSourceDialog chooser([] { return std::string("Z:\\tmp\\x.db"); });
  AnswerDialog(false);
  EXPECT_FALSE(chooser.ChooseDataSource().has_value());
  EXPECT_TRUE(platform::ui::NorvaneDataSources().empty());
}

// Restore removed the database: the wizard removes the user data sources of that file only.
TEST_F(DataSourceDialogTest, removing_a_files_sources_leaves_the_others_and_system_ones) {
  WriteIni(SystemIni(), "[Shared]\nDriver=Norvane\nDatabase=/srv/Sales.db\n");
  const std::string sales = (dir.path() / "Sales.db").string();
  const std::string stock = (dir.path() / "Stock.db").string();
  ASSERT_EQ(platform::ui::RegisterUserDataSource(sales), "Sales");
  ASSERT_EQ(platform::ui::RegisterUserDataSource(stock), "Stock");
  EXPECT_EQ(platform::ui::RemoveUserDataSourcesOf(sales), std::vector<std::string>{"Sales"});
  const auto left = platform::ui::NorvaneDataSources();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].name, "Stock");
  EXPECT_EQ(left[1].name, "Shared");
  EXPECT_EQ(ReadBytes(UserIni()).find("Sales"), std::string::npos) << ReadBytes(UserIni());
  EXPECT_TRUE(platform::ui::RemoveUserDataSourcesOf(sales).empty());  // once only
  // The next registration for the file takes its name again.
  EXPECT_EQ(platform::ui::RegisterUserDataSource(sales), "Sales");
}
