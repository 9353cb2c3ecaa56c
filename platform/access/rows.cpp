#include "platform/access/rows.h"

#include <mdbtools.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/access/isolated_reader.h"
#include "platform/access/mdb_handles.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform::access {
namespace {

std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Appends UTF-16 code units, pairing surrogates; a lone surrogate becomes U+FFFD.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  void Unit(char16_t u) {
    if (high_ != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        platform::AppendUtf8(
            out_, 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (u - 0xDC00));
        high_ = 0;
        return;
      }
      platform::AppendUtf8(out_, 0xFFFD);
      high_ = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      platform::AppendUtf8(out_, 0xFFFD);
    } else {
      platform::AppendUtf8(out_, u);
    }
  }
  ~Utf16Sink() {
    if (high_ != 0) platform::AppendUtf8(out_, 0xFFFD);
  }

 private:
  std::string& out_;
  char16_t high_ = 0;
};

[[noreturn]] void Damaged(const std::string& table, const std::string& why) {
  throw Error(dao::err::kUnrecognizedFormat, "table '" + table + "': " + why);
}

// The child's side: walks the table and sends every row.
class RowWriter {
 public:
  // Sends the columns at the positions `columns` names, or every column without it.
  RowWriter(MdbHandle* mdb, MdbTableDef* table, std::uint64_t filePages,
            const std::vector<unsigned>* columns = nullptr)
      : mdb_(mdb), table_(table), filePages_(filePages), fields_(table->num_cols) {
    for (unsigned i = 0; i < table->num_cols; ++i)
      if (!columns || std::find(columns->begin(), columns->end(), i) != columns->end())
        columns_.push_back(i);
  }

