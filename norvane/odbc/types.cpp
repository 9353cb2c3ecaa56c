#include "norvane/odbc/types.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace norvane::odbc {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "name(a,b)" -> name, {a, b}.
std::string_view SplitDeclared(std::string_view declared, std::vector<int>& params) {
  declared = TrimBlanks(declared);
  const std::size_t open = declared.find('(');
  if (open == std::string_view::npos) return declared;
  std::string_view rest = declared.substr(open + 1);
  while (!rest.empty()) {
    rest = TrimBlanks(rest);
    int n = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (ec != std::errc()) break;
    params.push_back(n);
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != ',') break;
    rest.remove_prefix(1);
  }
  return TrimBlanks(declared.substr(0, open));
}

ColumnInfo Info(std::string name, SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits, SQLLEN octets,
                SQLSMALLINT radix) {
  ColumnInfo c;
  c.typeName = std::move(name);
  c.sqlType = type;
  c.size = size;
  c.digits = digits;
  c.octetLength = octets;
  c.radix = radix;
  return c;
}

constexpr SQLULEN kLongText = 1073741823;
constexpr SQLULEN kLongBinary = 2147483647;

}  // namespace

ColumnInfo ColumnOfDeclared(std::string_view declared) {
  std::vector<int> p;
  const std::string name = Lower(SplitDeclared(declared, p));
  const auto param = [&](std::size_t i, int fallback) { return i < p.size() ? p[i] : fallback; };
  if (name == "bit" || name == "boolean" || name == "bool" || name == "yesno")
    return Info(name, SQL_BIT, 1, 0, 1, 0);
  if (name == "tinyint" || name == "byte") return Info(name, SQL_TINYINT, 3, 0, 1, 10);
  if (name == "smallint") return Info(name, SQL_SMALLINT, 5, 0, 2, 10);
  if (name == "integer" || name == "int" || name == "mediumint" || name == "long")
    return Info(name, SQL_INTEGER, 10, 0, 4, 10);
  if (name == "bigint") return Info(name, SQL_BIGINT, 19, 0, 8, 10);
  if (name == "real" || name == "float" || name == "single" || name == "float4")
    return Info(name, SQL_REAL, 24, 0, 4, 2);
  if (name == "double" || name == "double precision" || name == "float8")
    return Info(name, SQL_DOUBLE, 53, 0, 8, 2);
  if (name == "numeric_blob" || name == "decimal" || name == "numeric" || name == "currency" ||
      name == "money") {
    const bool currency = name == "currency" || name == "money";
    const int precision = std::clamp(param(0, currency ? 19 : 18), 1, 38);
    const int scale = std::clamp(param(1, currency ? 4 : 0), 0, precision);
    return Info(name, SQL_DECIMAL, static_cast<SQLULEN>(precision), static_cast<SQLSMALLINT>(scale),
                precision + 2, 10);
  }
  if (name == "timestamp" || name == "datetime")
    return Info(name, SQL_TYPE_TIMESTAMP, 23, 3, 16, 0);
  if (name == "date") return Info(name, SQL_TYPE_DATE, 10, 0, 6, 0);
  if (name == "time") return Info(name, SQL_TYPE_TIME, 8, 0, 6, 0);
  if (name == "guid" || name == "uniqueidentifier") return Info(name, SQL_GUID, 36, 0, 16, 0);
  if (name == "varchar" || name == "nvarchar" || name == "character varying" ||
      name == "varchar2") {
    const int n = std::max(1, param(0, 255));
    return Info(name, SQL_WVARCHAR, static_cast<SQLULEN>(n), 0, 2 * n, 0);
  }
  if (name == "char" || name == "nchar" || name == "character") {
    const int n = std::max(1, param(0, 1));
    return Info(name, SQL_WCHAR, static_cast<SQLULEN>(n), 0, 2 * n, 0);
  }
  if (name == "text" || name == "memo" || name == "clob" || name == "longvarchar" ||
      name == "longtext" || name == "ntext")
    return Info(name, SQL_WLONGVARCHAR, kLongText, 0, static_cast<SQLLEN>(kLongBinary), 0);
  if (name == "varbinary") {
    const int n = std::max(1, param(0, 255));
    return Info(name, SQL_VARBINARY, static_cast<SQLULEN>(n), 0, n, 0);
  }
  if (name == "binary") {
    const int n = std::max(1, param(0, 1));
    return Info(name, SQL_BINARY, static_cast<SQLULEN>(n), 0, n, 0);
  }
  if (name == "blob" || name == "longvarbinary" || name == "image" || name == "ole")
    return Info(name, SQL_LONGVARBINARY, kLongBinary, 0, static_cast<SQLLEN>(kLongBinary), 0);
  // Anything else by SQLite's affinity rules; no type at all (an expression) as text.
  if (name.empty()) return Info("varchar", SQL_WVARCHAR, 255, 0, 510, 0);
  if (name.find("int") != std::string::npos) return Info(name, SQL_BIGINT, 19, 0, 8, 10);
  if (name.find("char") != std::string::npos || name.find("clob") != std::string::npos ||
      name.find("text") != std::string::npos)
    return Info(name, SQL_WLONGVARCHAR, kLongText, 0, static_cast<SQLLEN>(kLongBinary), 0);
  if (name.find("blob") != std::string::npos)
    return Info(name, SQL_LONGVARBINARY, kLongBinary, 0, static_cast<SQLLEN>(kLongBinary), 0);
  return Info(name, SQL_DOUBLE, 53, 0, 8, 2);
}

