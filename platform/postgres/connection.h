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

#include "platform/server_address.h"

namespace platform::postgres {

using platform::Describe;
using platform::ParseServerUri;
using platform::ServerAddress;

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