  // Sends every row; returns how many.
  std::uint64_t Send(WireWriter& out) {
    std::uint64_t count = 0;
    // The walk of mdb_fetch_row over a table's data pages as its usage map lists them, skipping
    // deleted rows and rows that do not decode as it does, but decoding each row once where
    // mdb_fetch_row and a second look at the row would decode it twice.
    mdb_rewind_table(table_);
    table_->cur_pg_num = 1;
    if (table_->num_cols == 0 || table_->columns == nullptr || !mdb_read_next_dpg(table_)) return 0;
    while (true) {
      const auto rows =
          static_cast<unsigned>(mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset));
      if (table_->cur_row >= rows) {
        table_->cur_row = 0;
        if (!mdb_read_next_dpg(table_)) break;
      }
      const int at = static_cast<int>(table_->cur_row++);
      int start = 0;
      std::size_t size = 0;
      if (mdb_find_row(mdb_, at, &start, &size) != 0 || size == 0 || (start & 0x4000) != 0 ||
          mdb_crack_row(table_, start & 0x1FFF, size, fields_.data()) < 0)
        continue;
      out.BeginRow();
      out.U8(kTagRow);
      try {
        for (const unsigned i : columns_) Value(i, out);
      } catch (...) {
        out.DropRow();  // the error follows whole rows only
        throw;
      }
      out.EndRow();
      ++count;
    }
    return count;
  }

 private:
  void Value(unsigned i, WireWriter& out) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
    const MdbField& field = fields_[i];
    if (col->col_type == MDB_BOOL) {
      out.U8(1);
      out.U32(field.is_null ? 0 : 1);
      return;
    }
    if (field.is_null) {
      out.U8(0);
      return;
    }
    const auto* p = static_cast<const unsigned char*>(field.value);
    const std::size_t size = field.siz < 0 ? 0 : static_cast<std::size_t>(field.siz);
    auto need = [&](std::size_t n) {
      if (p == nullptr || size < n)
        Damaged(table_->name, std::string("a value of column '") + col->name + "' is cut short");
    };
    out.U8(1);
    switch (col->col_type) {
      case MDB_BYTE:
        need(1);
        out.U32(p[0]);
        return;
      case MDB_INT:
        need(2);
        out.U32(static_cast<std::uint32_t>(static_cast<std::int16_t>(p[0] | p[1] << 8)));
        return;
      case MDB_LONGINT:
        need(4);
        out.U32(Get32(p));
        return;
      case MDB_FLOAT:
        need(4);
        out.Raw(p, 4);
        return;
      case MDB_DOUBLE:
        need(8);
        out.Raw(p, 8);
        return;
      case MDB_MONEY: {
        need(8);
        const std::uint64_t v = Get32(p) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
        out.String(CurrencyText(static_cast<std::int64_t>(v)));
        return;
      }
      case MDB_DATETIME: {
        need(8);
        double days;
        std::memcpy(&days, p, 8);
        if (!DateTimeText(days, text_))
          Damaged(table_->name,
                  std::string("a date of column '") + col->name + "' is out of range");
        out.String(text_);
        return;
      }
      case MDB_REPID:
        need(16);
        out.String(GuidText(p));
        return;
      case MDB_NUMERIC:
        need(17);
        out.String(DecimalText(p, col->col_prec));  // the scale, see catalog.cpp
        return;
      case MDB_BINARY:
        out.Bytes(p, size);
        return;
      case MDB_TEXT:
        Text(p, size);
        out.String(text_);
        return;
      case MDB_MEMO:
        LongValue(col, p, size);
        Text(reinterpret_cast<const unsigned char*>(long_.data()), long_.size());
        out.String(text_);
        return;
      case MDB_OLE:
        LongValue(col, p, size);
        out.Bytes(long_.data(), long_.size());
        return;
      default:
        throw Error(dao::err::kUnsupported, std::string("column '") + col->name + "' of table '" +
                                                table_->name + "' has a type (" +
                                                std::to_string(col->col_type) +
                                                ") that cannot be transferred");
    }
  }

  void Text(const unsigned char* p, std::size_t size) {
    text_.clear();
    if (size == 0) return;
    if (IS_JET3(mdb_)) {
      text_ = Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), size));
    } else {
      Jet4TextToUtf8(p, size, text_);
    }
  }

  // Memo and OLE values: inline, on one long-value page, or on a chain of them. Every length
  // and every step of the chain is checked against the value's stated length and the file.
  void LongValue(MdbColumn* col, const unsigned char* p, std::size_t size) {
    long_.clear();
    if (size < MDB_MEMO_OVERHEAD)
      Damaged(table_->name, std::string("a long value of column '") + col->name + "' is cut short");
    const std::uint32_t head = Get32(p);
    const std::uint32_t length = head & 0x3FFFFFFF;
    int pageRow = static_cast<int>(Get32(p + 4));
    if (length > kMaxValueBytes) Damaged(table_->name, "a long value states an impossible length");
    if (head & 0x80000000) {
      long_.assign(p + MDB_MEMO_OVERHEAD, p + size);
      return;
    }
    auto readRow = [&](const unsigned char*& data, std::size_t& rowSize) {
      void* buffer = nullptr;
      int offset = 0;
      size_t n = 0;
      if (mdb_find_pg_row(mdb_, pageRow, &buffer, &offset, &n) != 0 ||
          offset + n > static_cast<std::size_t>(mdb_->fmt->pg_size))
        Damaged(table_->name,
                std::string("a long value of column '") + col->name + "' points to a missing page");
      data = static_cast<const unsigned char*>(buffer) + offset;
      rowSize = n;
    };
    const unsigned char* data = nullptr;
    std::size_t n = 0;
    if (head & 0x40000000) {
      readRow(data, n);
      long_.assign(data, data + std::min<std::size_t>(n, length));
      return;
    }
    if ((head & 0xC0000000) != 0) Damaged(table_->name, "a long value has unknown flags");
    for (std::uint64_t steps = 0; long_.size() < length; ++steps) {
      if (steps > filePages_) Damaged(table_->name, "a long-value chain loops");
      readRow(data, n);
      if (n < 4) Damaged(table_->name, "a long-value page is empty");
      const std::size_t take = std::min<std::size_t>(n - 4, length - long_.size());
      long_.insert(long_.end(), data + 4, data + 4 + take);
      pageRow = static_cast<int>(Get32(data));
      if (pageRow == 0) break;
    }
    if (long_.size() != length)
      Damaged(table_->name,
              std::string("a long value of column '") + col->name + "' is shorter than stated");
  }

  MdbHandle* mdb_;
  MdbTableDef* table_;
  std::uint64_t filePages_;
  std::vector<MdbField> fields_;
  std::vector<unsigned> columns_;
  std::string text_;
  std::vector<char> long_;
};

