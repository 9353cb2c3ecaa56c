// Page-level access to an Access file whose changes reach it in one rename.
//
// Owns: the file descriptor of the Access file (opened read-write, never written), an optional
// exclusive lock on it, the staged page images of the change under way, the work copy beside
// the file ("<file>.linking") that every change is written to, and the backup copy made before
// the first change ("<file>.bak", then ".bak2", ...; with the file's permissions and owner).
// The first Commit copies the file to the work copy; every Commit writes its pages there (a
// failed write puts the copy's earlier pages back); Finish syncs the copy and renames it over
// the file. Until then every other reader sees the file as it was; a killed process leaves it
// untouched, and the next run removes the stale work copy (RemoveStaleWorkCopy). In the
// kEachCommit mode every Commit ends with that rename, so each change is atomic on its own.
// No journal is ever written beside the file, and none found there is applied: a "<file>-journal"
// is left alone and reported (ForeignJournalNote).
// Failures: throw platform::Error with dao::err numbers (kCouldNotLock when the file is locked or
// a work copy of another run is in the way, kFileNotFound, kUnrecognizedFormat for a file that
// is no Access file) and platform::err::kPathFileAccess for system errors with their reason.
// After a failed Commit or Finish the file is as it was before the run.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace jetwriter {

using Bytes = std::vector<std::uint8_t>;

enum class LockMode {
  kHeldByCaller,  // the caller already holds the file exclusively; take no lock of our own
  kExclusive,     // take an exclusive lock (F_OFD_SETLK) for as long as the object lives
  kReadOnly,      // open the file read-only and take no lock: for reading it, never a change
};

enum class ReplaceMode {
  kEachCommit,  // every Commit replaces the file
  kAtFinish,    // the changes of every Commit replace the file together at Finish
};

class PageFile {
 public:
  PageFile(const std::string& path, LockMode mode, ReplaceMode replace = ReplaceMode::kEachCommit);
  // Drops a work copy that Finish did not take over: the file stays as it was. The backup goes
  // too when the file was never replaced.
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

  // Writes the staged change into the work copy (making the backup and the copy first when it
  // is the first change), all or nothing; in kEachCommit mode then replaces the file.
  void Commit();
  // Drops the staged change.
  void Discard();
  // Replaces the file with the work copy in one rename, if any change was committed; the hook
  // (if set) runs first, with the backup and the synced work copy, and may stop it by throwing.
  void Finish();
  void SetBeforeReplace(std::function<void(const std::string&, const std::string&)> hook) {
    beforeReplace_ = std::move(hook);
  }

  const std::string& Path() const { return path_; }
  const std::string& BackupPath() const { return backupPath_; }
  // The file that holds every committed change: the work copy until Finish.
  std::string CurrentPath() const { return workFd_ >= 0 ? WorkCopyPath(path_) : path_; }

  static std::string JournalPath(const std::string& path) { return path + "-journal"; }
  static std::string WorkCopyPath(const std::string& path) { return path + ".linking"; }
  // Removes the work copy a killed run left; only for a caller that holds the file exclusively.
  // Returns true when there was one.
  static bool RemoveStaleWorkCopy(const std::string& path);
  // The message for a journal beside the file, or "" when there is none. It names the backup
  // "<file>.bak" only when there is one.
  static std::string ForeignJournalNote(const std::string& path);

 private:
  void MakeBackup();
  void MakeWorkCopy();
  void WriteStaged();
  void DropWorkCopy();

  std::string path_;
  LockMode lockMode_;
  ReplaceMode replace_;
  int fd_ = -1;
  int workFd_ = -1;
  bool workBroken_ = false;  // a failed write could not be undone: the copy is never used
  int pageSize_ = 0;
  std::uint64_t fileSize_ = 0;
  std::map<std::uint32_t, Bytes> staged_;
  std::uint32_t allocated_ = 0;  // pages added at the end by the change under way
  std::string backupPath_;       // made by this object
  bool replaced_ = false;        // the file was replaced by a work copy at least once
  std::function<void(const std::string&, const std::string&)> beforeReplace_;
};

// Test hook: when set to n > 0, the process kills itself (SIGKILL) just before its n-th write
// point: the creation of the work copy, each page write, and each side of the rename that
// replaces the file. 0 disables it.
void SetKillBeforePageWrite(int n);
// The write points counted since the hook was last set.
int PageWritesSoFar();

}  // namespace jetwriter
