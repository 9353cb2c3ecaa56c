#include "engine/restore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>

#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/files.h"
#include "platform/fnv1a.h"
#include "platform/paths.h"
#include "platform/run_lock.h"
#include "target/create_db.h"
#include "target/postgres_target.h"

namespace engine {

struct LinkBackRecorder::State {
  std::filesystem::path access;
  std::filesystem::path target;
  bool written = false;
  ino_t changedInode = 0;  // the changed file, which becomes the Access file by rename
};

namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".norvane-undo";
void (*stepObserver)(int) = nullptr;

void Step(int step) {
  if (stepObserver != nullptr) stepObserver(step);
}

std::string Windows(const fs::path& path) {
  try {
    return platform::paths::ToWindows(path);
  } catch (const platform::Error&) {
    return path.string();
  }
}

// Size and FNV-1a digest of a file's bytes; tells a changed file from the one recorded.
std::optional<std::string> DigestOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  platform::Fnv1a hash;
  std::uint64_t size = 0;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    const auto n = static_cast<std::size_t>(in.gcount());
    hash.Add(buffer, n);
    size += n;
  }
  if (in.bad()) return std::nullopt;
  return std::to_string(size) + ":" + std::to_string(hash.Value());
}

// The record's lines: the single keys, and the tables noted at the end of the migration.
struct Record {
  std::map<std::string, std::string> values;
  std::vector<TableState> tables;
  bool tablesNoted = false;

  std::string Get(const std::string& key) const {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  }
};

Record ReadRecord(const fs::path& path) {
  Record record;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "tables-noted") {
      record.tablesNoted = true;
    } else if (key == "table") {
      // rows:digest:name
      const auto a = value.find(':'), b = value.find(':', a == std::string::npos ? a : a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      try {
        record.tables.push_back({value.substr(b + 1), std::stoull(value.substr(0, a)),
                                 std::stoull(value.substr(a + 1, b - a - 1))});
      } catch (const std::exception&) {
        record.values["damaged"] = "1";
      }
    } else {
      record.values[key] = value;
    }
  }
  return record;
}

std::string RecordText(const Record& record) {
  std::ostringstream out;
  for (const char* key : {"backup", "backup-digest", "linked-digest", "target"})
    out << key << '=' << record.Get(key) << '\n';
  if (record.tablesNoted) {
    for (const TableState& t : record.tables)
      out << "table=" << t.rows << ':' << t.digest << ':' << t.name << '\n';
    out << "tables-noted=1\n";
  }
  return out.str();
}

void WriteRecord(const fs::path& path, const Record& record) {
  platform::files::ReplaceDurably(path.string(), RecordText(record), Windows(path));
}

// The file is the one the link-back made, the backup put back, or neither.
enum class AccessState { Linked, AsBackup, Changed, Unreadable };

AccessState StateOf(const fs::path& access, const Record& record) {
  const auto digest = DigestOf(access);
  if (!digest) return AccessState::Unreadable;
  if (*digest == record.Get("linked-digest")) return AccessState::Linked;
  if (*digest == record.Get("backup-digest")) return AccessState::AsBackup;
  return AccessState::Changed;
}

RestoreOutcome Refuse(std::string why) {
  return {false, "Nothing was restored: " + std::move(why), false, {}};
}

// Why the record cannot be used as it stands, or "".
std::string RecordProblem(const Record& record, const fs::path& access, const fs::path& path) {
  const std::string backup = record.Get("backup"), target = record.Get("target");
  const bool backupOk = !backup.empty() && backup != "." && backup != ".." &&
                        backup.find('/') == std::string::npos &&
                        backup.rfind(access.filename().string() + ".bak", 0) == 0;
  const fs::path t(target);
  const bool targetOk =
      target::IsServerTarget(target) || (!target.empty() && t.is_absolute() && t != access &&
                                         t != access.parent_path() / backup && t != path);
  if (!backupOk || !targetOk || record.Get("linked-digest").empty() ||
      record.Get("backup-digest").empty() || !record.Get("damaged").empty())
    return "the record " + Windows(path) + " is damaged or was changed by hand.";
  return "";
}

// The tables that differ from those noted at the end of the migration.
std::vector<std::string> ChangedTables(const std::vector<TableState>& noted,
                                       const std::vector<TableState>& now) {
  std::vector<std::string> changed;
  for (const TableState& t : now) {
    const auto it = std::find_if(noted.begin(), noted.end(),
                                 [&](const TableState& n) { return n.name == t.name; });
    if (it == noted.end() || !(*it == t)) changed.push_back(t.name);
  }
  for (const TableState& n : noted)
    if (std::none_of(now.begin(), now.end(), [&](const TableState& t) { return t.name == n.name; }))
      changed.push_back(n.name);
  return changed;
}

bool Exists(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A recorded target as messages name it: a file in Windows form, a server's database by its
// connect string.
std::string Shown(const fs::path& target) {
  return target::IsServerTarget(target.string()) ? target.string() : Windows(target);
}

}  // namespace