void SendTable(const std::string& path, const std::string& name,
               const std::vector<std::string>& only, WireWriter& out) {
  HandlePtr mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb || mdb_read_catalog(mdb.get(), MDB_TABLE) == nullptr)
    throw Error(dao::err::kUnrecognizedFormat, "the catalog cannot be read");
  MdbCatalogEntry* entry = nullptr;
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (e->object_type == MDB_TABLE && name == e->object_name) entry = e;
  }
  if (entry == nullptr)
    throw Error(dao::err::kItemNotFound, "The table '" + name + "' does not exist.");
  TablePtr table(mdb_read_table(entry));
  if (!table || !mdb_read_columns(table.get()))
    throw Error(dao::err::kUnrecognizedFormat, "the definition of table '" + name + "' is damaged");
  std::vector<unsigned> columns;
  for (unsigned c = 0; c < table->num_cols; ++c) {
    const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
    for (const std::string& wanted : only)
      if (EqualsNoCase(wanted, col->name)) {
        columns.push_back(c);
        break;
      }
  }
  out.U8(kTagRow);
  WriteColumns(table.get(), out, only.empty() ? nullptr : &columns);
  out.U32(table->num_rows);
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path, ec);
  RowWriter(mdb.get(), table.get(), ec ? 0 : bytes / 2048 + 1, only.empty() ? nullptr : &columns)
      .Send(out);
}

void CheckTables(const std::string& path, WireWriter& out) {
  HandlePtr mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb || mdb_read_catalog(mdb.get(), MDB_TABLE) == nullptr)
    throw Error(dao::err::kUnrecognizedFormat, "the catalog cannot be read");
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path, ec);
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE) continue;
    out.U8(kTagRow);
    out.String(entry->object_name);
    std::uint64_t rows = 0;
    try {
      TablePtr table(mdb_read_table(entry));
      if (!table || !mdb_read_columns(table.get()))
        throw Error(dao::err::kUnrecognizedFormat, "the table definition is damaged");
      WireWriter discard(WireWriter::kDiscard);
      rows = RowWriter(mdb.get(), table.get(), ec ? 0 : bytes / 2048 + 1).Send(discard);
      out.I64(static_cast<std::int64_t>(rows));
      out.U32(0);
      out.String("");
    } catch (const Error& e) {
      out.I64(static_cast<std::int64_t>(rows));
      out.U32(static_cast<std::uint32_t>(e.Number()));
      out.String(e.Description());
    }
    out.Flush();
  }
}

}  // namespace

std::vector<TableCheck> CheckAllTables(const std::string& posixPath,
                                       std::chrono::milliseconds timeout) {
  IsolatedReader in(posixPath, timeout, [&](WireWriter& out) { CheckTables(posixPath, out); });
  std::vector<TableCheck> checks;
  while (true) {
    const std::uint8_t tag = in.U8();
    if (tag == kTagEnd) break;
    if (tag == kTagError) {
      const auto number = static_cast<int>(in.U32());
      throw Error(number, in.String());
    }
    if (tag != kTagRow) throw Error(dao::err::kUnrecognizedFormat, "the check stream is malformed");
    TableCheck check;
    check.table = in.String();
    check.rows = static_cast<std::uint64_t>(in.I64());
    check.errorNumber = static_cast<int>(in.U32());
    check.error = in.String();
    checks.push_back(std::move(check));
  }
  in.Finish();
  return checks;
}

