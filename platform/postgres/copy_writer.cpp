#include "platform/postgres/copy_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/row_progress.h"

namespace platform::postgres {
namespace {

constexpr std::size_t kSendAt = 256 * 1024;
// More digits than any Access number has; numeric itself holds up to 1000 after the point.
constexpr std::size_t kMaxNumericDigits = 400;
// Days from 1970-01-01 to 2000-01-01, where PostgreSQL's timestamps count from.
constexpr std::int64_t kPgEpochDays = 10957;

template <typename T>
void PutBig(std::string& out, T value) {
  using U = std::make_unsigned_t<T>;
  const U u = static_cast<U>(value);
  char bytes[sizeof(T)];
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<char>(u >> (8 * (sizeof(T) - 1 - i)));
  out.append(bytes, sizeof(T));
}

template <typename T>
void PutNumber(std::string& out, T value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

void PutFloatText(std::string& out, double value, bool single) {
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-Infinity" : "Infinity";
  } else if (single) {
    PutNumber(out, static_cast<float>(value));  // the shortest text that reads back as the float
  } else {
    PutNumber(out, value);
  }
}

bool AllDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "[-+]digits[.digits]" with at least one digit.
struct Decimal {
  bool negative = false;
  std::string_view whole, fraction;
};

bool ParseDecimal(std::string_view s, Decimal& d) {
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    d.negative = s.front() == '-';
    s.remove_prefix(1);
  }
  const std::size_t point = s.find('.');
  d.whole = s.substr(0, point);
  d.fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
  return (!d.whole.empty() || !d.fraction.empty()) &&
         d.whole.size() + d.fraction.size() <= kMaxNumericDigits && AllDigits(d.whole) &&
         AllDigits(d.fraction);
}

// numeric's binary form: ndigits, weight, sign, dscale, then base-10000 digits, taken from
// the text's digits padded to whole groups of four on each side of the point.
void PutNumeric(std::string& out, const Decimal& d) {
  const std::size_t lead = (4 - d.whole.size() % 4) % 4;
  const std::size_t wholeGroups = (lead + d.whole.size()) / 4;
  const std::size_t count = wholeGroups + (d.fraction.size() + 3) / 4;
  auto digit = [&](std::size_t i) {
    if (i < lead) return 0;
    i -= lead;
    if (i < d.whole.size()) return d.whole[i] - '0';
    i -= d.whole.size();
    return i < d.fraction.size() ? d.fraction[i] - '0' : 0;
  };
  std::array<std::int16_t, kMaxNumericDigits / 4 + 2> groups{};
  for (std::size_t g = 0; g < count; ++g)
    groups[g] = static_cast<std::int16_t>(digit(4 * g) * 1000 + digit(4 * g + 1) * 100 +
                                          digit(4 * g + 2) * 10 + digit(4 * g + 3));
  int weight = static_cast<int>(wholeGroups) - 1;
  std::size_t first = 0, last = count;
  while (first < last && groups[first] == 0) {
    ++first;
    --weight;
  }
  while (last > first && groups[last - 1] == 0) --last;
  const bool zero = first == last;
  PutBig<std::int32_t>(out, static_cast<std::int32_t>(8 + 2 * (last - first)));
  PutBig<std::int16_t>(out, static_cast<std::int16_t>(last - first));
  PutBig<std::int16_t>(out, static_cast<std::int16_t>(zero ? 0 : weight));
  PutBig<std::uint16_t>(out, zero || !d.negative ? 0x0000 : 0x4000);
  PutBig<std::int16_t>(out, static_cast<std::int16_t>(d.fraction.size()));
  for (std::size_t g = first; g < last; ++g) PutBig<std::int16_t>(out, groups[g]);
}

// Days since 1970-01-01 of a civil date.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int Field(std::string_view s, std::size_t at, std::size_t width) {
  int value = 0;
  for (std::size_t i = at; i < at + width; ++i) value = value * 10 + (s[i] - '0');
  return value;
}

// "YYYY-MM-DD HH:MM:SS[.f...]" (up to six digits of fraction) to microseconds since
// 2000-01-01 00:00:00.
bool ParseTimestamp(std::string_view s, std::int64_t& micros) {
  if (s.size() < 19 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
    return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
    if (s[i] < '0' || s[i] > '9') return false;
  std::string_view fraction;
  if (s.size() > 19) {
    if (s[19] != '.' || s.size() == 20 || s.size() > 26 || !AllDigits(s.substr(20))) return false;
    fraction = s.substr(20);
  }
  const int year = Field(s, 0, 4), month = Field(s, 5, 2), day = Field(s, 8, 2);
  const int hour = Field(s, 11, 2), minute = Field(s, 14, 2), second = Field(s, 17, 2);
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
    return false;
  std::int64_t fractionMicros = 0;
  for (std::size_t i = 0; i < 6; ++i)
    fractionMicros = fractionMicros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  const std::int64_t days = DaysFromCivil(year, month, day) - kPgEpochDays;
  micros =
      ((days * 24 + hour) * 60 + minute) * 60'000'000LL + second * 1'000'000LL + fractionMicros;
  return true;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional, to its 16 bytes in text order.
bool ParseGuid(std::string_view s, unsigned char (&bytes)[16]) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return false;
      continue;
    }
    int v = 0;
    const char c = s[i];
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return false;
    if (n % 2 == 0)
      bytes[n / 2] = static_cast<unsigned char>(v << 4);
    else
      bytes[n / 2] = static_cast<unsigned char>(bytes[n / 2] | v);
    ++n;
  }
  return true;
}

