// Starting command files.
//
// Owns: the start of a command file (a .bat the wizard wrote) as a process of its own, and the
// task ids of what it started, so the program can tell whether a command file still runs.
// Failures: StartCommandFile throws platform::Error when the file cannot be started.
#pragma once

#include <string>

namespace platform {

class CommandStarter {
 public:
  virtual ~CommandStarter() = default;
  // Starts the command file given by its full Windows-form path, in a window of its own, and
  // returns at once with a task id.
  virtual int StartCommandFile(const std::string& windowsPath) = 0;
  virtual bool IsRunning(int taskId) = 0;
  // Waits for the task to end; returns its exit status.
  virtual int Wait(int taskId) = 0;
};

}  // namespace platform
