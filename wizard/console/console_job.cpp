#include "wizard/console/console_job.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "engine/migration_run.h"
#include "engine/path_forms.h"
#include "engine/property_step.h"
#include "engine/restore.h"
#include "engine/work_files.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "target/create_db.h"
#include "target/run_locks.h"
#include "wizard/console/console_safety.h"
#include "wizard/console/console_view.h"
#include "wizard/console/report_completion.h"
#include "wizard/page_rules.h"

namespace console {
namespace {

namespace fs = std::filesystem;

std::string WindowsFormOf(const std::string& path) {
  return engine::IsWindowsForm(path) ? path : platform::paths::ToWindows(fs::absolute(path));
}

std::string FileTitleOf(const std::string& windowsPath) {
  const auto slash = windowsPath.find_last_of("\\/");
  return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

class FixedChooser : public dao::DataSourceChooser {
 public:
  explicit FixedChooser(std::string connection) : connection_(std::move(connection)) {}
  std::optional<std::string> ChooseDataSource() override { return connection_; }

 private:
  std::string connection_;
};

class NoEnd : public platform::ProgramEnd {
 public:
  void EndProgram() override {}
};

// Why the file `shown` (Windows form `windowsPath`) cannot be used, or "" when it is a file.
std::string FileProblem(const std::string& what, const std::string& shown,
                        const std::string& windowsPath) {
  std::string posix;
  try {
    posix = platform::paths::ToPosix(windowsPath).string();
  } catch (const platform::Error& e) {
    return what + " " + shown + " cannot be used: " + e.Description();
  }
  struct stat st {};
  if (stat(posix.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? what + " " + shown + " is a folder, not a file." : "";
  if (errno == ENAMETOOLONG)
    return what + " " + shown + " cannot be used: its path (or a name in it) is too long.";
  if (errno == EACCES) return what + " " + shown + " cannot be reached: permission denied.";
  return what + " " + shown + " does not exist.";
}

// What a failed run wrote: the work files, and the database when this run created it.
void RemoveLeftovers(const MigrationSettings& settings, bool databaseToo, std::ostream& out) {
  std::vector<std::string> files;
  for (const char* name : engine::kWorkFileNames) files.push_back(settings.WorkFolder + name);
  if (databaseToo) {
    const std::string db = target::TargetDbFilePath(settings);
    for (const char* ending : {"", "-journal", "-wal", "-shm"}) files.push_back(db + ending);
    files.push_back(target::TargetLogFilePath(settings));
  }
  for (const std::string& file : files) {
    try {
      if (platform::files::FileExists(file)) platform::files::DeleteFile(file);
    } catch (const platform::Error& e) {
      out << "Deleting " << file << ": " << e.Description() << '\n';
    }
  }
}

// The step after reload.bat: runs properties.bat and waits for it.
void CarryProperties(engine::PropertyStep& properties, const MigrationSettings& settings,
                     const std::string& connection, bool keepFiles, ConsoleServices& services,
                     MigrationReport& report) {
  const auto rowsBreaking = [&](const std::string& table, const std::string& condition) {
    return services.verifier.RowsBreaking(connection, table, condition);
  };
  if (const auto task = properties.Start(settings, rowsBreaking, services.commands)) {
    const int status = services.commands.Wait(*task);
    AddBatchOutcome("properties.bat", status, services.takeToolErrors(), report);
  }
  if (!keepFiles) properties.RemoveFiles(settings);
  report.properties = properties.Lines();
  for (const auto& f : properties.Failures()) report.runFailures.push_back(f);
}

// The database file a --dsn or --connect names, POSIX form; "" for the one "Create DB" makes.
std::string ConnectedDatabaseOf(const ConsoleOptions& options, const MigrationSettings& settings,
                                const ConsoleServices& services) {
  if (!(options.connect || options.dsn) || !services.databaseFileOf) return "";
  const std::string named = services.databaseFileOf(TargetConnectionOf(options, settings));
  try {
    return engine::PosixPathOf(named).string();
  } catch (const platform::Error&) {
    return "";
  }
}

}  // namespace

std::string TargetConnectionOf(const ConsoleOptions& options, const MigrationSettings& settings) {
  if (options.dsn) return "DSN=" + *options.dsn;
  if (options.connect) return options.connect->substr(5);
  return "Driver=Norvane;Database=" +
         platform::paths::ToPosix(target::TargetDbFilePath(settings)).string();
}

int RunConsoleJob(const ConsoleOptions& options, MigrationSettings& settings,
                  ConsoleServices& services, JobRecord* record) {
  if (options.restore) return RunRestoreJob(options, services);
  std::ostream& out = services.out;
  ConsoleDialogs dialogs(out, options.overwrite, options.replaceLinkedDatabase);
  ConsoleView view(out, services.terminal);

  // Options page.
  const wizard::OptionsState state{options.link, options.prefix == wizard::kDefaultPrefix,
                                   options.prefix};
  if (!wizard::StoreOptions(state, settings)) {
    out << wizard::kEmptyOtherMessage << '\n';
    return 2;
  }

  // Source database page.
  std::string accessPath, toolPath;
  try {
    accessPath = WindowsFormOf(options.access);
    toolPath = WindowsFormOf(options.ivex.empty() ? services.defaultIvex : options.ivex);
  } catch (const platform::Error& e) {
    out << e.Description() << '\n';
    return 2;
  }
  if (const std::string problem = FileProblem("The Access database", options.access, accessPath);
      !problem.empty()) {
    out << problem << '\n';
    return 1;
  }
  if (!wizard::StoreAccessChoice(accessPath, FileTitleOf(accessPath), settings)) {
    out << wizard::kNoAccessDbMessage << '\n';
    return 2;
  }
  if (const auto status = RunPreflightGate(options, settings, services, record)) return *status;

  // Query-tool page.
  if (!wizard::StoreQueryToolChoice(toolPath, FileTitleOf(toolPath), settings)) {
    out << wizard::kInvalidToolMessage << '\n';
    return 2;
  }
  if (const std::string problem = FileProblem("The query tool", toolPath, toolPath);
      !problem.empty()) {
    out << problem << '\n';
    return 2;
  }
  if (const std::string unsafe = target::UnsafeCommandFilePath(settings); !unsafe.empty()) {
    out << unsafe << '\n';
    return 2;
  }

  // One run at a time per Access file and per new database, for the whole run.
  target::RunLocks runLocks;
  std::string refusal = runLocks.Take(settings);
  if (refusal.empty() && (options.connect || options.dsn) && services.databaseFileOf)
    refusal =
        runLocks.TakeConnected(services.databaseFileOf(TargetConnectionOf(options, settings)));
  if (!refusal.empty()) {
    out << refusal << '\n';
    return 1;
  }

  if (options.dryRun) return RunDryRunJob(options, settings, services);

  // "Create DB", then wait for migrate.bat.
  const std::optional<int> created =
      target::CreateDb(settings, dialogs, services.commands, view, services.linkedTables);
  if (!created) {
    if (!options.keepWorkFiles) RemoveLeftovers(settings, false, out);
    return 1;
  }
  const int createStatus = services.commands.Wait(*created);
  MigrationReport report;
  report.toolErrors = services.takeToolErrors();
  if (createStatus != 0) {
    out << "migrate.bat failed (exit status " << createStatus
        << "): the new database was not created.\n";
    for (const auto& e : report.toolErrors) out << "  " << e << '\n';
    if (!options.keepWorkFiles) RemoveLeftovers(settings, true, out);
    return 1;
  }

  // "Migrate".
  NoteAccessBeforeRun(services.verifier, settings, report);
  FixedChooser chooser(TargetConnectionOf(options, settings));
  engine::PropertyStep properties;
  if (const auto engine = services.makeEngine(chooser)) properties.ReadBefore(*engine, settings);
  engine::MigrationRun run(settings, view, services.commands,
                           [&] { return services.makeEngine(chooser); });
  // A table whose values differ after its transfer is not linked.
  if (report.verifyError.empty())
    run.CheckValuesBeforeLinking([&](const std::string& name, const std::string&) {
      return services.verifier.CompareValues(settings, TargetConnectionOf(options, settings), name);
    });
  engine::LinkBackRecorder undoRecord(settings, ConnectedDatabaseOf(options, settings, services));
  run.SetBeforeCatalogReplace(undoRecord.BeforeReplace());
  const engine::RunOutcome outcome = run.lsfinish_migrate();
  NoEnd noEnd;
  platform::FailureLog removal;
  if (outcome != engine::RunOutcome::Finished) {
    if (!options.keepWorkFiles) RemoveLeftovers(settings, false, out);
    return 1;
  }
  report.runFailures = run.Failures();
  undoRecord.AfterRun(report.runFailures);
  if (const auto task = run.ReloadTaskId()) {
    if (report.verifyError.empty()) {
      services.verifier.ReadAccessAhead(settings, TargetConnectionOf(options, settings));
      while (services.commands.IsRunning(*task) && services.verifier.ReadNextAccessSide()) {
      }
    }
    const int status = services.commands.Wait(*task);
    AddReloadOutcome(status, services.takeToolErrors(), report);
  }
  CarryProperties(properties, settings, TargetConnectionOf(options, settings),
                  options.keepWorkFiles, services, report);
  CheckWhatArrived(services.verifier, settings, TargetConnectionOf(options, settings), report);
  if (services.targetInspector != nullptr)
    undoRecord.AfterMigration(*services.targetInspector, report.runFailures);
  PrintReport(report, out);
  KeepReport(report, record);

  if (!options.keepWorkFiles) {
    engine::RemoveWorkFiles(settings, noEnd, removal);
    for (const auto& f : removal) out << f.context << ": " << f.description << '\n';
  }
  return report.Ok() ? 0 : 1;
}

}  // namespace console
