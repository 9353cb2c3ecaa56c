#include "platform/jetwriter/jet_format.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {

void BadFormat(const std::string& what) {
  throw platform::Error(dao::err::kUnrecognizedFormat,
                        "Unrecognized database format: " + what + ".");
}

void Unsupported(const std::string& what) {
  throw platform::Error(dao::err::kUnsupported, what);
}

namespace {
void Need(const Bytes& b, std::size_t at, std::size_t n) {
  if (at > b.size() || n > b.size() - at) BadFormat("a field lies outside its page");
}
}  // namespace

std::uint32_t Le16(const Bytes& b, std::size_t at) {
  Need(b, at, 2);
  return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le24(const Bytes& b, std::size_t at) {
  Need(b, at, 3);
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16);
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
  Need(b, at, 4);
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void SetLe16(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 2);
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void SetLe24(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 3);
  for (int i = 0; i < 3; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Format Format::Of(bool jet4) {
  Format f;
  f.jet4 = jet4;
  if (!jet4) {
    f.pageSize = 2048;
    f.dataNumRows = 8;
    f.dataRowTable = 10;
    f.tdefNumRows = 12;
    f.tdefType = 20;
    f.tdefMaxCols = 21;
    f.tdefNumVarCols = 23;
    f.tdefNumCols = 25;
    f.tdefNumIdx = 27;
    f.tdefNumRealIdx = 31;
    f.tdefOwnedMap = 35;
    f.tdefFreeMap = 39;
    f.tdefIdxSlots = 43;
    f.idxSlotSize = 8;
    f.colDescSize = 18;
    f.realIdxSize = 39;
    f.logIdxSize = 20;
    f.colNumber = 1;
    f.colVarIndex = 3;
    f.colSort = 9;
    f.colFlags = 13;
    f.colFixedOffset = 14;
    f.colLength = 16;
    f.idxPrev = 8;
    f.idxNext = 12;
    f.idxTail = 16;
    f.idxPrefix = 0x14;
    f.idxMarker = 0x15;
    f.idxBitmap = 0x16;
    f.idxFirstEntry = 0xF8;
    f.idxMaxEntryBytes = 1800;
    f.maxRowSize = 2012;
  } else {
    f.pageSize = 4096;
    f.dataNumRows = 12;
    f.dataRowTable = 14;
    f.tdefNumRows = 16;
    f.tdefType = 40;
    f.tdefMaxCols = 41;
    f.tdefNumVarCols = 43;
    f.tdefNumCols = 45;
    f.tdefNumIdx = 47;
    f.tdefNumRealIdx = 51;
    f.tdefOwnedMap = 55;
    f.tdefFreeMap = 59;
    f.tdefIdxSlots = 63;
    f.idxSlotSize = 12;
    f.colDescSize = 25;
    f.realIdxSize = 52;
    f.logIdxSize = 28;
    f.colNumber = 5;
    f.colVarIndex = 7;
    f.colSort = 11;
    f.colFlags = 15;
    f.colFixedOffset = 21;
    f.colLength = 23;
    f.idxPrev = 12;
    f.idxNext = 16;
    f.idxTail = 20;
    f.idxPrefix = 0x18;
    f.idxMarker = 0x1A;
    f.idxBitmap = 0x1B;
    f.idxFirstEntry = 0x1E0;
    f.idxMaxEntryBytes = 3616;
    f.maxRowSize = 4060;
  }
  return f;
}

namespace {
// The header of page 0 is masked with a fixed RC4 key.
void Rc4(const std::uint8_t* key, int keyLen, std::uint8_t* data, std::size_t n) {
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % keyLen]) & 255;
    std::swap(s[i], s[j]);
  }
  for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 255];
  }
}
}  // namespace

