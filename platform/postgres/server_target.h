// The PostgreSQL target as the flow reaches it: the transfer of one Access table (the Access
// engine's serverTransfer), the database "Create DB" makes or replaces, the Access file's links
// into it, and the database as the undo record and restore see it.
//
// Owns: one libpq connection per call, to the database of the settings or, to ask about and
// drop databases, to the server's "postgres" database (template1 when that is missing).
// Failures: platform::Error with the server's message (connection.h).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "engine/restore.h"
#include "platform/postgres/connection.h"
#include "target/postgres_target.h"

namespace platform::postgres {

// The server an ODBC connection string for psqlODBC names: Server= (or Servername=), Port=,
// Database=, Uid= (or UserName=). Throws dao::err::kUnsupported when it holds a password (Pwd=,
// Password=).
ServerAddress AddressOfOdbcConnection(const std::string& connection);
ServerAddress AddressOf(const MigrationSettings& settings);

// platform::access::EngineOptions::serverTransfer: the table through COPY binary.
void TransferToServer(const std::string& connection, const std::string& mdbPath, int jetVersion,
                      const std::string& source, const std::string& table,
                      std::chrono::milliseconds timeout);

// The tables of the Access file whose ODBC links name the same server, port and database as
// `connection` (an empty port counts as 5432).
std::vector<std::string> TablesLinkedToServer(const std::string& accessPosixPath,
                                              const std::string& connection,
                                              std::chrono::milliseconds timeout);

// Whether `database` exists on the server of `address`; drops it.
bool DatabaseExists(const ServerAddress& address, const std::string& database);
void DropDatabase(const ServerAddress& address, const std::string& database);

class ServerDatabasesOnLibpq : public target::ServerDatabases {
 public:
  bool Exists(const MigrationSettings& settings) override;
  void Drop(const MigrationSettings& settings) override;
};

// Restore's view of a database on a server (a recorded target::ServerTargetUri); any other
// target (a database file) goes to `files`.
class ServerTargetInspector : public engine::TargetDatabaseInspector {
 public:
  explicit ServerTargetInspector(engine::TargetDatabaseInspector& files) : files_(files) {}
  bool Exists(const std::string& target) override;
  bool IsNorvaneDatabase(const std::string& target) override;
  long ProgramHolding(const std::string& target) override;
  std::vector<engine::TableState> Tables(const std::string& target) override;
  std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                          const std::string& target) override;
  void Remove(const std::string& target) override;

 private:
  engine::TargetDatabaseInspector& files_;
};

}  // namespace platform::postgres
