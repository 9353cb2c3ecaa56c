// The run locks of one migration: the Access file and its new database, each held from
// "Create DB" to the end of the run (platform::RunLock), so that a second wizard or
// norvane-migrate on either file is refused.
#pragma once

#include <optional>
#include <string>

#include "platform/run_lock.h"

struct MigrationSettings;

namespace target {

class RunLocks {
 public:
  // Holds the locks of the Access file and database file the settings name now: kept when they
  // are held already, those of other files released. Returns "" or, when another run holds one
  // of them (or its lock file cannot be made), the message saying so; then none is held.
  std::string Take(const MigrationSettings& settings);
  // Also holds the lock of a database the run writes to that is not the one "Create DB" makes
  // (a data source or connection string chosen instead), named in either path form. Same result
  // as Take.
  std::string TakeConnected(const std::string& named);

 private:
  std::string accessPath_, databasePath_;
  std::optional<platform::RunLock> access_, database_, connected_;
};

}  // namespace target
