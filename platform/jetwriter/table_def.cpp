#include "platform/jetwriter/table_def.h"

#include <algorithm>
#include <string>

#include "platform/jetwriter/jet_bytes.h"
#include "platform/jetwriter/jet_text.h"

namespace jetwriter {

TableDef ReadTableDef(PageFile& file, const Format& f, std::uint32_t page) {
  TableDef t;
  t.page = page;
  std::uint32_t p = page;
  for (int hops = 0; p != 0; ++hops) {
    if (hops > 64 || p >= file.PageCount()) BadFormat("a table definition chain is broken");
    Bytes img = file.Read(p);
    if (img[0] != 0x02) BadFormat("page " + std::to_string(p) + " is not a table definition");
    if (hops == 0) {
      t.bytes = img;
    } else {
      t.bytes.insert(t.bytes.end(), img.begin() + 8, img.end());
    }
    p = Le32(img, 4);
  }
  const Bytes& b = t.bytes;
  t.numRows = Le32(b, f.tdefNumRows);
  int numCols = static_cast<int>(Le16(b, f.tdefNumCols));
  std::uint32_t numIdx = Le32(b, f.tdefNumIdx);
  std::uint32_t numReal = Le32(b, f.tdefNumRealIdx);
  if (numCols > 255 || numIdx > 64 || numReal > 64) BadFormat("a table definition has bad counts");
  t.ownedMap = ReadMapRef(b, f.tdefOwnedMap);
  t.freeMap = ReadMapRef(b, f.tdefFreeMap);
  std::size_t at = f.tdefIdxSlots + numReal * f.idxSlotSize;
  for (int i = 0; i < numCols; ++i, at += f.colDescSize) {
    Need(b, at, f.colDescSize);
    Column c;
    c.type = b[at];
    c.number = static_cast<int>(Le16(b, at + f.colNumber));
    c.varIndex = static_cast<int>(Le16(b, at + f.colVarIndex));
    c.sortOrder = static_cast<int>(Le16(b, at + f.colSort));
    if (f.jet4 && (c.type == kTypeText || c.type == kTypeMemo)) c.sortVersion = b[at + 14];
    c.flags = b[at + f.colFlags];
    c.fixedOffset = static_cast<int>(Le16(b, at + f.colFixedOffset));
    c.length = static_cast<int>(Le16(b, at + f.colLength));
    if (c.number > 255) BadFormat("a column number is out of range");
    t.columns.push_back(c);
  }
  for (Column& c : t.columns) {
    std::size_t len = f.jet4 ? Le16(b, at) : b.at(at);
    at += f.jet4 ? 2 : 1;
    Need(b, at, len);
    c.name = DecodeText(Bytes(b.begin() + at, b.begin() + at + len), f);
    at += len;
  }
  std::sort(t.columns.begin(), t.columns.end(),
            [](const Column& a, const Column& c) { return a.number < c.number; });
  for (std::uint32_t i = 0; i < numReal; ++i, at += f.realIdxSize) {
    Need(b, at, f.realIdxSize);
    RealIndex ri;
    std::size_t q = at + (f.jet4 ? 4 : 0);
    for (int k = 0; k < 10; ++k, q += 3) {
      std::uint32_t col = Le16(b, q);
      if (col == 0xFFFF) continue;
      if (b[q + 2] != 0x01) Unsupported("A catalog index sorts in descending order.");
      ri.columns.push_back(static_cast<int>(col));
    }
    ri.map = ReadMapRef(b, q);
    ri.root = Le32(b, q + 4);
    ri.flags = b[q + 8 + (f.jet4 ? 4 : 0)];
    ri.slotAt = f.tdefIdxSlots + i * f.idxSlotSize + 4;
    t.indexes.push_back(ri);
  }
  at += static_cast<std::size_t>(numIdx) * f.logIdxSize;
  for (std::uint32_t i = 0; i < numIdx; ++i) {
    std::size_t len = f.jet4 ? Le16(b, at) : b.at(at);
    at += (f.jet4 ? 2 : 1) + len;
  }
  for (int guard = 0;; ++guard) {
    std::uint32_t col = Le16(b, at);
    at += 2;
    if (col == 0xFFFF) break;
    if (guard > 255) BadFormat("a table definition's long-value maps never end");
    t.lvMaps.push_back({static_cast<int>(col), ReadMapRef(b, at), ReadMapRef(b, at + 4)});
    at += 8;
  }
  return t;
}

}  // namespace jetwriter