const std::vector<TypeRow>& TypeRows() {
  static const std::vector<TypeRow> rows = {
      // name, type, size, prefix, suffix, params, case, searchable, unsigned, fixed, auto,
      // min scale, max scale, radix
      {"bit", SQL_BIT, 1, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, true, false, false, 0,
       0, 0},
      {"tinyint", SQL_TINYINT, 3, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, true, false,
       false, 0, 0, 10},
      {"bigint", SQL_BIGINT, 19, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, false, false,
       false, 0, 0, 10},
      {"longvarbinary", SQL_LONGVARBINARY, static_cast<SQLINTEGER>(kLongBinary), "X'", "'", nullptr,
       false, SQL_PRED_NONE, false, false, false, 0, 0, 0},
      {"varbinary", SQL_VARBINARY, 65535, "X'", "'", "length", false, SQL_PRED_BASIC, false, false,
       false, 0, 0, 0},
      {"text", SQL_WLONGVARCHAR, static_cast<SQLINTEGER>(kLongText), "'", "'", nullptr, true,
       SQL_SEARCHABLE, false, false, false, 0, 0, 0},
      {"varchar", SQL_WVARCHAR, 65535, "'", "'", "length", true, SQL_SEARCHABLE, false, false,
       false, 0, 0, 0},
      {"guid", SQL_GUID, 36, "'", "'", nullptr, false, SQL_PRED_BASIC, false, false, false, 0, 0,
       0},
      {"numeric_blob", SQL_DECIMAL, 38, nullptr, nullptr, "precision,scale", false, SQL_PRED_BASIC,
       false, false, false, 0, 38, 10},
      {"integer", SQL_INTEGER, 10, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, false, false,
       false, 0, 0, 10},
      {"smallint", SQL_SMALLINT, 5, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, false, false,
       false, 0, 0, 10},
      {"real", SQL_REAL, 24, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, false, false, false,
       0, 0, 2},
      {"double", SQL_DOUBLE, 53, nullptr, nullptr, nullptr, false, SQL_PRED_BASIC, false, false,
       false, 0, 0, 2},
      {"date", SQL_TYPE_DATE, 10, "'", "'", nullptr, false, SQL_PRED_BASIC, false, false, false, 0,
       0, 0},
      {"time", SQL_TYPE_TIME, 8, "'", "'", nullptr, false, SQL_PRED_BASIC, false, false, false, 0,
       0, 0},
      {"timestamp", SQL_TYPE_TIMESTAMP, 23, "'", "'", nullptr, false, SQL_PRED_BASIC, false, false,
       false, 3, 3, 0},
  };
  return rows;
}

// ----- numbers as text

namespace {

struct Decimal {
  bool negative = false;
  std::string digits;  // no leading zeros except none at all
  int exponent = 0;    // value = digits * 10^exponent
};

bool ParseDecimal(std::string_view s, Decimal& d) {
  s = TrimBlanks(s);
  if (s.empty()) return false;
  if (s.front() == '+' || s.front() == '-') {
    d.negative = s.front() == '-';
    s.remove_prefix(1);
  }
  bool any = false, point = false;
  while (!s.empty()) {
    const char c = s.front();
    if (c >= '0' && c <= '9') {
      any = true;
      if (!(d.digits.empty() && c == '0')) d.digits += c;
      if (point) --d.exponent;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    s.remove_prefix(1);
  }
  if (!any) return false;
  if (!s.empty()) {
    if (s.front() != 'e' && s.front() != 'E') return false;
    s.remove_prefix(1);
    int e = 0;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), e);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    d.exponent += e;
  }
  if (d.digits.empty()) d.negative = false;
  return true;
}

