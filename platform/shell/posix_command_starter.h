// The command starter on POSIX: command files run by cmdshell as child processes.
//
// Owns: the child processes it started and their exit statuses, by task id. The children write
// into the program's own output; they are not stopped when the starter goes away.
// Failures: StartCommandFile throws platform::Error: err::kFileNotFound when the command file or
// cmdshell is missing, err::kPathFileAccess when the process cannot be started; path errors as
// platform/paths gives them. IsRunning and Wait throw err::kInternal for an unknown task id.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>

#include "platform/shell_start.h"

namespace platform::shell {

class PosixCommandStarter final : public CommandStarter {
 public:
  // cmdshell beside the running program, else the one the build made.
  static std::filesystem::path DefaultCmdshellPath();

  explicit PosixCommandStarter(std::filesystem::path cmdshell = DefaultCmdshellPath());

  int StartCommandFile(const std::string& windowsPath) override;
  bool IsRunning(int taskId) override;
  int Wait(int taskId) override;

 private:
  struct Task {
    pid_t pid = 0;
    bool done = false;
    int status = 0;
  };
  Task& Find(int taskId);

  std::filesystem::path cmdshell_;
  std::map<int, Task> tasks_;
  int nextId_ = 1;
};

}  // namespace platform::shell
