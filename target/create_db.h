// "Create DB": the work files that create the new database and the database file's names.
#pragma once

#include <string>
#include <vector>

struct MigrationSettings;

namespace target {

// The four lines of migrate.bat.
std::vector<std::string> MigrateBatLines(const MigrationSettings& settings);

// WorkFolder + TargetDbFileName, and its log file ("log" in place of the last two characters).
std::string TargetDbFilePath(const MigrationSettings& settings);
std::string TargetLogFilePath(const MigrationSettings& settings);

}  // namespace target
