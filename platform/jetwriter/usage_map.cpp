#include "platform/jetwriter/usage_map.h"

#include <algorithm>
#include <string>

#include "platform/jetwriter/data_page.h"
#include "platform/jetwriter/jet_bytes.h"

namespace jetwriter {

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

}  // namespace jetwriter