// The digits of `d` with exactly `scale` fraction digits, as an unsigned digit string
// (leading zeros removed, at least "0"), rounded half away from zero.
std::string ScaledDigits(const Decimal& d, int scale) {
  std::string digits = d.digits;
  int shift = d.exponent + scale;  // digits * 10^shift is the scaled integer
  if (shift >= 0) {
    if (!digits.empty()) digits.append(static_cast<std::size_t>(shift), '0');
  } else {
    const std::size_t drop = static_cast<std::size_t>(-shift);
    if (drop > digits.size()) return "0";
    const bool up = digits[digits.size() - drop] >= '5';
    digits.resize(digits.size() - drop);
    if (up) {
      int i = static_cast<int>(digits.size()) - 1;
      for (; i >= 0; --i) {
        if (digits[static_cast<std::size_t>(i)] == '9') {
          digits[static_cast<std::size_t>(i)] = '0';
        } else {
          ++digits[static_cast<std::size_t>(i)];
          break;
        }
      }
      if (i < 0) digits.insert(digits.begin(), '1');
    }
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  digits.erase(0, first);
  return digits;
}

DriverError Error(const char* state, std::string message) {
  return {state, std::move(message)};
}

// 22018: a value that should have been a number (or a GUID) is not one.
DriverError NotA(const char* what, std::string_view text) {
  return Error("22018", "Invalid character value: '" + std::string(text) + "' is not " + what);
}

}  // namespace

std::string DecimalAtScale(std::string_view text, int scale) {
  Decimal d;
  if (!ParseDecimal(text, d)) throw NotA("a number", text);
  const std::string digits = ScaledDigits(d, scale);  // no leading zeros, at least "0"
  const auto fraction = static_cast<std::size_t>(scale);
  std::string out;
  out.reserve(digits.size() + fraction + 3);
  if (d.negative && digits != "0") out += '-';
  if (digits.size() <= fraction) {
    // Below one: "0." and the fraction's leading zeros.
    out += "0.";
    out.append(fraction - digits.size(), '0');
    out += digits;
  } else {
    const std::size_t whole = digits.size() - fraction;
    out.append(digits, 0, whole);
    if (fraction > 0) {
      out += '.';
      out.append(digits, whole, std::string::npos);
    }
  }
  return out;
}

std::string DoubleText(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

namespace {

// A double at `scale` as DecimalAtScale gives it, from its plain decimal digits (no exponent)
// that bring it back.
std::string FixedAtScale(double value, int scale) {
  char buffer[400];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return DecimalAtScale(DoubleText(value), scale);
  return DecimalAtScale(std::string_view(buffer, static_cast<std::size_t>(end - buffer)), scale);
}

}  // namespace

bool HeldByDouble(std::string_view decimal, double& value) {
  // ParseDecimal's form, read in place: every decimal value of a transfer comes here.
  std::string_view s = TrimBlanks(decimal);
  std::size_t i = s.empty() || (s.front() != '+' && s.front() != '-') ? 0 : 1;
  bool any = false, point = false;
  std::size_t digits = 0, first = 0, last = 0, nonZero = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (c != '0') {
        if (nonZero++ == 0) first = digits;
        last = digits;
      }
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  if (i < s.size()) {
    if (s[i] != 'e' && s[i] != 'E') return false;
    std::size_t e = i + 1;
    if (e < s.size() && s[e] == '+') ++e;
    int exponent = 0;
    const auto [end, ec] = std::from_chars(s.data() + e, s.data() + s.size(), exponent);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
  }
  if (nonZero == 0) {
    value = 0;
    return true;
  }
  if (last - first + 1 > 15) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size();
}

// ----- text of a stored value, as the column's type shows it

namespace {

std::string Hex(const char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string_view TextView(const Value& v) {
  return {v.bytes ? v.bytes : "", v.size};
}

std::string TextOf(const Value& v, const ColumnInfo& column) {
  switch (column.sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC: {
      if (v.type == SQLITE_INTEGER) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, v.integer).ptr;
        return DecimalAtScale(std::string_view(digits, static_cast<std::size_t>(end - digits)),
                              column.digits);
      }
      if (v.type == SQLITE_FLOAT && std::isfinite(v.real))
        return FixedAtScale(v.real, column.digits);
      if (v.type == SQLITE_TEXT) {
        Decimal d;
        if (ParseDecimal(TextView(v), d)) return DecimalAtScale(TextView(v), column.digits);
      }
      break;
    }
    case SQL_BIT:
      if (v.type == SQLITE_INTEGER) return v.integer != 0 ? "1" : "0";
      if (v.type == SQLITE_FLOAT) return v.real != 0 ? "1" : "0";
      break;
    case SQL_GUID:
      if (v.type == SQLITE_TEXT && v.size == 38 && v.bytes[0] == '{' && v.bytes[37] == '}')
        return std::string(v.bytes + 1, 36);
      break;
    default:
      break;
  }
  switch (v.type) {
    case SQLITE_INTEGER:
      return std::to_string(v.integer);
    case SQLITE_FLOAT:
      return DoubleText(v.real);
    case SQLITE_BLOB:
      return Hex(v.bytes, v.size);
    default:
      return std::string(TextView(v));
  }
}

// The value's text (or bytes, `binary`) is the stored text or blob itself, or a part of it.
bool StoredAsIs(const Value& v, const ColumnInfo& column, bool binary, std::string_view& out) {
  if (v.type != SQLITE_TEXT && v.type != SQLITE_BLOB) return false;
  switch (column.sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_BIT:
      if (binary) break;
      return false;
    case SQL_GUID:
      if (binary) return false;
      if (v.type == SQLITE_TEXT && v.size == 38 && v.bytes[0] == '{' && v.bytes[37] == '}') {
        out = std::string_view(v.bytes + 1, 36);
        return true;
      }
      break;
    default:
      break;
  }
  if (!binary && v.type == SQLITE_BLOB) return false;  // text of a blob: its hex digits
  out = TextView(v);
  return true;
}

// The value as a number: a double (`real`) and, when it is an integer, `integer` too.
struct Number {
  bool isInteger = false;
  std::int64_t integer = 0;
  double real = 0;
};

Number NumberOf(const Value& v) {
  Number n;
  if (v.type == SQLITE_INTEGER) {
    n.isInteger = true;
    n.integer = v.integer;
    n.real = static_cast<double>(v.integer);
    return n;
  }
  if (v.type == SQLITE_FLOAT) {
    n.real = v.real;
    return n;
  }
  std::string_view s = TrimBlanks(TextView(v));
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  {
    std::int64_t i = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), i);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) {
      n.isInteger = true;
      n.integer = i;
      n.real = static_cast<double>(i);
      return n;
    }
  }
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n.real);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) throw NotA("a number", s);
  return n;
}