Format ReadDatabaseHeader(PageFile& file) {
  file.SetPageSize(2048);
  Bytes p = file.Read(0);
  static const char kJet[] = "Standard Jet DB";
  if (p[0] != 0 || std::memcmp(p.data() + 4, kJet, sizeof kJet - 1) != 0) {
    if (std::memcmp(p.data() + 4, "Standard ACE DB", 15) == 0) {
      Unsupported(
          "The file is an Access 2007 or later database (.accdb); only Jet 3 and Jet 4 "
          "files can be changed.");
    }
    BadFormat("no Jet database header");
  }
  int version = p[0x14];
  if (version != 0 && version != 1) {
    Unsupported("The database format version " + std::to_string(version) +
                " cannot be changed; only Jet 3 and Jet 4 files can.");
  }
  Format f = Format::Of(version == 1);
  if (f.jet4) file.SetPageSize(4096);
  p = file.Read(0);
  const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4(key, 4, p.data() + 0x18, f.jet4 ? 128 : 126);
  if (Le32(p, 0x3E) != 0) Unsupported("The database is encrypted and cannot be changed.");
  return f;
}

DataPage DataPage::Parse(const Bytes& page, const Format& f, std::uint32_t pageNo) {
  std::string where = "data page " + std::to_string(pageNo);
  if (page.size() != static_cast<std::size_t>(f.pageSize) || page[0] != 0x01) {
    BadFormat(where + " is not a data page");
  }
  DataPage d;
  d.owner = Le32(page, 4);
  d.header.assign(page.begin(), page.begin() + f.dataRowTable);
  int n = static_cast<int>(Le16(page, f.dataNumRows));
  int tableEnd = f.dataRowTable + 2 * n;
  if (n > 255 || tableEnd > f.pageSize) BadFormat(where + " has a bad row count");
  int prev = f.pageSize;
  for (int i = 0; i < n; ++i) {
    std::uint16_t raw = static_cast<std::uint16_t>(Le16(page, f.dataRowTable + 2 * i));
    int start = raw & 0x1FFF;
    if (start < tableEnd || start > prev) {
      Unsupported("The rows of " + where + " are not stored in the expected order.");
    }
    Row r;
    r.flags = raw & 0xC000;
    r.data.assign(page.begin() + start, page.begin() + prev);
    d.rows.push_back(std::move(r));
    prev = start;
  }
  return d;
}

int DataPage::FreeSpace(const Format& f) const {
  int used = f.dataRowTable + 2 * static_cast<int>(rows.size());
  for (const Row& r : rows) used += static_cast<int>(r.data.size());
  return f.pageSize - used;
}

Bytes DataPage::Build(const Format& f) const {
  if (rows.size() > 255 || FreeSpace(f) < 0) {
    Unsupported("A page of the catalog has no room for the change.");
  }
  Bytes page(static_cast<std::size_t>(f.pageSize), 0);
  std::copy(header.begin(), header.end(), page.begin());
  page[0] = 0x01;
  page[1] = 0x01;
  SetLe16(page, 2, static_cast<std::uint32_t>(FreeSpace(f)));
  SetLe16(page, f.dataNumRows, static_cast<std::uint32_t>(rows.size()));
  int pos = f.pageSize;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    pos -= static_cast<int>(rows[i].data.size());
    std::copy(rows[i].data.begin(), rows[i].data.end(), page.begin() + pos);
    SetLe16(page, f.dataRowTable + 2 * i, static_cast<std::uint32_t>(pos) | rows[i].flags);
  }
  return page;
}

Bytes DataPage::NewHeader(const Format& f, std::uint32_t owner) {
  Bytes h(static_cast<std::size_t>(f.dataRowTable), 0);
  h[0] = 0x01;
  h[1] = 0x01;
  SetLe32(h, 4, owner);
  return h;
}

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

MapRef ReadMapRef(const Bytes& b, std::size_t at) {
  return MapRef{static_cast<int>(b.at(at)), Le24(b, at + 1)};
}

