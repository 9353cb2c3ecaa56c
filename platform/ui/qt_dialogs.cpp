#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "platform/help_file.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::ui {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QMessageBox::StandardButton Ask(const std::string& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), Q(text), buttons,
                  QApplication::activeWindow());
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

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

std::optional<FileChoice> QtDialogs::OpenFile(const std::string& filter) {
  const QString chosen = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(),
                                                      QString(), QtFilterOf(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return FileChoice{paths::ToWindows(chosen.toStdString()),
                    QFileInfo(chosen).fileName().toStdString()};
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
  const auto topic = HelpTopic(text, keyword);
  if (!topic) {
    Message("The help file " + helpFile + " has no topic \"" + keyword + "\".");
    return;
  }
  if (!help_) {
    help_ = new QTextBrowser;
    help_->setAttribute(Qt::WA_DeleteOnClose);
    help_->setObjectName("HelpWindow");
    help_->resize(560, 480);
  }
  help_->setWindowTitle(QApplication::applicationDisplayName() + " Help - " + Q(keyword));
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
