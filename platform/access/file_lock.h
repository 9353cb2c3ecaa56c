// The lock that makes an open of an Access file exclusive (or shared) between programs.
//
// Owns: an open-file-description lock (fcntl F_OFD_SETLK) over the whole Access file, write
// for an exclusive open and read for a shared one, so another holder inside this process or in
// another process is refused, and closing some other descriptor of the file in this process
// (as libmdb and the catalog writer do) never drops it. Beside the file it honours the lock
// file Access itself keeps (".ldb" for .mdb, ".laccdb" for .accdb): when one exists and another
// process holds a lock on it, the open is refused; otherwise it is created (when the folder
// allows it) and locked the same way, so Access sees this program as a user, and removed on
// release when this program created it (or it is empty, as ours are) and no other holder remains.
// Failures: platform::Error kFileNotFound for a missing file, kCouldNotLock naming the file
// when another holder exists, kPathFileAccess when the file cannot be opened at all.
#pragma once

#include <string>

namespace platform::access {

class FileLock {
 public:
  FileLock(const std::string& posixPath, bool exclusive, bool readOnly);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // The lock file's path for an Access file: same name, extension ".ldb" (".laccdb" for .accdb).
  static std::string LockFileFor(const std::string& posixPath);

 private:
  int fd_ = -1;
  int lockFd_ = -1;
  std::string lockPath_;
  bool createdLockFile_ = false;
};

}  // namespace platform::access