namespace {
struct MapRow {
  DataPage holder;
  Bytes* row = nullptr;
};

MapRow LoadMap(PageFile& file, const Format& f, MapRef ref) {
  if (ref.page == 0 || ref.page >= file.PageCount()) BadFormat("a usage map points nowhere");
  MapRow m{DataPage::Parse(file.Read(ref.page), f, ref.page), nullptr};
  if (ref.row < 0 || static_cast<std::size_t>(ref.row) >= m.holder.rows.size()) {
    BadFormat("a usage map row does not exist");
  }
  m.row = &m.holder.rows[static_cast<std::size_t>(ref.row)].data;
  if (m.row->size() < 5 || ((*m.row)[0] != 0 && (*m.row)[0] != 1)) {
    BadFormat("a usage map has an unknown type");
  }
  return m;
}

std::uint32_t BitsPerMapPage(const Format& f) {
  return static_cast<std::uint32_t>(f.pageSize - 4) * 8;
}
}  // namespace

std::vector<std::uint32_t> MapPages(PageFile& file, const Format& f, MapRef ref) {
  MapRow m = LoadMap(file, f, ref);
  const Bytes& r = *m.row;
  std::vector<std::uint32_t> pages;
  std::uint32_t limit = file.PageCount();
  if (r[0] == 0) {
    std::uint32_t start = Le32(r, 1);
    for (std::size_t i = 0; i < (r.size() - 5) * 8; ++i) {
      if ((r[5 + i / 8] >> (i % 8)) & 1) {
        std::uint64_t p = start + i;
        if (p < limit) pages.push_back(static_cast<std::uint32_t>(p));
      }
    }
    return pages;
  }
  for (std::size_t k = 0; 1 + 4 * k + 4 <= r.size(); ++k) {
    std::uint32_t mp = Le32(r, 1 + 4 * k);
    if (mp == 0) continue;
    if (mp >= limit) BadFormat("a usage map page lies beyond the end of the file");
    Bytes bm = file.Read(mp);
    if (bm[0] != 0x05) BadFormat("a usage map page has the wrong type");
    for (std::uint32_t i = 0; i < BitsPerMapPage(f); ++i) {
      if ((bm[4 + i / 8] >> (i % 8)) & 1) {
        std::uint64_t p = k * BitsPerMapPage(f) + i;
        if (p < limit) pages.push_back(static_cast<std::uint32_t>(p));
      }
    }
  }
  return pages;
}

namespace {
void SetBit(Bytes& b, std::size_t at, std::size_t i, bool on) {
  if (on) {
    b[at + i / 8] |= static_cast<std::uint8_t>(1 << (i % 8));
  } else {
    b[at + i / 8] &= static_cast<std::uint8_t>(~(1 << (i % 8)));
  }
}

Bytes NewMapPage(const Format& f) {
  Bytes p(static_cast<std::size_t>(f.pageSize), 0);
  p[0] = 0x05;
  p[1] = 0x01;
  return p;
}
}  // namespace

