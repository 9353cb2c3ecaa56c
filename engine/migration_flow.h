// The order of a whole migration, owned once for both front ends: the check before, the run
// locks, "Create DB", the migration run, reload.bat, the properties step, the check after, the
// report, and restore.
//
// A small state machine. Start chooses the part of the sequence (a plan); each Advance does one
// step, or one piece of the work done while a command file runs, and says when to call again.
// norvane-migrate drives it with a blocking loop (RunToEnd); the wizard drives it from its event
// loop (a timer on Later). The front end only shows and asks: every step and every rule of the
// sequence is here.
// Failures: the steps go on past what the run goes on past; everything that failed is in the
// report or has been told through the front end. Nothing here throws.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/migration_run.h"
#include "engine/preflight.h"
#include "engine/property_step.h"
#include "engine/restore.h"
#include "engine/run_view.h"
#include "platform/shell_start.h"
#include "platform/ui_services.h"
#include "report/migration_report.h"
#include "target/create_db.h"
#include "target/postgres_target.h"
#include "target/run_locks.h"

struct MigrationSettings;

namespace engine {

enum class FlowStep {
  Check,           // the check before (preflight), and what its findings allow
  Locks,           // one run at a time on the Access file and on the database
  DryRun,          // the work files and the plan, instead of the rest
  CreateDb,        // the command files written and migrate.bat started
  WaitCreate,      // migrate.bat, when the run follows at once
  NoteAccess,      // the Access file's tables noted for the check after the run
  ReadProperties,  // what the transfer cannot carry, read from the Access file
  Run,             // lsfinish_migrate
  WaitReload,      // reload.bat; the check's Access side is read meanwhile
  Properties,      // properties.bat started
  WaitProperties,  // properties.bat
  CheckAfter,      // the new database compared with the Access file
  Report,
  RemoveWorkFiles,
  Restore,
};
const char* FlowStepName(FlowStep step);

// The part of the sequence one Start runs.
enum class FlowPlan {
  CheckOnly,         // the check alone
  DryRun,            // the check, the locks, the dry run
  CreateOnly,        // the check, the locks, "Create DB" (migrate.bat left running)
  MigrateOnly,       // the check, then the run to the report
  CreateAndMigrate,  // all of it, migrate.bat awaited before the run
};

// What becomes of the work files when the flow ends.
enum class WorkFiles {
  RemovedAtEnd,    // also those of a run that stopped early
  RemovedAtClose,  // the program removes them when it closes
  Kept,            // every work file stays, the properties step's too
};

// When to call Advance again.
enum class FlowNext {
  Now,    // at once
  Soon,   // after the window events waiting now
  Later,  // after a while: a command file runs and nothing is left to do meanwhile
  Done,   // the plan has ended
};

// The front end: shows and asks, holds no step.
class FlowFrontEnd {
 public:
  virtual ~FlowFrontEnd() = default;
  // Each step as it begins.
  virtual void StepStarted(FlowStep /*step*/) {}
  // The check's findings, and what they allow; true to go on. The flow stops after a finding
  // that stops a run whatever this returns.
  virtual bool AcceptCheck(const PreflightResult& result, Gate gate, FlowPlan plan) = 0;
  // A line for the user: what failed, or what a step refused.
  virtual void Tell(const std::string& line) = 0;
  // A line of what the plan was asked for (the dry run's plan); by default told as the others.
  virtual void Print(const std::string& line) { Tell(line); }
  // The finished report, once per run.
  virtual void ShowReport(const reporting::MigrationReport& /*report*/) {}
  // The dialogs and views of "Create DB" and of the run (only the plans that hold the step ask).
  virtual platform::Dialogs& DialogsOfFlow() = 0;
  virtual target::CreateDbView* CreateView() { return nullptr; }
  virtual RunView* RunViewOfFlow() { return nullptr; }
  // After the check, before the locks (not in CheckOnly): the choices the front end stores only
  // now; false ends the plan (the front end has told why).
  virtual bool ChoicesComplete() { return true; }
  // The plan has ended (after ShowReport).
  virtual void FlowEnded(bool /*succeeded*/) {}
};

struct FlowServices {
  platform::CommandStarter& commands;
  EngineFactory runEngine;     // the run's engine: its target open asks for the data source
  EngineFactory accessEngine;  // for the opens of the Access file alone (check, restore)
  // The check after the run (asked at each step); without one the report holds the run's own
  // failures only.
  std::function<reporting::MigrationVerifier*()> verifier = {};
  // The new database as the undo record and restore see it; without it nothing is restored.
  TargetDatabaseInspector* targetInspector = nullptr;
  // Keys of rows (connection, table, condition) breaking a condition; without it the step after
  // reload.bat does not run.
  std::function<std::string(const std::string&, const std::string&, const std::string&)>
      rowsBreaking = {};
  // The Access file's tables linked to a database file, asked before "Create DB" replaces it.
  target::LinkedTablesProbe linkedTables = {};
  // The error lines the command file of a task printed.
  std::function<std::vector<std::string>(int task)> toolErrors = {};
  // The connection of the new database after the run (without "ODBC;"); none or "": the one
  // the run opened.
  std::function<std::string()> targetConnection = {};
  // The connection the run will open, when it is known before it (without "ODBC;"; may throw
  // platform::Error); empty: the user chooses during the run.
  std::function<std::string()> plannedConnection = {};
  // A connection chosen instead of the database "Create DB" makes ("" for that one), and the
  // database file a connection names (locked and recorded for undo as the run's database).
  std::string chosenConnection = {};
  std::function<std::string(const std::string&)> databaseFileOf = {};
  // Why the planned connection (first argument) cannot be used: no such data source, or no
  // Norvane database where it points and not the one "Create DB" makes (second argument, POSIX
  // path); "" when it can. Asked by the check; without it the run's open finds out.
  std::function<std::string(const std::string&, const std::string&)> connectionRefusal = {};
  // The PostgreSQL target's server: "Create DB" asks it about an existing database and drops
  // it, and a plan that stops after creating the database drops it again.
  target::ServerDatabases* serverDatabases = nullptr;
};

class MigrationFlow {
 public:
  // Every reference must outlive the flow. `locks` may be shared by several flows of one program.
  MigrationFlow(MigrationSettings& settings, FlowServices services, target::RunLocks& locks,
                WorkFiles workFiles = WorkFiles::RemovedAtEnd);
  ~MigrationFlow();
  MigrationFlow(const MigrationFlow&) = delete;
  MigrationFlow& operator=(const MigrationFlow&) = delete;

