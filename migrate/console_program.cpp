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
#include "platform/verify/postgres_inspector.h"
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

// Restore's and the undo record's view of the new database: a Norvane file, or a PostgreSQL
// database named by its connect string (target::IsServerTarget).
class TargetInspector : public engine::TargetDatabaseInspector {
 public:
  bool Exists(const std::string& t) override {
    if (!target::IsServerTarget(t)) return files_.Exists(t);
    const auto state = platform::verify::PostgresDatabaseOf(t);
    if (state == platform::verify::PostgresDatabase::kUnreachable)
      throw platform::Error(dao::err::kOdbcCallFailed, "its server cannot be reached");
    return state == platform::verify::PostgresDatabase::kPresent;
  }
  bool IsNorvaneDatabase(const std::string& t) override { return Of(t).IsNorvaneDatabase(t); }
  long ProgramHolding(const std::string& t) override { return Of(t).ProgramHolding(t); }
  std::vector<engine::TableState> Tables(const std::string& t) override { return Of(t).Tables(t); }
  std::vector<std::string> TablesLinkedTo(const std::string& access,
                                          const std::string& t) override {
    return Of(t).TablesLinkedTo(access, t);
  }
  void Remove(const std::string& t) override { Of(t).Remove(t); }
  platform::verify::PostgresTargetInspector& Server() { return server_; }

 private:
  engine::TargetDatabaseInspector& Of(const std::string& t) {
    return target::IsServerTarget(t) ? static_cast<engine::TargetDatabaseInspector&>(server_)
                                     : files_;
  }
  platform::verify::NorvaneTargetInspector files_;
  platform::verify::PostgresTargetInspector server_;
};

// "Create DB"'s view of the PostgreSQL server, through the inspector's connections.
class ServerDatabases : public target::ServerDatabases {
 public:
  explicit ServerDatabases(platform::verify::PostgresTargetInspector& server) : server_(server) {}
  bool Exists(const MigrationSettings& settings) override {
    const auto state =
        platform::verify::PostgresDatabaseOf(target::PostgresConnectString(settings));
    if (state == platform::verify::PostgresDatabase::kUnreachable)
      throw platform::Error(dao::err::kOdbcCallFailed,
                            "The server cannot be reached through the ODBC driver \"" +
                                settings.ServerOdbcDriver + "\" (or refuses the login).");
    return state == platform::verify::PostgresDatabase::kPresent;
  }
  void Drop(const MigrationSettings& settings) override {
    server_.Remove(target::PostgresConnectString(settings));
  }

 private:
  platform::verify::PostgresTargetInspector& server_;
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
  TargetInspector inspector;
  ServerDatabases serverDatabases(inspector.Server());
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
