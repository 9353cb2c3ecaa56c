// norvane-migrate over several Access files: each --access file, or every .mdb and .accdb file
// of an --access folder (sorted by name), migrated in turn with settings of its own; one file's
// failure does not stop the others. A summary table follows when there was more than one.
#pragma once

#include <string>
#include <vector>

#include "migrate/console_job.h"

namespace console {

// The Access files `options.accessFiles` names, folders expanded.
std::vector<std::string> AccessFilesOf(const ConsoleOptions& options);

// Exit status: 0 when every file succeeded, 2 when the command line is wrong, 1 otherwise.
int RunConsoleJobs(const ConsoleOptions& options, ConsoleServices& services);

}  // namespace console
