#include "platform/postgres/server_target.h"

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/postgres/table_copy.h"

namespace platform::postgres {

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

void TransferToServer(const std::string& connection, const std::string& mdbPath, int jetVersion,
                      const std::string& source, const std::string& table,
                      std::chrono::milliseconds timeout) {
  Connection target(AddressOfOdbcConnection(connection));
  CopyAccessTable(mdbPath, jetVersion, source, target, table, timeout);
}

}  // namespace platform::postgres
