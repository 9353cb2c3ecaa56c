#include "platform/postgres/server_target.h"

#include "options/settings.h"
#include "platform/access/catalog.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/fnv1a.h"
#include "platform/odbc/odbc.h"
#include "platform/postgres/table_copy.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::postgres {
namespace {

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// A connection to the server's own database, for what is asked about other databases.
std::unique_ptr<Connection> ConnectToServer(const ServerAddress& address) {
  ServerAddress server = address;
  server.database = "postgres";
  try {
    return std::make_unique<Connection>(server);
  } catch (const Error&) {
    server.database = "template1";
    return std::make_unique<Connection>(server);
  }
}

bool SameServer(const ServerAddress& a, const ServerAddress& b) {
  const auto port = [](const std::string& p) { return p.empty() ? std::string("5432") : p; };
  return EqualsNoCase(a.host, b.host) && port(a.port) == port(b.port) && a.database == b.database;
}

}  // namespace

ServerAddress AddressOfOdbcConnection(const std::string& connection) {
  const auto value = [&connection](std::string_view key) {
    return odbc::ConnectionValue(connection, key);
  };
  if (!value("Pwd").empty() || !value("Password").empty())
    throw Error(dao::err::kUnsupported,
                "The connect string holds a password; give it in PGPASSWORD or ~/.pgpass.");
  ServerAddress address;
  address.host = value("Server").empty() ? value("Servername") : value("Server");
  address.port = value("Port");
  address.database = value("Database");
  address.user = value("Uid").empty() ? value("UserName") : value("Uid");
  return address;
}

ServerAddress AddressOf(const MigrationSettings& s) {
  return {s.ServerHost, s.ServerPort, s.ServerDatabase, s.ServerUser, {}};
}

void TransferToServer(const std::string& connection, const std::string& mdbPath, int jetVersion,
                      const std::string& source, const std::string& table,
                      std::chrono::milliseconds timeout) {
  Connection target(AddressOfOdbcConnection(connection));
  CopyAccessTable(mdbPath, jetVersion, source, target, table, timeout);
}

std::vector<std::string> TablesLinkedToServer(const std::string& accessPosixPath,
                                              const std::string& connection,
                                              std::chrono::milliseconds timeout) {
  const ServerAddress wanted = AddressOfOdbcConnection(connection);
  std::vector<std::string> names;
  for (const access::TableInfo& table : access::ReadCatalog(accessPosixPath, timeout).tables) {
    if (table.objectType != dao::ObjectType::kOdbcLink || !odbc::NamesPostgresDriver(table.connect))
      continue;
    ServerAddress linked;
    try {
      linked = AddressOfOdbcConnection(table.connect);
    } catch (const Error&) {
      continue;  // a link holding a password is not one this program made
    }
    if (SameServer(linked, wanted)) names.push_back(table.name);
  }
  return names;
}

bool DatabaseExists(const ServerAddress& address, const std::string& database) {
  return !ConnectToServer(address)
              ->Query("SELECT 1 FROM pg_database WHERE datname = " + Literal(database))
              .empty();
}

void DropDatabase(const ServerAddress& address, const std::string& database) {
  ConnectToServer(address)->Execute("DROP DATABASE " + QuoteName(database));
}

bool ServerDatabasesOnLibpq::Exists(const MigrationSettings& settings) {
  return DatabaseExists(AddressOf(settings), settings.ServerDatabase);
}

void ServerDatabasesOnLibpq::Drop(const MigrationSettings& settings) {
  DropDatabase(AddressOf(settings), settings.ServerDatabase);
}

bool ServerTargetInspector::Exists(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.Exists(target);
  const ServerAddress address = ParseServerUri(target);
  return DatabaseExists(address, address.database);
}

bool ServerTargetInspector::IsNorvaneDatabase(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.IsNorvaneDatabase(target);
  return Exists(target);
}

long ServerTargetInspector::ProgramHolding(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.ProgramHolding(target);
  const ServerAddress address = ParseServerUri(target);
  const TextRows rows = ConnectToServer(address)->Query(
      "SELECT pid FROM pg_stat_activity WHERE datname = " + Literal(address.database) +
      " AND pid <> pg_backend_pid() LIMIT 1");
  return rows.empty() || !rows[0][0] ? 0 : std::stol(*rows[0][0]);
}

std::vector<engine::TableState> ServerTargetInspector::Tables(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.Tables(target);
  Connection db(ParseServerUri(target));
  std::vector<engine::TableState> tables;
  for (const auto& row :
       db.Query("SELECT table_name FROM information_schema.tables WHERE table_schema = "
                "current_schema() AND table_type = 'BASE TABLE' ORDER BY table_name")) {
    const std::string name = row[0].value_or("");
    const TextRows state = db.Query(
        "SELECT count(*), coalesce(md5(string_agg(t::text, E'\\n' ORDER BY t::text)), "
        "'') FROM " +
        QuoteName(name) + " t");
    Fnv1a digest;
    const std::string md5 = state[0][1].value_or("");
    digest.Add(md5.data(), md5.size());
    tables.push_back({name, std::stoull(state[0][0].value_or("0")), digest.Value()});
  }
  return tables;
}

std::vector<std::string> ServerTargetInspector::TablesLinkedTo(const std::string& accessPosixPath,
                                                               const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.TablesLinkedTo(accessPosixPath, target);
  const ServerAddress a = ParseServerUri(target);
  MigrationSettings s;
  s.ServerHost = a.host;
  s.ServerPort = a.port;
  s.ServerDatabase = a.database;
  s.ServerUser = a.user;
  return TablesLinkedToServer(accessPosixPath, target::PostgresConnectString(s),
                              std::chrono::seconds(60));
}

void ServerTargetInspector::Remove(const std::string& target) {
  if (!target::IsServerTarget(target)) return files_.Remove(target);
  const ServerAddress address = ParseServerUri(target);
  DropDatabase(address, address.database);
}

}  // namespace platform::postgres
