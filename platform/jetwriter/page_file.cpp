#include "platform/jetwriter/page_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {
namespace {

int killBeforeWrite = 0;
int pageWrites = 0;

void CountPageWrite() {
  ++pageWrites;
  if (killBeforeWrite > 0 && pageWrites >= killBeforeWrite) raise(SIGKILL);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw platform::Error(platform::err::kPathFileAccess,
                        what + " '" + path + "': " + std::strerror(errno));
}

// Closes a descriptor on every path out of a scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Release() { return std::exchange(fd, -1); }
};

// Removes a file on every path out of a scope unless kept.
struct Unlinker {
  std::string path;
  ~Unlinker() {
    if (!path.empty()) unlink(path.c_str());
  }
};

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t at,
              const std::string& path) {
  while (size > 0) {
    ssize_t n = pwrite(fd, data, size, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write", path);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pread(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

void SyncDirOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  if (dir.empty()) dir = ".";
  Fd d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.fd < 0 || fsync(d.fd) != 0) Fail("Cannot sync the folder", dir);
}

// A new file `path` with the permissions and owner of the open file `like`, holding its bytes.
// Nothing is left behind when it fails.
int CopyToNewFile(int like, const std::string& likePath, const std::string& path) {
  struct stat st {};
  if (fstat(like, &st) != 0) Fail("Cannot read", likePath);
  Fd out(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.fd < 0) Fail("Cannot create", path);
  Unlinker remove{path};
  if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(out.fd, st.st_uid, st.st_gid))
    Fail("Cannot give the owner of '" + likePath + "' to", path);
  if (fchmod(out.fd, st.st_mode & 07777) != 0) Fail("Cannot set the permissions of", path);
  Bytes buf(1 << 16);
  for (off_t at = 0;;) {
    ssize_t n = pread(like, buf.data(), buf.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read", likePath);
    if (n == 0) break;
    WriteAll(out.fd, buf.data(), static_cast<std::size_t>(n), at, path);
    at += n;
  }
  if (fsync(out.fd) != 0) Fail("Cannot write", path);
  remove.path.clear();
  return out.Release();
}

bool LockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

void SetKillBeforePageWrite(int n) {
  killBeforeWrite = n;
  pageWrites = 0;
}

int PageWritesSoFar() {
  return pageWrites;
}

PageFile::PageFile(const std::string& path, LockMode mode, ReplaceMode replace)
    : lockMode_(mode), replace_(replace) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    throw platform::Error(dao::err::kFileNotFound, "Could not find file '" + path + "'.");
  }
  // The rename at the end replaces the file itself, never a symbolic link to it.
  std::error_code ec;
  path_ = std::filesystem::canonical(path, ec).string();
  if (ec) path_ = path;
  fd_ = open(path_.c_str(), (mode == LockMode::kReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd_ < 0) Fail("Cannot open", path_);
  if (mode == LockMode::kExclusive && !LockWhole(fd_)) {
    close(fd_);
    fd_ = -1;
    throw platform::Error(dao::err::kCouldNotLock, "The file '" + path + "' is already in use.");
  }
  if (fstat(fd_, &st) != 0) Fail("Cannot read", path_);
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
}

PageFile::~PageFile() {
  // A backup of a file this object never replaced is a copy of the file as it still is.
  if (!backupPath_.empty() && !replaced_) unlink(backupPath_.c_str());
  DropWorkCopy();
  if (fd_ >= 0) close(fd_);
}

void PageFile::DropWorkCopy() {
  if (workFd_ < 0) return;
  close(workFd_);
  workFd_ = -1;
  unlink(WorkCopyPath(path_).c_str());
}

void PageFile::SetPageSize(int pageSize) {
  pageSize_ = pageSize;
  if (fileSize_ % static_cast<std::uint64_t>(pageSize) != 0 ||
      fileSize_ < 4 * static_cast<std::uint64_t>(pageSize)) {
    throw platform::Error(dao::err::kUnrecognizedFormat,
                          "The file '" + path_ + "' is not a whole number of pages.");
  }
}

std::uint32_t PageFile::PageCount() const {
  return static_cast<std::uint32_t>(fileSize_ / static_cast<std::uint64_t>(pageSize_)) + allocated_;
}

Bytes PageFile::Read(std::uint32_t page) const {
  auto it = staged_.find(page);
  if (it != staged_.end()) return it->second;
  if (page >= PageCount()) {
    throw platform::Error(dao::err::kUnrecognizedFormat,
                          "Page " + std::to_string(page) + " lies beyond the end of the file.");
  }
  Bytes image(static_cast<std::size_t>(pageSize_), 0);
  if (page * static_cast<std::uint64_t>(pageSize_) >= fileSize_) return image;
  if (!ReadAll(workFd_ >= 0 ? workFd_ : fd_, image.data(), image.size(),
               static_cast<off_t>(page) * pageSize_)) {
    Fail("Cannot read", CurrentPath());
  }
  return image;
}

void PageFile::Write(std::uint32_t page, Bytes image) {
  if (image.size() != static_cast<std::size_t>(pageSize_) || page >= PageCount()) {
    throw platform::Error(platform::err::kInternal, "Bad page write");
  }
  staged_[page] = std::move(image);
}

std::uint32_t PageFile::Allocate() {
  std::uint32_t page = PageCount();
  ++allocated_;
  staged_[page] = Bytes(static_cast<std::size_t>(pageSize_), 0);
  return page;
}

void PageFile::Discard() {
  staged_.clear();
  allocated_ = 0;
}

