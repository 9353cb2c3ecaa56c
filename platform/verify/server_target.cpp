#include "platform/verify/server_target.h"

#include "options/settings.h"
#include "platform/dao/dao.h"
#include "platform/error.h"

namespace platform::verify {
namespace {

bool Present(const std::string& connect, const std::string& whenUnreachable) {
  const PostgresDatabase state = PostgresDatabaseOf(connect);
  if (state == PostgresDatabase::kUnreachable)
    throw Error(dao::err::kOdbcCallFailed, whenUnreachable);
  return state == PostgresDatabase::kPresent;
}

}  // namespace

engine::TargetDatabaseInspector& AnyTargetInspector::Of(const std::string& target) {
  if (target::IsServerTarget(target)) return server_;
  return files_;
}

bool AnyTargetInspector::Exists(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.Exists(target);
  return Present(target, "its server cannot be reached");
}

bool AnyTargetInspector::IsNorvaneDatabase(const std::string& target) {
  return Of(target).IsNorvaneDatabase(target);
}

long AnyTargetInspector::ProgramHolding(const std::string& target) {
  return Of(target).ProgramHolding(target);
}

std::vector<engine::TableState> AnyTargetInspector::Tables(const std::string& target) {
  return Of(target).Tables(target);
}

std::vector<std::string> AnyTargetInspector::TablesLinkedTo(const std::string& accessPosixPath,
                                                            const std::string& target) {
  return Of(target).TablesLinkedTo(accessPosixPath, target);
}

void AnyTargetInspector::Remove(const std::string& target) {
  Of(target).Remove(target);
}

bool ServerDatabasesThroughOdbc::Exists(const MigrationSettings& settings) {
  return Present(target::PostgresConnectString(settings),
                 "The server cannot be reached through the ODBC driver \"" +
                     settings.ServerOdbcDriver + "\" (or refuses the login).");
}

void ServerDatabasesThroughOdbc::Drop(const MigrationSettings& settings) {
  server_.Remove(target::PostgresConnectString(settings));
}

}  // namespace platform::verify
