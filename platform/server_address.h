// A PostgreSQL server as the user names it: its parts, or a postgresql:// URI. Plain text, no
// libpq, so the wizard's pages and the console check an address with the rule the connection
// uses.
// Failures: platform::Error dao::err::kUnsupported for a URI that is not usable or holds a
// password, the message saying why.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Where the database is. An empty field is left to libpq, which then reads PGHOST, PGPORT,
// PGDATABASE and PGUSER, then its defaults.
struct ServerAddress {
  std::string host;  // a name, an address, or a folder holding the server's socket
  std::string port;
  std::string database;
  std::string user;
  // Further connection parameters of a URI's query ("sslmode" -> "require"), in their order.
  std::vector<std::pair<std::string, std::string>> options;
};

// "postgresql://[user@][host][:port][/database][?name=value&...]" (or "postgres://"), with
// percent-escapes; a host in brackets is an IPv6 address. A password ("user:secret@", or a
// parameter "password") is refused.
ServerAddress ParseServerUri(std::string_view uri);

// "database 'Sales' on server 'db1' port 5432 as user 'ann'", leaving out what is empty.
std::string Describe(const ServerAddress& address);

}  // namespace platform
