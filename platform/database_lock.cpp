#include "platform/database_lock.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace platform {
namespace {

// SQLite's lock bytes: the pending byte, the reserved byte, then the shared range.
constexpr off_t kSqlitePendingByte = 0x40000000;
constexpr off_t kSqliteLockBytes = 2 + 510;

std::mutex gaveUpMutex;
std::map<std::string, std::chrono::milliseconds> gaveUp;  // file -> the wait that ran out

long HolderOf(const std::string& posixPath, short probe) {
  const int fd = ::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct flock lock {};
  lock.l_type = probe;
  lock.l_whence = SEEK_SET;
  lock.l_start = kSqlitePendingByte;
  lock.l_len = kSqliteLockBytes;
  const bool asked = ::fcntl(fd, F_GETLK, &lock) == 0;
  ::close(fd);
  return asked && lock.l_type != F_UNLCK ? static_cast<long>(lock.l_pid) : 0;
}

}  // namespace

long WriterHoldingLock(const std::string& posixPath) {
  return HolderOf(posixPath, F_RDLCK);
}

long ProgramHoldingLock(const std::string& posixPath) {
  return HolderOf(posixPath, F_WRLCK);
}

bool LockAgainstEveryProgram(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kSqlitePendingByte;
  lock.l_len = kSqliteLockBytes;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

std::string LimitText(std::chrono::milliseconds limit) {
  return limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " s"
                                   : std::to_string(limit.count()) + " ms";
}

std::string LockedDatabaseText(const std::string& posixPath, std::chrono::milliseconds waited) {
  const long pid = posixPath.empty() ? 0 : WriterHoldingLock(posixPath);
  return "the database " + (posixPath.empty() ? std::string() : posixPath + " ") +
         "is locked by another program" + (pid ? " (process " + std::to_string(pid) + ")" : "") +
         "; gave up after " + LimitText(waited);
}

void NoteGaveUpWaiting(const std::string& posixPath, std::chrono::milliseconds waited) {
  if (posixPath.empty()) return;
  const std::lock_guard<std::mutex> hold(gaveUpMutex);
  gaveUp[posixPath] = waited;
}

std::string GaveUpEarlier(const std::string& posixPath) {
  if (posixPath.empty()) return "";
  std::chrono::milliseconds waited{};
  {
    const std::lock_guard<std::mutex> hold(gaveUpMutex);
    const auto it = gaveUp.find(posixPath);
    if (it == gaveUp.end()) return "";
    waited = it->second;
  }
  if (WriterHoldingLock(posixPath) != 0) return LockedDatabaseText(posixPath, waited);
  const std::lock_guard<std::mutex> hold(gaveUpMutex);
  gaveUp.erase(posixPath);
  return "";
}

}  // namespace platform
