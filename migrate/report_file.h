// The file --report-json writes: the names it never takes, and writing it whole.
//
// Owns: the rule for which path may take the JSON report, and how the report reaches it.
// Failures: ReportFileRefusal returns the message; WriteReportFile throws platform::Error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace console {

// What the call writes besides the report: the Access files it works on and the databases
// they go to when those lie elsewhere (--connect, --dsn; "" when not known).
struct ReportNeighbours {
  std::vector<std::string> accessFiles;  // as given: POSIX or Windows form
  std::vector<std::string> databases;    // POSIX paths
};

// "" when `reportPath` may take the report; otherwise why not, naming the file. Refused: an
// Access file of the call, its backups (.bak, .bak2, ...), undo record, lock and temporary
// files; the work files in its folder; the new database with its journal, -wal, -shm, lock and
// log; a folder, a symbolic link, and any existing file that is not a report of ours. Names
// are compared in the folder they resolve to, without regard to letter case.
std::string ReportFileRefusal(const std::string& reportPath, const ReportNeighbours& neighbours);

// True when `content` is a whole report that ReportJson wrote (this version or an earlier one).
bool IsOurReport(std::string_view content);

// Writes `json` to `reportPath` in one step: a new file beside it, renamed over it; a link
// standing there is replaced, never followed.
void WriteReportFile(const std::string& reportPath, const std::string& json);

}  // namespace console
