#include "platform/jetwriter/long_value.h"

#include <algorithm>

#include "platform/jetwriter/data_page.h"
#include "platform/jetwriter/jet_bytes.h"

namespace jetwriter {
namespace {

constexpr std::uint32_t kInline = 0x80000000u, kOneRow = 0x40000000u;
constexpr std::uint32_t kLengthMask = 0x3FFFFFFFu;
constexpr std::uint32_t kLvalOwner =
    'L' | ('V' << 8) | ('A' << 16) | (static_cast<std::uint32_t>('L') << 24);
// A chain longer than this many rows is damage (a loop, for one).
constexpr std::size_t kMaxChain = 1u << 16;

// The row a (row byte, 3-byte page) pointer names, as its page holds it.
Bytes RowAt(PageFile& file, const Format& f, const Bytes& b, std::size_t at) {
  const int row = b[at];
  const std::uint32_t page = Le24(b, at + 1);
  if (page == 0 || page >= file.PageCount()) BadFormat("a long value points outside the file");
  const DataPage dp = DataPage::Parse(file.Read(page), f, page);
  if (dp.owner != kLvalOwner) BadFormat("a long value points at a page that holds none");
  if (static_cast<std::size_t>(row) >= dp.rows.size() ||
      (dp.rows[static_cast<std::size_t>(row)].flags & kRowDeleted) != 0)
    BadFormat("a long value points at a row that is not there");
  return dp.rows[static_cast<std::size_t>(row)].data;
}

}  // namespace

Bytes ReadLongValue(PageFile& file, const Format& f, const Bytes& field) {
  Need(field, 0, 12);
  const std::uint32_t head = Le32(field, 0);
  const std::size_t length = head & kLengthMask;
  if ((head & kInline) != 0) {
    Need(field, 12, length);
    return Bytes(field.begin() + 12, field.begin() + 12 + static_cast<std::ptrdiff_t>(length));
  }
  if ((head & kOneRow) != 0) {
    Bytes row = RowAt(file, f, field, 4);
    if (row.size() < length) BadFormat("a long value is shorter than its length");
    row.resize(length);
    return row;
  }
  Bytes value;
  Bytes pointer(field.begin() + 4, field.begin() + 8);
  for (std::size_t n = 0; value.size() < length; ++n) {
    if (n == kMaxChain || Le32(pointer, 0) == 0) BadFormat("a long value's chain ends early");
    const Bytes row = RowAt(file, f, pointer, 0);
    if (row.size() < 4) BadFormat("a long value's chain holds a short row");
    pointer.assign(row.begin(), row.begin() + 4);
    const std::size_t take = std::min(row.size() - 4, length - value.size());
    value.insert(value.end(), row.begin() + 4, row.begin() + 4 + static_cast<std::ptrdiff_t>(take));
  }
  return value;
}

std::size_t LongValueRowMax(const Format& f) {
  // An LVAL page with one row, and room for one more row pointer.
  return static_cast<std::size_t>(f.pageSize - f.dataRowTable - 2 - 4);
}

Bytes StoreLongValue(PageFile& file, const Format& f, const Bytes& value, PageAllocator& pages,
                     MapRef owned, MapRef free) {
  const std::size_t max = LongValueRowMax(f);
  const bool chain = value.size() > max;
  const std::size_t part = chain ? max - 4 : max;
  std::vector<std::uint32_t> at;
  for (std::size_t from = 0; from < value.size() || at.empty(); from += part)
    at.push_back(pages.Allocate());
  for (std::size_t i = 0; i < at.size(); ++i) {
    const std::size_t from = i * part;
    const std::size_t n = std::min(part, value.size() - from);
    Bytes row;
    if (chain) {
      row.assign(4, 0);
      if (i + 1 < at.size()) SetLe32(row, 0, at[i + 1] << 8);  // row 0 of the next page
    }
    row.insert(row.end(), value.begin() + static_cast<std::ptrdiff_t>(from),
               value.begin() + static_cast<std::ptrdiff_t>(from + n));
    DataPage dp;
    dp.header = DataPage::NewHeader(f, kLvalOwner);
    dp.rows.push_back({0, row});
    file.Write(at[i], dp.Build(f));
    SetMapBit(file, f, owned, at[i], true, &pages);
    SetMapBit(file, f, free, at[i], true, &pages);
  }
  Bytes field(12, 0);
  SetLe32(field, 0, static_cast<std::uint32_t>(value.size()) | (chain ? 0 : kOneRow));
  SetLe32(field, 4, at.front() << 8);
  return field;
}

}  // namespace jetwriter