bool TargetDatabaseInspector::Exists(const std::string& target) {
  struct stat st {};
  return ::lstat(target.c_str(), &st) == 0;
}

void SetRestoreStepObserver(void (*observer)(int step)) {
  stepObserver = observer;
}

fs::path LinkBackRecordPath(const fs::path& accessFile) {
  return fs::path(accessFile.string() + kRecordSuffix);
}

bool HasLinkBackRecord(const fs::path& accessFile) {
  // Only a plain file is a record: this program never makes a link there.
  struct stat st {};
  return !accessFile.empty() && ::lstat(LinkBackRecordPath(accessFile).c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}

bool HasLiveLinkBackRecord(const fs::path& accessFile) {
  if (!HasLinkBackRecord(accessFile)) return false;
  return StateOf(accessFile, ReadRecord(LinkBackRecordPath(accessFile))) != AccessState::AsBackup;
}

LinkBackRecorder::LinkBackRecorder(const MigrationSettings& settings,
                                   const std::string& connectedDatabase) {
  if (settings.LinkTablesFlag != 1) return;
  auto state = std::make_shared<State>();
  try {
    state->access = platform::paths::ToPosix(settings.AccessDbPath);
    state->target = connectedDatabase.empty()
                        ? platform::paths::ToPosix(target::TargetDbFilePath(settings))
                    : target::IsServerTarget(connectedDatabase) ? fs::path(connectedDatabase)
                                                                : fs::absolute(connectedDatabase);
  } catch (const platform::Error&) {
    return;  // the run's own open reports a path that does not resolve
  }
  // A record an interrupted link-back or restore left while the file is as its backup describes
  // no change of the file; this run's link-back writes its own.
  if (HasLinkBackRecord(state->access) && !HasLiveLinkBackRecord(state->access)) {
    std::error_code ec;
    fs::remove(LinkBackRecordPath(state->access), ec);
  }
  state_ = std::move(state);
}

dao::BeforeCatalogReplace LinkBackRecorder::BeforeReplace() const {
  if (!state_) return {};
  return [state = state_](const std::string& backup, const std::string& changed) {
    const fs::path record = LinkBackRecordPath(state->access);
    const auto copy = DigestOf(backup), linked = DigestOf(changed);
    struct stat st {};
    if (!copy || !linked || ::stat(changed.c_str(), &st) != 0)
      throw platform::Error(platform::err::kPathFileAccess,
                            "The backup " + Windows(backup) +
                                " or the changed file cannot be read, so the link-back could "
                                "not be made undoable; the Access file was not changed.");
    Record r;
    r.values = {{"backup", fs::path(backup).filename().string()},
                {"backup-digest", *copy},
                {"linked-digest", *linked},
                {"target", state->target.string()}};
    WriteRecord(record, r);  // throws: no link-back without its record
    state->written = true;
    state->changedInode = st.st_ino;
  };
}

void LinkBackRecorder::AfterRun(platform::FailureLog& failures) {
  if (!state_ || !state_->written) return;
  struct stat st {};
  if (::stat(state_->access.c_str(), &st) == 0 && st.st_ino == state_->changedInode) return;
  // The record was written, but the file was not replaced: it describes nothing.
  state_->written = false;
  std::error_code ec;
  const fs::path record = LinkBackRecordPath(state_->access);
  if (!fs::remove(record, ec) && ec)
    failures.push_back({"Recording the link-back for undo", 0,
                        "the record " + Windows(record) +
                            " describes a link-back that did not happen and could not be "
                            "removed: " +
                            ec.message()});
}

void LinkBackRecorder::AfterMigration(TargetDatabaseInspector& inspector,
                                      platform::FailureLog& failures) {
  if (!state_ || !state_->written) return;
  const fs::path path = LinkBackRecordPath(state_->access);
  try {
    Record record = ReadRecord(path);
    record.tables = inspector.Tables(state_->target.string());
    record.tablesNoted = true;
    WriteRecord(path, record);
  } catch (const platform::Error& e) {
    failures.push_back(
        {"Recording the link-back for undo", e.Number(),
         e.Description() + " (a restore will then ask before it removes the new database)"});
  }
}

RestoreOutcome RestoreFromBackup(dao::Engine& engine, TargetDatabaseInspector& inspector,
                                 const RestoreRequest& request) {
  fs::path access;
  try {
    access = fs::absolute(platform::paths::PosixPathOf(request.accessPath));
  } catch (const platform::Error& e) {
    return Refuse(e.Description());
  }
  const fs::path recordPath = LinkBackRecordPath(access);
  if (!HasLinkBackRecord(access))
    return Refuse("there is no record of a link-back for " + Windows(access) + " (" +
                  Windows(recordPath) + " is missing).");
  const Record record = ReadRecord(recordPath);
  if (const std::string problem = RecordProblem(record, access, recordPath); !problem.empty())
    return Refuse(problem);
  const fs::path backup = access.parent_path() / record.Get("backup");
  const fs::path target = record.Get("target");
  const bool server = target::IsServerTarget(target.string());

  // One run at a time: no migration may work on either file meanwhile.
  std::optional<platform::RunLock> accessLock, targetLock;
  try {
    if (!request.runLocksHeld) {
      accessLock.emplace(access.string());
      if (!server) targetLock.emplace(target.string());
    }
  } catch (const platform::Error& e) {
    return Refuse(e.Description());
  }
  // Nobody may hold the file while it is replaced.
  try {
    auto workspace = engine.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
    workspace->OpenDatabase(access.string(), {.exclusive = true, .readOnly = false}, "")->Close();
    workspace->Close();
  } catch (const platform::Error& e) {
    if (e.Number() == dao::err::kCouldNotLock || e.Number() == dao::err::kFileNotFound)
      return Refuse(e.Description());
  }

  const AccessState state = StateOf(access, record);
  if (state == AccessState::Unreadable) return Refuse(Windows(access) + " cannot be read.");
  if (state == AccessState::Changed)
    return Refuse(Windows(access) +
                  " was changed after the link-back; restoring the backup would lose those "
                  "changes.");
  if (state == AccessState::Linked) {
    struct stat st {};
    if (::lstat(backup.c_str(), &st) != 0)
      return Refuse("the backup " + Windows(backup) + " is missing.");
    if (!S_ISREG(st.st_mode) || DigestOf(backup) != record.Get("backup-digest"))
      return Refuse("the backup " + Windows(backup) +
                    " does not match the one made at the link-back.");
    try {
      if (inspector.TablesLinkedTo(access.string(), target.string()).empty())
        return Refuse("the record names the database " + Shown(target) + ", but no table of " +
                      Windows(access) + " is linked to it.");
    } catch (const platform::Error& e) {
      return Refuse("the links of " + Windows(access) + " cannot be read: " + e.Description());
    }
  }

  bool databaseThere = false;
  try {
    databaseThere = inspector.Exists(target.string());
  } catch (const platform::Error& e) {
    return Refuse(Shown(target) + " cannot be reached: " + e.Description());
  }
  if (databaseThere) {
    if (!inspector.IsNorvaneDatabase(target.string()))
      return Refuse(Shown(target) +
                    " is not a Norvane database; the record names a file the migration did not "
                    "make, which is left alone.");
    long pid = 0;
    try {
      pid = inspector.ProgramHolding(target.string());
    } catch (const platform::Error& e) {
      return Refuse(Shown(target) + " cannot be checked: " + e.Description());
    }
    if (pid != 0)
      return Refuse(Shown(target) + " is in use by another program (process " +
                    std::to_string(pid) + "); close it and restore again.");
    if (!request.discardChanges) {
      std::vector<std::string> changed;
      try {
        changed = ChangedTables(record.tables, inspector.Tables(target.string()));
      } catch (const platform::Error& e) {
        return Refuse(Shown(target) +
                      " cannot be read to compare it with the migration: " + e.Description());
      }
      if (!record.tablesNoted || !changed.empty()) {
        RestoreOutcome outcome = Refuse(
            !record.tablesNoted
                ? Shown(target) +
                      " was not noted at the end of the migration, so changes made to it since "
                      "cannot be ruled out; restoring removes it with any such changes."
                : Shown(target) + " holds changes made after the migration (" +
                      std::to_string(changed.size()) +
                      (changed.size() == 1 ? " table" : " tables") +
                      "); restoring removes the database with these changes.");
        outcome.needsConsent = true;
        outcome.changedTables = std::move(changed);
        return outcome;
      }
    }
  }

  std::string message;
  if (state == AccessState::Linked) {
    Step(1);
    try {
      platform::files::ReplaceDurablyWithCopyOf(access.string(), backup.string(), Windows(access));
    } catch (const platform::Error& e) {
      return Refuse("the backup could not be put in place: " + e.Description());
    }
    message = "Restored " + Windows(access) + " from " + Windows(backup) + ".";
  } else {
    message = Windows(access) + " already holds the backup's content.";
  }

  Step(2);
  const fs::path log =
      server ? fs::path() : fs::path(platform::paths::DatabaseLogPathOf(target.string()));
  std::error_code ec;
  if (databaseThere) {
    try {
      inspector.Remove(target.string());
      message += " Removed " + Shown(target) + ".";
    } catch (const platform::Error& e) {
      return {false,
              message + " Could not remove " + Shown(target) + ": " + e.Description() +
                  ". Restore again to finish.",
              false,
              {}};
    }
  }
  for (const fs::path& file : {log, fs::path(CommandLogPath(access.string()))})
    if (!file.empty() && Exists(file) && fs::remove(file, ec))
      message += " Removed " + Windows(file) + ".";
  Step(3);
  if (Exists(backup)) fs::remove(backup, ec);
  Step(4);
  fs::remove(recordPath, ec);
  try {
    platform::files::SyncFolderOf(access.string(), Windows(access));
  } catch (const platform::Error&) {
    // the removals are made; only their durability across a power loss is in doubt
  }
  return {true, message, false, {}};
}

}  // namespace engine
