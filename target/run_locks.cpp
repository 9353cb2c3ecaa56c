#include "target/run_locks.h"

#include <filesystem>

#include "options/settings.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "target/create_db.h"

namespace target {

std::string RunLocks::Take(const MigrationSettings& settings) {
  const std::string access = settings.AccessDbPath;
  const std::string database = TargetDbFilePath(settings);
  if (access == accessPath_ && database == databasePath_ && (access_ || database_)) return "";
  access_.reset();
  database_.reset();
  accessPath_.clear();
  databasePath_.clear();
  try {
    if (!access.empty()) access_.emplace(platform::paths::ToPosix(access).string());
    if (!settings.TargetDbFileName.empty())
      database_.emplace(platform::paths::ToPosix(database).string());
  } catch (const platform::Error& e) {
    access_.reset();
    database_.reset();
    return e.Description();
  }
  accessPath_ = access;
  databasePath_ = database;
  return "";
}

std::string RunLocks::TakeConnected(const std::string& named) {
  connected_.reset();
  if (named.empty()) return "";
  std::string posixPath;
  try {
    posixPath = platform::paths::PosixPathOf(named).string();
  } catch (const platform::Error&) {
    return "";  // no such place: the connect refuses it with its reason
  }
  // A file this run holds already (the Access file itself is refused when the run connects).
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(posixPath, ec);
  for (const std::string& held : {accessPath_, databasePath_}) {
    if (ec || held.empty()) continue;
    std::error_code heldEc;
    const auto path = std::filesystem::weakly_canonical(platform::paths::ToPosix(held), heldEc);
    if (!heldEc && path == canonical) return "";
  }
  try {
    connected_.emplace(posixPath);
  } catch (const platform::Error& e) {
    return e.Description();
  }
  return "";
}

}  // namespace target