std::string_view View(const access::Cell& cell) {
  return {cell.bytes.data(), cell.bytes.size()};
}

}  // namespace

CopyWriter::CopyWriter(Connection& connection, const std::string& table,
                       const std::vector<access::ColumnInfo>& columns, int jetVersion,
                       CopyFormat format, std::uint64_t expected)
    : conn_(connection), table_(table), columns_(columns), format_(format), expected_(expected) {
  std::string sql = "COPY " + QuoteName(table) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    kinds_.push_back(PostgresType(columns[i], jetVersion).kind);
    sql += (i ? ", " : "") + QuoteName(columns[i].name);
  }
  sql += format == CopyFormat::kBinary ? ") FROM STDIN (FORMAT binary)" : ") FROM STDIN";
  conn_.Expect(PQexec(conn_.get(), sql.c_str()), PGRES_COPY_IN,
               "Starting the copy into table '" + table + "'");
  open_ = true;
  if (format_ == CopyFormat::kBinary) {
    buffer_.append("PGCOPY\n\377\r\n\0", 11);
    PutBig<std::int32_t>(buffer_, 0);  // flags
    PutBig<std::int32_t>(buffer_, 0);  // header extension
  }
}

CopyWriter::~CopyWriter() {
  if (!open_) return;
  if (PQputCopyEnd(conn_.get(), "the copy was abandoned") == 1)
    while (PGresult* r = PQgetResult(conn_.get())) PQclear(r);
}

void CopyWriter::Refuse(std::size_t column, const std::string& why) const {
  throw Error(dao::err::kUnsupported, "Table '" + table_ + "', row " + std::to_string(added_ + 1) +
                                          ", column '" + columns_[column].name + "': " + why + ".");
}

void CopyWriter::Add(const std::vector<access::Cell>& cells) {
  if (cells.size() != kinds_.size())
    throw Error(dao::err::kUnsupported, "Table '" + table_ + "', row " +
                                            std::to_string(added_ + 1) + ": " +
                                            std::to_string(cells.size()) + " values for " +
                                            std::to_string(kinds_.size()) + " columns.");
  const std::size_t rowStart = buffer_.size();
  try {
    if (format_ == CopyFormat::kBinary) {
      PutBig<std::int16_t>(buffer_, static_cast<std::int16_t>(cells.size()));
      for (std::size_t c = 0; c < cells.size(); ++c) Binary(cells[c], c);
    } else {
      for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c) buffer_ += '\t';
        Text(cells[c], c);
      }
      buffer_ += '\n';
    }
  } catch (...) {
    buffer_.resize(rowStart);  // no half row goes to the server
    throw;
  }
  ++added_;
  if (buffer_.size() >= kSendAt) Send();
}

void CopyWriter::Binary(const access::Cell& cell, std::size_t column) {
  if (cell.null) {
    PutBig<std::int32_t>(buffer_, -1);
    return;
  }
  switch (kinds_[column]) {
    case PgKind::kBoolean:
      PutBig<std::int32_t>(buffer_, 1);
      buffer_ += cell.integer != 0 ? '\1' : '\0';
      return;
    case PgKind::kInt2:
      if (cell.integer < std::numeric_limits<std::int16_t>::min() ||
          cell.integer > std::numeric_limits<std::int16_t>::max())
        Refuse(column, std::to_string(cell.integer) + " does not fit a smallint");
      PutBig<std::int32_t>(buffer_, 2);
      PutBig<std::int16_t>(buffer_, static_cast<std::int16_t>(cell.integer));
      return;
    case PgKind::kInt4:
      if (cell.integer < std::numeric_limits<std::int32_t>::min() ||
          cell.integer > std::numeric_limits<std::int32_t>::max())
        Refuse(column, std::to_string(cell.integer) + " does not fit an integer");
      PutBig<std::int32_t>(buffer_, 4);
      PutBig<std::int32_t>(buffer_, static_cast<std::int32_t>(cell.integer));
      return;
    case PgKind::kFloat4: {
      const float f = static_cast<float>(cell.real);
      std::uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      PutBig<std::int32_t>(buffer_, 4);
      PutBig<std::uint32_t>(buffer_, bits);
      return;
    }
    case PgKind::kFloat8: {
      std::uint64_t bits;
      std::memcpy(&bits, &cell.real, sizeof bits);
      PutBig<std::int32_t>(buffer_, 8);
      PutBig<std::uint64_t>(buffer_, bits);
      return;
    }
    case PgKind::kNumeric: {
      Decimal d;
      if (!ParseDecimal(View(cell), d))
        Refuse(column, "'" + std::string(View(cell)) + "' is no decimal number");
      PutNumeric(buffer_, d);
      return;
    }
    case PgKind::kTimestamp: {
      std::int64_t micros = 0;
      if (!ParseTimestamp(View(cell), micros))
        Refuse(column, "'" + std::string(View(cell)) + "' is no date and time");
      PutBig<std::int32_t>(buffer_, 8);
      PutBig<std::int64_t>(buffer_, micros);
      return;
    }
    case PgKind::kText:
      if (!cell.bytes.empty() && std::memchr(cell.bytes.data(), 0, cell.bytes.size()))
        Refuse(column, "the text holds a NUL character, which PostgreSQL cannot store");
      [[fallthrough]];
    case PgKind::kBytea:
      PutBig<std::int32_t>(buffer_, static_cast<std::int32_t>(cell.bytes.size()));
      buffer_.append(cell.bytes.data(), cell.bytes.size());
      return;
    case PgKind::kUuid: {
      unsigned char bytes[16];
      if (!ParseGuid(View(cell), bytes))
        Refuse(column, "'" + std::string(View(cell)) + "' is no GUID");
      PutBig<std::int32_t>(buffer_, 16);
      buffer_.append(reinterpret_cast<const char*>(bytes), 16);
      return;
    }
  }
}

