// Table definitions (TDEF pages): columns, real indexes and long-value maps.
//
// Owns: reading a definition across its chain of pages.
// Failures: a malformed definition throws kUnrecognizedFormat; an index the writer does not
// handle (descending) throws kUnsupported.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"
#include "platform/jetwriter/row_codec.h"
#include "platform/jetwriter/usage_map.h"

namespace jetwriter {

// The real indexes and long-value maps of a table definition.
struct RealIndex {
  std::vector<int> columns;  // column numbers, ascending only
  MapRef map;
  std::uint32_t root = 0;
  int flags = 0;
  std::size_t slotAt = 0;  // offset of its count slot in the TDEF
};

struct TableDef {
  std::uint32_t page = 0;
  Bytes bytes;  // the whole definition (all TDEF pages joined)
  std::uint32_t numRows = 0;
  std::vector<Column> columns;  // by column number
  std::vector<RealIndex> indexes;
  MapRef ownedMap, freeMap;
  struct LongValueMaps {
    int column = 0;
    MapRef owned, free;
  };
  std::vector<LongValueMaps> lvMaps;
};

TableDef ReadTableDef(PageFile& file, const Format& f, std::uint32_t page);

}  // namespace jetwriter
