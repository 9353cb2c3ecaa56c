// The work files of a migration: reload.bat's lines and their removal when the wizard closes.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/program.h"

struct MigrationSettings;

namespace engine {

// The six work files in the order RemoveWorkFiles deletes them.
inline constexpr std::array<const char*, 6> kWorkFileNames = {
    "reload1.sql", "reload2.sql", "reload.sql", "reload.bat", "migrate.bat", "sp.sql"};

// The two files of the properties step after reload.bat: its script and the command file.
inline constexpr std::array<const char*, 2> kPropertyFileNames = {"properties.sql",
                                                                  "properties.bat"};

// The log of the command files' output that norvane-migrate keeps beside the Access file
// ("Sales.mdb.norvane-migrate.log"); restore removes it with the other files of the run.
inline constexpr const char* kCommandLogEnding = ".norvane-migrate.log";
inline std::string CommandLogPath(const std::string& accessPath) {
  return accessPath + kCommandLogEnding;
}

// The four lines of reload.bat (for the PostgreSQL target: target::PostgresReloadBatLines).
std::vector<std::string> ReloadBatLines(const MigrationSettings& settings);
// The lines of sp.sql: the time-column procedure of the settings' target
// (TimeFixProcedureLines).
std::vector<std::string> ProcedureLinesOf(const MigrationSettings& settings);

// The PostgreSQL target's command line that runs `script` (a name in the work folder, which
// the command file makes current) on the settings' database, going on past a statement that
// fails: target::PsqlCommandLine without ON_ERROR_STOP. Never a password.
std::string PsqlScriptLine(const MigrationSettings& settings, const std::string& script);

// Deletes the six work files of WorkFolder in order. A file that does not exist is passed over
// (reload1.sql is missing until "Migrate" ran, while "Create DB" already wrote three others);
// any other failure is recorded in `failures` and the next name is tried. After the sixth name
// the program is ended through `programEnd`.
// With an empty WorkFolder nothing is deleted: the names would resolve elsewhere.
void RemoveWorkFiles(const MigrationSettings& settings, platform::ProgramEnd& programEnd,
                     platform::FailureLog& failures);

}  // namespace engine
