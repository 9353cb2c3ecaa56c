#include "target/run_locks.h"

#include "platform/error.h"
#include "platform/paths.h"
#include "target/create_db.h"
#include "wizard/settings.h"

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

}  // namespace target