template <typename T>
void PutInteger(Handle& handle, const Value& v, SQLPOINTER target) {
  const Number n = NumberOf(v);
  std::int64_t i = n.integer;
  if (!n.isInteger) {
    if (!std::isfinite(n.real) || n.real < -9.3e18 || n.real > 9.3e18)
      throw Error("22003", "Numeric value out of range");
    i = static_cast<std::int64_t>(std::trunc(n.real));
    if (static_cast<double>(i) != n.real) handle.Warn("01S07", "Fractional truncation");
  }
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    if (i < 0) throw Error("22003", "Numeric value out of range");
  } else if constexpr (!std::is_same_v<T, std::int64_t>) {
    if (i < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        i > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
      throw Error("22003", "Numeric value out of range");
  }
  const T out = static_cast<T>(i);
  std::memcpy(target, &out, sizeof out);
}

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::uint32_t fraction = 0;  // nanoseconds
  bool hasDate = false, hasTime = false;
};

bool Digits(std::string_view& s, std::size_t n, int& out) {
  if (s.size() < n) return false;
  out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  s.remove_prefix(n);
  return true;
}

bool Consume(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

bool ParseTime(std::string_view& s, DateTime& t) {
  if (!Digits(s, 2, t.hour) || !Consume(s, ':') || !Digits(s, 2, t.minute)) return false;
  if (Consume(s, ':') && !Digits(s, 2, t.second)) return false;
  if (Consume(s, '.')) {
    std::uint32_t f = 0;
    int n = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
      if (n < 9) {
        f = f * 10 + static_cast<std::uint32_t>(s.front() - '0');
        ++n;
      }
      s.remove_prefix(1);
    }
    for (; n < 9; ++n) f *= 10;
    t.fraction = f;
  }
  t.hasTime = true;
  return t.hour < 24 && t.minute < 60 && t.second < 62;
}

DateTime ParseDateTime(std::string_view s) {
  s = TrimBlanks(s);
  DateTime t;
  std::string_view rest = s;
  bool ok = false;
  if (rest.size() >= 10 && rest[4] == '-') {
    ok = Digits(rest, 4, t.year) && Consume(rest, '-') && Digits(rest, 2, t.month) &&
         Consume(rest, '-') && Digits(rest, 2, t.day);
    t.hasDate = ok;
    if (ok && (Consume(rest, ' ') || Consume(rest, 'T'))) ok = ParseTime(rest, t);
  } else {
    ok = ParseTime(rest, t);
  }
  if (!ok || !rest.empty())
    throw Error("22007", "Invalid datetime format: '" + std::string(s) + "'");
  return t;
}

void Today(DateTime& t) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces, into its 16 bytes in text
// order.
bool ParseGuid(std::string_view s, unsigned char out[16]) {
  s = TrimBlanks(s);
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  int n = 0;
  for (std::size_t i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return false;
      continue;
    }
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[n++] = static_cast<unsigned char>(hi * 16 + lo);
    ++i;
  }
  return n == 16;
}