void CopyWriter::Text(const access::Cell& cell, std::size_t column) {
  if (cell.null) {
    buffer_ += "\\N";
    return;
  }
  switch (kinds_[column]) {
    case PgKind::kBoolean:
      buffer_ += cell.integer != 0 ? 't' : 'f';
      return;
    case PgKind::kInt2:
    case PgKind::kInt4:
      PutNumber(buffer_, cell.integer);  // the server refuses a value beyond the column's range
      return;
    case PgKind::kFloat4:
    case PgKind::kFloat8:
      PutFloatText(buffer_, cell.real, kinds_[column] == PgKind::kFloat4);
      return;
    case PgKind::kNumeric: {
      Decimal d;
      if (!ParseDecimal(View(cell), d))
        Refuse(column, "'" + std::string(View(cell)) + "' is no decimal number");
      buffer_ += View(cell);
      return;
    }
    case PgKind::kTimestamp: {
      std::int64_t micros = 0;
      if (!ParseTimestamp(View(cell), micros))
        Refuse(column, "'" + std::string(View(cell)) + "' is no date and time");
      buffer_ += View(cell);
      return;
    }
    case PgKind::kText:
      if (!cell.bytes.empty() && std::memchr(cell.bytes.data(), 0, cell.bytes.size()))
        Refuse(column, "the text holds a NUL character, which PostgreSQL cannot store");
      for (char c : cell.bytes) {
        switch (c) {
          case '\\':
            buffer_ += "\\\\";
            break;
          case '\n':
            buffer_ += "\\n";
            break;
          case '\r':
            buffer_ += "\\r";
            break;
          case '\t':
            buffer_ += "\\t";
            break;
          default:
            buffer_ += c;
        }
      }
      return;
    case PgKind::kBytea: {
      static constexpr char kHex[] = "0123456789abcdef";
      buffer_ += "\\\\x";  // "\x" once COPY has read its own escape
      for (char c : cell.bytes) {
        const auto b = static_cast<unsigned char>(c);
        buffer_ += kHex[b >> 4];
        buffer_ += kHex[b & 15];
      }
      return;
    }
    case PgKind::kUuid: {
      unsigned char bytes[16];
      if (!ParseGuid(View(cell), bytes))
        Refuse(column, "'" + std::string(View(cell)) + "' is no GUID");
      std::string_view s = View(cell);
      if (s.size() == 38) s = s.substr(1, 36);
      buffer_ += s;
      return;
    }
  }
}

void CopyWriter::Send() {
  if (buffer_.empty()) return;
  if (PQputCopyData(conn_.get(), buffer_.data(), static_cast<int>(buffer_.size())) != 1)
    conn_.Fail("Copying rows into table '" + table_ + "'");
  buffer_.clear();
  ReportRows(added_, expected_);
}

std::uint64_t CopyWriter::Finish() {
  if (format_ == CopyFormat::kBinary) PutBig<std::int16_t>(buffer_, -1);
  Send();
  open_ = false;
  if (PQputCopyEnd(conn_.get(), nullptr) != 1)
    conn_.Fail("Ending the copy into table '" + table_ + "'");
  PGresult* result = PQgetResult(conn_.get());
  while (PGresult* r = PQgetResult(conn_.get())) PQclear(r);
  const std::string count =
      result && PQresultStatus(result) == PGRES_COMMAND_OK ? PQcmdTuples(result) : "";
  // Throws with the server's message (and the row it names) unless the copy succeeded.
  conn_.Expect(result, PGRES_COMMAND_OK, "Copying rows into table '" + table_ + "'");
  return count.empty() ? 0 : std::stoull(count);
}

}  // namespace platform::postgres
