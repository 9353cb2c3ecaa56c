// norvane-migrate's safety net: the check before a run (--check runs it alone), the record that
// makes a link-back undoable, and --restore.
#pragma once

#include <optional>

#include "wizard/console/console_job.h"

namespace console {

// --restore FILE: the exit status (0 restored, 1 refused).
int RunRestoreJob(const ConsoleOptions& options, ConsoleServices& services);

// The check after the Access file is chosen. Prints the findings; returns the exit status when
// the job ends here (--check, or a finding that stops the run), nothing to go on.
std::optional<int> RunPreflightGate(const ConsoleOptions& options,
                                    const MigrationSettings& settings, ConsoleServices& services,
                                    JobRecord* record);

// Keeps the report for --report-json when the job has a record.
void KeepReport(const MigrationReport& report, JobRecord* record);

// --dry-run, after the pages' choices are stored: the work files and the plan. The exit status.
int RunDryRunJob(const ConsoleOptions& options, const MigrationSettings& settings,
                 ConsoleServices& services);

}  // namespace console
