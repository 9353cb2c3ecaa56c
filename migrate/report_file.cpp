#include "migrate/report_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/work_files.h"
#include "migrate/report_json.h"
#include "options/page_rules.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "target/create_db.h"

namespace console {
namespace {

namespace fs = std::filesystem;

// The file names of one folder the call writes or keeps, lower-cased, with what each one is.
struct Guarded {
  fs::path folder;
  std::vector<std::pair<std::string, std::string>> names;
  std::string backupsOf;  // "<access file>.bak": also .bak2, .bak3, ... and .bak-tmp-<n>
};

void AddDatabase(Guarded& g, const std::string& name, const std::string& log) {
  const std::string db = platform::LowerAscii(name);
  g.names.push_back({db, "the new database"});
  for (const char* ending : {"-journal", "-wal", "-shm", ".run-lock"})
    g.names.push_back({db + ending, "a file of the new database"});
  if (!log.empty()) g.names.push_back({platform::LowerAscii(log), "the new database's log"});
}

Guarded GuardAccessFile(const fs::path& access) {
  Guarded g{access.parent_path(), {}, platform::LowerAscii(access.filename().string()) + ".bak"};
  const std::string name = platform::LowerAscii(access.filename().string());
  g.names.push_back({name, "the Access database"});
  for (const char* ending : {".norvane-undo", ".linking", ".run-lock", "-journal"})
    g.names.push_back({name + ending, "a file the migration keeps beside the Access database"});
  const fs::path stem = access.stem();
  for (const char* lock : {".ldb", ".laccdb"})
    g.names.push_back({platform::LowerAscii(stem.string() + lock), "the Access lock file"});
  for (const char* work : engine::kWorkFileNames)
    g.names.push_back({work, "a work file of the migration"});
  for (const char* work : engine::kPropertyFileNames)
    g.names.push_back({work, "a work file of the migration"});
  // The new database beside the Access file, named as the source page names it.
  const std::string db = wizard::TargetDbFileNameOf(access.filename().string());
  MigrationSettings s;
  s.WorkFolder = "";
  s.TargetDbFileName = db;
  AddDatabase(g, db, target::TargetLogFilePath(s));
  return g;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a.empty() ? "." : a, b.empty() ? "." : b, ec);
}

// What a guarded name `name` (lower-cased) in `g`'s folder is, or "".
std::string WhatIs(const Guarded& g, const std::string& name) {
  for (const auto& [guarded, what] : g.names)
    if (name == guarded) return what;
  if (name.starts_with(g.backupsOf)) {
    const std::string rest = name.substr(g.backupsOf.size());
    if (rest.starts_with("-tmp-") || rest.find_first_not_of("0123456789") == std::string::npos)
      return "a backup of the Access database";
  }
  return "";
}

std::string Refused(const std::string& shown, const std::string& why) {
  return "The JSON report cannot be written to " + shown + ": " + why +
         ". Give --report-json another file.";
}

}  // namespace

bool IsOurReport(std::string_view content) {
  if (content.starts_with(kReportStart)) return content.ends_with("}\n");
  // Reports before the marker: {"files":[...],"status":<n>}
  if (!content.starts_with("{\"files\":[") || !content.ends_with("}\n")) return false;
  const auto at = content.rfind(",\"status\":");
  if (at == std::string_view::npos) return false;
  const std::string_view number = content.substr(at + 10, content.size() - at - 12);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string ReportFileRefusal(const std::string& reportPath, const ReportNeighbours& neighbours) {
  fs::path report;
  try {
    report = fs::absolute(platform::paths::PosixPathOf(reportPath));
  } catch (const platform::Error& e) {
    return Refused(reportPath, e.Description());
  }
  const std::string name = platform::LowerAscii(report.filename().string());
  if (name.empty() || name == "." || name == "..") return Refused(reportPath, "it is a folder");
  std::error_code ec;
  if (!fs::is_directory(report.parent_path(), ec))
    return Refused(reportPath, "its folder does not exist");

  std::vector<Guarded> guarded;
  for (const std::string& access : neighbours.accessFiles) {
    try {
      const fs::path given = fs::absolute(platform::paths::PosixPathOf(access));
      guarded.push_back(GuardAccessFile(given));
      // Backups and the undo record go beside the file a link names.
      std::error_code ec;
      const fs::path real = fs::canonical(given, ec);
      if (!ec && real != given) guarded.push_back(GuardAccessFile(real));
    } catch (const platform::Error&) {
      // A name that does not resolve fails its own job; the folder holds nothing of ours.
    }
  }
  for (const std::string& db : neighbours.databases) {
    if (db.empty()) continue;
    const fs::path p = fs::absolute(db);
    Guarded g{p.parent_path(), {}, "\n"};
    AddDatabase(g, p.filename().string(), "");
    guarded.push_back(g);
  }
  for (const Guarded& g : guarded) {
    if (!SameFolder(report.parent_path(), g.folder)) continue;
    if (const std::string what = WhatIs(g, name); !what.empty())
      return Refused(reportPath, "it is " + what);
  }

  struct stat st {};
  if (::lstat(report.c_str(), &st) != 0) {
    if (errno == ENOENT) return "";
    return Refused(reportPath, std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) return Refused(reportPath, "it is a symbolic link");
  if (S_ISDIR(st.st_mode)) return Refused(reportPath, "it is a folder");
  // A file under another name in a guarded folder (a hard link) is the same file.
  for (const std::string& access : neighbours.accessFiles) {
    struct stat a {};
    try {
      if (::stat(fs::absolute(platform::paths::PosixPathOf(access)).c_str(), &a) == 0 &&
          a.st_dev == st.st_dev && a.st_ino == st.st_ino)
        return Refused(reportPath, "it is the Access database " + access);
    } catch (const platform::Error&) {
    }
  }
  constexpr off_t kLargestReport = off_t{1} << 30;
  std::string content;
  if (S_ISREG(st.st_mode) && st.st_size < kLargestReport) {
    std::ifstream in(report, std::ios::binary);
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (!IsOurReport(content))
    return Refused(reportPath, "the file exists and is not a report of norvane-migrate");
  return "";
}

void WriteReportFile(const std::string& reportPath, const std::string& json) {
  platform::files::ReplaceDurably(fs::absolute(platform::paths::PosixPathOf(reportPath)).string(),
                                  json, reportPath);
}

}  // namespace console
