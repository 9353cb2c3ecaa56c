#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {
namespace {

bool LockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// True when `fd` is still the file at `path` (a releasing run may have removed it meanwhile).
bool StillThere(int fd, const std::string& path) {
  struct stat a {
  }, b{};
  return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

RunLock::RunLock(const std::string& posixPath) : lockPath_(LockFileFor(posixPath)) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    fd_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno == ELOOP)
      throw Error(err::kPathFileAccess, "The lock file '" + lockPath_ +
                                            "' is a symbolic link, which is never followed; "
                                            "delete it when no run is under way.");
    if (fd_ < 0)
      throw Error(err::kPathFileAccess,
                  "Could not create the lock file '" + lockPath_ + "': " + std::strerror(errno));
    if (!LockWhole(fd_)) {
      close(fd_);
      fd_ = -1;
      throw Error(err::kFileAlreadyOpen,
                  "Another migration run is using '" + posixPath +
                      "'. Wait until it has ended: one run at a time per Access file and per "
                      "Norvane database.");
    }
    if (StillThere(fd_, lockPath_)) return;
    close(fd_);  // locked a file its holder had just removed: take the new one
    fd_ = -1;
  }
  throw Error(err::kPathFileAccess, "Could not take the lock file '" + lockPath_ + "'.");
}

RunLock::~RunLock() {
  if (fd_ < 0) return;
  unlink(lockPath_.c_str());  // while still locked, so no other run holds this file
  close(fd_);
}

}  // namespace platform
