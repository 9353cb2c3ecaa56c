#include "platform/ui/command_windows.h"

#include <QApplication>
#include <QFontDatabase>

#include <memory>

#include "platform/ui/window_placement.h"

namespace platform::ui {

CommandWindows::CommandWindows(shell::PosixCommandStarter& inner,
                               std::function<std::string()> database,
                               std::function<QWidget*()> anchor)
    : inner_(inner), database_(std::move(database)), anchor_(std::move(anchor)) {
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &CommandWindows::Poll);
}

QPlainTextEdit* CommandWindows::WindowFor(const QString& path) {
  auto& window = windows_[path.toLower()];
  if (!window) {
    window = new QPlainTextEdit;
    window->setObjectName("CommandWindow");
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setReadOnly(true);
    window->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    window->resize(640, 360);
  }
  window->clear();
  QString title = path.section('\\', -1);
  const std::string database = database_ ? database_() : std::string();
  if (!database.empty()) title += " - " + QString::fromStdString(database).section('\\', -1);
  window->setWindowTitle(title + " - " + QApplication::applicationDisplayName());
  return window;
}

int CommandWindows::StartCommandFile(const std::string& windowsPath) {
  const QString path = QString::fromStdString(windowsPath);
  const bool known = WindowOf(windowsPath) != nullptr;
  QWidget* wizard = anchor_ ? anchor_() : nullptr;
  if (wizard == nullptr) wizard = QApplication::activeWindow();
  QPlainTextEdit* window = WindowFor(path);
  QPointer<QPlainTextEdit> target(window);
  auto errors = std::make_shared<shell::ToolErrorLines>();
  inner_.SetOutputSink([target, errors](std::string_view chunk) {
    errors->Take(chunk);
    if (!target) return;
    target->moveCursor(QTextCursor::End);
    target->insertPlainText(QString::fromUtf8(chunk.data(), static_cast<qsizetype>(chunk.size())));
    target->ensureCursorVisible();
  });
  int task = 0;
  try {
    task = inner_.StartCommandFile(windowsPath);
  } catch (...) {
    if (!known) {
      windows_.erase(path.toLower());
      delete window;
    }
    throw;
  }
  pendingErrors_[task] = errors;
  if (!known && wizard != nullptr && wizard != window) {
    // Each new window a little lower than the one before, so that none hides another.
    PlaceBeside(*window, *wizard, static_cast<int>(windows_.size()) - 1);
  }
  window->show();
  window->raise();
  window->activateWindow();  // the command window takes the focus
  running_.insert(task);
  timer_.start();
  return task;
}

bool CommandWindows::IsRunning(int taskId) {
  const bool running = inner_.IsRunning(taskId);
  if (!running) running_.erase(taskId);
  return running;
}

int CommandWindows::Wait(int taskId) {
  running_.erase(taskId);
  return inner_.Wait(taskId);
}

std::vector<std::string> CommandWindows::TakeToolErrors(int taskId) {
  const auto it = pendingErrors_.find(taskId);
  return it == pendingErrors_.end() ? std::vector<std::string>() : it->second->TakeErrors();
}

QPlainTextEdit* CommandWindows::WindowOf(const std::string& windowsPath) const {
  const auto it = windows_.find(QString::fromStdString(windowsPath).toLower());
  return it == windows_.end() ? nullptr : it->second.data();
}

void CommandWindows::Poll() {
  for (auto it = running_.begin(); it != running_.end();)
    it = inner_.IsRunning(*it) ? std::next(it) : running_.erase(it);
  if (running_.empty()) timer_.stop();
}

}  // namespace platform::ui