std::string CurrencyText(std::int64_t v) {
  const bool negative = v < 0;
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
  // Digits from the right: four decimals, the point, then the whole part (at least one digit).
  char buffer[32];
  char* p = buffer + sizeof buffer;
  for (int i = 0; i < 4; ++i) {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return std::string(p, buffer + sizeof buffer);
}

void AppendCanonicalDecimal(std::string& out, std::string_view number) {
  // Written straight into `out`: the check runs this for every exact value it compares.
  const std::size_t start = out.size();
  std::size_t i = 0;
  const bool negative = !number.empty() && number[0] == '-';
  if (!number.empty() && (number[0] == '-' || number[0] == '+')) ++i;
  const auto digitsFrom = [&](std::size_t at) {
    while (at < number.size() && number[at] >= '0' && number[at] <= '9') ++at;
    return at;
  };
  const std::size_t wholeBegin = i, wholeEnd = digitsFrom(i);
  std::size_t fractionBegin = wholeEnd, fractionEnd = wholeEnd;
  i = wholeEnd;
  if (i < number.size() && number[i] == '.') {
    fractionBegin = i + 1;
    fractionEnd = i = digitsFrom(fractionBegin);
  }
  const bool any = wholeEnd > wholeBegin || fractionEnd > fractionBegin;
  // value = digits * 10^exponent
  long exponent = -static_cast<long>(fractionEnd - fractionBegin);
  if (negative) out += '-';
  const std::size_t first = out.size();  // the digits, without leading zeros, from here
  std::size_t lead = wholeBegin;
  while (lead < wholeEnd && number[lead] == '0') ++lead;
  if (lead < wholeEnd) {
    out.append(number.substr(lead, wholeEnd - lead));
    out.append(number.substr(fractionBegin, fractionEnd - fractionBegin));
  } else {
    lead = fractionBegin;
    while (lead < fractionEnd && number[lead] == '0') ++lead;
    out.append(number.substr(lead, fractionEnd - lead));
  }
  const auto unchanged = [&] {
    out.resize(start);
    out.append(number);
  };
  if (i < number.size() && (number[i] == 'e' || number[i] == 'E') && any) {
    long e = 0;
    const auto [end, ec] =
        std::from_chars(number.data() + i + 1 + (i + 1 < number.size() && number[i + 1] == '+'),
                        number.data() + number.size(), e);
    if (ec != std::errc() || end != number.data() + number.size() || e > 400 || e < -400)
      return unchanged();
    exponent += e;
    i = number.size();
  }
  if (!any || i != number.size()) return unchanged();
  if (out.size() == first) {
    out.resize(start);
    out += '0';
    return;
  }
  while (out.size() > first + 1 && out.back() == '0' && exponent < 0) {
    out.pop_back();
    ++exponent;
  }
  if (exponent >= 0) {
    out.append(static_cast<std::size_t>(exponent), '0');
  } else {
    const auto fraction = static_cast<std::size_t>(-exponent);
    const std::size_t digits = out.size() - first;
    if (digits <= fraction) out.insert(first, fraction - digits + 1, '0');
    out.insert(out.size() - fraction, 1, '.');
  }
}

std::string CanonicalDecimal(std::string_view number) {
  std::string out;
  AppendCanonicalDecimal(out, number);
  return out;
}

bool DateTimeText(double days, std::string& out) {
  if (!std::isfinite(days) || days < -657434.0 || days >= 2958466.0) return false;
  auto whole = static_cast<std::int64_t>(days);  // toward zero: the date part
  std::int64_t seconds = std::llround(std::fabs(days - static_cast<double>(whole)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += 1;
  }
  // Days since 1970-01-01, then the civil date.
  std::int64_t z = whole - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  if (year > 9999) return false;  // rounded up past 9999-12-31 23:59:59
  char buffer[19];                // "YYYY-MM-DD HH:MM:SS"
  auto put = [&buffer](int at, std::int64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
      buffer[at + i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  };
  put(0, year, 4);
  buffer[4] = '-';
  put(5, month, 2);
  buffer[7] = '-';
  put(8, day, 2);
  buffer[10] = ' ';
  put(11, seconds / 3600, 2);
  buffer[13] = ':';
  put(14, seconds / 60 % 60, 2);
  buffer[16] = ':';
  put(17, seconds % 60, 2);
  out.assign(buffer, sizeof buffer);
  return true;
}

std::string GuidText(const unsigned char* b) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buffer;
}

std::string DecimalText(const unsigned char* p, int scale) {
  unsigned __int128 magnitude = 0;
  for (int i = 15; i >= 0; --i) magnitude = magnitude << 8 | p[1 + 12 - 4 * (i / 4) + i % 4];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale < 0) scale = 0;
  if (scale > 38) scale = 38;
  const auto s = static_cast<std::size_t>(scale);
  if (digits.size() <= s) digits.insert(digits.begin(), s + 1 - digits.size(), '0');
  if (s > 0) digits.insert(digits.end() - static_cast<std::ptrdiff_t>(s), '.');
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return ((p[0] & 0x80) && !zero ? "-" : "") + digits;
}

void Jet4TextToUtf8(const unsigned char* p, std::size_t size, std::string& out) {
  out.clear();
  out.reserve(size);
  Utf16Sink sink(out);
  if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    for (std::size_t i = 2; i < size;) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        sink.Unit(p[i]);
        ++i;
      } else if (i + 1 < size) {
        sink.Unit(static_cast<char16_t>(p[i] | p[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
    return;
  }
  for (std::size_t i = 0; i + 1 < size; i += 2)
    sink.Unit(static_cast<char16_t>(p[i] | p[i + 1] << 8));
}

RowStream::RowStream(const std::string& posixPath, const std::string& tableName,
                     std::chrono::milliseconds timeout, const std::vector<std::string>& only)
    : table_(tableName) {
  in_ = std::make_unique<IsolatedReader>(
      posixPath, timeout, [&](WireWriter& out) { SendTable(posixPath, tableName, only, out); });
  const std::uint8_t tag = in_->U8();
  if (tag == kTagError) {
    const auto number = static_cast<int>(in_->U32());
    throw Error(number, in_->String());
  }
  if (tag != kTagRow) throw Error(dao::err::kUnrecognizedFormat, "the table stream is malformed");
  columns_ = ReadColumns(*in_, posixPath);
  expectedRows_ = in_->U32();
}

RowStream::~RowStream() = default;

bool RowStream::Next(std::vector<Cell>& cells) {
  const std::uint8_t tag = in_->U8();
  if (tag == kTagEnd) {
    in_->Finish();
    return false;
  }
  if (tag == kTagError) {
    const auto number = static_cast<int>(in_->U32());
    throw Error(number, in_->String());
  }
  if (tag != kTagRow) throw Error(dao::err::kUnrecognizedFormat, "the row stream is malformed");
  cells.resize(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    Cell& cell = cells[c];
    cell.null = in_->U8() == 0;
    if (cell.null) continue;
    switch (columns_[c].type) {
      case MDB_BOOL:
      case MDB_BYTE:
      case MDB_INT:
      case MDB_LONGINT:
        cell.integer = static_cast<std::int32_t>(in_->U32());
        break;
      case MDB_FLOAT: {
        float f;
        in_->Raw(&f, 4);
        cell.real = f;
        break;
      }
      case MDB_DOUBLE:
        in_->Raw(&cell.real, 8);
        break;
      default:
        in_->BytesInto(cell.bytes);
        break;
    }
  }
  return true;
}

}  // namespace platform::access
