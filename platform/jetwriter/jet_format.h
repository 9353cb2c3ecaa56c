// The parts of the Jet 3 / Jet 4 file format the catalog writer reads and writes: the database
// header, data pages and their rows, usage maps and table definitions.
//
// Owns: decoding and encoding of those structures, with every count, offset and length read from
// the file checked against the page it lies in.
// Failures: anything that does not match the expected layout throws platform::Error with
// dao::err::kUnrecognizedFormat; layouts the writer will not write (an .accdb, an encrypted file,
// an unknown sort order) throw dao::err::kUnsupported. Nothing here writes to the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/jetwriter/page_file.h"

namespace jetwriter {

[[noreturn]] void BadFormat(const std::string& what);
[[noreturn]] void Unsupported(const std::string& what);

std::uint32_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le24(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
void SetLe16(Bytes& b, std::size_t at, std::uint32_t v);
void SetLe24(Bytes& b, std::size_t at, std::uint32_t v);
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v);

// Offsets and sizes that differ between Jet 3 and Jet 4.
struct Format {
  bool jet4 = false;
  int pageSize = 0;
  int dataNumRows = 0;   // row count on a data page
  int dataRowTable = 0;  // first row-offset entry
  // table definition
  int tdefNumRows = 0, tdefType = 0, tdefMaxCols = 0, tdefNumVarCols = 0, tdefNumCols = 0;
  int tdefNumIdx = 0, tdefNumRealIdx = 0, tdefOwnedMap = 0, tdefFreeMap = 0, tdefIdxSlots = 0;
  int idxSlotSize = 0, colDescSize = 0, realIdxSize = 0, logIdxSize = 0;
  // column descriptor
  int colNumber = 0, colVarIndex = 0, colSort = 0, colFlags = 0, colFixedOffset = 0, colLength = 0;
  // index pages
  int idxPrev = 0, idxNext = 0, idxTail = 0, idxPrefix = 0, idxMarker = 0, idxBitmap = 0;
  int idxFirstEntry = 0, idxMaxEntryBytes = 0;
  int maxRowSize = 0;

  static Format Of(bool jet4);
};

// Reads page 0: Jet 3 or Jet 4, not encrypted, General sort order. Sets the page size of `file`.
Format ReadDatabaseHeader(PageFile& file);

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

// A column of a table definition, as far as rows are concerned.
struct Column {
  std::string name;
  int type = 0;
  int number = 0;
  int varIndex = 0;
  int fixedOffset = 0;
  int length = 0;
  int flags = 0;
  int sortOrder = 0;
  bool fixed() const { return (flags & 0x01) != 0; }
};

inline constexpr int kTypeBool = 1, kTypeByte = 2, kTypeInt = 3, kTypeLong = 4, kTypeMoney = 5,
                     kTypeFloat = 6, kTypeDouble = 7, kTypeDateTime = 8, kTypeBinary = 9,
                     kTypeText = 10, kTypeOle = 11, kTypeMemo = 12, kTypeGuid = 15,
                     kTypeNumeric = 16;

// One row's values by column number; nullopt is null. Fixed values are the stored bytes.
struct RowValues {
  int columnCount = 0;  // as stored in the row
  std::vector<std::optional<Bytes>> values;
};

RowValues DecodeRow(const Bytes& row, const Format& f, const std::vector<Column>& columns);
Bytes EncodeRow(const RowValues& v, const Format& f, const std::vector<Column>& columns);

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

// Text of a catalog column: code page 1252 bytes (Jet 3) or UCS-2 (Jet 4), from and to UTF-8.
// Encoding throws kUnsupported for a character the format cannot hold.
std::string DecodeText(const Bytes& b, const Format& f);
Bytes EncodeText(const std::string& utf8, const Format& f);
// Code points of a UTF-8 string; throws kUnsupported for malformed UTF-8.
std::u32string CodePoints(const std::string& utf8);

// Now as an OLE date (days since 1899-12-30), as stored in a DATETIME column.
Bytes OleDateNow();

}  // namespace jetwriter
