// The migration run behind "Migrate": opens the Access file and the target, writes the
// foreign-key script, copies every user table with its indexes and key script, links the tables
// back on request, finishes the scripts and starts reload.bat.
//
// The run goes on past every failing step; it tests only the two opens, which end it with a
// message. Every other failure is collected (which table, which step, the engine's description)
// and handed to the view at the end, and is available from Failures().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/run_view.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/shell_start.h"

struct MigrationSettings;

namespace engine {

// Makes the engine on first use; the run keeps it for its own lifetime.
using EngineFactory = std::function<std::shared_ptr<dao::Engine>()>;

// Compares the values of a table the run has just transferred (Access name, target name) with
// the Access table's: "" when they are equal, else what differs. Throws platform::Error when it
// cannot compare. Called on the run's thread.
using ValuesCheck = std::function<std::string(const std::string&, const std::string&)>;

enum class RunOutcome {
  Finished,          // reached its closing phase (failures, if any, are in Failures())
  AccessOpenFailed,  // the Access file could not be opened exclusively, or takes no link-back
  TargetOpenFailed,  // the target could not be opened, or the data-source choice was cancelled
  AlreadyRunning,    // called again while a run was under way: nothing done
};

// The two messages of a failed open; the engine's description follows each.
inline constexpr const char* kAccessOpenMessage =
    "There is an error opening the database in exclusive mode.  Please close all connections to "
    "the db before using it.  Or it could be ";
inline constexpr const char* kTargetOpenMessage =
    "There is an error opening the database in exclusive mode. Please close all connections to "
    "the db before using it.  Or it could be ";

// The message of a link-back the Access file refuses before any work; the reason follows.
inline constexpr const char* kLinkBackRefusedMessage =
    "The Access file's tables cannot be linked back, so the migration did not start: ";

// The connect string of the target open: no data source, so the engine lets the user choose.
inline constexpr const char* kTargetOpenConnect = "ODBC;dsn=";

// The engine objects of a run: each run makes them anew (replacing those of an earlier run) and
// closes them only at its normal end.
struct RunConnections {
  std::shared_ptr<dao::Workspace> JetWorkspace;   // opens the Access file
  std::shared_ptr<dao::Database> AccessDb;        // AccessDbPath, exclusive, read-write
  std::shared_ptr<dao::Workspace> OdbcWorkspace;  // "NewODBCWorkspace": opens the target only
  std::shared_ptr<dao::Database> TargetDb;        // the target, through ODBC
};

class MigrationRun {
 public:
  // Every reference must outlive the run object.
  MigrationRun(MigrationSettings& settings, RunView& view, platform::CommandStarter& commands,
               EngineFactory makeEngine);
  MigrationRun(const MigrationRun&) = delete;
  MigrationRun& operator=(const MigrationRun&) = delete;

  // With link-back, each transferred table's values are compared before it is linked: a table
  // whose values differ (or cannot be compared) keeps its name and gets no link.
  void CheckValuesBeforeLinking(ValuesCheck check) { valuesCheck_ = std::move(check); }

  // The whole run, from the opens to the start of reload.bat.
  RunOutcome lsfinish_migrate();

  bool Running() const { return running_; }
  // The failures of the last run (for a run that ended at an open, the failed open among them).
  const platform::FailureLog& Failures() const { return failures_; }
  // The task id of the reload.bat the last run started, if it could be started.
  std::optional<int> ReloadTaskId() const { return reloadTask_; }
  // Given to the engine of each run before it opens the Access file.
  void SetBeforeCatalogReplace(dao::BeforeCatalogReplace hook) { beforeReplace_ = std::move(hook); }
  // The target's completed connect string ("ODBC;..."), once the run has opened it.
  const std::string& TargetConnect() const { return targetConnect_; }
  // The engine objects of the last run (empty once it has closed them).
  const RunConnections& Connections() const { return connections_; }

 private:
  RunOutcome Run();
  void WriteForeignKeys();
  void TransferTables();
  void CopyTableIndexes(dao::TableDef& table, const std::string& targetName);
  void LinkBackTable(const std::string& name);
  // The hook given to the engine: beforeReplace_, refused at the close when nothing was linked.
  dao::BeforeCatalogReplace GuardedBeforeReplace();
  // Whether the values of a transferred table allow its link (see CheckValuesBeforeLinking).
  bool ValuesAllowLink(const std::string& name, const std::string& targetName);
  void RunReloadScripts();
  void ReleaseAfterFailedOpen();

  void WalkProgress(int k);
  // The bar's value once k of the tableCount_ tables are walked.
  float BarValueAfter(int k) const;
  void WriteScriptLine(platform::files::LineFileWriter& file, const std::string& line,
                       const std::string& context);

  MigrationSettings& settings_;
  RunView& view_;
  platform::CommandStarter& commands_;
  EngineFactory makeEngine_;
  ValuesCheck valuesCheck_;
  std::shared_ptr<dao::Engine> engine_;
  RunConnections connections_;
  dao::BeforeCatalogReplace beforeReplace_;
  int linkedTables_ = 0;  // links this run appended
  bool closingAccess_ = false;

  bool running_ = false;
  platform::FailureLog failures_;
  platform::ResumeNext err_{&failures_};
  std::string targetConnect_;
  std::int16_t tableCount_ = 0;  // table definitions when the walk began
  int walkPosition_ = 1;         // of the walk's next table, from 1
  platform::files::LineFileWriter reload1_;
  platform::files::LineFileWriter reload2_;
  std::optional<int> reloadTask_;
};

}  // namespace engine
