#include "report/report_completion.h"

#include <algorithm>
#include <sstream>

#include "platform/access_format.h"
#include "platform/paths.h"

namespace reporting {

void NoteAccessBeforeRun(MigrationVerifier& verifier, const MigrationSettings& settings,
                         MigrationReport& report) {
  try {
    report.accessFormat = platform::FormatSupportLine(
        platform::ReadAccessFormat(platform::paths::ToPosix(settings.AccessDbPath).string()));
    verifier.BeforeRun(settings);
  } catch (const platform::Error& e) {
    report.verifyError = "the Access file could not be read before the run: " + e.Description();
  }
}

void AddBatchOutcome(const std::string& batch, int status, std::vector<std::string> toolErrors,
                     MigrationReport& report) {
  if (status != 0 && toolErrors.empty())
    toolErrors.push_back(batch + " ended with exit status " + std::to_string(status));
  for (auto& e : toolErrors) report.toolErrors.push_back(std::move(e));
}

void AddReloadOutcome(int status, std::vector<std::string> toolErrors, MigrationReport& report) {
  AddBatchOutcome("reload.bat", status, std::move(toolErrors), report);
}

void CheckWhatArrived(MigrationVerifier& verifier, const MigrationSettings& settings,
                      const std::string& targetConnection, MigrationReport& report) {
  if (!report.verifyError.empty()) return;
  try {
    report.tables = verifier.Verify(settings, targetConnection);
  } catch (const platform::Error& e) {
    report.verifyError = e.Description();
  }
}

int ProblemCount(const MigrationReport& report) {
  int n = static_cast<int>(report.runFailures.size() + report.toolErrors.size());
  if (!report.verifyError.empty()) ++n;
  for (const auto& t : report.tables)
    if (!t.Ok()) ++n;
  return n;
}

std::string Headline(const MigrationReport& report) {
  if (report.Ok()) return "Migration complete";
  const int n = std::max(ProblemCount(report), 1);
  return "Finished with " + std::to_string(n) + (n == 1 ? " problem" : " problems");
}

std::string FindingsLine(const MigrationReport& report) {
  std::size_t notCarried = 0;
  for (const auto& p : report.properties) notCarried += p.notCarried.size();
  const std::string findings = notCarried == 0
                                   ? std::string()
                                   : std::to_string(notCarried) +
                                         (notCarried == 1 ? " property was" : " properties were") +
                                         " not carried";
  if (report.Ok())
    return "Everything arrived and checked out" +
           (findings.empty() ? "." : "; " + findings + ": see the report below.");
  const int n = std::max(ProblemCount(report), 1);
  std::string line = std::to_string(n) + (n == 1 ? " failure" : " failures") +
                     " in the run or the check: marked in the report below";
  if (!findings.empty()) line += "; besides, " + findings + " (findings about the data)";
  return line + ".";
}

std::string ReportText(const MigrationReport& report) {
  std::ostringstream out;
  PrintReport(report, out);
  return out.str();
}

}  // namespace reporting