std::string GuidText(const unsigned char b[16]) {
  std::string hex = Hex(reinterpret_cast<const char*>(b), 16);
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20) + "}";
}

// Text and binary out, in pieces.
SQLRETURN PutPieces(Handle& handle, std::string_view bytes, std::size_t terminator,
                    SQLPOINTER target, SQLLEN capacity, SQLLEN* indicator, std::size_t& offset) {
  if (offset == std::string::npos) return SQL_NO_DATA;
  const std::size_t left = bytes.size() - std::min(offset, bytes.size());
  if (indicator) *indicator = static_cast<SQLLEN>(left);
  if (target == nullptr || capacity < 0) {
    if (capacity < 0) throw Error("HY090", "Invalid string or buffer length");
    return SQL_SUCCESS;
  }
  const std::size_t room = static_cast<std::size_t>(capacity) > terminator
                               ? static_cast<std::size_t>(capacity) - terminator
                               : 0;
  std::size_t n = std::min(left, room);
  if (terminator == 2) n &= ~std::size_t{1};
  if (terminator == 2 && n < left && n >= 2) {
    // Never end a piece inside a surrogate pair.
    const auto* units = reinterpret_cast<const unsigned char*>(bytes.data() + offset + n - 2);
    const unsigned unit = units[0] | (units[1] << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF) n -= 2;
  }
  auto* out = static_cast<char*>(target);
  if (n > 0) std::memcpy(out, bytes.data() + offset, n);
  if (static_cast<std::size_t>(capacity) >= terminator) std::memset(out + n, 0, terminator);
  if (n < left) {
    offset += n;
    handle.Warn("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
  }
  offset = std::string::npos;
  return SQL_SUCCESS;
}

SQLSMALLINT DefaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return SQL_C_BIT;
    case SQL_TINYINT:
      return SQL_C_UTINYINT;
    case SQL_SMALLINT:
      return SQL_C_SSHORT;
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return SQL_C_TYPE_TIME;
    case SQL_GUID:
      return SQL_C_GUID;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_C_BINARY;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_C_WCHAR;
    default:
      return SQL_C_CHAR;
  }
}

}  // namespace

