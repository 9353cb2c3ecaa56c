// The migration check over the real Access file and the new database (through ODBC), for the
// console program and the wizard's results window alike.
//
// Failures: as platform/verify/migration_check.h: BeforeRun and Verify throw platform::Error when
// a side cannot be read at all; a table that cannot be read is reported in its line.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/odbc/odbc.h"
#include "platform/verify/migration_check.h"
#include "report/migration_report.h"

namespace console {

class AccessMigrationVerifier : public reporting::MigrationVerifier {
 public:
  // `lockWait`: how long a read of the new database waits for another program's lock.
  explicit AccessMigrationVerifier(std::chrono::milliseconds lockWait = std::chrono::seconds(60))
      : lockWait_(lockWait) {}
  void BeforeRun(const MigrationSettings& settings) override;
  void ReadAccessAhead(const MigrationSettings& settings,
                       const std::string& targetConnection) override;
  bool ReadNextAccessSide() override { return checker_.ReadNextAccessSide(); }
  std::vector<reporting::TableReport> Verify(const MigrationSettings& settings,
                                             const std::string& targetConnection) override;
  std::string CompareValues(const MigrationSettings& settings, const std::string& targetConnection,
                            const std::string& accessName) override;
  std::string KeysOfRowsBreaking(const std::string& targetConnection, const std::string& table,
                                 const std::string& condition) override;

 private:
  platform::verify::CheckRequest Request(const MigrationSettings& settings,
                                         const std::string& targetConnection) const;

  platform::verify::MigrationChecker checker_;
  std::unique_ptr<platform::odbc::Connection> target_;  // kept for KeysOfRowsBreaking
  std::string targetConnection_;
  std::chrono::milliseconds timeout_{60000};
  std::chrono::milliseconds lockWait_;
};

}  // namespace console
