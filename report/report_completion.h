// The steps of a report that both front ends take: noting the Access file before the run, adding
// what reload.bat left behind, checking what arrived, and the headline of the result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/migration_report.h"

namespace reporting {

// Notes the Access file's tables before the run changes them; a file that cannot be read is
// kept in report.verifyError (the check is then not made).
void NoteAccessBeforeRun(MigrationVerifier& verifier, const MigrationSettings& settings,
                         MigrationReport& report);

// reload.bat ended with `status` and printed `toolErrors`: both go into the report (a failing
// status without an error line still counts as one).
void AddReloadOutcome(int status, std::vector<std::string> toolErrors, MigrationReport& report);
// The same for another command file (`batch` names it).
void AddBatchOutcome(const std::string& batch, int status, std::vector<std::string> toolErrors,
                     MigrationReport& report);

// Compares the new database with the Access file, unless the check already failed before the run.
void CheckWhatArrived(MigrationVerifier& verifier, const MigrationSettings& settings,
                      const std::string& targetConnection, MigrationReport& report);

// Every failed step, tool error, table that does not check out, and a check that could not be made.
int ProblemCount(const MigrationReport& report);
// "Migration complete" or "Finished with N problems".
std::string Headline(const MigrationReport& report);
// Under the headline: failures apart from findings about the data ("Everything arrived and
// checked out; 3 properties were not carried: see the report below.").
std::string FindingsLine(const MigrationReport& report);
// The report as norvane-migrate prints it.
std::string ReportText(const MigrationReport& report);

}  // namespace reporting
