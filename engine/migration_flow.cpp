#include "engine/migration_flow.h"

#include <utility>

#include "engine/dry_run.h"
#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "report/report_completion.h"

namespace engine {

const char* FlowStepName(FlowStep step) {
  switch (step) {
    case FlowStep::Check:
      return "check";
    case FlowStep::Locks:
      return "locks";
    case FlowStep::DryRun:
      return "dry run";
    case FlowStep::CreateDb:
      return "create db";
    case FlowStep::WaitCreate:
      return "wait create";
    case FlowStep::NoteAccess:
      return "note access";
    case FlowStep::ReadProperties:
      return "read properties";
    case FlowStep::Run:
      return "run";
    case FlowStep::WaitReload:
      return "wait reload";
    case FlowStep::Properties:
      return "properties";
    case FlowStep::WaitProperties:
      return "wait properties";
    case FlowStep::CheckAfter:
      return "check after";
    case FlowStep::Report:
      return "report";
    case FlowStep::RemoveWorkFiles:
      return "remove work files";
    case FlowStep::Restore:
      return "restore";
  }
  return "?";
}

// The run keeps one view for its life; the flow's front end may change from plan to plan.
class MigrationFlow::ForwardingView : public RunView {
 public:
  void Use(RunView* view) { view_ = view; }
  void SetStatusText(const std::string& text) override { view_->SetStatusText(text); }
  void SetProgress(float value) override { view_->SetProgress(value); }
  void SetProgressVisible(bool visible) override { view_->SetProgressVisible(visible); }
  void SetRowProgress(const std::string& what, std::uint64_t done, std::uint64_t total) override {
    view_->SetRowProgress(what, done, total);
  }
  void SetOdbcSourceText(const std::string& text) override { view_->SetOdbcSourceText(text); }
  void ShowTargetConnect(const std::string& connect) override { view_->ShowTargetConnect(connect); }
  void EnableFinish() override { view_->EnableFinish(); }
  void Repaint() override { view_->Repaint(); }
  void YieldToEventLoop() override { view_->YieldToEventLoop(); }
  void ShowMessage(const std::string& text) override { view_->ShowMessage(text); }
  void SetPointer(Pointer pointer) override { view_->SetPointer(pointer); }
  void ShowRunFailures(const platform::FailureLog& failures) override {
    view_->ShowRunFailures(failures);
  }

