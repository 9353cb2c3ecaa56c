// One migration run at a time per file: a lock held for a whole run.
//
// Owns: a lock file "<file>.run-lock" beside the file it guards (which need not exist yet) and
// an open-file-description lock (fcntl F_OFD_SETLK) on it, held while the object lives; the
// lock file is removed on release. A lock file a killed run left is taken over (its lock died
// with the process). The lock guards against other runs of this program only.
// Failures: platform::Error err::kFileAlreadyOpen when another run holds the file, naming it;
// err::kPathFileAccess when the lock file cannot be created (a read-only folder), with the reason.
#pragma once

#include <string>

namespace platform {

class RunLock {
 public:
  explicit RunLock(const std::string& posixPath);
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock();

  static std::string LockFileFor(const std::string& posixPath) { return posixPath + ".run-lock"; }

 private:
  std::string lockPath_;
  int fd_ = -1;
};

}  // namespace platform
