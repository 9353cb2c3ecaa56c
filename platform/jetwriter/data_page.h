// Data pages (type 1) and the rows on them.
//
// Owns: splitting a page into rows and building a page image from rows.
// Failures: a malformed page throws kUnrecognizedFormat; rows that do not fit throw kUnsupported.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

// A row pointer: data page and row number.
struct RowId {
  std::uint32_t page = 0;
  int row = 0;
  bool operator==(const RowId&) const = default;
};

inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowOverflow = 0x4000;

// A data page (type 1) split into its rows. Rows are stored from the page end downwards in row
// order; a row runs from its start to the start of the row before it.
struct DataPage {
  struct Row {
    std::uint16_t flags = 0;
    Bytes data;
  };
  std::uint32_t owner = 0;  // TDEF page, 0 for usage-map holders, "LVAL" for long values
  std::vector<Row> rows;
  Bytes header;  // the page's header bytes up to the row table, kept as they were

  static DataPage Parse(const Bytes& page, const Format& f, std::uint32_t pageNo);
  // The page image; throws kUnsupported when the rows do not fit.
  Bytes Build(const Format& f) const;
  int FreeSpace(const Format& f) const;
  static Bytes NewHeader(const Format& f, std::uint32_t owner);
};

}  // namespace jetwriter
