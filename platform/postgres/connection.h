// A PostgreSQL server as the user names it, and one connection to it through libpq.
//
// Owns: the libpq connection (closed with the object, always in UTF-8) and the statements run
// on it. A password is never a parameter here: libpq takes it from PGPASSWORD or the password
// file (~/.pgpass, or PGPASSFILE), so it is on no command line and in no work file, report or
// link; an address that holds one is refused.
// Failures: platform::Error. dao::err::kUnsupported for an address that is no postgresql:// URI
// or holds a password; dao::err::kOdbcCallFailed when the server cannot be reached or refuses
// the login or a statement, with the server's message (its detail and context lines too).
#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::postgres {

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

// A query's rows, each value as the server's text; nothing for NULL.
using TextRows = std::vector<std::vector<std::optional<std::string>>>;

class Connection {
 public:
  explicit Connection(const ServerAddress& address);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  PGconn* get() const { return conn_; }
  // Runs `sql` (one or more statements without results).
  void Execute(const std::string& sql);
  TextRows Query(const std::string& sql);
  // Whether a table (or view) of that exact name is on the search path.
  bool HasTable(const std::string& name);
  // e.g. 150018 for 15.18.
  int ServerVersion() const { return PQserverVersion(conn_); }

  // Throws for `result` (freed here) unless its status is `wanted`, naming `step`.
  void Expect(PGresult* result, ExecStatusType wanted, const std::string& step);
  // The connection's last message as an Error, naming `step`.
  [[noreturn]] void Fail(const std::string& step) const;

 private:
  PGconn* conn_ = nullptr;
};

}  // namespace platform::postgres
