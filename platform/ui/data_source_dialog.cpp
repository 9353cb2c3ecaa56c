#include "platform/ui/data_source_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/norvane_data_sources.h"
#include "platform/ui/window_placement.h"

namespace platform::ui {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

struct Entry {
  QString label;
  std::string dsn;      // an existing data source
  std::string newFile;  // or the new database file to register (POSIX path)
};

std::vector<Entry> Entries(const std::string& newFileWindows, int* preselect) {
  std::vector<Entry> entries;
  std::string newFile;
  if (!newFileWindows.empty()) {
    try {
      newFile = paths::ToPosix(newFileWindows).string();
      entries.push_back({QString(kNewDatabaseEntry) + "  (" + Q(newFile) + ")", {}, newFile});
    } catch (const Error&) {
      // A file on no mapped drive cannot be offered; the named data sources still can.
    }
  }
  *preselect = 0;
  for (const auto& s : NorvaneDataSources()) {
    if (!newFile.empty() && s.database == newFile) *preselect = static_cast<int>(entries.size());
    entries.push_back(
        {Q(s.name) + "  (" + (s.user ? "user" : "system") + " data source: " + Q(s.database) + ")",
         s.name,
         {}});
  }
  return entries;
}

// A data source for the entry; a new file that cannot be registered is connected to directly.
std::string ConnectionOf(const Entry& entry, QWidget* parent) {
  if (entry.newFile.empty()) return "DSN=" + entry.dsn;
  try {
    return "DSN=" + RegisterUserDataSource(entry.newFile);
  } catch (const Error& e) {
    QMessageBox::warning(parent, QApplication::applicationDisplayName(),
                         Q(e.Description() + "\nThe wizard connects to the file directly."));
    return "Driver=" + std::string(kNorvaneDriver) + ";Database=" + entry.newFile;
  }
}

}  // namespace

std::optional<std::string> DataSourceDialog::ChooseDataSource() {
  int preselect = 0;
  const auto entries = Entries(newDatabaseFile_ ? newDatabaseFile_() : std::string(), &preselect);

  QWidget* parent = QApplication::activeWindow();
  QDialog dialog(parent);
  dialog.setObjectName("SelectDataSource");
  dialog.setWindowTitle("Select Data Source - " + QApplication::applicationDisplayName());
  dialog.setWindowModality(Qt::WindowModal);  // the help window stays usable
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel("Select the data source of the new Norvane database:"));
  auto* list = new QListWidget;
  list->setObjectName("DataSources");
  for (const auto& e : entries) list->addItem(e.label);
  if (!entries.empty()) list->setCurrentRow(preselect);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  layout->addWidget(buttons);

  // Wide enough for the longest entry and the title, within the screen.
  const QRect screen = AvailableScreenArea(parent);
  const int titleWidth = dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) + 160;
  const int listWidth = list->sizeHintForColumn(0) + 2 * list->frameWidth() + 32;
  list->setMinimumWidth(std::min(std::max({listWidth, titleWidth, 360}), screen.width() - 80));
  const int row = std::max(list->sizeHintForRow(0), list->fontMetrics().height() + 4);
  list->setMinimumHeight(std::min(row * (std::max(list->count(), 3) + 1), screen.height() / 2));
  dialog.adjustSize();
  if (parent != nullptr)
    dialog.move(KeepOnScreen(QRect(parent->frameGeometry().center() -
                                       QPoint(dialog.width() / 2, dialog.height() / 2),
                                   FrameSizeOf(&dialog)),
                             screen)
                    .topLeft());

  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
  lastChoice_ = ConnectionOf(entries[static_cast<std::size_t>(list->currentRow())], &dialog);
  return lastChoice_;
}

}  // namespace platform::ui
