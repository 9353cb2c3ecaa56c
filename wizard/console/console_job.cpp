#include "wizard/console/console_job.h"

#include <filesystem>

#include "engine/migration_run.h"
#include "engine/property_step.h"
#include "engine/work_files.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "target/create_db.h"
#include "wizard/console/console_view.h"
#include "wizard/page_rules.h"

namespace console {
namespace {

namespace fs = std::filesystem;

bool IsWindowsForm(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.find('\\') != std::string::npos;
}

std::string WindowsFormOf(const std::string& path) {
  return IsWindowsForm(path) ? path : platform::paths::ToWindows(fs::absolute(path));
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

// The step after reload.bat: runs properties.bat and waits for it.
void CarryProperties(engine::PropertyStep& properties, const MigrationSettings& settings,
                     const std::string& connection, bool keepFiles, ConsoleServices& services,
                     MigrationReport& report) {
  const auto rowsBreaking = [&](const std::string& table, const std::string& condition) {
    return services.verifier.RowsBreaking(connection, table, condition);
  };
  if (const auto task = properties.Start(settings, rowsBreaking, services.commands)) {
    const int status = services.commands.Wait(*task);
    auto errors = services.takeToolErrors();
    if (status != 0 && errors.empty())
      errors.push_back("properties.bat ended with exit status " + std::to_string(status));
    for (auto& e : errors) report.toolErrors.push_back(std::move(e));
  }
  if (!keepFiles) properties.RemoveFiles(settings);
  report.properties = properties.Lines();
  for (const auto& f : properties.Failures()) report.runFailures.push_back(f);
}

}  // namespace

std::string TargetConnectionOf(const ConsoleOptions& options, const MigrationSettings& settings) {
  if (options.dsn) return "DSN=" + *options.dsn;
  if (options.connect) return options.connect->substr(5);
  return "Driver=Norvane;Database=" +
         platform::paths::ToPosix(target::TargetDbFilePath(settings)).string();
}

int RunConsoleJob(const ConsoleOptions& options, MigrationSettings& settings,
                  ConsoleServices& services) {
  std::ostream& out = services.out;
  ConsoleDialogs dialogs(out, options.overwrite);
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
  if (!platform::files::FileExists(accessPath)) {
    out << "The Access database " << options.access << " does not exist.\n";
    return 1;
  }
  if (!wizard::StoreAccessChoice(accessPath, FileTitleOf(accessPath), settings)) {
    out << wizard::kNoAccessDbMessage << '\n';
    return 2;
  }

  // Query-tool page.
  if (!wizard::StoreQueryToolChoice(toolPath, FileTitleOf(toolPath), settings)) {
    out << wizard::kInvalidToolMessage << '\n';
    return 2;
  }
  if (!platform::files::FileExists(toolPath)) {
    out << "The query tool " << toolPath << " does not exist.\n";
    return 2;
  }

  // "Create DB", then wait for migrate.bat.
  const std::optional<int> created = target::CreateDb(settings, dialogs, services.commands, view);
  if (!created) return 1;
  const int createStatus = services.commands.Wait(*created);
  MigrationReport report;
  report.toolErrors = services.takeToolErrors();
  if (createStatus != 0) {
    out << "migrate.bat failed (exit status " << createStatus
        << "): the new database was not created.\n";
    for (const auto& e : report.toolErrors) out << "  " << e << '\n';
    return 1;
  }

  // "Migrate".
  try {
    services.verifier.BeforeRun(settings);
  } catch (const platform::Error& e) {
    report.verifyError = "the Access file could not be read before the run: " + e.Description();
  }
  FixedChooser chooser(TargetConnectionOf(options, settings));
  engine::PropertyStep properties;
  if (const auto engine = services.makeEngine(chooser)) properties.ReadBefore(*engine, settings);
  engine::MigrationRun run(settings, view, services.commands,
                           [&] { return services.makeEngine(chooser); });
  const engine::RunOutcome outcome = run.lsfinish_migrate();
  NoEnd noEnd;
  platform::FailureLog removal;
  if (outcome != engine::RunOutcome::Finished) {
    if (!options.keepWorkFiles) engine::RemoveWorkFiles(settings, noEnd, removal);
    return 1;
  }
  report.runFailures = run.Failures();
  if (const auto task = run.ReloadTaskId()) {
    const int status = services.commands.Wait(*task);
    for (auto& e : services.takeToolErrors()) report.toolErrors.push_back(std::move(e));
    if (status != 0 && report.toolErrors.empty())
      report.toolErrors.push_back("reload.bat ended with exit status " + std::to_string(status));
  }
  CarryProperties(properties, settings, TargetConnectionOf(options, settings),
                  options.keepWorkFiles, services, report);

  if (report.verifyError.empty()) {
    try {
      report.tables = services.verifier.Verify(settings, TargetConnectionOf(options, settings));
    } catch (const platform::Error& e) {
      report.verifyError = e.Description();
    }
  }
  PrintReport(report, out);

  if (!options.keepWorkFiles) {
    engine::RemoveWorkFiles(settings, noEnd, removal);
    for (const auto& f : removal) out << f.context << ": " << f.description << '\n';
  }
  return report.Ok() ? 0 : 1;
}

}  // namespace console