 private:
  RunView* view_ = nullptr;
};

MigrationFlow::MigrationFlow(MigrationSettings& settings, FlowServices services,
                             target::RunLocks& locks, WorkFiles workFiles)
    : settings_(settings),
      services_(std::move(services)),
      locks_(locks),
      workFiles_(workFiles),
      view_(std::make_unique<ForwardingView>()),
      run_(settings, *view_, services_.commands, services_.runEngine) {}

MigrationFlow::~MigrationFlow() = default;

bool MigrationFlow::Start(FlowPlan plan, FlowFrontEnd& frontEnd) {
  if (Active()) return false;
  plan_ = plan;
  frontEnd_ = &frontEnd;
  view_->Use(frontEnd.RunViewOfFlow());
  succeeded_ = false;
  report_ = {};
  undoRecord_.reset();
  createTask_.reset();
  reloadTask_.reset();
  propertiesTask_.reset();
  waitTask_.reset();
  endedStatus_.reset();
  readingAhead_ = false;
  step_ = FlowStep::Check;
  stepStarted_ = false;
  return true;
}

bool MigrationFlow::RunToEnd(FlowPlan plan, FlowFrontEnd& frontEnd) {
  if (!Start(plan, frontEnd)) return false;
  for (;;) {
    const FlowNext next = Advance();
    if (next == FlowNext::Done) return succeeded_;
    if (next == FlowNext::Later) Block();
  }
}

void MigrationFlow::Block() {
  if (waitTask_ && !endedStatus_) endedStatus_ = services_.commands.Wait(*waitTask_);
}

FlowNext MigrationFlow::Advance() {
  if (!step_) return FlowNext::Done;
  if (!stepStarted_) {
    stepStarted_ = true;
    frontEnd_->StepStarted(*step_);
  }
  return Step(*step_);
}

FlowNext MigrationFlow::Step(FlowStep step) {
  switch (step) {
    case FlowStep::Check:
      return Check();
    case FlowStep::Locks:
      return TakeLocks();
    case FlowStep::DryRun:
      return DryRun();
    case FlowStep::CreateDb:
      return CreateDb();
    case FlowStep::WaitCreate:
      return WaitCreate();
    case FlowStep::NoteAccess:
      if (Verifier() != nullptr) reporting::NoteAccessBeforeRun(*Verifier(), settings_, report_);
      return GoTo(NextAfter(step));
    case FlowStep::ReadProperties:
      properties_ = {};
      propertiesActive_ = static_cast<bool>(services_.rowsBreaking);
      if (propertiesActive_)
        if (const auto engine = AccessEngine()) properties_.ReadBefore(*engine, settings_);
      return GoTo(NextAfter(step));
    case FlowStep::Run:
      return Run();
    case FlowStep::WaitReload:
      return WaitReload();
    case FlowStep::Properties:
      return StartProperties();
    case FlowStep::WaitProperties:
      return WaitProperties();
    case FlowStep::CheckAfter:
      return CheckAfter();
    case FlowStep::Report:
      return ShowReport();
    case FlowStep::RemoveWorkFiles: {
      platform::FailureLog removal;
      class KeepRunning : public platform::ProgramEnd {
       public:
        void EndProgram() override {}
      } keepRunning;
      RemoveWorkFiles(settings_, keepRunning, removal);
      for (const auto& f : removal) frontEnd_->Tell(f.context + ": " + f.description);
      return Finish(report_.Ok());
    }
    case FlowStep::Restore:
      break;
  }
  return Stop();
}

FlowStep MigrationFlow::NextAfter(FlowStep step) const {
  switch (step) {
    case FlowStep::Check:
      return plan_ == FlowPlan::MigrateOnly ? FlowStep::NoteAccess : FlowStep::Locks;
    case FlowStep::Locks:
      return plan_ == FlowPlan::DryRun ? FlowStep::DryRun : FlowStep::CreateDb;
    case FlowStep::CreateDb:
      return FlowStep::WaitCreate;
    case FlowStep::WaitCreate:
      return FlowStep::NoteAccess;
    case FlowStep::NoteAccess:
      return FlowStep::ReadProperties;
    case FlowStep::ReadProperties:
      return FlowStep::Run;
    case FlowStep::Run:
      return FlowStep::WaitReload;
    case FlowStep::WaitReload:
      return FlowStep::Properties;
    case FlowStep::Properties:
      return FlowStep::WaitProperties;
    case FlowStep::WaitProperties:
      return FlowStep::CheckAfter;
    case FlowStep::CheckAfter:
      return FlowStep::Report;
    case FlowStep::Report:
      return FlowStep::RemoveWorkFiles;
    default:
      return FlowStep::Restore;  // not asked: the plan ends with the step before
  }
}

FlowNext MigrationFlow::GoTo(FlowStep step) {
  step_ = step;
  stepStarted_ = false;
  waitTask_.reset();
  endedStatus_.reset();
  return FlowNext::Now;
}

FlowNext MigrationFlow::Finish(bool succeeded) {
  succeeded_ = succeeded;
  step_.reset();
  waitTask_.reset();
  FlowFrontEnd* frontEnd = std::exchange(frontEnd_, nullptr);
  frontEnd->FlowEnded(succeeded);
  return FlowNext::Done;
}

FlowNext MigrationFlow::Stop() {
  return Finish(false);
}

std::string MigrationFlow::PlannedTarget() const {
  return services_.plannedConnection ? services_.plannedConnection() : std::string();
}

std::string MigrationFlow::ChosenDatabase() const {
  if (services_.chosenConnection.empty() || !services_.databaseFileOf) return "";
  return services_.databaseFileOf(services_.chosenConnection);
}

std::string MigrationFlow::ConnectionAfterRun() const {
  if (services_.targetConnection)
    if (std::string connection = services_.targetConnection(); !connection.empty())
      return connection;
  return platform::WithoutOdbcPrefix(run_.TargetConnect());
}

reporting::MigrationVerifier* MigrationFlow::Verifier() const {
  return services_.verifier ? services_.verifier() : nullptr;
}

std::vector<std::string> MigrationFlow::ToolErrorsOf(int task) const {
  return services_.toolErrors ? services_.toolErrors(task) : std::vector<std::string>();
}

std::shared_ptr<dao::Engine> MigrationFlow::AccessEngine() const {
  return services_.accessEngine ? services_.accessEngine() : nullptr;
}

bool MigrationFlow::StillRunning(int task) {
  waitTask_ = task;
  if (endedStatus_) return false;
  if (services_.commands.IsRunning(task)) return true;
  endedStatus_ = services_.commands.Wait(task);
  return false;
}

FlowNext MigrationFlow::Check() {
  const auto engine = AccessEngine();
  if (!engine)
    return plan_ == FlowPlan::CheckOnly ? Finish(true) : GoTo(NextAfter(FlowStep::Check));
  PreflightRequest request = PreflightRequestOf(settings_);
  std::string planned;
  try {
    planned = PlannedTarget();
  } catch (const platform::Error&) {
    // A path that does not resolve: the check names it, and the links are checked without it.
  }
  if (!planned.empty()) request.targetConnect = std::string(platform::kOdbcPrefix) + planned;
  PreflightResult checks = RunPreflight(*engine, request);
  if (!planned.empty() && services_.connectionRefusal) {
    const std::string created = platform::paths::PosixFormOrMapped(request.targetPath);
    if (std::string refusal = services_.connectionRefusal(planned, created); !refusal.empty())
      checks.findings.insert(checks.findings.begin(),
                             {FindingKind::UnusableTarget, true, std::move(refusal), {}});
  }
  lastCheck_ = checks;
  const Gate gate = GateOf(checks);
  const bool accepted = frontEnd_->AcceptCheck(checks, gate, plan_);
  if (plan_ == FlowPlan::CheckOnly) return Finish(checks.Clean());
  if (gate == Gate::Stop || !accepted) return Stop();
  return ChoicesThenNext();
}

FlowNext MigrationFlow::ChoicesThenNext() {
  if (!frontEnd_->ChoicesComplete()) return Stop();
  return GoTo(NextAfter(FlowStep::Check));
}

FlowNext MigrationFlow::TakeLocks() {
  std::string refusal = locks_.Take(settings_);
  if (refusal.empty() && !services_.chosenConnection.empty() && services_.databaseFileOf)
    refusal = locks_.TakeConnected(ChosenDatabase());
  if (!refusal.empty()) {
    frontEnd_->Tell(refusal);
    return Stop();
  }
  return GoTo(NextAfter(FlowStep::Locks));
}

FlowNext MigrationFlow::DryRun() {
  const auto engine = AccessEngine();
  if (!engine) return Stop();
  const DryRunPlan plan =
      engine::DryRun(*engine, settings_, std::string(platform::kOdbcPrefix) + PlannedTarget());
  frontEnd_->Print("Dry run: the work files are in " + settings_.WorkFolder +
                   "; nothing else was changed.");
  if (settings_.Target == TargetKind::PostgreSql)
    frontEnd_->Print("Target: the " + target::PostgresTargetName(settings_) + ".");
  for (const std::string& line : plan.lines) frontEnd_->Print(line);
  for (const auto& f : plan.failures) frontEnd_->Tell(f.context + ": " + f.description);
  return Finish(plan.failures.empty());
}

namespace {

target::CreateDbFiles CreateDbFilesOf(const MigrationSettings& settings) {
  return {ProcedureLinesOf(settings), ReloadBatLines(settings)};
}

}  // namespace

FlowNext MigrationFlow::CreateDb() {
  target::CreateDbView* view = frontEnd_->CreateView();
  createTask_ = target::CreateDb(settings_, CreateDbFilesOf(settings_), frontEnd_->DialogsOfFlow(),
                                 services_.commands, *view, services_.linkedTables,
                                 services_.serverDatabases);
  if (!createTask_) {
    RemoveLeftovers(false);
    return Stop();
  }
  if (plan_ == FlowPlan::CreateOnly) return Finish(true);
  return GoTo(NextAfter(FlowStep::CreateDb));
}

FlowNext MigrationFlow::WaitCreate() {
  if (StillRunning(*createTask_)) return FlowNext::Later;
  const int status = *endedStatus_;
  report_.toolErrors = ToolErrorsOf(*createTask_);
  if (status != 0) {
    frontEnd_->Tell("migrate.bat failed (exit status " + std::to_string(status) +
                    "): the new database was not created.");
    for (const auto& e : report_.toolErrors) frontEnd_->Tell("  " + e);
    RemoveLeftovers(true);
    return Stop();
  }
  return GoTo(NextAfter(FlowStep::WaitCreate));
}

FlowNext MigrationFlow::Run() {
  // A table whose values differ after its transfer is not linked.
  run_.CheckValuesBeforeLinking({});
  if (Verifier() != nullptr && report_.verifyError.empty())
    run_.CheckValuesBeforeLinking([this](const std::string& name, const std::string&) {
      return Verifier()->CompareValues(settings_, ConnectionAfterRun(), name);
    });
  std::string chosenDatabase;
  try {
    if (settings_.Target == TargetKind::PostgreSql)
      chosenDatabase = target::PostgresConnectString(settings_);
    else if (const std::string named = ChosenDatabase(); !named.empty())
      chosenDatabase = platform::paths::PosixPathOf(named).string();
  } catch (const platform::Error&) {
  }
  undoRecord_.emplace(settings_, chosenDatabase);
  run_.SetBeforeCatalogReplace(undoRecord_->BeforeReplace());
  const RunOutcome outcome = run_.lsfinish_migrate();
  if (outcome == RunOutcome::AlreadyRunning) return Stop();
  report_.runFailures = run_.Failures();
  undoRecord_->AfterRun(report_.runFailures);
  if (outcome != RunOutcome::Finished) {
    // Nothing was migrated: a database this plan created holds nothing worth keeping.
    RemoveLeftovers(createTask_.has_value());
    return Stop();
  }
  reloadTask_ = run_.ReloadTaskId();
  // Without reload.bat the new database is not complete: nothing follows but the check.
  if (!reloadTask_) return GoTo(FlowStep::CheckAfter);
  return GoTo(NextAfter(FlowStep::Run));
}

FlowNext MigrationFlow::WaitReload() {
  if (!waitTask_) {
    readingAhead_ = Verifier() != nullptr && report_.verifyError.empty();
    if (readingAhead_) Verifier()->ReadAccessAhead(settings_, ConnectionAfterRun());
  }
  if (StillRunning(*reloadTask_)) {
    // Meanwhile the check reads the Access side, a table at each call.
    if (readingAhead_) readingAhead_ = Verifier()->ReadNextAccessSide();
    return readingAhead_ ? FlowNext::Soon : FlowNext::Later;
  }
  reporting::AddReloadOutcome(*endedStatus_, ToolErrorsOf(*reloadTask_), report_);
  return GoTo(NextAfter(FlowStep::WaitReload));
}

FlowNext MigrationFlow::StartProperties() {
  if (propertiesActive_) {
    const std::string connection = ConnectionAfterRun();
    const auto rowsBreaking = [this, connection](const std::string& table,
                                                 const std::string& condition) {
      return services_.rowsBreaking(connection, table, condition);
    };
    propertiesTask_ = properties_.Start(settings_, rowsBreaking, services_.commands);
  }
  return GoTo(NextAfter(FlowStep::Properties));
}

FlowNext MigrationFlow::WaitProperties() {
  if (propertiesTask_) {
    if (StillRunning(*propertiesTask_)) return FlowNext::Later;
    reporting::AddBatchOutcome("properties.bat", *endedStatus_, ToolErrorsOf(*propertiesTask_),
                               report_);
  }
  if (propertiesActive_ && workFiles_ != WorkFiles::Kept) properties_.RemoveFiles(settings_);
  report_.properties = properties_.Lines();
  for (const auto& f : properties_.Failures()) report_.runFailures.push_back(f);
  return GoTo(NextAfter(FlowStep::WaitProperties));
}

FlowNext MigrationFlow::CheckAfter() {
  if (Verifier() != nullptr)
    reporting::CheckWhatArrived(*Verifier(), settings_, ConnectionAfterRun(), report_);
  if (undoRecord_ && services_.targetInspector != nullptr)
    undoRecord_->AfterMigration(*services_.targetInspector, report_.runFailures);
  undoRecord_.reset();
  return GoTo(NextAfter(FlowStep::CheckAfter));
}

FlowNext MigrationFlow::ShowReport() {
  if (settings_.Target == TargetKind::PostgreSql)
    report_.serverTarget = target::PostgresTargetName(settings_);
  frontEnd_->ShowReport(report_);
  if (workFiles_ == WorkFiles::RemovedAtEnd) return GoTo(NextAfter(FlowStep::Report));
  return Finish(report_.Ok());
}

void MigrationFlow::RemoveLeftovers(bool databaseToo) {
  if (workFiles_ != WorkFiles::RemovedAtEnd) return;
  std::vector<std::string> files;
  for (const char* name : kWorkFileNames) files.push_back(settings_.WorkFolder + name);
  const bool server = settings_.Target == TargetKind::PostgreSql;
  if (databaseToo && server && services_.serverDatabases != nullptr) {
    try {
      if (services_.serverDatabases->Exists(settings_)) services_.serverDatabases->Drop(settings_);
    } catch (const platform::Error& e) {
      frontEnd_->Tell("Dropping the " + target::PostgresTargetName(settings_) + ": " +
                      e.Description());
    }
  } else if (databaseToo && !server) {
    const std::string db = target::TargetDbFilePath(settings_);
    for (const char* ending : {"", "-journal", "-wal", "-shm"}) files.push_back(db + ending);
    files.push_back(target::TargetLogFilePath(settings_));
  }
  for (const std::string& file : files) {
    try {
      if (platform::files::FileExists(file)) platform::files::DeleteFile(file);
    } catch (const platform::Error& e) {
      frontEnd_->Tell("Deleting " + file + ": " + e.Description());
    }
  }
}

namespace {

RestoreOutcome NothingRestored(const std::string& why) {
  RestoreOutcome outcome;
  outcome.message = "Nothing was restored: " + why;
  return outcome;
}

}  // namespace

bool MigrationFlow::CanRestore() const {
  try {
    return HasLinkBackRecord(platform::paths::ToPosix(settings_.AccessDbPath));
  } catch (const platform::Error&) {
    return false;
  }
}

RestoreOutcome MigrationFlow::Restore(FlowFrontEnd& frontEnd, bool discardChanges) {
  return RestoreAs(frontEnd, {settings_.AccessDbPath, discardChanges, true});
}

RestoreOutcome MigrationFlow::RestoreFile(FlowFrontEnd& frontEnd, const std::string& accessPath,
                                          bool discardChanges) {
  return RestoreAs(frontEnd, {accessPath, discardChanges});
}

RestoreOutcome MigrationFlow::RestoreAs(FlowFrontEnd& frontEnd, const RestoreRequest& request) {
  frontEnd.StepStarted(FlowStep::Restore);
  if (services_.targetInspector == nullptr)
    return NothingRestored("the new database cannot be checked.");
  const auto engine = AccessEngine();
  if (!engine) return NothingRestored("the Access file cannot be opened here.");
  if (request.runLocksHeld)
    if (const std::string refusal = locks_.Take(settings_); !refusal.empty())
      return NothingRestored(refusal);
  return RestoreFromBackup(*engine, *services_.targetInspector, request);
}

}  // namespace engine
