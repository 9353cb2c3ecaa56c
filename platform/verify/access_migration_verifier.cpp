#include "platform/verify/access_migration_verifier.h"

#include "engine/names.h"
#include "platform/paths.h"
#include "platform/verify/rows_breaking.h"

namespace console {

void AccessMigrationVerifier::BeforeRun(const MigrationSettings& settings) {
  checker_.BeforeRun(platform::paths::ToPosix(settings.AccessDbPath).string(), timeout_);
}

platform::verify::CheckRequest AccessMigrationVerifier::Request(
    const MigrationSettings& settings, const std::string& targetConnection) const {
  return {platform::paths::ToPosix(settings.AccessDbPath).string(),
          targetConnection,
          settings.LinkTablesFlag == 1,
          settings.TablePrefix,
          [](const std::string& name) { return engine::TargetNameOf(name); },
          timeout_,
          lockWait_};
}

void AccessMigrationVerifier::ReadAccessAhead(const MigrationSettings& settings,
                                              const std::string& targetConnection) {
  checker_.ReadAccessAhead(Request(settings, targetConnection));
}

std::vector<reporting::TableReport> AccessMigrationVerifier::Verify(
    const MigrationSettings& settings, const std::string& targetConnection) {
  return checker_.Check(Request(settings, targetConnection));
}

std::string AccessMigrationVerifier::CompareValues(const MigrationSettings& settings,
                                                   const std::string& targetConnection,
                                                   const std::string& accessName) {
  return checker_.CompareValues(Request(settings, targetConnection), accessName);
}

std::string AccessMigrationVerifier::KeysOfRowsBreaking(const std::string& targetConnection,
                                                        const std::string& table,
                                                        const std::string& condition) {
  if (!target_ || targetConnection != targetConnection_) {
    target_ = std::make_unique<platform::odbc::Connection>(
        targetConnection, platform::odbc::Limits{.statement = lockWait_});
    targetConnection_ = targetConnection;
  }
  return platform::verify::KeysOfRowsBreaking(*target_, table, condition);
}

}  // namespace console