  // Begins a plan; false (nothing done) while another plan of this flow has not ended.
  bool Start(FlowPlan plan, FlowFrontEnd& frontEnd);
  FlowNext Advance();
  // A blocking front end's wait: returns when the command file waited for has ended.
  void Block();
  // Start and every step to the end, blocking; true when the plan succeeded.
  bool RunToEnd(FlowPlan plan, FlowFrontEnd& frontEnd);

  bool Active() const { return step_.has_value(); }
  // The migration run is under way (the window must not close).
  bool RunUnderWay() const { return run_.Running(); }
  // Whether the last plan succeeded: the check clean (CheckOnly), the dry run without failures,
  // "Create DB" started, the report without problems.
  bool Succeeded() const { return succeeded_; }
  // Whether a link-back of the settings' Access file can be undone.
  bool CanRestore() const;
  // The findings of the last check this flow made (none before its first), and whether they
  // stop a run: then no plan but CheckOnly gets past the check, so a front end refuses the
  // steps that follow it (">>", "Create DB") for that file.
  const std::optional<PreflightResult>& LastCheck() const { return lastCheck_; }
  bool CheckStopped() const { return lastCheck_ && GateOf(*lastCheck_) == Gate::Stop; }

  // Undo of the link-back of the settings' Access file, holding the run locks meanwhile.
  RestoreOutcome Restore(FlowFrontEnd& frontEnd, bool discardChanges);
  // Undo of a file named on its own (norvane-migrate --restore): restore takes the locks.
  RestoreOutcome RestoreFile(FlowFrontEnd& frontEnd, const std::string& accessPath,
                             bool discardChanges);

 private:
  class ForwardingView;

  FlowNext Step(FlowStep step);
  FlowNext GoTo(FlowStep step);
  FlowNext Stop();
  FlowNext Finish(bool succeeded);
  FlowNext Check();
  FlowNext ChoicesThenNext();
  FlowNext TakeLocks();
  FlowNext DryRun();
  FlowNext CreateDb();
  FlowNext WaitCreate();
  FlowNext Run();
  FlowNext WaitReload();
  FlowNext StartProperties();
  FlowNext WaitProperties();
  FlowNext CheckAfter();
  FlowNext ShowReport();
  void RemoveLeftovers(bool databaseToo);
  // With `request.runLocksHeld`, this flow's run locks are taken for the restore.
  RestoreOutcome RestoreAs(FlowFrontEnd& frontEnd, const RestoreRequest& request);
  std::string PlannedTarget() const;
  std::string ChosenDatabase() const;
  std::string ConnectionAfterRun() const;
  std::vector<std::string> ToolErrorsOf(int task) const;
  // Null when the front end gave no engine for the Access file.
  std::shared_ptr<dao::Engine> AccessEngine() const;
  // Whether `task` still runs; once it has ended, its exit status is in endedStatus_.
  bool StillRunning(int task);
  reporting::MigrationVerifier* Verifier() const;
  // The step after `step` in the plan under way.
  FlowStep NextAfter(FlowStep step) const;

  MigrationSettings& settings_;
  FlowServices services_;
  target::RunLocks& locks_;
  WorkFiles workFiles_;
  std::unique_ptr<ForwardingView> view_;
  MigrationRun run_;

  FlowPlan plan_ = FlowPlan::CheckOnly;
  FlowFrontEnd* frontEnd_ = nullptr;
  std::optional<FlowStep> step_;  // the step to do next; none when no plan is under way
  bool stepStarted_ = false;      // StepStarted told for step_
  bool succeeded_ = false;
  reporting::MigrationReport report_;
  PropertyStep properties_;
  bool propertiesActive_ = false;
  std::optional<LinkBackRecorder> undoRecord_;
  std::optional<int> createTask_, reloadTask_, propertiesTask_;
  std::optional<int> waitTask_;     // the task Advance waits for
  std::optional<int> endedStatus_;  // its exit status once Block has waited
  bool readingAhead_ = false;
  std::optional<PreflightResult> lastCheck_;
};

}  // namespace engine
