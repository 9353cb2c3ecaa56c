#include "platform/shell/posix_command_starter.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/paths.h"

extern char** environ;

namespace platform::shell {
namespace fs = std::filesystem;
namespace {

int ExitStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

PosixCommandStarter::PipeEnd::PipeEnd(PipeEnd&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

PosixCommandStarter::PipeEnd& PosixCommandStarter::PipeEnd::operator=(PipeEnd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PosixCommandStarter::PipeEnd::~PipeEnd() {
  Close();
}

void PosixCommandStarter::PipeEnd::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

fs::path PosixCommandStarter::DefaultCmdshellPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path beside = self.parent_path() / "cmdshell";
    if (fs::is_regular_file(beside, ec)) return beside;
  }
  return NORVANE_CMDSHELL_PATH;
}

PosixCommandStarter::PosixCommandStarter(fs::path cmdshell, OutputSink sink)
    : cmdshell_(std::move(cmdshell)), sink_(std::move(sink)) {}

void PosixCommandStarter::SetOutputSink(OutputSink sink) {
  sink_ = std::move(sink);
}

int PosixCommandStarter::StartCommandFile(const std::string& windowsPath) {
  const fs::path file = paths::ToPosix(windowsPath);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    throw Error(err::kFileNotFound, "File not found: " + windowsPath);
  if (!fs::is_regular_file(cmdshell_, ec))
    throw Error(err::kFileNotFound, "The command shell was not found: " + cmdshell_.string());
  std::string program = cmdshell_.string(), argument = file.string();
  std::vector<char*> argv = {program.data(), argument.data(), nullptr};

  // Both ends close on exec; the child gets the write end as its output and error.
  PipeEnd readEnd, writeEnd;
  SpawnActions actions;
  if (sink_) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      throw Error(err::kPathFileAccess,
                  "Cannot make the output pipe for " + windowsPath + ": " + std::strerror(errno));
    readEnd = PipeEnd(fds[0]);
    writeEnd = PipeEnd(fds[1]);
    if (::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.fd(), STDOUT_FILENO) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.fd(), STDERR_FILENO) != 0 ||
        ::fcntl(readEnd.fd(), F_SETFL, O_NONBLOCK) != 0)
      throw Error(err::kPathFileAccess, "Cannot prepare the output pipe for " + windowsPath);
  }
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), sink_ ? actions.get() : nullptr, nullptr,
                               argv.data(), environ);
  if (rc != 0)
    throw Error(err::kPathFileAccess,
                "Cannot start " + windowsPath + " with " + program + ": " + std::strerror(rc));
  writeEnd.Close();  // the pipe ends when the child and what it starts are gone
  const int id = nextId_++;
  Task& task = tasks_[id];
  task.pid = pid;
  task.output = std::move(readEnd);
  task.sink = sink_;
  return id;
}

PosixCommandStarter::Task& PosixCommandStarter::Find(int taskId) {
  auto it = tasks_.find(taskId);
  if (it == tasks_.end())
    throw Error(err::kInternal, "No command file was started as task " + std::to_string(taskId));
  return it->second;
}

void PosixCommandStarter::Forward(Task& task, bool toEnd) {
  char buffer[4096];
  while (task.output.open()) {
    const ssize_t n = ::read(task.output.fd(), buffer, sizeof buffer);
    if (n > 0) {
      task.sink(std::string_view(buffer, static_cast<std::size_t>(n)));
    } else if (n == 0) {
      task.output.Close();
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!toEnd) return;
      pollfd p{task.output.fd(), POLLIN, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR)
        throw Error(err::kPathFileAccess, std::string("Cannot wait for a command file's output: ") +
                                              std::strerror(errno));
    } else if (errno != EINTR) {
      throw Error(err::kPathFileAccess,
                  std::string("Cannot read a command file's output: ") + std::strerror(errno));
    }
  }
}

bool PosixCommandStarter::IsRunning(int taskId) {
  Task& t = Find(taskId);
  if (t.output.open()) Forward(t, false);
  if (t.done) return false;
  int status = 0;
  const pid_t r = ::waitpid(t.pid, &status, WNOHANG);
  if (r == 0) return true;
  t.done = true;
  t.status = r == t.pid ? ExitStatus(status) : 1;
  // Everything the child wrote before it ended is in the pipe now.
  if (t.output.open()) Forward(t, false);
  return false;
}

int PosixCommandStarter::Wait(int taskId) {
  Task& t = Find(taskId);
  if (t.output.open()) Forward(t, true);
  if (t.done) return t.status;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(t.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  t.done = true;
  t.status = r == t.pid ? ExitStatus(status) : 1;
  return t.status;
}

}  // namespace platform::shell
