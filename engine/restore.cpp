#include "engine/restore.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <system_error>

#include "engine/path_forms.h"
#include "platform/paths.h"
#include "target/create_db.h"
#include "wizard/settings.h"

namespace engine {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".norvane-undo";

fs::path PosixOf(const std::string& path) {
  return IsWindowsForm(path) ? platform::paths::ToPosix(path) : fs::absolute(path);
}

// Size and FNV-1a digest of a file's bytes; tells a changed file from the one recorded.
struct Digest {
  std::uintmax_t size = 0;
  std::uint64_t hash = 0;
  bool operator==(const Digest&) const = default;
};

std::optional<Digest> DigestOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  Digest digest{0, 14695981039346656037ull};
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    const auto n = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < n; ++i) {
      digest.hash ^= static_cast<unsigned char>(buffer[i]);
      digest.hash *= 1099511628211ull;
    }
    digest.size += n;
  }
  if (in.bad()) return std::nullopt;
  return digest;
}

std::string DigestText(const Digest& d) {
  return std::to_string(d.size) + ":" + std::to_string(d.hash);
}

// The backups link-back made of `access`: "<name>.bak", "<name>.bak2", ...
std::set<std::string> BackupsOf(const fs::path& access) {
  std::set<std::string> found;
  const std::string stem = access.filename().string() + ".bak";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(access.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, stem.size(), stem) != 0) continue;
    const std::string rest = name.substr(stem.size());
    if (rest.find_first_not_of("0123456789") == std::string::npos) found.insert(name);
  }
  return found;
}

std::map<std::string, std::string> ReadRecord(const fs::path& record) {
  std::map<std::string, std::string> values;
  std::ifstream in(record);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

std::string Windows(const fs::path& path) {
  return platform::paths::ToWindows(path);
}

RestoreOutcome Refuse(std::string why) {
  return {false, "Nothing was restored: " + std::move(why)};
}

}  // namespace

fs::path LinkBackRecordPath(const fs::path& accessFile) {
  return fs::path(accessFile.string() + kRecordSuffix);
}

bool HasLinkBackRecord(const fs::path& accessFile) {
  std::error_code ec;
  return !accessFile.empty() && fs::exists(LinkBackRecordPath(accessFile), ec);
}

LinkBackRecorder::LinkBackRecorder(const MigrationSettings& settings) {
  if (settings.LinkTablesFlag != 1) return;
  try {
    access_ = platform::paths::ToPosix(settings.AccessDbPath);
    target_ = platform::paths::ToPosix(target::TargetDbFilePath(settings));
  } catch (const platform::Error&) {
    return;  // the run's own open reports a path that does not resolve
  }
  backupsBefore_ = BackupsOf(access_);
  active_ = true;
}

void LinkBackRecorder::AfterRun(platform::FailureLog& failures) {
  if (!active_) return;
  std::string made;
  for (const std::string& name : BackupsOf(access_))
    if (backupsBefore_.count(name) == 0) made = name;
  if (made.empty()) return;  // nothing was linked back
  const fs::path backup = access_.parent_path() / made;
  const auto file = DigestOf(access_);
  const auto copy = DigestOf(backup);
  const fs::path record = LinkBackRecordPath(access_);
  if (!file || !copy) {
    failures.push_back({"Recording the link-back for undo", 0,
                        "the Access file or its backup " + Windows(backup) +
                            " cannot be read; restore it by hand if needed"});
    return;
  }
  const fs::path tmp = record.string() + ".tmp";
  std::ofstream out(tmp, std::ios::trunc);
  out << "backup=" << made << "\nbackup-digest=" << DigestText(*copy)
      << "\nlinked-digest=" << DigestText(*file) << "\ntarget=" << target_.string() << "\n";
  out.close();
  std::error_code ec;
  if (out.fail() || (fs::rename(tmp, record, ec), ec)) {
    fs::remove(tmp, ec);
    failures.push_back({"Recording the link-back for undo", 0,
                        "the record " + Windows(record) + " cannot be written"});
  }
}

RestoreOutcome RestoreFromBackup(dao::Engine& engine, const std::string& accessPath) {
  fs::path access;
  try {
    access = PosixOf(accessPath);
  } catch (const platform::Error& e) {
    return Refuse(e.Description());
  }
  const fs::path record = LinkBackRecordPath(access);
  if (!HasLinkBackRecord(access))
    return Refuse("there is no record of a link-back for " + Windows(access) + " (" +
                  Windows(record) + " is missing).");
  auto values = ReadRecord(record);
  if (values["backup"].empty() || values["backup"].find('/') != std::string::npos ||
      values["linked-digest"].empty())
    return Refuse("the record " + Windows(record) + " is damaged.");
  const fs::path backup = access.parent_path() / values["backup"];

  // Nobody may hold the file while it is replaced.
  try {
    auto workspace = engine.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
    workspace->OpenDatabase(access.string(), {.exclusive = true, .readOnly = false}, "")->Close();
    workspace->Close();
  } catch (const platform::Error& e) {
    if (e.Number() == dao::err::kCouldNotLock || e.Number() == dao::err::kFileNotFound)
      return Refuse(e.Description());
  }
  const auto file = DigestOf(access);
  if (!file || DigestText(*file) != values["linked-digest"])
    return Refuse(Windows(access) +
                  " was changed after the link-back; restoring the backup would lose those "
                  "changes.");
  const auto copy = DigestOf(backup);
  if (!copy) return Refuse("the backup " + Windows(backup) + " is missing.");
  if (DigestText(*copy) != values["backup-digest"])
    return Refuse("the backup " + Windows(backup) +
                  " does not match the one made at the link-back.");

  std::error_code ec;
  const fs::path tmp = access.string() + ".restore-tmp";
  fs::copy_file(backup, tmp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(tmp, access, ec);
  if (ec) {
    fs::remove(tmp, ec);
    return Refuse("the backup could not be put in place: " + ec.message());
  }
  std::string message = "Restored " + Windows(access) + " from " + Windows(backup) + ".";
  const fs::path target = values["target"];
  if (!target.empty()) {
    fs::path log = target;
    log.replace_extension(".log");
    for (const fs::path& made : {target, log}) {
      if (!fs::exists(made, ec)) continue;
      if (fs::remove(made, ec))
        message += " Removed " + Windows(made) + ".";
      else
        message += " Could not remove " + Windows(made) + ": " + ec.message() + ".";
    }
  }
  fs::remove(backup, ec);
  fs::remove(record, ec);
  return {true, message};
}

}  // namespace engine