void SetMapBit(PageFile& file, const Format& f, MapRef ref, std::uint32_t page, bool on,
               PageAllocator* pages) {
  MapRow m = LoadMap(file, f, ref);
  Bytes& r = *m.row;
  bool global = ref.page == 1 && ref.row == 0;
  const std::uint32_t perPage = BitsPerMapPage(f);
  if (r[0] == 0) {
    std::uint32_t start = Le32(r, 1);
    if (page < start) Unsupported("A usage map does not cover page " + std::to_string(page) + ".");
    std::size_t i = page - start;
    if (i < (r.size() - 5) * 8) {
      SetBit(r, 5, i, on);
      file.Write(ref.page, m.holder.Build(f));
      return;
    }
    if (!on && !global) return;  // not marked anyway
    if (on && global) return;    // past the map counts as free
    Bytes grown = r;
    grown.resize(5 + (i / 8 + 1 + 3) / 4 * 4, global ? 0xFF : 0x00);
    SetBit(grown, 5, i, on);
    Bytes old = r;
    r = grown;
    if (m.holder.FreeSpace(f) >= 0 || global || pages == nullptr) {
      file.Write(ref.page, m.holder.Build(f));
      return;
    }
    // No room to grow: the map becomes a list of bitmap pages holding the same bits.
    std::uint64_t end = std::max<std::uint64_t>(start + (old.size() - 5) * 8, page + 1ull);
    std::size_t count = static_cast<std::size_t>((end + perPage - 1) / perPage);
    std::vector<std::uint32_t> mapPages;
    for (std::size_t k = 0; k < count; ++k) mapPages.push_back(pages->Allocate());
    std::vector<Bytes> images(count, NewMapPage(f));
    for (std::size_t b = 0; b < (old.size() - 5) * 8; ++b) {
      if (((old[5 + b / 8] >> (b % 8)) & 1) == 0) continue;
      std::uint64_t p = start + b;
      SetBit(images[p / perPage], 4, p % perPage, true);
    }
    SetBit(images[page / perPage], 4, page % perPage, on);
    r.assign(1 + 4 * count, 0);
    r[0] = 0x01;
    for (std::size_t k = 0; k < count; ++k) {
      SetLe32(r, 1 + 4 * k, mapPages[k]);
      file.Write(mapPages[k], std::move(images[k]));
    }
    file.Write(ref.page, m.holder.Build(f));
    return;
  }
  std::size_t k = page / perPage;
  std::uint32_t mp = 1 + 4 * k + 4 <= r.size() ? Le32(r, 1 + 4 * k) : 0;
  if (mp == 0) {
    if (!on) return;
    if (pages == nullptr)
      Unsupported("A usage map does not cover page " + std::to_string(page) + ".");
    mp = pages->Allocate();
    file.Write(mp, NewMapPage(f));
    if (r.size() < 1 + 4 * (k + 1)) r.resize(1 + 4 * (k + 1), 0);
    SetLe32(r, 1 + 4 * k, mp);
    file.Write(ref.page, m.holder.Build(f));
  }
  if (mp >= file.PageCount()) BadFormat("a usage map page lies beyond the end of the file");
  Bytes bm = file.Read(mp);
  if (bm[0] != 0x05) BadFormat("a usage map page has the wrong type");
  SetBit(bm, 4, page % perPage, on);
  file.Write(mp, std::move(bm));
}

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
    if (f.jet4 && (c.type == kTypeText || c.type == kTypeMemo) && b[at + 14] != 0) {
      c.sortOrder = -1;  // a sort-order version we do not know
    }
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

namespace {
// Code page 1252 at 0x80..0x9F; 0 where the code page has no character.
const char32_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::u32string CodePoints(const std::string& s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) Unsupported("The name is not valid UTF-8 text.");
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) Unsupported("The name is not valid UTF-8 text.");
      cp = (cp << 6) | (cc & 0x3F);
    }
    out += cp;
    i += static_cast<std::size_t>(n);
  }
  return out;
}

std::string DecodeText(const Bytes& b, const Format& f) {
  std::string out;
  if (!f.jet4) {
    for (std::uint8_t c : b) {
      char32_t cp = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
      platform::AppendUtf8(out, cp == 0 ? 0xFFFD : cp);
    }
    return out;
  }
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {  // compressed unicode
    bool compressed = true;
    for (std::size_t i = 2; i < b.size();) {
      if (b[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        platform::AppendUtf8(out, b[i++]);
      } else if (i + 1 < b.size()) {
        platform::AppendUtf8(out, b[i] | (b[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < b.size(); i += 2)
    platform::AppendUtf8(out, b[i] | (b[i + 1] << 8));
  return out;
}

Bytes EncodeText(const std::string& utf8, const Format& f) {
  Bytes out;
  for (char32_t c : CodePoints(utf8)) {
    if (!f.jet4) {
      if (c > 0xFF || (c >= 0x80 && c < 0xA0)) {
        Unsupported("The character U+" + std::to_string(static_cast<unsigned>(c)) +
                    " cannot be stored in a Jet 3 catalog name.");
      }
      out.push_back(static_cast<std::uint8_t>(c));
    } else {
      if (c > 0xFFFF)
        Unsupported("Characters outside the Basic Multilingual Plane cannot be stored.");
      out.push_back(static_cast<std::uint8_t>(c));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  return out;
}

Bytes OleDateNow() {
  double days = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  Bytes b(8);
  std::memcpy(b.data(), &days, 8);
  return b;
}

}  // namespace jetwriter
