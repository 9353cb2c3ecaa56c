#include "wizard/console/console_batch.h"

#include <algorithm>
#include <filesystem>

#include "platform/text.h"

namespace console {
namespace {

namespace fs = std::filesystem;

std::string ResultText(int status) {
  switch (status) {
    case 0:
      return "ok";
    case 2:
      return "not started (command line)";
    default:
      return "failed";
  }
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

int RunConsoleJobs(const ConsoleOptions& options, ConsoleServices& services) {
  const std::vector<std::string> files = AccessFilesOf(options);
  if (options.restore || files.size() == 1) {
    MigrationSettings settings;
    ConsoleOptions one = options;
    if (!files.empty()) one.access = files.front();
    return RunConsoleJob(one, settings, services);
  }
  std::ostream& out = services.out;
  if (files.empty()) {
    out << "No Access files (.mdb, .accdb) were found in the folders given.\n";
    return 1;
  }
  std::vector<int> statuses;
  for (const std::string& file : files) {
    out << "\n=== " << file << " ===\n";
    MigrationSettings settings;
    ConsoleOptions one = options;
    one.access = file;
    int status = 1;
    try {
      status = RunConsoleJob(one, settings, services);
    } catch (const std::exception& e) {
      out << "The migration of " << file << " stopped: " << e.what() << '\n';
    }
    statuses.push_back(status);
  }
  std::size_t width = 4;
  for (const std::string& file : files) width = std::max(width, file.size());
  out << "\nSummary\n" << std::string(width, '-') << "  ------\n";
  int overall = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    out << files[i] << std::string(width - files[i].size(), ' ') << "  " << ResultText(statuses[i])
        << '\n';
    if (statuses[i] != 0) overall = overall == 2 || statuses[i] == 2 ? 2 : 1;
  }
  const auto good = std::count(statuses.begin(), statuses.end(), 0);
  out << good << " of " << files.size() << " migrated.\n";
  return overall;
}

}  // namespace console
