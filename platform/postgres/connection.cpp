#include "platform/postgres/connection.h"

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/text.h"
#include "target/postgres_target.h"

namespace platform::postgres {
namespace {

[[noreturn]] void BadUri(const std::string& why) {
  throw Error(dao::err::kUnsupported, "The PostgreSQL address is not usable: " + why + ".");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    const int hi = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
    const int lo = hi >= 0 ? HexDigit(s[i + 2]) : -1;
    if (lo < 0) BadUri("'%' is not followed by two hexadecimal digits");
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (out.find('\0') != std::string::npos) BadUri("it holds a NUL character");
  return out;
}

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

ServerAddress ParseServerUri(std::string_view uri) {
  std::string_view rest = uri;
  if (StartsWithNoCase(rest, "postgresql://"))
    rest.remove_prefix(13);
  else if (StartsWithNoCase(rest, "postgres://"))
    rest.remove_prefix(11);
  else
    BadUri("it does not begin with postgresql://");
  ServerAddress address;
  std::string_view query;
  if (const std::size_t q = rest.find('?'); q != std::string_view::npos) {
    query = rest.substr(q + 1);
    rest = rest.substr(0, q);
  }
  std::string_view path;
  if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    path = rest.substr(slash + 1);
    rest = rest.substr(0, slash);
  }
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = rest.substr(0, at);
    if (user.find(':') != std::string_view::npos)
      BadUri("it holds a password; give the password in PGPASSWORD or ~/.pgpass");
    address.user = Unescape(user);
    rest = rest.substr(at + 1);
  }
  // host[:port], an IPv6 address in brackets.
  std::string_view host = rest;
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) BadUri("an IPv6 address lacks its ']'");
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':') BadUri("text follows the IPv6 address");
    if (!after.empty()) port = after.substr(1);
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  for (char c : port)
    if (c < '0' || c > '9') BadUri("the port is not a number");
  address.host = Unescape(host);
  address.port = std::string(port);
  address.database = Unescape(path);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos)
      BadUri("the parameter '" + std::string(pair) + "' has no value");
    std::string name = Unescape(pair.substr(0, eq)), value = Unescape(pair.substr(eq + 1));
    if (EqualsNoCase(name, "password"))
      BadUri("it holds a password; give the password in PGPASSWORD or ~/.pgpass");
    if (EqualsNoCase(name, "host"))
      address.host = value;
    else if (EqualsNoCase(name, "port"))
      address.port = value;
    else if (EqualsNoCase(name, "dbname"))
      address.database = value;
    else if (EqualsNoCase(name, "user"))
      address.user = value;
    else
      address.options.emplace_back(std::move(name), std::move(value));
  }
  return address;
}

std::string Describe(const ServerAddress& a) {
  return target::DescribeServerDatabase(a.host, a.port, a.database, a.user);
}

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
