#include "platform/shell/posix_command_starter.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

}  // namespace

fs::path PosixCommandStarter::DefaultCmdshellPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path beside = self.parent_path() / "cmdshell";
    if (fs::is_regular_file(beside, ec)) return beside;
  }
  return NORVANE_CMDSHELL_PATH;
}

PosixCommandStarter::PosixCommandStarter(fs::path cmdshell) : cmdshell_(std::move(cmdshell)) {}

int PosixCommandStarter::StartCommandFile(const std::string& windowsPath) {
  const fs::path file = paths::ToPosix(windowsPath);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    throw Error(err::kFileNotFound, "File not found: " + windowsPath);
  if (!fs::is_regular_file(cmdshell_, ec))
    throw Error(err::kFileNotFound, "The command shell was not found: " + cmdshell_.string());
  std::string program = cmdshell_.string(), argument = file.string();
  std::vector<char*> argv = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0)
    throw Error(err::kPathFileAccess,
                "Cannot start " + windowsPath + " with " + program + ": " + std::strerror(rc));
  const int id = nextId_++;
  tasks_[id] = Task{pid};
  return id;
}

PosixCommandStarter::Task& PosixCommandStarter::Find(int taskId) {
  auto it = tasks_.find(taskId);
  if (it == tasks_.end())
    throw Error(err::kInternal, "No command file was started as task " + std::to_string(taskId));
  return it->second;
}

bool PosixCommandStarter::IsRunning(int taskId) {
  Task& t = Find(taskId);
  if (t.done) return false;
  int status = 0;
  const pid_t r = ::waitpid(t.pid, &status, WNOHANG);
  if (r == 0) return true;
  t.done = true;
  t.status = r == t.pid ? ExitStatus(status) : 1;
  return false;
}

int PosixCommandStarter::Wait(int taskId) {
  Task& t = Find(taskId);
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