SQLRETURN ConvertOut(Handle& handle, const Value& v, const ColumnInfo& column, SQLSMALLINT cType,
                     SQLPOINTER target, SQLLEN capacity, SQLLEN* indicator, std::size_t& offset,
                     std::string& scratch, const DescRecord* numeric) {
  if (cType == SQL_C_DEFAULT) cType = DefaultCType(column.sqlType);
  if (v.type == SQLITE_NULL) {
    if (offset == std::string::npos) return SQL_NO_DATA;
    if (indicator == nullptr) throw Error("22002", "Indicator variable required but not supplied");
    *indicator = SQL_NULL_DATA;
    offset = std::string::npos;
    return SQL_SUCCESS;
  }
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY: {
      if (offset == 0) {
        // The stored text or bytes as they are, when they fit: no copy on the way.
        std::string_view stored;
        const std::size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
        if (cType != SQL_C_WCHAR && StoredAsIs(v, column, cType == SQL_C_BINARY, stored) &&
            target != nullptr && capacity >= 0 &&
            stored.size() + terminator <= static_cast<std::size_t>(capacity))
          return PutPieces(handle, stored, terminator, target, capacity, indicator, offset);
        if (cType == SQL_C_BINARY) {
          scratch = v.type == SQLITE_BLOB || v.type == SQLITE_TEXT ? std::string(TextView(v))
                                                                   : TextOf(v, column);
          if (column.sqlType == SQL_GUID) {
            unsigned char g[16];
            if (ParseGuid(scratch, g)) scratch.assign(reinterpret_cast<char*>(g), 16);
          }
        } else {
          scratch = TextOf(v, column);
          if (cType == SQL_C_WCHAR) {
            const std::u16string wide = Utf16Of(scratch);
            scratch.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
          }
        }
      }
      const std::size_t terminator = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
      return PutPieces(handle, scratch, terminator, target, capacity, indicator, offset);
    }
    default:
      break;
  }
  if (offset == std::string::npos) return SQL_NO_DATA;
  offset = std::string::npos;
  SQLLEN size = 0;
  switch (cType) {
    case SQL_C_BIT: {
      const Number n = NumberOf(v);
      const unsigned char b = (n.isInteger ? n.integer != 0 : n.real != 0) ? 1 : 0;
      std::memcpy(target, &b, 1);
      size = 1;
      break;
    }
    case SQL_C_STINYINT:
    case SQL_C_TINYINT:
      PutInteger<signed char>(handle, v, target);
      size = 1;
      break;
    case SQL_C_UTINYINT:
      PutInteger<unsigned char>(handle, v, target);
      size = 1;
      break;
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
      PutInteger<short>(handle, v, target);
      size = 2;
      break;
    case SQL_C_USHORT:
      PutInteger<unsigned short>(handle, v, target);
      size = 2;
      break;
    case SQL_C_SLONG:
    case SQL_C_LONG:
      PutInteger<std::int32_t>(handle, v, target);
      size = 4;
      break;
    case SQL_C_ULONG:
      PutInteger<std::uint32_t>(handle, v, target);
      size = 4;
      break;
    case SQL_C_SBIGINT:
      PutInteger<std::int64_t>(handle, v, target);
      size = 8;
      break;
    case SQL_C_UBIGINT:
      PutInteger<std::uint64_t>(handle, v, target);
      size = 8;
      break;
    case SQL_C_FLOAT: {
      const float f = static_cast<float>(NumberOf(v).real);
      std::memcpy(target, &f, sizeof f);
      size = sizeof f;
      break;
    }
    case SQL_C_DOUBLE: {
      const double d = NumberOf(v).real;
      std::memcpy(target, &d, sizeof d);
      size = sizeof d;
      break;
    }
    case SQL_C_NUMERIC: {
      int precision = static_cast<int>(column.size), scale = column.digits;
      if (numeric != nullptr && numeric->precision > 0) {
        precision = numeric->precision;
        scale = numeric->scale;
      }
      const std::string text = TextOf(v, column);
      Decimal d;
      if (!ParseDecimal(text, d)) throw NotA("a number", text);
      const std::string digits = ScaledDigits(d, scale);
      if (digits.size() > 38) throw Error("22003", "Numeric value out of range");
      unsigned __int128 magnitude = 0;
      for (char c : digits) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
      SQL_NUMERIC_STRUCT n{};
      n.precision = static_cast<SQLCHAR>(precision);
      n.scale = static_cast<SQLSCHAR>(scale);
      n.sign = d.negative && magnitude != 0 ? 0 : 1;
      for (int i = 0; i < SQL_MAX_NUMERIC_LEN; ++i) {
        n.val[i] = static_cast<SQLCHAR>(magnitude & 0xFF);
        magnitude >>= 8;
      }
      std::memcpy(target, &n, sizeof n);
      size = sizeof n;
      break;
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      if (v.type != SQLITE_TEXT) throw Error("07006", "Restricted data type attribute violation");
      DateTime t = ParseDateTime(TextView(v));
      if (!t.hasDate) Today(t);
      if (cType == SQL_C_TYPE_TIMESTAMP || cType == SQL_C_TIMESTAMP) {
        SQL_TIMESTAMP_STRUCT ts{};
        ts.year = static_cast<SQLSMALLINT>(t.year);
        ts.month = static_cast<SQLUSMALLINT>(t.month);
        ts.day = static_cast<SQLUSMALLINT>(t.day);
        ts.hour = static_cast<SQLUSMALLINT>(t.hour);
        ts.minute = static_cast<SQLUSMALLINT>(t.minute);
        ts.second = static_cast<SQLUSMALLINT>(t.second);
        ts.fraction = t.fraction;
        std::memcpy(target, &ts, sizeof ts);
        size = sizeof ts;
      } else if (cType == SQL_C_TYPE_DATE || cType == SQL_C_DATE) {
        SQL_DATE_STRUCT ds{static_cast<SQLSMALLINT>(t.year), static_cast<SQLUSMALLINT>(t.month),
                           static_cast<SQLUSMALLINT>(t.day)};
        if (t.hasTime && (t.hour || t.minute || t.second || t.fraction))
          handle.Warn("01S07", "Fractional truncation");
        std::memcpy(target, &ds, sizeof ds);
        size = sizeof ds;
      } else {
        SQL_TIME_STRUCT tm{static_cast<SQLUSMALLINT>(t.hour), static_cast<SQLUSMALLINT>(t.minute),
                           static_cast<SQLUSMALLINT>(t.second)};
        if (t.fraction) handle.Warn("01S07", "Fractional truncation");
        std::memcpy(target, &tm, sizeof tm);
        size = sizeof tm;
      }
      break;
    }
    case SQL_C_GUID: {
      unsigned char b[16];
      if (v.type == SQLITE_BLOB && v.size == 16)
        std::memcpy(b, v.bytes, 16);
      else if (v.type != SQLITE_TEXT || !ParseGuid(TextView(v), b))
        throw NotA("a GUID", TextView(v));
      SQLGUID g{};
      g.Data1 = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                (std::uint32_t{b[2]} << 8) | b[3];
      g.Data2 = static_cast<unsigned short>((b[4] << 8) | b[5]);
      g.Data3 = static_cast<unsigned short>((b[6] << 8) | b[7]);
      std::memcpy(g.Data4, b + 8, 8);
      std::memcpy(target, &g, sizeof g);
      size = sizeof g;
      break;
    }
    default:
      throw Error("HY003", "Program type out of range");
  }
  if (indicator) *indicator = size;
  return SQL_SUCCESS;
}

