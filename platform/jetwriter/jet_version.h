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
inline constexpr int kLastAceVersion = 5;

struct Format {
  bool jet4 = false;  // Jet 4 and the Access 2007+ (ACE) formats, which share its layout
  int version = 0;    // page 0's version byte: 0 Jet 3, 1 Jet 4, 2+ ACE
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
  // Sort version of the catalog's names (Jet 4 and later): 0 "General legacy", 1 "General"
  // (Access 2010 and later). Set when the catalog is read.
  int textSortVersion = 0;

  static Format Of(bool jet4);
};

// Reads page 0: Jet 3, Jet 4 or ACE up to kLastAceVersion, not encrypted. Sets the page size of
// `file`.
Format ReadDatabaseHeader(PageFile& file);

}  // namespace jetwriter
