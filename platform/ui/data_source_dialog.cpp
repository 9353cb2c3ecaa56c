#include "platform/ui/data_source_dialog.h"

#include <sql.h>
#include <sqlext.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform::ui {

std::vector<DataSourceEntry> OdbcDataSources() {
  std::vector<DataSourceEntry> sources;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return sources;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[256];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, name, sizeof name, &nameLength, description,
                                      sizeof description, &descriptionLength))) {
    const std::string dsn(reinterpret_cast<char*>(name));
    sources.push_back({dsn + " (" + reinterpret_cast<char*>(description) + ")", "DSN=" + dsn});
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return sources;
}

std::optional<std::string> DataSourceDialog::ChooseDataSource() {
  std::vector<DataSourceEntry> entries;
  const std::string file = newDatabaseFile_ ? newDatabaseFile_() : std::string();
  if (!file.empty()) {
    try {
      entries.push_back({"New Norvane database: " + file,
                         "Driver=Norvane;Database=" + paths::ToPosix(file).string()});
    } catch (const Error&) {
      // A file on no mapped drive cannot be offered; the named data sources still can.
    }
  }
  for (auto& e : OdbcDataSources()) entries.push_back(std::move(e));

  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName("SelectDataSource");
  dialog.setWindowTitle("Select Data Source");
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel("Select the data source of the new Norvane database:"));
  auto* list = new QListWidget;
  list->setObjectName("DataSources");
  for (const auto& e : entries) list->addItem(QString::fromStdString(e.label));
  if (!entries.empty()) list->setCurrentRow(0);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  layout->addWidget(buttons);

  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
  return entries[static_cast<std::size_t>(list->currentRow())].connection;
}

}  // namespace platform::ui
