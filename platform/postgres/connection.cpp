#include "platform/postgres/connection.h"

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::postgres {
namespace {

// The server's message, its detail and the place it names ("COPY t, line 3, column x").
std::string ResultMessage(const PGresult* result, const PGconn* conn) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string text = primary ? primary : Trim(PQerrorMessage(conn));
  for (int field : {PG_DIAG_MESSAGE_DETAIL, PG_DIAG_CONTEXT}) {
    const char* more = result ? PQresultErrorField(result, field) : nullptr;
    if (more && *more) text += " (" + Trim(more) + ")";
  }
  return text.empty() ? "no message" : text;
}

struct Result {
  PGresult* r;
  ~Result() { PQclear(r); }
};

}  // namespace

Connection::Connection(const ServerAddress& address) {
  std::vector<std::pair<std::string, std::string>> params = address.options;
  auto add = [&params](const char* key, const std::string& value) {
    if (!value.empty()) params.emplace_back(key, value);
  };
  add("host", address.host);
  add("port", address.port);
  add("dbname", address.database);
  add("user", address.user);
  params.emplace_back("client_encoding", "UTF8");
  params.emplace_back("application_name", "norvane-migrate");
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : params) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
  if (!conn_) throw Error(dao::err::kOdbcCallFailed, "Out of memory connecting to PostgreSQL.");
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string message = Trim(PQerrorMessage(conn_));
    PQfinish(conn_);
    conn_ = nullptr;
    throw Error(dao::err::kOdbcCallFailed,
                "Cannot connect to the PostgreSQL " + Describe(address) + ": " + message);
  }
  // The server's notices ("table does not exist, skipping") are no failures, and no output of ours.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  // Text, numbers and dates as the transfer writes them, whatever the server's defaults are.
  Execute(
      "SET datestyle TO ISO, YMD; SET extra_float_digits TO 3; SET standard_conforming_strings TO "
      "on");
}

Connection::~Connection() {
  if (conn_) PQfinish(conn_);
}

void Connection::Fail(const std::string& step) const {
  throw Error(dao::err::kOdbcCallFailed, step + ": " + ResultMessage(nullptr, conn_));
}

void Connection::Expect(PGresult* result, ExecStatusType wanted, const std::string& step) {
  Result owned{result};
  if (!result) Fail(step);
  if (PQresultStatus(result) != wanted)
    throw Error(dao::err::kOdbcCallFailed, step + ": " + ResultMessage(result, conn_));
}

void Connection::Execute(const std::string& sql) {
  PGresult* result = PQexec(conn_, sql.c_str());
  // Several statements: the status is the last one's; a failure stops at the failing one.
  if (result && PQresultStatus(result) == PGRES_TUPLES_OK) {
    PQclear(result);
    return;
  }
  Expect(result, PGRES_COMMAND_OK, "PostgreSQL refused \"" + sql.substr(0, 200) + "\"");
}

TextRows Connection::Query(const std::string& sql) {
  Result result{PQexec(conn_, sql.c_str())};
  if (!result.r || PQresultStatus(result.r) != PGRES_TUPLES_OK)
    throw Error(dao::err::kOdbcCallFailed, "PostgreSQL refused \"" + sql.substr(0, 200) +
                                               "\": " + ResultMessage(result.r, conn_));
  TextRows rows(static_cast<std::size_t>(PQntuples(result.r)));
  const int columns = PQnfields(result.r);
  for (int r = 0; r < static_cast<int>(rows.size()); ++r)
    for (int c = 0; c < columns; ++c)
      rows[r].push_back(PQgetisnull(result.r, r, c)
                            ? std::nullopt
                            : std::optional<std::string>(std::string(
                                  PQgetvalue(result.r, r, c),
                                  static_cast<std::size_t>(PQgetlength(result.r, r, c)))));
  return rows;
}

bool Connection::HasTable(const std::string& name) {
  const std::string quoted = QuoteName(name);
  const char* values[] = {quoted.c_str()};
  Result result{PQexecParams(conn_, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, values,
                             nullptr, nullptr, 0)};
  if (!result.r || PQresultStatus(result.r) != PGRES_TUPLES_OK)
    throw Error(dao::err::kOdbcCallFailed,
                "Looking for table '" + name + "': " + ResultMessage(result.r, conn_));
  return PQgetvalue(result.r, 0, 0)[0] == 't';
}

}  // namespace platform::postgres
