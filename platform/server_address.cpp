#include "platform/server_address.h"

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform {
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
  std::string text =
      "database '" + (a.database.empty() ? std::string("(default)") : a.database) + "'";
  if (!a.host.empty()) text += " on server '" + a.host + "'";
  if (!a.port.empty()) text += " port " + a.port;
  if (!a.user.empty()) text += " as user '" + a.user + "'";
  return text;
}

}  // namespace platform
