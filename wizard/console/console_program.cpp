#include "wizard/console/console_program.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>

#include "engine/names.h"
#include "platform/access/access_engine.h"
#include "platform/access/linked_targets.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/paths.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/shell/tool_output.h"
#include "platform/verify/migration_check.h"
#include "platform/verify/rows_breaking.h"
#include "wizard/console/console_batch.h"

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

// Shows what the command files print and keeps the tools' error lines for the report.
class ToolOutput {
 public:
  void Take(std::string_view chunk) {
    std::cout << chunk << std::flush;
    pending_.append(chunk);
    for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (platform::shell::IsToolErrorLine(line)) errors_.push_back(line);
      pending_.erase(0, nl + 1);
    }
  }
  std::vector<std::string> TakeErrors() { return std::exchange(errors_, {}); }

 private:
  std::string pending_;
  std::vector<std::string> errors_;
};

class Checker : public console::MigrationVerifier {
 public:
  void BeforeRun(const MigrationSettings& settings) override {
    checker_.BeforeRun(platform::paths::ToPosix(settings.AccessDbPath).string(), timeout_);
  }
  std::vector<console::TableReport> Verify(const MigrationSettings& settings,
                                           const std::string& connection) override {
    return checker_.Check({platform::paths::ToPosix(settings.AccessDbPath).string(), connection,
                           settings.LinkTablesFlag == 1, settings.TablePrefix,
                           [](const std::string& name) { return engine::TargetNameOf(name); },
                           timeout_});
  }
  std::string RowsBreaking(const std::string& connection, const std::string& table,
                           const std::string& condition) override {
    if (!target_ || connection != targetConnection_) {
      target_ = std::make_unique<platform::odbc::Connection>(connection);
      targetConnection_ = connection;
    }
    return platform::verify::RowsBreaking(*target_, table, condition);
  }

 private:
  platform::verify::MigrationChecker checker_;
  std::unique_ptr<platform::odbc::Connection> target_;
  std::string targetConnection_;
  std::chrono::milliseconds timeout_{60000};
};

}  // namespace

namespace console {

int NorvaneMigrate(int argc, char** argv) {
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

  ToolOutput output;
  platform::shell::PosixCommandStarter commands;
  commands.SetOutputSink([&output](std::string_view chunk) { output.Take(chunk); });
  Checker checker;
  console::ConsoleServices services{
      std::cout,
      isatty(STDOUT_FILENO) == 1,
      commands,
      [](dao::DataSourceChooser& chooser) {
        return platform::access::CreateEngine(
            {.chooser = &chooser,
             .writerFactory = jetwriter::OpenJetCatalogWriterForRun,
             .recoverInterruptedChange = jetwriter::RecoverInterruptedChange});
      },
      DefaultIvex(),
      checker,
      [&output] { return output.TakeErrors(); },
      [](const std::string& access, const std::string& database) {
        return platform::access::TablesLinkedTo(access, database, std::chrono::seconds(60));
      }};
  return console::RunConsoleJobs(options, services);
}

}  // namespace console
