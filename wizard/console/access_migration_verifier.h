// The migration check over the real Access file and the new database (through ODBC), for the
// console program and the wizard's results window alike.
//
// Failures: as platform/verify/migration_check.h: BeforeRun and Verify throw platform::Error when
// a side cannot be read at all; a table that cannot be read is reported in its line.
#pragma once

#include <chrono>

#include "platform/verify/migration_check.h"
#include "wizard/console/migration_report.h"

namespace console {

class AccessMigrationVerifier : public MigrationVerifier {
 public:
  void BeforeRun(const MigrationSettings& settings) override;
  std::vector<TableReport> Verify(const MigrationSettings& settings,
                                  const std::string& targetConnection) override;

 private:
  platform::verify::MigrationChecker checker_;
  std::chrono::milliseconds timeout_{60000};
};

}  // namespace console