// ----- parameters in

namespace {

bool IsDecimal(SQLSMALLINT sqlType) {
  return sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC;
}
bool IsApproximate(SQLSMALLINT sqlType) {
  return sqlType == SQL_REAL || sqlType == SQL_FLOAT || sqlType == SQL_DOUBLE;
}
bool IsBinary(SQLSMALLINT sqlType) {
  return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

void Check(sqlite3_stmt* prepared, int rc) {
  if (rc != SQLITE_OK) throw SqliteError(sqlite3_db_handle(prepared), rc);
}

// `stable`: the text stays where it is until the statement has run (the application's buffer).
void BindText(sqlite3_stmt* p, int index, std::string_view text, bool stable = false) {
  Check(p, sqlite3_bind_text64(p, index, text.data(), text.size(),
                               stable ? SQLITE_STATIC : SQLITE_TRANSIENT, SQLITE_UTF8));
}

// A decimal (text) stored by the rule of numeric_blob columns.
void BindDecimal(sqlite3_stmt* p, int index, std::string_view text, bool stable = false) {
  double d = 0;
  if (HeldByDouble(text, d)) {
    Check(p, sqlite3_bind_double(p, index, d));
    return;
  }
  Decimal parsed;
  if (!ParseDecimal(text, parsed)) throw NotA("a number", text);
  BindText(p, index, TrimBlanks(text), stable);
}

// Text bound for a parameter of SQL type `sqlType`.
void BindTextAs(sqlite3_stmt* p, int index, SQLSMALLINT sqlType, std::string_view text,
                bool stable = false) {
  if (IsDecimal(sqlType)) return BindDecimal(p, index, text, stable);
  if (IsApproximate(sqlType)) {
    std::string_view s = TrimBlanks(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double d = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty())
      return Check(p, sqlite3_bind_double(p, index, d));
  }
  if (sqlType == SQL_BIT || sqlType == SQL_TINYINT || sqlType == SQL_SMALLINT ||
      sqlType == SQL_INTEGER || sqlType == SQL_BIGINT) {
    std::string_view s = TrimBlanks(text);
    std::int64_t i = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), i);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty())
      return Check(p, sqlite3_bind_int64(p, index, sqlType == SQL_BIT ? i != 0 : i));
  }
  if (sqlType == SQL_GUID) {
    unsigned char g[16];
    if (ParseGuid(text, g)) return BindText(p, index, GuidText(g));
  }
  if (IsBinary(sqlType))
    return Check(p, sqlite3_bind_blob64(p, index, text.data(), text.size(),
                                        stable ? SQLITE_STATIC : SQLITE_TRANSIENT));
  BindText(p, index, text, stable);
}

std::string Two(int n) {
  char b[3] = {static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10), 0};
  return b;
}

std::string DateText(int y, int m, int d) {
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

std::string TimeText(int h, int m, int s, std::uint32_t fraction) {
  std::string t = Two(h) + ":" + Two(m) + ":" + Two(s);
  if (fraction != 0) {
    char f[16];
    std::snprintf(f, sizeof f, "%09u", fraction);
    std::string digits = f;
    while (digits.size() > 3 && digits.back() == '0') digits.pop_back();
    t += "." + digits;
  }
  return t;
}

std::string DateTimeFor(SQLSMALLINT sqlType, const DateTime& t) {
  if (sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME)
    return TimeText(t.hour, t.minute, t.second, t.fraction);
  if (sqlType == SQL_TYPE_DATE || sqlType == SQL_DATE) return DateText(t.year, t.month, t.day);
  return DateText(t.year, t.month, t.day) + " " + TimeText(t.hour, t.minute, t.second, t.fraction);
}

std::string NumericText(const SQL_NUMERIC_STRUCT& n, int scale) {
  unsigned __int128 magnitude = 0;
  for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) magnitude = (magnitude << 8) | n.val[i];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(scale))
      digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  } else if (scale < 0) {
    digits.append(static_cast<std::size_t>(-scale), '0');
  }
  return (n.sign == 0 ? "-" : "") + digits;
}

}  // namespace

