// The command starter on POSIX: command files run by cmdshell as child processes.
//
// Owns: the child processes it started and their exit statuses, by task id, and with an output
// sink the read end of each child's output pipe. Without a sink the children write into the
// program's own output; they are not stopped when the starter goes away.
// With a sink, a child's standard output and standard error go into one pipe, and its output
// reaches the sink in chunks as it is read: IsRunning forwards what is there without blocking,
// Wait forwards everything up to the pipe's end and then reaps the child. The caller must poll
// IsRunning or call Wait, or a child that writes more than the pipe holds stops until it does;
// when the starter goes away the pipe closes and the child's further writes fail.
// Failures: StartCommandFile throws platform::Error: err::kFileNotFound when the command file or
// cmdshell is missing, err::kPathFileAccess when the pipe or the process cannot be made; path
// errors as platform/paths gives them. IsRunning and Wait throw err::kInternal for an unknown
// task id and err::kPathFileAccess when the output pipe cannot be read (the task stays, a later
// call goes on). An exception from the sink leaves IsRunning or Wait the same way.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string_view>

#include "platform/shell_start.h"

namespace platform::shell {

class PosixCommandStarter final : public CommandStarter {
 public:
  // Receives a child's output as it is read, in pieces that may split lines.
  using OutputSink = std::function<void(std::string_view chunk)>;

  // cmdshell beside the running program, else the one the build made.
  static std::filesystem::path DefaultCmdshellPath();

  explicit PosixCommandStarter(std::filesystem::path cmdshell = DefaultCmdshellPath(),
                               OutputSink sink = {});

  // The sink for command files started from now on; an empty one leaves their output alone.
  void SetOutputSink(OutputSink sink);

  int StartCommandFile(const std::string& windowsPath) override;
  bool IsRunning(int taskId) override;
  int Wait(int taskId) override;

 private:
  // The read end of a child's output pipe.
  class PipeEnd {
   public:
    PipeEnd() = default;
    explicit PipeEnd(int fd) : fd_(fd) {}
    PipeEnd(PipeEnd&& other) noexcept;
    PipeEnd& operator=(PipeEnd&& other) noexcept;
    ~PipeEnd();
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void Close();

   private:
    int fd_ = -1;
  };

  struct Task {
    pid_t pid = 0;
    bool done = false;
    int status = 0;
    PipeEnd output;
    OutputSink sink;
  };
  Task& Find(int taskId);
  // Forwards what the task's pipe holds to its sink; with `toEnd`, waits for more until the pipe's
  // end. Closes the pipe at its end.
  static void Forward(Task& task, bool toEnd);

  std::filesystem::path cmdshell_;
  OutputSink sink_;
  std::map<int, Task> tasks_;
  int nextId_ = 1;
};

}  // namespace platform::shell
