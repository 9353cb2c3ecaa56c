#include "platform/access/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform::access {
namespace {

bool SetLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

[[noreturn]] void InUse(const std::string& path) {
  throw Error(dao::err::kCouldNotLock, "Could not use '" + path + "'; file already in use.");
}

}  // namespace

std::string FileLock::LockFileFor(const std::string& posixPath) {
  std::filesystem::path p(posixPath);
  const bool accdb = EqualsNoCase(p.extension().string(), ".accdb");
  p.replace_extension(accdb ? ".laccdb" : ".ldb");
  return p.string();
}

FileLock::FileLock(const std::string& posixPath, bool exclusive, bool readOnly) {
  struct stat st {};
  if (stat(posixPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    throw Error(dao::err::kFileNotFound, "Could not find file '" + posixPath + "'.");
  fd_ = open(posixPath.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd_ < 0 && !readOnly && (errno == EACCES || errno == EROFS))
    throw Error(dao::err::kCouldNotLock,
                "Could not use '" + posixPath + "'; the file is read-only or not writable.");
  if (fd_ < 0)
    throw Error(err::kPathFileAccess, "Could not open '" + posixPath + "': " + strerror(errno));
  // A read lock needs a readable descriptor, a write lock a writable one.
  const short type = exclusive && !readOnly ? F_WRLCK : F_RDLCK;
  if (!SetLock(fd_, type)) {
    close(fd_);
    InUse(posixPath);
  }

  lockPath_ = LockFileFor(posixPath);
  lockFd_ = open(lockPath_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (lockFd_ < 0) {
    lockFd_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    createdLockFile_ = lockFd_ >= 0;
  }
  // A read-only folder, or a link under the name (never followed): the lock on the file itself
  // still holds.
  if (lockFd_ < 0) return;
  if (!SetLock(lockFd_, exclusive ? F_WRLCK : F_RDLCK)) {
    close(lockFd_);
    lockFd_ = -1;
    close(fd_);
    fd_ = -1;
    InUse(posixPath);
  }
}

FileLock::~FileLock() {
  if (lockFd_ >= 0) {
    // Remove the lock file only when it is ours (made by this open, or an empty one a killed
    // run of ours left; Access writes its users into its own) and nobody else holds it.
    struct stat st {};
    const bool ours = createdLockFile_ || (fstat(lockFd_, &st) == 0 && st.st_size == 0);
    if (ours && SetLock(lockFd_, F_WRLCK)) unlink(lockPath_.c_str());
    close(lockFd_);
  }
  if (fd_ >= 0) close(fd_);
}

}  // namespace platform::access
