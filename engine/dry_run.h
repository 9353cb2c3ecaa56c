// A dry run: every work file a run would leave (sp.sql, migrate.bat, reload.bat, reload1.sql,
// reload2.sql) written into the work folder, and the plan of the run as text, without starting
// a command file and without changing the Access file or any database. The Access file is read
// shared and read-only through the engine.
#pragma once

#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"

struct MigrationSettings;

namespace engine {

struct DryRunPlan {
  std::vector<std::string> lines;  // the plan: per table its target name and statements
  platform::FailureLog failures;   // what could not be read or written
};

// `targetConnect` is the connect string the run would use ("ODBC;...").
DryRunPlan DryRun(dao::Engine& engine, const MigrationSettings& settings,
                  const std::string& targetConnect);

}  // namespace engine
