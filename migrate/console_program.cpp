#include "migrate/console_program.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "migrate/console_batch.h"
#include "migrate/console_view.h"
#include "platform/access/access_engine.h"
#include "platform/access/linked_targets.h"
#include "platform/access/target_file.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/paths.h"
#include "platform/postgres/server_target.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/shell/tool_output.h"
#include "platform/verify/access_migration_verifier.h"
#include "platform/verify/server_target.h"
#include "platform/verify/target_inspector.h"
#include "target/postgres_target.h"

namespace {
namespace fs = std::filesystem;

// ivex.exe as installed (lib/norvane/win32 beside bin/) or as built (win32 beside bin/).
std::string DefaultIvex() {
  std::error_code ec;
  const fs::path bin = fs::read_symlink("/proc/self/exe", ec).parent_path();
  for (const fs::path& candidate :
       {bin / ".." / "lib" / "norvane" / "win32" / "ivex.exe", bin / ".." / "win32" / "ivex.exe"})
    if (fs::exists(candidate, ec)) return fs::weakly_canonical(candidate, ec).string();
  return (bin / ".." / "lib" / "norvane" / "win32" / "ivex.exe").lexically_normal().string();
}

// Logs what the command files print and keeps the tools' error lines for the report.
class ToolOutput {
 public:
  explicit ToolOutput(console::CommandLog& log) : log_(log) {}
  void Take(std::string_view chunk) {
    log_.Take(chunk);
    errors_.Take(chunk);
  }
  std::vector<std::string> TakeErrors() { return errors_.TakeErrors(); }

 private:
  console::CommandLog& log_;
  platform::shell::ToolErrorLines errors_;
};

}  // namespace

namespace console {

int NorvaneMigrate(int argc, char** argv, const LockLimits& limits) {
  console::ConsoleOptions options;
  try {
    options = console::ParseConsoleOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::cerr << "norvane-migrate: " << e.what() << "\n\n" << console::kConsoleUsage;
    return 2;
  }
  if (options.help) {
    std::cout << console::kConsoleUsage;
    return 0;
  }
  if (options.version) {
    std::cout << console::VersionLine() << '\n';
    return 0;
  }

  console::CommandLog log(std::cerr, options.verbose);
  ToolOutput output(log);
  platform::shell::PosixCommandStarter commands;
  commands.SetOutputSink([&output](std::string_view chunk) { output.Take(chunk); });
  console::AccessMigrationVerifier checker(limits.statement);
  platform::verify::AnyTargetInspector inspector;
  platform::verify::ServerDatabasesThroughOdbc serverDatabases;
  console::ConsoleServices services{
      std::cout,
      std::cerr,
      isatty(STDERR_FILENO) == 1,
      commands,
      [limits](dao::DataSourceChooser& chooser) {
        return platform::access::CreateEngine(
            {.chooser = &chooser,
             .writerFactory = jetwriter::OpenJetCatalogWriterForRun,
             .recoverInterruptedChange = jetwriter::RecoverInterruptedChange,
             .catalogCheck = jetwriter::CheckLinkBack,
             .targetLimits = {.statement = limits.statement},
             .targetOpenLockWait = limits.open,
             .serverTransfer = platform::postgres::TransferToServer});
      },
      DefaultIvex(),
      checker,
      [&output] { return output.TakeErrors(); },
      [&inspector](const std::string& access, const std::string& database) {
        // The PostgreSQL target names its database by its connect string.
        if (target::IsServerTarget(database)) return inspector.TablesLinkedTo(access, database);
        return platform::access::TablesLinkedTo(access, database, std::chrono::seconds(60));
      },
      platform::access::DatabaseFileOf,
      &inspector,
      platform::access::TargetConnectionRefusal,
      &log,
      &serverDatabases};
  return console::RunConsoleJobs(options, services);
}

}  // namespace console
