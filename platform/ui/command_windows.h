// Command windows: every command file the wizard starts shows its output in a window of its own,
// which stays open after the file has finished (its last line reads "finished <file name>").
// There is one window per command file: starting the same file again clears and reuses it. A
// window opens beside the wizard's window and is titled with the command file and the database
// file it works on.
//
// Owns: the windows it opened, the error lines each task printed, and a timer that collects the
// output of running command files.
// Failures: StartCommandFile throws what the inner starter throws; no window is opened then.
#pragma once

#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/shell/posix_command_starter.h"
#include "platform/shell/tool_output.h"

namespace platform::ui {

class CommandWindows : public QObject, public CommandStarter {
 public:
  // `database` names the database the command files work on, for the windows' titles; `anchor`
  // gives the window to open beside (the active window when it gives none).
  explicit CommandWindows(shell::PosixCommandStarter& inner,
                          std::function<std::string()> database = {},
                          std::function<QWidget*()> anchor = {});

  int StartCommandFile(const std::string& windowsPath) override;
  bool IsRunning(int taskId) override;
  int Wait(int taskId) override;

  // The error lines of the Norvane tools that the task's command file printed so far.
  std::vector<std::string> TakeToolErrors(int taskId);
  // The window of a command file (its Windows path), or nullptr.
  QPlainTextEdit* WindowOf(const std::string& windowsPath) const;

 private:
  QPlainTextEdit* WindowFor(const QString& path);
  void Poll();

  shell::PosixCommandStarter& inner_;
  std::function<std::string()> database_;
  std::function<QWidget*()> anchor_;
  QTimer timer_;
  std::set<int> running_;
  std::map<QString, QPointer<QPlainTextEdit>> windows_;  // by lower-cased path
  std::map<int, std::shared_ptr<shell::ToolErrorLines>> pendingErrors_;
};

}  // namespace platform::ui