void BindIn(sqlite3_stmt* p, int index, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLSMALLINT scale,
            const void* data, SQLLEN length, bool stable) {
  if (cType == SQL_C_DEFAULT) cType = DefaultCType(sqlType);
  auto integer = [&](std::int64_t i) {
    Check(p, sqlite3_bind_int64(p, index, sqlType == SQL_BIT ? i != 0 : i));
  };
  switch (cType) {
    case SQL_C_CHAR:
      return BindTextAs(p, index, sqlType,
                        {static_cast<const char*>(data), static_cast<std::size_t>(length)}, stable);
    case SQL_C_WCHAR:
      return BindTextAs(
          p, index, sqlType,
          Utf8Of(static_cast<const char16_t*>(data), static_cast<std::size_t>(length) / 2));
    case SQL_C_BINARY:
      if (IsBinary(sqlType) || sqlType == SQL_GUID || sqlType == 0) {
        if (sqlType == SQL_GUID && length == 16)
          return BindText(p, index, GuidText(static_cast<const unsigned char*>(data)));
        return Check(p, sqlite3_bind_blob64(p, index, data, static_cast<sqlite3_uint64>(length),
                                            stable ? SQLITE_STATIC : SQLITE_TRANSIENT));
      }
      return BindTextAs(p, index, sqlType,
                        {static_cast<const char*>(data), static_cast<std::size_t>(length)}, stable);
    case SQL_C_BIT:
      return integer(*static_cast<const unsigned char*>(data) != 0);
    case SQL_C_STINYINT:
    case SQL_C_TINYINT:
      return integer(*static_cast<const signed char*>(data));
    case SQL_C_UTINYINT:
      return integer(*static_cast<const unsigned char*>(data));
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
      return integer(*static_cast<const short*>(data));
    case SQL_C_USHORT:
      return integer(*static_cast<const unsigned short*>(data));
    case SQL_C_SLONG:
    case SQL_C_LONG:
      return integer(*static_cast<const std::int32_t*>(data));
    case SQL_C_ULONG:
      return integer(*static_cast<const std::uint32_t*>(data));
    case SQL_C_SBIGINT:
      return integer(*static_cast<const std::int64_t*>(data));
    case SQL_C_UBIGINT: {
      const std::uint64_t u = *static_cast<const std::uint64_t*>(data);
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return BindTextAs(p, index, sqlType, std::to_string(u));
      return integer(static_cast<std::int64_t>(u));
    }
    case SQL_C_FLOAT:
      return Check(p, sqlite3_bind_double(p, index, *static_cast<const float*>(data)));
    case SQL_C_DOUBLE:
      return Check(p, sqlite3_bind_double(p, index, *static_cast<const double*>(data)));
    case SQL_C_NUMERIC: {
      const auto* n = static_cast<const SQL_NUMERIC_STRUCT*>(data);
      const std::string text = NumericText(*n, scale >= 0 ? scale : n->scale);
      if (IsDecimal(sqlType) || sqlType == 0) return BindDecimal(p, index, text);
      return BindTextAs(p, index, sqlType, text);
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: {
      const auto* ts = static_cast<const SQL_TIMESTAMP_STRUCT*>(data);
      DateTime t;
      t.year = ts->year;
      t.month = ts->month;
      t.day = ts->day;
      t.hour = ts->hour;
      t.minute = ts->minute;
      t.second = ts->second;
      t.fraction = ts->fraction;
      return BindText(p, index, DateTimeFor(sqlType, t));
    }
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: {
      const auto* ds = static_cast<const SQL_DATE_STRUCT*>(data);
      DateTime t;
      t.year = ds->year;
      t.month = ds->month;
      t.day = ds->day;
      return BindText(p, index, DateTimeFor(sqlType, t));
    }
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      const auto* tm = static_cast<const SQL_TIME_STRUCT*>(data);
      DateTime t;
      Today(t);
      t.hour = tm->hour;
      t.minute = tm->minute;
      t.second = tm->second;
      return BindText(p, index, DateTimeFor(sqlType, t));
    }
    case SQL_C_GUID: {
      const auto* g = static_cast<const SQLGUID*>(data);
      unsigned char b[16] = {
          static_cast<unsigned char>(g->Data1 >> 24), static_cast<unsigned char>(g->Data1 >> 16),
          static_cast<unsigned char>(g->Data1 >> 8),  static_cast<unsigned char>(g->Data1),
          static_cast<unsigned char>(g->Data2 >> 8),  static_cast<unsigned char>(g->Data2),
          static_cast<unsigned char>(g->Data3 >> 8),  static_cast<unsigned char>(g->Data3)};
      std::memcpy(b + 8, g->Data4, 8);
      return BindText(p, index, GuidText(b));
    }
    default:
      throw Error("HY003", "Program type out of range");
  }
}

}  // namespace norvane::odbc
