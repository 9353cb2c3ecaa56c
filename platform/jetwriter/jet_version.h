// Which Jet format a file has: page 0's version and encryption, and the offsets and sizes that
// differ between the versions.
//
// Owns: the Format table and the database header check.
// Failures: ReadDatabaseHeader throws kUnrecognizedFormat for a file without a Jet header and
// kUnsupported for versions and encrypted files the writer will not change.
#pragma once

#include "platform/jetwriter/page_file.h"

namespace jetwriter {

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

}  // namespace jetwriter
