// sp.sql: the stored procedure sp_ts_time that turns time-only timestamp columns into time.
#pragma once

#include <string>
#include <vector>

struct MigrationSettings;

namespace engine {

// The 25 lines of sp.sql, without line ends.
const std::vector<std::string>& TimeFixProcedureLines();

// Deletes an existing WorkFolder + "sp.sql" and writes the procedure anew.
// Throws platform::Error when the file cannot be deleted or written.
void WriteTimeFixProcedure(const MigrationSettings& settings);

}  // namespace engine
