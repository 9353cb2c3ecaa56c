// Page-level access to an Access file with all-or-nothing changes.
//
// Owns: the file descriptor of the Access file, an optional exclusive lock on it, the staged
// page images of the change under way, the rollback journal beside the file ("<file>-journal")
// and the backup copy made before the first change ("<file>.bak", then ".bak2", ...).
// A change is staged in memory and made by Commit: the original images of every page it
// overwrites go into the journal (synced) before the first page of the file is touched; the
// journal is removed once the file is synced. A journal left by a killed process is rolled back
// by Recover (the constructor runs it), so the file holds the state before or after a change.
// Failures: throw platform::Error with dao::err numbers (kCouldNotLock when the file is locked,
// kFileNotFound, kUnrecognizedFormat for a file that is no Access file, kPathFileAccess-like
// system errors as platform::err::kPathFileAccess with the system's reason).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace jetwriter {

using Bytes = std::vector<std::uint8_t>;

enum class LockMode {
  kHeldByCaller,  // the caller already holds the file exclusively; take no lock of our own
  kExclusive,     // take an exclusive lock (F_OFD_SETLK) for as long as the object lives
};

class PageFile {
 public:
  // Opens `path` read-write; rolls back a journal an earlier run left behind.
  PageFile(const std::string& path, LockMode mode);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Page size is fixed once the format is known (2048 or 4096).
  void SetPageSize(int pageSize);
  int PageSize() const { return pageSize_; }
  // Pages in the file including pages allocated by the change under way.
  std::uint32_t PageCount() const;

  // The page as the change under way sees it.
  Bytes Read(std::uint32_t page) const;
  // Stages a new image of an existing or allocated page.
  void Write(std::uint32_t page, Bytes image);
  // A new page at the end of the file (zero-filled until written).
  std::uint32_t Allocate();
  bool HasChanges() const { return !staged_.empty(); }

  // Makes the staged change durable, all or nothing; makes the backup first when it is the
  // first change through this object.
  void Commit();
  // Drops the staged change.
  void Discard();

  const std::string& Path() const { return path_; }
  const std::string& BackupPath() const { return backupPath_; }

  // Rolls back an interrupted change of `path`, if its journal says there was one.
  // Returns true when pages were restored.
  static bool Recover(const std::string& path);
  static std::string JournalPath(const std::string& path) { return path + "-journal"; }

 private:
  void MakeBackup();
  void WritePageAt(std::uint32_t page, const Bytes& image);

  std::string path_;
  int fd_ = -1;
  int pageSize_ = 0;
  std::uint64_t fileSize_ = 0;
  std::map<std::uint32_t, Bytes> staged_;
  std::uint32_t allocated_ = 0;  // pages added at the end by the change under way
  std::string backupPath_;
};

// Test hook: when set to n > 0, the process kills itself (SIGKILL) just before the n-th page
// write of a commit (journal and file writes both count). 0 disables it.
void SetKillBeforePageWrite(int n);

}  // namespace jetwriter
