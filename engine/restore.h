// Undo of a link-back: the Access file back from its backup, the new database removed.
//
// Link-back copies the Access file to a backup ("<file>.bak", or ".bak2", ... when that name is
// taken) before its first change. After a run that made such a backup, a record is written
// beside the Access file ("<file>.norvane-undo", key=value lines) with the backup's name, the
// size and digest of the backup and of the Access file as the run left it, and the database file
// the run filled. Restore refuses, with the reason, when the record is missing, the Access file
// no longer matches the record (changed after the link-back), the backup is missing or does not
// match, or the Access file is in use; otherwise it puts the backup's bytes in place with one
// rename, removes the new database file and its log, then the record and the backup.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "platform/dao/dao.h"
#include "platform/error.h"

struct MigrationSettings;

namespace engine {

std::filesystem::path LinkBackRecordPath(const std::filesystem::path& accessFile);
bool HasLinkBackRecord(const std::filesystem::path& accessFile);

// Notes the Access file's backups before a run; after the run, writes the record when the run
// made a new one. Does nothing without the link option.
class LinkBackRecorder {
 public:
  explicit LinkBackRecorder(const MigrationSettings& settings);
  // A failure to write the record goes into `failures`.
  void AfterRun(platform::FailureLog& failures);

 private:
  bool active_ = false;
  std::filesystem::path access_;
  std::filesystem::path target_;
  std::set<std::string> backupsBefore_;
};

struct RestoreOutcome {
  bool restored = false;
  std::string message;  // what was done, or why nothing was; paths in Windows form
};

// `accessPath` in Windows or POSIX form. `engine` is used to make sure nobody holds the file.
RestoreOutcome RestoreFromBackup(dao::Engine& engine, const std::string& accessPath);

}  // namespace engine
