// sp.sql: the stored procedure sp_ts_time that turns time-only timestamp columns into time.
#pragma once

#include <string>
#include <vector>

#include "options/settings.h"

namespace engine {

// The 25 lines of sp.sql, without line ends.
const std::vector<std::string>& TimeFixProcedureLines();
// The lines of sp.sql for `target`: the 25 above for Norvane; for PostgreSQL a PL/pgSQL
// procedure sp_ts_time() (no parameters, called and dropped by the same script tail) that turns
// each timestamp column of a user table whose values are all on 1899-12-30 into a time column;
// a column without values, or with any other date, keeps its type.
const std::vector<std::string>& TimeFixProcedureLines(TargetKind target);

// Deletes an existing WorkFolder + "sp.sql" and writes the procedure of settings.Target anew.
// Throws platform::Error when the file cannot be deleted or written.
void WriteTimeFixProcedure(const MigrationSettings& settings);

}  // namespace engine
