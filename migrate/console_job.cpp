#include "migrate/console_job.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <utility>

#include "engine/migration_flow.h"
#include "engine/work_files.h"
#include "migrate/console_view.h"
#include "migrate/report_json.h"
#include "options/page_rules.h"
#include "platform/paths.h"
#include "target/create_db.h"

namespace console {
namespace {

namespace fs = std::filesystem;

std::string FileTitleOf(const std::string& windowsPath) {
  const auto slash = windowsPath.find_last_of("\\/");
  return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

// The data source the options name, for the settings as the pages have stored them.
class FixedChooser : public dao::DataSourceChooser {
 public:
  explicit FixedChooser(std::function<std::string()> connection)
      : connection_(std::move(connection)) {}
  std::optional<std::string> ChooseDataSource() override { return connection_(); }

 private:
  std::function<std::string()> connection_;
};

// The check, the dry run and restore open only Access files: no data source is ever chosen.
class NoChooser : public dao::DataSourceChooser {
 public:
  std::optional<std::string> ChooseDataSource() override { return std::nullopt; }
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

// The query-tool page, after the check: true when the choice is stored and every path of the
// settings can stand in a command file.
bool QueryToolPage(const std::string& toolPath, MigrationSettings& settings, std::ostream& out) {
  if (!wizard::StoreQueryToolChoice(toolPath, FileTitleOf(toolPath), settings)) {
    out << "--ivex names " << FileTitleOf(toolPath)
        << ", not the query tool ivex.exe or ivexw.exe.\n";
    return false;
  }
  if (const std::string problem = FileProblem("The query tool", toolPath, toolPath);
      !problem.empty()) {
    out << problem << '\n';
    return false;
  }
  if (const std::string unsafe = target::UnsafeCommandFilePath(settings); !unsafe.empty()) {
    out << unsafe << '\n';
    return false;
  }
  return true;
}

// The flow's front end on the command line: findings, lines and the report are printed, the
// questions of "Create DB" answered from the options.
class ConsoleFrontEnd : public engine::FlowFrontEnd {
 public:
  ConsoleFrontEnd(const ConsoleOptions& options, ConsoleServices& services,
                  const MigrationSettings& settings, JobRecord* record)
      : out_(services.out),
        err_(services.err),
        settings_(settings),
        record_(record),
        dialogs_(
            services.err, options.overwrite, options.replaceLinkedDatabase,
            [&settings] {
              return platform::paths::PosixFormOrMapped(target::TargetDbFilePath(settings));
            },
            [&settings](const std::string& text) { return wizard::ShownText(text, settings); }),
        view_(services.err, services.terminal) {}

  // With --check the findings are the report; before a run they are warnings, or the error
  // that stops it.
  bool AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                   engine::FlowPlan plan) override {
    if (record_ != nullptr) record_->checks = result;
    std::ostream& to = plan == engine::FlowPlan::CheckOnly ? out_ : err_;
    if (result.Clean())
      to << "Check of " << wizard::ShownPath(result.accessPath) << ": nothing found.\n";
    else
      to << "Check of " << wizard::ShownPath(result.accessPath) << ":\n"
         << wizard::ShownText(result.Text(), settings_);
    if (plan != engine::FlowPlan::CheckOnly && gate == engine::Gate::Stop)
      to << "Nothing was changed.\n";
    to << std::flush;
    return true;
  }
  void Tell(const std::string& line) override {
    err_ << wizard::ShownText(line, settings_) << '\n' << std::flush;
  }
  void Print(const std::string& line) override { out_ << line << '\n'; }
  // The pages stored after the check; a choice they refuse ends the job with status 2.
  void AfterCheck(std::function<bool()> pages) { afterCheck_ = std::move(pages); }
  bool ChoicesComplete() override {
    badChoice_ = afterCheck_ && !afterCheck_();
    return !badChoice_;
  }
  bool BadChoice() const { return badChoice_; }
  void ShowReport(const reporting::MigrationReport& report) override {
    view_.EndLine();
    reporting::PrintReport(report, out_);
    if (record_ != nullptr) record_->report = report;
  }
  platform::Dialogs& DialogsOfFlow() override { return dialogs_; }
  target::CreateDbView* CreateView() override { return &view_; }
  engine::RunView* RunViewOfFlow() override { return &view_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  const MigrationSettings& settings_;
  JobRecord* record_;
  std::function<bool()> afterCheck_;
  bool badChoice_ = false;
  ConsoleDialogs dialogs_;
  ConsoleView view_;
};

// --restore FILE: the exit status (0 restored, 1 refused).
int RunRestoreJob(const ConsoleOptions& options, engine::MigrationFlow& flow,
                  ConsoleFrontEnd& frontEnd, ConsoleServices& services) {
  const engine::RestoreOutcome outcome =
      flow.RestoreFile(frontEnd, *options.restore, options.discardChanges);
  std::ostream& to = outcome.restored ? services.out : services.err;
  to << outcome.message << '\n';
  if (outcome.needsConsent) {
    for (const std::string& table : outcome.changedTables) to << "  changed: " << table << '\n';
    to << "Restore with --discard-changes to remove the database all the same.\n";
  }
  return outcome.restored ? 0 : 1;
}

// The command files' output goes to the log beside the Access file while the flow runs.
class CommandLogOfJob {
 public:
  CommandLogOfJob(CommandLog* log, const std::string& accessPath) : log_(log) {
    if (log_ == nullptr) return;
    try {
      log_->Begin(engine::CommandLogPath(platform::paths::ToPosix(accessPath).string()));
    } catch (const platform::Error&) {
      log_ = nullptr;  // the check says why the path does not resolve
    }
  }
  ~CommandLogOfJob() { End(); }
  // The log's path when output went to it, else "".
  std::string End() { return log_ != nullptr ? std::exchange(log_, nullptr)->End() : ""; }

 private:
  CommandLog* log_;
};

}  // namespace

std::string TargetConnectionOf(const ConsoleOptions& options, const MigrationSettings& settings) {
  if (options.postgres) return target::PostgresConnectString(settings);
  if (options.dsn) return "DSN=" + *options.dsn;
  if (options.connect) return platform::WithoutOdbcPrefix(*options.connect);
  return "Driver=Norvane;Database=" +
         platform::paths::ToPosix(target::TargetDbFilePath(settings)).string();
}

int RunConsoleJob(const ConsoleOptions& options, MigrationSettings& settings,
                  ConsoleServices& services, JobRecord* record) {
  std::ostream& err = services.err;
  const std::string chosen =
      options.connect || options.dsn ? TargetConnectionOf(options, settings) : std::string();
  if (options.postgres) {
    settings.Target = TargetKind::PostgreSql;
    settings.ServerHost = options.server;
    settings.ServerPort = options.port;
    settings.ServerDatabase = options.database;
    settings.ServerUser = options.user;
    if (options.odbcDriver) settings.ServerOdbcDriver = *options.odbcDriver;
  }
  const auto connection = [&] { return TargetConnectionOf(options, settings); };
  NoChooser noChooser;
  FixedChooser chooser(connection);
  target::RunLocks runLocks;
  engine::FlowServices flowServices{
      .commands = services.commands,
      .runEngine = [&] { return services.makeEngine(chooser); },
      .accessEngine = [&] { return services.makeEngine(noChooser); },
      .verifier = [&services] { return &services.verifier; },
      .targetInspector = services.targetInspector,
      .rowsBreaking =
          [&services](const std::string& connection, const std::string& table,
                      const std::string& condition) {
            return services.verifier.KeysOfRowsBreaking(connection, table, condition);
          },
      .linkedTables = services.linkedTables,
      .toolErrors = [&services](int) { return services.takeToolErrors(); },
      .targetConnection = connection,
      .plannedConnection = connection,
      .chosenConnection = chosen,
      .databaseFileOf = services.databaseFileOf,
      // A server's database is no file to look at before the run.
      .connectionRefusal = options.postgres ? nullptr : services.connectionRefusal,
      .serverDatabases = services.serverDatabases,
  };
  engine::MigrationFlow flow(
      settings, std::move(flowServices), runLocks,
      options.keepWorkFiles ? engine::WorkFiles::Kept : engine::WorkFiles::RemovedAtEnd);
  ConsoleFrontEnd frontEnd(options, services, settings, record);
  if (options.restore) return RunRestoreJob(options, flow, frontEnd, services);

  // Options page.
  const wizard::OptionsState state{options.link, options.prefix == wizard::kDefaultPrefix,
                                   options.prefix};
  if (!wizard::StoreOptions(state, settings)) {
    err << "--prefix must not be blank.\n";
    return 2;
  }

  // Source database page.
  std::string accessPath, toolPath;
  try {
    accessPath = platform::paths::WindowsFormOf(options.access);
    toolPath =
        platform::paths::WindowsFormOf(options.ivex.empty() ? services.defaultIvex : options.ivex);
  } catch (const platform::Error& e) {
    err << e.Description() << '\n';
    return 2;
  }
  if (const std::string problem = FileProblem("The Access database", options.access, accessPath);
      !problem.empty()) {
    err << problem << '\n';
    return 1;
  }
  if (!wizard::StoreAccessChoice(accessPath, FileTitleOf(accessPath), settings)) {
    err << "--access names no file.\n";
    return 2;
  }
  if (options.postgres && options.database.empty())
    settings.ServerDatabase = target::DefaultServerDatabaseOf(FileTitleOf(accessPath));
  if (record != nullptr && options.postgres) record->target = target::PostgresTargetName(settings);

  frontEnd.AfterCheck([&] {
    if (!options.postgres) return QueryToolPage(toolPath, settings, err);
    // The server's tools are found on the PATH: there is no query tool to choose.
    if (const std::string unsafe = target::UnsafeCommandFilePath(settings); !unsafe.empty()) {
      err << unsafe << '\n';
      return false;
    }
    return true;
  });
  const engine::FlowPlan plan = options.check    ? engine::FlowPlan::CheckOnly
                                : options.dryRun ? engine::FlowPlan::DryRun
                                                 : engine::FlowPlan::CreateAndMigrate;
  CommandLogOfJob log(services.commandLog, accessPath);
  const bool succeeded = flow.RunToEnd(plan, frontEnd);
  if (const std::string written = log.End(); !written.empty())
    services.out << "The command files' output is in " << written << ".\n";
  if (frontEnd.BadChoice()) return 2;
  return succeeded ? 0 : 1;
}

}  // namespace console
