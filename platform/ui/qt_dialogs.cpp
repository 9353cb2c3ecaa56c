#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>

#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "platform/help_file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui/window_placement.h"

namespace platform::ui {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QMessageBox::StandardButton Ask(const std::string& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), Q(text), buttons,
                  QApplication::activeWindow());
  box.setWindowModality(Qt::WindowModal);  // the help window stays usable
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QSettings Remembered() {
  return QSettings(kSettingsOrganization, kSettingsApplication);
}

// "Access Database (*.mdb) | *.mdb" -> "folders/*.mdb".
QString FolderKey(const std::string& filter) {
  const auto bar = filter.find('|');
  return "folders/" + Q(Trim(bar == std::string::npos ? filter : filter.substr(bar + 1)));
}

}  // namespace

// F1 anywhere in the application opens the program's help file at its contents.
class QtDialogs::HelpKey : public QObject {
 public:
  HelpKey(QtDialogs& dialogs, std::string helpFile)
      : dialogs_(dialogs), helpFile_(std::move(helpFile)) {
    qApp->installEventFilter(this);
  }
  void SetFile(std::string helpFile) { helpFile_ = std::move(helpFile); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
      dialogs_.ShowHelp(helpFile_, "");
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QtDialogs& dialogs_;
  std::string helpFile_;
};

QtDialogs::QtDialogs() = default;
QtDialogs::~QtDialogs() = default;

void QtDialogs::RegisterProgramHelp(const std::string& helpFile) {
  if (helpKey_)
    helpKey_->SetFile(helpFile);
  else
    helpKey_ = std::make_unique<HelpKey>(*this, helpFile);
}

QString QtFilterOf(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos) return Q(filter);
  return Q(Trim(filter.substr(0, bar))).section(" (", 0, 0) + " (" +
         Q(Trim(filter.substr(bar + 1))) + ")";
}

void QtDialogs::Message(const std::string& text) {
  Ask(text, QMessageBox::Ok);
}

bool QtDialogs::Question(const std::string& text) {
  return Ask(text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtDialogs::SetStartFolder(const std::string& filter, const std::string& folder) {
  startFolders_[filter] = Q(folder);
}

QString QtDialogs::StartFolder(const std::string& filter) const {
  const QString remembered = Remembered().value(FolderKey(filter)).toString();
  if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) return remembered;
  const auto given = startFolders_.find(filter);
  if (given != startFolders_.end() && QFileInfo(given->second).isDir()) return given->second;
  // The user's documents folder (XDG_DOCUMENTS_DIR), else the home folder.
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

void QtDialogs::RememberFolder(const std::string& filter, const QString& chosenFile) {
  Remembered().setValue(FolderKey(filter), QFileInfo(chosenFile).absolutePath());
}

std::optional<FileChoice> QtDialogs::OpenFile(const std::string& filter) {
  QFileDialog dialog(QApplication::activeWindow(), QString(), StartFolder(filter),
                     QtFilterOf(filter));
  dialog.setObjectName("OpenFileDialog");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::WindowModal);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog.selectedFiles().front();
  RememberFolder(filter, chosen);
  return FileChoice{paths::ToWindows(chosen.toStdString()),
                    QFileInfo(chosen).fileName().toStdString()};
}

std::optional<std::string> QtDialogs::SaveFile(const std::string& filter,
                                               const std::string& suggestedName) {
  QFileDialog dialog(QApplication::activeWindow(), QString(),
                     QDir(StartFolder(filter)).filePath(Q(suggestedName)), QtFilterOf(filter));
  dialog.setObjectName("SaveFileDialog");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::WindowModal);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog.selectedFiles().front();
  RememberFolder(filter, chosen);
  return chosen.toStdString();
}

void QtDialogs::ShowHelp(const std::string& helpFile, const std::string& keyword) {
  std::string text;
  try {
    std::ifstream in(paths::ToPosix(helpFile), std::ios::binary);
    if (!in) throw Error(err::kFileNotFound, "");
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const Error&) {
    Message("The help file " + helpFile + " could not be found.");
    return;
  }
  const auto topic = keyword.empty() ? HelpContents(text) : HelpTopic(text, keyword);
  if (!topic) {
    Message("The help file " + helpFile + " has no topic \"" + keyword + "\".");
    return;
  }
  if (!help_) {
    help_ = new QTextBrowser;
    help_->setAttribute(Qt::WA_DeleteOnClose);
    help_->setObjectName("HelpWindow");
    help_->resize(560, 480);
    // Beside the window that asked, never past the screen's edge.
    QWidget* asking = QApplication::activeWindow();
    if (asking != nullptr)
      PlaceBeside(*help_, *asking);
    else
      help_->move(CentredOn(FrameSizeOf(help_), AvailableScreenArea(nullptr)).topLeft());
  }
  // The window system adds the application's name after the title.
  help_->setWindowTitle(keyword.empty() ? QString("Help") : "Help - " + Q(keyword));
  help_->setMarkdown(Q(*topic));
  help_->show();
  help_->raise();
}

void QtDialogs::SetBusyPointer(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtProgramEnd::EndProgram() {
  QApplication::closeAllWindows();
  QCoreApplication::exit(0);
}

}  // namespace platform::ui
