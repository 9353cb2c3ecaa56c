// The data-source chooser of the target open: the new Norvane file first; cancel gives nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>

#include "platform/paths.h"
#include "platform/ui/data_source_dialog.h"
#include "support/temp_dir.h"

namespace {

// Answers the next modal dialog once it is up: accepts it or rejects it.
void AnswerDialog(bool accept, QStringList* seen = nullptr) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return AnswerDialog(accept, seen);
    if (seen != nullptr)
      for (int i = 0; i < dialog->findChild<QListWidget*>("DataSources")->count(); ++i)
        seen->append(dialog->findChild<QListWidget*>("DataSources")->item(i)->text());
    accept ? dialog->accept() : dialog->reject();
  });
}

}  // namespace

TEST(DataSourceDialog, offers_the_new_database_file_first_and_returns_its_connection) {
  testing_support::TempDir dir;
  const std::string file = dir.windows() + "Sales.db";
  platform::ui::DataSourceDialog chooser([&] { return file; });
  QStringList seen;
  AnswerDialog(true, &seen);
  const auto chosen = chooser.ChooseDataSource();
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, "Driver=Norvane;Database=" + (dir.path() / "Sales.db").string());
  ASSERT_FALSE(seen.isEmpty());
  EXPECT_TRUE(seen.front().startsWith("New Norvane database: "));
}

TEST(DataSourceDialog, cancel_chooses_nothing) {
  platform::ui::DataSourceDialog chooser([] { return std::string("Z:\\tmp\\x.db"); });
  AnswerDialog(false);
  EXPECT_FALSE(chooser.ChooseDataSource().has_value());
}