void PageFile::MakeBackup() {
  std::string tmp = path_ + ".bak-tmp-" + std::to_string(getpid());
  unlink(tmp.c_str());  // one a killed process of the same id left
  Fd copy(CopyToNewFile(fd_, path_, tmp));
  Unlinker remove{tmp};
  for (int i = 1; i < 1000; ++i) {
    std::string name = path_ + ".bak" + (i == 1 ? std::string() : std::to_string(i));
    if (link(tmp.c_str(), name.c_str()) == 0) {
      unlink(tmp.c_str());
      remove.path.clear();
      SyncDirOf(path_);
      backupPath_ = name;
      return;
    }
    if (errno != EEXIST) Fail("Cannot create the backup", name);
  }
  throw platform::Error(platform::err::kPathFileAccess,
                        "Too many backup copies beside '" + path_ + "'.");
}

void PageFile::MakeWorkCopy() {
  const std::string work = WorkCopyPath(path_);
  CountPageWrite();
  struct stat st {};
  if (lstat(work.c_str(), &st) == 0) {
    throw platform::Error(dao::err::kCouldNotLock,
                          "The work copy '" + work +
                              "' exists: another run may be changing the file. The file was "
                              "not changed.");
  }
  workFd_ = CopyToNewFile(fd_, path_, work);
  if (lockMode_ == LockMode::kExclusive) LockWhole(workFd_);  // new: nobody else holds it
  workBroken_ = false;
}

void PageFile::WriteStaged() {
  // The copy's pages as they were, to put back when a write fails half-way.
  std::map<std::uint32_t, Bytes> before;
  const std::uint32_t oldPages = static_cast<std::uint32_t>(fileSize_ / pageSize_);
  for (auto& [page, image] : staged_) {
    if (page >= oldPages) continue;
    Bytes original(static_cast<std::size_t>(pageSize_), 0);
    if (!ReadAll(workFd_, original.data(), original.size(), static_cast<off_t>(page) * pageSize_))
      Fail("Cannot read", CurrentPath());
    before.emplace(page, std::move(original));
  }
  try {
    for (auto& [page, image] : staged_) {
      CountPageWrite();
      WriteAll(workFd_, image.data(), image.size(), static_cast<off_t>(page) * pageSize_,
               CurrentPath());
    }
  } catch (...) {
    try {
      for (auto& [page, image] : before)
        WriteAll(workFd_, image.data(), image.size(), static_cast<off_t>(page) * pageSize_,
                 CurrentPath());
      if (ftruncate(workFd_, static_cast<off_t>(fileSize_)) != 0) workBroken_ = true;
    } catch (...) {
      workBroken_ = true;
    }
    throw;
  }
}

void PageFile::Commit() {
  if (staged_.empty()) return;
  if (lockMode_ == LockMode::kReadOnly)
    throw platform::Error(platform::err::kInternal, "'" + path_ + "' was opened for reading only.");
  if (workBroken_) {
    throw platform::Error(platform::err::kPathFileAccess,
                          "An earlier change of '" + path_ +
                              "' could not be undone in its work copy; no change is made.");
  }
  if (backupPath_.empty()) MakeBackup();
  if (workFd_ < 0) MakeWorkCopy();
  WriteStaged();
  fileSize_ += static_cast<std::uint64_t>(allocated_) * pageSize_;
  Discard();
  if (replace_ == ReplaceMode::kEachCommit) Finish();
}

void PageFile::Finish() {
  if (workFd_ < 0) return;
  const std::string work = WorkCopyPath(path_);
  if (workBroken_) {
    DropWorkCopy();
    throw platform::Error(platform::err::kPathFileAccess,
                          "A change of '" + path_ +
                              "' failed half-way and could not be undone; no change of this run "
                              "was made to the file.");
  }
  try {
    if (fsync(workFd_) != 0) Fail("Cannot write", work);
    // Someone who put another file in its place must not lose it.
    struct stat mine {
    }, now{};
    if (fstat(fd_, &mine) != 0 || stat(path_.c_str(), &now) != 0 || mine.st_dev != now.st_dev ||
        mine.st_ino != now.st_ino) {
      throw platform::Error(dao::err::kCouldNotLock,
                            "The file '" + path_ +
                                "' was replaced by another program during the run; the changes "
                                "were not made.");
    }
    if (beforeReplace_) beforeReplace_(backupPath_, work);
    CountPageWrite();
    if (rename(work.c_str(), path_.c_str()) != 0) Fail("Cannot replace the file with", work);
    replaced_ = true;
  } catch (...) {
    DropWorkCopy();
    throw;
  }
  CountPageWrite();
  close(fd_);
  fd_ = std::exchange(workFd_, -1);
  SyncDirOf(path_);
}

bool PageFile::RemoveStaleWorkCopy(const std::string& path) {
  std::error_code ec;
  std::string real = std::filesystem::canonical(path, ec).string();
  if (ec) real = path;
  return unlink(WorkCopyPath(real).c_str()) == 0;
}

std::string PageFile::ForeignJournalNote(const std::string& path) {
  const std::string journal = JournalPath(path);
  struct stat st {};
  if (lstat(journal.c_str(), &st) != 0) return "";
  std::string note = "The file '" + journal +
                     "' lies beside the Access file. This program writes no such journal, so it "
                     "was left alone and the Access file is not changed while it is there. Remove "
                     "it";
  const std::string backup = path + ".bak";
  if (lstat(backup.c_str(), &st) == 0)
    note += " (after restoring the backup '" + backup +
            "' if an older version of this program was stopped while it changed the file)";
  return note + ".";
}

}  // namespace jetwriter
