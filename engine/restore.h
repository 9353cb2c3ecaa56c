// Undo of a link-back: the Access file back from its backup, the new database removed.
//
// Link-back copies the Access file to a backup ("<file>.bak", or ".bak2", ... when that name is
// taken) before its first change. Once the changed file is complete and before it replaces the
// Access file, a record is written beside it ("<file>.norvane-undo", key=value lines) with the
// backup's name, the size and digest of the backup and of the changed file, and the database
// file the links point at; at the end of the migration each table of that database is noted
// with its rows and a digest of its values. A kill at any point leaves either no record (the file
// unchanged) or a record with the file as linked or as the backup.
//
// Restore trusts the record only as far as it can check it: the backup must match its digest,
// the Access file must be as linked (or already put back), its links must point at the recorded
// database, and that file must be a Norvane database no other program holds. A database whose
// tables differ from those noted at the end of the migration (or that were never noted) is
// removed only when the caller says the changes may go. The steps (file put back, database and
// log removed, backup removed, record removed) each leave a state that a second restore finishes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"

struct MigrationSettings;

namespace engine {

// One table of the new database: its rows and a digest of every value.
struct TableState {
  std::string name;
  std::uint64_t rows = 0;
  std::uint64_t digest = 0;
  bool operator==(const TableState&) const = default;
};

// What the record and restore need to know of the new database; the platform implements it.
class TargetDatabaseInspector {
 public:
  virtual ~TargetDatabaseInspector() = default;
  // Whether the database is there (a file, or a database on a server: target::IsServerTarget).
  virtual bool Exists(const std::string& target);
  // True when the file is a database carrying the Norvane application id.
  virtual bool IsNorvaneDatabase(const std::string& posixPath) = 0;
  // The id of another process that holds the database open with a lock, or 0.
  virtual long ProgramHolding(const std::string& posixPath) = 0;
  // Every table with its rows and digest, by name; throws platform::Error when unreadable.
  virtual std::vector<TableState> Tables(const std::string& posixPath) = 0;
  // The tables of the Access file that are ODBC links into the database file.
  virtual std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                                  const std::string& databasePosixPath) = 0;
  // Removes the database file and its journal files, holding the database's locks meanwhile so
  // that no program opens it; throws platform::Error with the reason when it cannot.
  virtual void Remove(const std::string& posixPath) = 0;
};

std::filesystem::path LinkBackRecordPath(const std::filesystem::path& accessFile);
bool HasLinkBackRecord(const std::filesystem::path& accessFile);
// True when a record exists and the Access file is the one the link-back made (not the backup
// an interrupted link-back or restore left in its place).
bool HasLiveLinkBackRecord(const std::filesystem::path& accessFile);

// Writes the record for the link-back of one run. Does nothing without the link option.
class LinkBackRecorder {
 public:
  // `connectedDatabase`: the database file the run writes to when it is not the one "Create DB"
  // makes (a data source or connection string chosen instead), POSIX form; or the database on
  // a server (its connect string, target::IsServerTarget), recorded as it is.
  explicit LinkBackRecorder(const MigrationSettings& settings,
                            const std::string& connectedDatabase = "");
  // For the run's engine (dao::Engine::SetBeforeCatalogReplace); empty without the link option.
  // Writes the record; a failure stops the link-back, so no link-back is ever without one.
  dao::BeforeCatalogReplace BeforeReplace() const;
  // After the run: a record whose link-back did not replace the file is removed.
  void AfterRun(platform::FailureLog& failures);
  // At the end of the migration: notes each table of the new database in the record.
  void AfterMigration(TargetDatabaseInspector& inspector, platform::FailureLog& failures);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

struct RestoreOutcome {
  bool restored = false;
  std::string message;  // what was done, or why nothing was; paths in Windows form
  // The database holds changes made after the migration: restore again with
  // `discardChanges` to remove it all the same. The tables concerned, by name.
  bool needsConsent = false;
  std::vector<std::string> changedTables;
};

struct RestoreRequest {
  std::string accessPath;  // Windows or POSIX form
  bool discardChanges = false;
  // The caller holds the run locks of the Access file and its database (the wizard that made
  // them); otherwise restore takes them for its own time.
  bool runLocksHeld = false;
};

// `engine` is used to make sure nobody holds the Access file.
RestoreOutcome RestoreFromBackup(dao::Engine& engine, TargetDatabaseInspector& inspector,
                                 const RestoreRequest& request);

// Test hook: called with each step's number (1 put back, 2 database removed, 3 backup removed,
// 4 record removed) just before it is taken.
void SetRestoreStepObserver(void (*observer)(int step));

}  // namespace engine
