// The two programs' view of the PostgreSQL target beside the Norvane file: restore's and the
// undo record's inspector for either kind of database, and the server as "Create DB" asks it.
//
// A database on a server is named by its psqlODBC connect string (target::IsServerTarget);
// anything else is a Norvane file's path.
// Failures: platform::Error, as the inspectors underneath throw; Exists of a server that cannot
// be reached throws dao::err::kOdbcCallFailed.
#pragma once

#include <string>
#include <vector>

#include "engine/restore.h"
#include "platform/verify/postgres_inspector.h"
#include "platform/verify/target_inspector.h"
#include "target/postgres_target.h"

namespace platform::verify {

class AnyTargetInspector : public engine::TargetDatabaseInspector {
 public:
  bool Exists(const std::string& target) override;
  bool IsNorvaneDatabase(const std::string& target) override;
  long ProgramHolding(const std::string& target) override;
  std::vector<engine::TableState> Tables(const std::string& target) override;
  std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                          const std::string& target) override;
  void Remove(const std::string& target) override;

 private:
  engine::TargetDatabaseInspector& Of(const std::string& target);
  NorvaneTargetInspector files_;
  PostgresTargetInspector server_;
};

// "Create DB"'s questions to the server of the settings, through psqlODBC.
class ServerDatabasesThroughOdbc : public target::ServerDatabases {
 public:
  bool Exists(const MigrationSettings& settings) override;
  void Drop(const MigrationSettings& settings) override;

 private:
  PostgresTargetInspector server_;
};

}  // namespace platform::verify
