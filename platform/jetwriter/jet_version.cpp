#include "platform/jetwriter/jet_version.h"

#include <cstring>
#include <string>
#include <utility>

#include "platform/access_format.h"
#include "platform/jetwriter/jet_bytes.h"

namespace jetwriter {

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

Format ReadDatabaseHeader(PageFile& file) {
  file.SetPageSize(2048);
  Bytes p = file.Read(0);
  const bool jet = std::memcmp(p.data() + 4, "Standard Jet DB", 15) == 0;
  const bool ace = std::memcmp(p.data() + 4, "Standard ACE DB", 15) == 0;
  if (p[0] != 0 || (!jet && !ace)) BadFormat("no Jet database header");
  // Jet 3 (0), Jet 4 (1); Access 2007 (2), 2010 (3), 2013 and 2016 (4, 5) keep Jet 4's layout.
  const int version = p[0x14];
  if ((jet && version > 1) || (ace && (version < 2 || version > kLastAceVersion))) {
    Unsupported("The database format version " + std::to_string(version) +
                " cannot be changed; files of Access 97 to Access 2016 can.");
  }
  Format f = Format::Of(version >= 1);
  f.version = version;
  if (f.jet4) file.SetPageSize(4096);
  p = file.Read(0);
  platform::UnmaskJetHeader(p.data() + 0x18, f.jet4 ? 128 : 126);
  if (Le32(p, 0x3E) != 0) Unsupported("The database is encrypted and cannot be changed.");
  return f;
}

}  // namespace jetwriter
