// The wizard's job without its windows: options, Access file, query tool, "Create DB", the
// migration run, the wait for reload.bat, a report, and the removal of the work files.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/restore.h"
#include "migrate/console_options.h"
#include "options/settings.h"
#include "platform/dao/dao.h"
#include "platform/shell_start.h"
#include "report/migration_report.h"
#include "target/create_db.h"
#include "target/postgres_target.h"

namespace console {

struct JobRecord;

class CommandLog;

struct ConsoleServices {
  std::ostream& out;  // the report, and what --check, --dry-run and --restore were asked for
  std::ostream& err;  // progress, warnings and errors
  bool terminal;      // `err` is a terminal
  platform::CommandStarter& commands;
  // The engine of the run; the target open asks `chooser` for the data source.
  std::function<std::shared_ptr<dao::Engine>(dao::DataSourceChooser& chooser)> makeEngine;
  std::string defaultIvex;  // the query tool the build installs
  reporting::MigrationVerifier& verifier;
  // Error lines the command files printed since the last call (ivex's failures).
  std::function<std::vector<std::string>()> takeToolErrors;
  // The Access file's tables linked to a database file (see target::CreateDb).
  target::LinkedTablesProbe linkedTables = {};
  // The database file an ODBC connection string names (Database= or its data source's), or "".
  std::function<std::string(const std::string&)> databaseFileOf = {};
  // The new database as restore and the undo record see it.
  engine::TargetDatabaseInspector* targetInspector = nullptr;
  // Why a connection (--dsn, --connect) cannot be used (see engine::FlowServices).
  std::function<std::string(const std::string&, const std::string&)> connectionRefusal = {};
  // Where the command files' output goes; without it, nowhere.
  CommandLog* commandLog = nullptr;
  // The PostgreSQL target's server (see engine::FlowServices); without it that target's
  // "Create DB" refuses to go on.
  target::ServerDatabases* serverDatabases = nullptr;
};

// Exit status: 0 when everything succeeded, 1 when something failed, 2 for bad options.
// `record`, when given, receives the check's findings and the report as far as the job got.
int RunConsoleJob(const ConsoleOptions& options, MigrationSettings& settings,
                  ConsoleServices& services, JobRecord* record = nullptr);

// The connection string the data-source choice gives for these options (without "ODBC;"): for
// the PostgreSQL target, target::PostgresConnectString.
std::string TargetConnectionOf(const ConsoleOptions& options, const MigrationSettings& settings);

}  // namespace console
