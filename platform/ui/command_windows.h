// Command windows: every command file the wizard starts shows its output in a window of its own,
// which stays open after the file has finished (its last line reads "finished <file name>").
//
// Owns: the windows it opened and a timer that collects the output of running command files.
// Failures: StartCommandFile throws what the inner starter throws; no window is opened then.
#pragma once

#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <set>

#include "platform/shell/posix_command_starter.h"

namespace platform::ui {

class CommandWindows : public QObject, public CommandStarter {
 public:
  explicit CommandWindows(shell::PosixCommandStarter& inner);

  int StartCommandFile(const std::string& windowsPath) override;
  bool IsRunning(int taskId) override;
  int Wait(int taskId) override;

 private:
  void Poll();

  shell::PosixCommandStarter& inner_;
  QTimer timer_;
  std::set<int> running_;
};

}  // namespace platform::ui
