#include "migrate/console_batch.h"

#include <algorithm>
#include <filesystem>

#include "migrate/report_file.h"
#include "migrate/report_json.h"
#include "platform/error.h"
#include "platform/text.h"

namespace console {
namespace {

namespace fs = std::filesystem;

// What a file's line of the summary says, and the word of the last line, for the plan asked for.
struct SummaryWords {
  const char* ok;
  const char* notOk;
  const char* done;    // "2 of 3 <done>."
  bool countsChecked;  // a file counts when it was checked, whatever was found
};

SummaryWords WordsOf(const ConsoleOptions& options) {
  if (options.check) return {"nothing found", "found something (see above)", "checked", true};
  if (options.dryRun) return {"planned", "failed", "planned (dry run)", false};
  return {"ok", "failed", "migrated", false};
}

std::string ResultText(const JobRecord& job, const SummaryWords& words) {
  if (job.status == 0) return words.ok;
  if (job.status == 2) return "not started (command line)";
  return words.countsChecked && !job.checks ? "not checked" : words.notOk;
}

bool Counted(const JobRecord& job, const SummaryWords& words) {
  return words.countsChecked ? job.checks.has_value() : job.status == 0;
}

}  // namespace

std::vector<std::string> AccessFilesOf(const ConsoleOptions& options) {
  std::vector<std::string> files;
  for (const std::string& given : options.accessFiles) {
    std::error_code ec;
    if (!fs::is_directory(given, ec)) {
      files.push_back(given);
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(given, ec)) {
      const std::string ext = platform::LowerAscii(entry.path().extension().string());
      if (entry.is_regular_file(ec) && (ext == ".mdb" || ext == ".accdb"))
        found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

namespace {

// Writes the JSON report when asked; a file that cannot be written fails the call.
int WriteJson(const ConsoleOptions& options, const ReportNeighbours& neighbours,
              const std::vector<JobRecord>& jobs, int status, std::ostream& err) {
  if (!options.reportJson) return status;
  // Looked at again: the file may have changed during the run.
  std::string problem = ReportFileRefusal(*options.reportJson, neighbours);
  if (problem.empty()) {
    try {
      WriteReportFile(*options.reportJson, ReportJson(jobs, status));
    } catch (const platform::Error& e) {
      problem =
          "The JSON report " + *options.reportJson + " could not be written: " + e.Description();
    }
  }
  if (problem.empty()) return status;
  err << problem << '\n';
  return status == 0 ? 1 : status;
}

// What the call writes besides the report, for the report's refusal.
ReportNeighbours NeighboursOf(const ConsoleOptions& options, const std::vector<std::string>& files,
                              ConsoleServices& services) {
  ReportNeighbours n;
  n.accessFiles = files;
  if (options.restore) n.accessFiles.push_back(*options.restore);
  if ((options.connect || options.dsn) && services.databaseFileOf) {
    const MigrationSettings none;
    n.databases.push_back(services.databaseFileOf(TargetConnectionOf(options, none)));
  }
  return n;
}

}  // namespace

int RunConsoleJobs(const ConsoleOptions& options, ConsoleServices& services) {
  std::ostream& out = services.out;
  std::ostream& err = services.err;
  const std::vector<std::string> files = AccessFilesOf(options);
  const ReportNeighbours neighbours = NeighboursOf(options, files, services);
  if (options.reportJson) {
    if (const std::string refusal = ReportFileRefusal(*options.reportJson, neighbours);
        !refusal.empty()) {
      err << refusal << '\n';
      return 2;
    }
  }
  if (options.restore || files.size() == 1) {
    MigrationSettings settings;
    ConsoleOptions one = options;
    if (!files.empty()) one.access = files.front();
    std::vector<JobRecord> jobs(1);
    jobs[0].accessFile = one.restore ? *one.restore : one.access;
    jobs[0].status = RunConsoleJob(one, settings, services, &jobs[0]);
    return WriteJson(options, neighbours, jobs, jobs[0].status, err);
  }
  if (files.empty()) {
    err << "No Access files (.mdb, .accdb) were found in the folders given.\n";
    return 1;
  }
  std::vector<JobRecord> jobs(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    out << "\n=== " << files[i] << " ===\n" << std::flush;
    MigrationSettings settings;
    ConsoleOptions one = options;
    one.access = files[i];
    jobs[i].accessFile = files[i];
    try {
      jobs[i].status = RunConsoleJob(one, settings, services, &jobs[i]);
    } catch (const std::exception& e) {
      err << "The migration of " << files[i] << " stopped: " << e.what() << '\n';
    }
  }
  std::size_t width = 4;
  for (const std::string& file : files) width = std::max(width, file.size());
  const SummaryWords words = WordsOf(options);
  out << "\nSummary\n" << std::string(width, '-') << "  ------\n";
  int overall = 0;
  for (const JobRecord& job : jobs) {
    out << job.accessFile << std::string(width - job.accessFile.size(), ' ') << "  "
        << ResultText(job, words) << (job.target.empty() ? "" : ": the " + job.target) << '\n';
    if (job.status != 0) overall = overall == 2 || job.status == 2 ? 2 : 1;
  }
  const auto counted = std::count_if(jobs.begin(), jobs.end(),
                                     [&](const JobRecord& j) { return Counted(j, words); });
  out << counted << " of " << jobs.size() << " " << words.done << ".\n";
  return WriteJson(options, neighbours, jobs, overall, err);
}

}  // namespace console
