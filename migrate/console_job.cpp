#include "migrate/console_job.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "engine/migration_flow.h"
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
    out << wizard::kInvalidToolMessage << '\n';
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
  ConsoleFrontEnd(const ConsoleOptions& options, ConsoleServices& services, JobRecord* record)
      : out_(services.out),
        record_(record),
        dialogs_(services.out, options.overwrite, options.replaceLinkedDatabase),
        view_(services.out, services.terminal) {}

  bool AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                   engine::FlowPlan plan) override {
    if (record_ != nullptr) record_->checks = result;
    if (result.Clean())
      out_ << "Check of " << result.accessPath << ": nothing found.\n";
    else
      out_ << "Check of " << result.accessPath << ":\n" << result.Text();
    if (plan != engine::FlowPlan::CheckOnly && gate == engine::Gate::Stop)
      out_ << "Nothing was changed.\n";
    return true;
  }
  void Tell(const std::string& line) override { out_ << line << '\n'; }
  // The pages stored after the check; a choice they refuse ends the job with status 2.
  void AfterCheck(std::function<bool()> pages) { afterCheck_ = std::move(pages); }
  bool ChoicesComplete() override {
    badChoice_ = afterCheck_ && !afterCheck_();
    return !badChoice_;
  }
  bool BadChoice() const { return badChoice_; }
  void ShowReport(const reporting::MigrationReport& report) override {
    reporting::PrintReport(report, out_);
    if (record_ != nullptr) record_->report = report;
  }
  platform::Dialogs& DialogsOfFlow() override { return dialogs_; }
  target::CreateDbView* CreateView() override { return &view_; }
  engine::RunView* RunViewOfFlow() override { return &view_; }

 private:
  std::ostream& out_;
  JobRecord* record_;
  std::function<bool()> afterCheck_;
  bool badChoice_ = false;
  ConsoleDialogs dialogs_;
  ConsoleView view_;
};

// --restore FILE: the exit status (0 restored, 1 refused).
int RunRestoreJob(const ConsoleOptions& options, engine::MigrationFlow& flow,
                  ConsoleFrontEnd& frontEnd, std::ostream& out) {
  const engine::RestoreOutcome outcome =
      flow.RestoreFile(frontEnd, *options.restore, options.discardChanges);
  out << outcome.message << '\n';
  if (outcome.needsConsent) {
    for (const std::string& table : outcome.changedTables) out << "  changed: " << table << '\n';
    out << "Restore with --discard-changes to remove the database all the same.\n";
  }
  return outcome.restored ? 0 : 1;
}

}  // namespace

std::string TargetConnectionOf(const ConsoleOptions& options, const MigrationSettings& settings) {
  if (options.dsn) return "DSN=" + *options.dsn;
  if (options.connect) return platform::WithoutOdbcPrefix(*options.connect);
  return "Driver=Norvane;Database=" +
         platform::paths::ToPosix(target::TargetDbFilePath(settings)).string();
}

int RunConsoleJob(const ConsoleOptions& options, MigrationSettings& settings,
                  ConsoleServices& services, JobRecord* record) {
  std::ostream& out = services.out;
  const std::string chosen =
      options.connect || options.dsn ? TargetConnectionOf(options, settings) : std::string();
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
  };
  engine::MigrationFlow flow(
      settings, std::move(flowServices), runLocks,
      options.keepWorkFiles ? engine::WorkFiles::Kept : engine::WorkFiles::RemovedAtEnd);
  ConsoleFrontEnd frontEnd(options, services, record);
  if (options.restore) return RunRestoreJob(options, flow, frontEnd, out);

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
    accessPath = platform::paths::WindowsFormOf(options.access);
    toolPath =
        platform::paths::WindowsFormOf(options.ivex.empty() ? services.defaultIvex : options.ivex);
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

  frontEnd.AfterCheck([&] { return QueryToolPage(toolPath, settings, out); });
  const engine::FlowPlan plan = options.check    ? engine::FlowPlan::CheckOnly
                                : options.dryRun ? engine::FlowPlan::DryRun
                                                 : engine::FlowPlan::CreateAndMigrate;
  const bool succeeded = flow.RunToEnd(plan, frontEnd);
  if (frontEnd.BadChoice()) return 2;
  return succeeded ? 0 : 1;
}

}  // namespace console
