#include "platform/ui/command_windows.h"

#include <QApplication>
#include <QFontDatabase>

namespace platform::ui {

CommandWindows::CommandWindows(shell::PosixCommandStarter& inner) : inner_(inner) {
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &CommandWindows::Poll);
}

int CommandWindows::StartCommandFile(const std::string& windowsPath) {
  const QString path = QString::fromStdString(windowsPath);
  auto* window = new QPlainTextEdit;
  window->setObjectName("CommandWindow");
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setReadOnly(true);
  window->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  window->setWindowTitle(path.section('\\', -1) + " - " + QApplication::applicationDisplayName());
  window->resize(720, 420);
  QPointer<QPlainTextEdit> target(window);
  inner_.SetOutputSink([target](std::string_view chunk) {
    if (!target) return;
    target->moveCursor(QTextCursor::End);
    target->insertPlainText(QString::fromUtf8(chunk.data(), static_cast<qsizetype>(chunk.size())));
    target->ensureCursorVisible();
  });
  int task = 0;
  try {
    task = inner_.StartCommandFile(windowsPath);
  } catch (...) {
    delete window;
    throw;
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

void CommandWindows::Poll() {
  for (auto it = running_.begin(); it != running_.end();)
    it = inner_.IsRunning(*it) ? std::next(it) : running_.erase(it);
  if (running_.empty()) timer_.stop();
}

}  // namespace platform::ui
