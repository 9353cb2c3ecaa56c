#include "wizard/console/console_safety.h"

#include "engine/dry_run.h"
#include "engine/preflight.h"
#include "engine/restore.h"
#include "wizard/console/report_json.h"

namespace console {
namespace {

// The check and the restore open only Access files: no data source is ever chosen.
class NoChooser : public dao::DataSourceChooser {
 public:
  std::optional<std::string> ChooseDataSource() override { return std::nullopt; }
};

}  // namespace

int RunRestoreJob(const ConsoleOptions& options, ConsoleServices& services) {
  NoChooser chooser;
  const auto engine = services.makeEngine(chooser);
  if (services.targetInspector == nullptr) {
    services.out << "Nothing was restored: the new database cannot be checked.\n";
    return 1;
  }
  const engine::RestoreOutcome outcome = engine::RestoreFromBackup(
      *engine, *services.targetInspector, {*options.restore, options.discardChanges});
  services.out << outcome.message << '\n';
  if (outcome.needsConsent) {
    for (const std::string& table : outcome.changedTables)
      services.out << "  changed: " << table << '\n';
    services.out << "Restore with --discard-changes to remove the database all the same.\n";
  }
  return outcome.restored ? 0 : 1;
}

std::optional<int> RunPreflightGate(const ConsoleOptions& options,
                                    const MigrationSettings& settings, ConsoleServices& services,
                                    JobRecord* record) {
  NoChooser chooser;
  const auto engine = services.makeEngine(chooser);
  engine::PreflightRequest request = engine::PreflightRequestOf(settings);
  try {
    request.targetConnect = "ODBC;" + TargetConnectionOf(options, settings);
  } catch (const platform::Error&) {
    // A path that does not resolve: the check names it, and the links are checked without it.
  }
  const engine::PreflightResult result = engine::RunPreflight(*engine, request);
  if (record != nullptr) record->checks = result;
  std::ostream& out = services.out;
  if (result.Clean())
    out << "Check of " << result.accessPath << ": nothing found.\n";
  else
    out << "Check of " << result.accessPath << ":\n" << result.Text();
  if (options.check) return result.Clean() ? 0 : 1;
  if (engine::GateOf(result) == engine::Gate::Stop) {
    out << "Nothing was changed.\n";
    return 1;
  }
  return std::nullopt;
}

void KeepReport(const MigrationReport& report, JobRecord* record) {
  if (record != nullptr) record->report = report;
}

int RunDryRunJob(const ConsoleOptions& options, const MigrationSettings& settings,
                 ConsoleServices& services) {
  NoChooser chooser;
  const auto engine = services.makeEngine(chooser);
  const engine::DryRunPlan plan =
      engine::DryRun(*engine, settings, "ODBC;" + TargetConnectionOf(options, settings));
  std::ostream& out = services.out;
  out << "Dry run: the work files are in " << settings.WorkFolder
      << "; nothing else was changed.\n";
  for (const std::string& line : plan.lines) out << line << '\n';
  for (const auto& f : plan.failures) out << f.context << ": " << f.description << '\n';
  return plan.failures.empty() ? 0 : 1;
}

}  // namespace console
