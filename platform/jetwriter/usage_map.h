// Usage maps: which pages a table, an index or the whole file owns or has free.
//
// Owns: reading maps (inline and by reference) and setting or clearing one page's bit, growing
// an inline map or turning it into a reference map when its holder page has no room.
// Failures: a malformed map throws kUnrecognizedFormat; a map that cannot cover a page throws
// kUnsupported. Changes go through PageFile::Write.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

// A usage map: a row on a holder page, inline (bitmap) or by reference (bitmap pages).
struct MapRef {
  int row = 0;
  std::uint32_t page = 0;
};
MapRef ReadMapRef(const Bytes& b, std::size_t at);
// The pages a map marks (for the global map: the free pages within the file).
std::vector<std::uint32_t> MapPages(PageFile& file, const Format& f, MapRef ref);
// Where new pages come from and freed pages go.
struct PageAllocator {
  virtual ~PageAllocator() = default;
  virtual std::uint32_t Allocate() = 0;
  virtual void Release(std::uint32_t page) = 0;
};

// Marks or unmarks `page` in the map. An inline map grows within its holder page; when the page
// has no room and `pages` is given, the map becomes a reference map with bitmap pages.
void SetMapBit(PageFile& file, const Format& f, MapRef ref, std::uint32_t page, bool on,
               PageAllocator* pages = nullptr);

}  // namespace jetwriter
