// The new database as restore and the undo record see it when it is a PostgreSQL database
// reached through psqlODBC: its tables' rows and digests, the sessions that use it, the Access
// file's links into it, and its removal.
//
// The database is named by its psqlODBC connect string (target::PostgresConnectString, without
// "ODBC;"), which stands where a Norvane target has its file's path: each call takes it.
// Owns: ODBC connections of its own, each closed before the call returns.
// Failures: Tables and Remove throw platform::Error dao::err::kOdbcCallFailed with the driver's
// diagnostics (the server unreachable, the database in use by another session).
#pragma once

#include <string>

#include "engine/restore.h"
#include "platform/odbc/odbc.h"

namespace platform::verify {

class PostgresTargetInspector : public engine::TargetDatabaseInspector {
 public:
  explicit PostgresTargetInspector(odbc::Limits limits = {}) : limits_(limits) {}
  // True when the connect string reaches a database and its server is PostgreSQL (the kind of
  // database this target makes).
  bool IsNorvaneDatabase(const std::string& connect) override;
  // The process id of another session connected to the database, or 0.
  long ProgramHolding(const std::string& connect) override;
  // Every table on the search path, by name, with its rows and an order-free digest of its
  // values as the driver gives them as text.
  std::vector<engine::TableState> Tables(const std::string& connect) override;
  // The ODBC links of the Access file whose connect string names the same server, port and
  // database.
  std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                          const std::string& connect) override;
  // DROP DATABASE from the server's "postgres" database; the server refuses it while another
  // session uses the database.
  void Remove(const std::string& connect) override;

 private:
  odbc::Limits limits_;
};

// Whether the database a connect string names is on its server, asked from the server's
// "postgres" database (restore's "is it still there", which a file target answers by a look at
// the disk); kUnreachable when the server cannot be asked.
enum class PostgresDatabase { kPresent, kMissing, kUnreachable };
PostgresDatabase PostgresDatabaseOf(const std::string& connect, odbc::Limits limits = {});

// True when the connect strings `a` and `b` name the same database of the same server: Server
// (letter case aside; both left out is the same), Port (5432 when left out) and Database.
bool SamePostgresDatabase(const std::string& a, const std::string& b);

// `connect` with its Database replaced by `database`.
std::string WithDatabase(const std::string& connect, const std::string& database);

}  // namespace platform::verify
