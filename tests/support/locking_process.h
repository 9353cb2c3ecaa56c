// The sqlite3 shell in a process of its own, holding a database file in an exclusive transaction
// (or, with `exclusive` false, an immediate one, which lets others read) until it is destroyed;
// or, made with Reading(), a read transaction, which lets others write but not commit.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

namespace testing_support {

class LockingProcess {
 public:
  explicit LockingProcess(const std::filesystem::path& db, bool exclusive = true)
      : LockingProcess(db, std::string(exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE") +
                               ";\nCREATE TABLE held(x);\n.print held\n") {}
  static LockingProcess Reading(const std::filesystem::path& db) {
    return LockingProcess(
        db, std::string("BEGIN;\nSELECT count(*) FROM sqlite_master;\n.print held\n"));
  }
  LockingProcess(LockingProcess&& other) noexcept
      : pid_(std::exchange(other.pid_, -1)),
        stdin_(std::exchange(other.stdin_, -1)),
        locked_(other.locked_) {}
  LockingProcess(const LockingProcess&) = delete;
  LockingProcess& operator=(const LockingProcess&) = delete;
  ~LockingProcess() {
    if (stdin_ >= 0) ::close(stdin_);  // the shell ends and rolls back
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  bool locked() const { return locked_; }
  pid_t pid() const { return pid_; }

 private:
  LockingProcess(const std::filesystem::path& db, const std::string& script) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      ::execlp("sqlite3", "sqlite3", db.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    (void)!::write(stdin_, script.data(), script.size());
    std::string seen;
    char c = 0;
    while (seen.find("held") == std::string::npos && ::read(out[0], &c, 1) == 1) seen += c;
    ::close(out[0]);
    locked_ = seen.find("held") != std::string::npos;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  bool locked_ = false;
};

}  // namespace testing_support
