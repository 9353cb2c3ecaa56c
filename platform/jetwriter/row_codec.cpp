#include "platform/jetwriter/row_codec.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/jetwriter/jet_bytes.h"

namespace jetwriter {

namespace {
int FixedAreaSize(const std::vector<Column>& columns) {
  int size = 0;
  for (const Column& c : columns) {
    if (c.fixed() && c.type != kTypeBool) size = std::max(size, c.fixedOffset + c.length);
  }
  return size;
}
}  // namespace

RowValues DecodeRow(const Bytes& row, const Format& f, const std::vector<Column>& columns) {
  RowValues v;
  std::size_t size = row.size();
  int countSize = f.jet4 ? 2 : 1;
  if (size < static_cast<std::size_t>(countSize)) BadFormat("a row is too short");
  v.columnCount = f.jet4 ? static_cast<int>(Le16(row, 0)) : row[0];
  std::size_t maskLen = (static_cast<std::size_t>(v.columnCount) + 7) / 8;
  if (size < countSize + maskLen + countSize) BadFormat("a row is too short for its null mask");
  std::size_t maskAt = size - maskLen;
  auto notNull = [&](int col) {
    return col < v.columnCount && ((row[maskAt + col / 8] >> (col % 8)) & 1) != 0;
  };
  std::size_t countAt = maskAt - countSize;
  int varCount = f.jet4 ? static_cast<int>(Le16(row, countAt)) : row[countAt];
  std::vector<std::size_t> offs;  // varCount + 1 entries, the last is the end of the var data
  if (f.jet4) {
    if (countAt < 2 * (static_cast<std::size_t>(varCount) + 1))
      BadFormat("a row's variable-column table is too long");
    for (int i = 0; i <= varCount; ++i) offs.push_back(Le16(row, countAt - 2 - 2 * i));
  } else {
    std::size_t numJumps = (size - 1) / 256;
    if (countAt < numJumps + varCount + 1) BadFormat("a row's variable-column table is too long");
    std::size_t colOffset = countAt - numJumps - 1;
    if ((colOffset - varCount) / 256 < numJumps) --numJumps;
    colOffset = countAt - ((size - 1) / 256) - 1;
    std::size_t used = 0;
    for (int i = 0; i <= varCount; ++i) {
      while (used < numJumps && static_cast<std::size_t>(i) == row[countAt - used - 1]) ++used;
      offs.push_back(row[colOffset - i] + used * 256);
    }
  }
  std::size_t varEnd = countAt - (f.jet4 ? 2 : 1) * (static_cast<std::size_t>(varCount) + 1);
  if (!f.jet4) varEnd -= (size - 1) / 256;
  std::size_t fixedStart = static_cast<std::size_t>(countSize);
  for (int i = 0; i < varCount; ++i) {
    if (offs[i] > offs[i + 1] || offs[i] < fixedStart || offs[i + 1] > varEnd) {
      BadFormat("a row's variable-column offsets are out of order");
    }
  }
  int maxNumber = 0;
  for (const Column& c : columns) maxNumber = std::max(maxNumber, c.number + 1);
  v.values.resize(static_cast<std::size_t>(maxNumber));
  for (const Column& c : columns) {
    auto& out = v.values[static_cast<std::size_t>(c.number)];
    if (c.type == kTypeBool) {
      out = Bytes{static_cast<std::uint8_t>(notNull(c.number) ? 1 : 0)};
      continue;
    }
    if (!notNull(c.number)) continue;
    if (c.fixed()) {
      std::size_t at = fixedStart + static_cast<std::size_t>(c.fixedOffset);
      Need(row, at, static_cast<std::size_t>(c.length));
      out = Bytes(row.begin() + at, row.begin() + at + c.length);
    } else if (c.varIndex < varCount) {
      out = Bytes(row.begin() + offs[c.varIndex], row.begin() + offs[c.varIndex + 1]);
    }
  }
  return v;
}

Bytes EncodeRow(const RowValues& v, const Format& f, const std::vector<Column>& columns) {
  int countSize = f.jet4 ? 2 : 1;
  int varCount = 0;
  for (const Column& c : columns) {
    if (!c.fixed()) varCount = std::max(varCount, c.varIndex + 1);
  }
  int fixedSize = FixedAreaSize(columns);
  Bytes row(static_cast<std::size_t>(countSize + fixedSize), 0);
  if (f.jet4) {
    SetLe16(row, 0, static_cast<std::uint32_t>(v.columnCount));
  } else {
    row[0] = static_cast<std::uint8_t>(v.columnCount);
  }
  Bytes mask((static_cast<std::size_t>(v.columnCount) + 7) / 8, 0);
  auto value = [&](const Column& c) -> const std::optional<Bytes>& {
    static const std::optional<Bytes> none;
    return static_cast<std::size_t>(c.number) < v.values.size() ? v.values[c.number] : none;
  };
  std::vector<const Column*> vars(static_cast<std::size_t>(varCount), nullptr);
  for (const Column& c : columns) {
    const auto& val = value(c);
    bool present = c.type == kTypeBool ? (val && !val->empty() && (*val)[0] != 0) : val.has_value();
    if (present) {
      if (c.number >= v.columnCount) Unsupported("A value lies beyond the row's column count.");
      mask[static_cast<std::size_t>(c.number / 8)] |=
          static_cast<std::uint8_t>(1 << (c.number % 8));
    }
    if (c.type == kTypeBool) continue;
    if (c.fixed()) {
      if (val) {
        if (val->size() != static_cast<std::size_t>(c.length)) {
          Unsupported("A fixed-length value has the wrong size.");
        }
        std::copy(val->begin(), val->end(), row.begin() + countSize + c.fixedOffset);
      }
    } else {
      vars[static_cast<std::size_t>(c.varIndex)] = &c;
    }
  }
  std::vector<std::size_t> offs;
  for (const Column* c : vars) {
    offs.push_back(row.size());
    if (c != nullptr && value(*c)) row.insert(row.end(), value(*c)->begin(), value(*c)->end());
  }
  offs.push_back(row.size());  // end of the variable data
  if (f.jet4) {
    for (int i = varCount; i >= 0; --i) {
      row.push_back(static_cast<std::uint8_t>(offs[i]));
      row.push_back(static_cast<std::uint8_t>(offs[i] >> 8));
    }
    row.push_back(static_cast<std::uint8_t>(varCount));
    row.push_back(static_cast<std::uint8_t>(varCount >> 8));
  } else {
    if (row.size() + varCount + 2 + mask.size() >= 256) {
      Unsupported(
          "The catalog row would be 256 bytes or longer, which this writer does not "
          "write for Jet 3 files.");
    }
    for (int i = varCount; i >= 0; --i) row.push_back(static_cast<std::uint8_t>(offs[i]));
    row.push_back(static_cast<std::uint8_t>(varCount));
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > static_cast<std::size_t>(f.maxRowSize)) Unsupported("The row is too long.");
  return row;
}

Bytes OleDateNow() {
  double days = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  Bytes b(8);
  std::memcpy(b.data(), &days, 8);
  return b;
}

}  // namespace jetwriter
