// Long values (memo and OLE columns): the 12-byte field a row holds (the length in the low 30
// bits of its first 4 bytes, 0x80 in the top byte when the value follows inline, 0x40 when it is
// one row of an LVAL page, 0 when it is a chain of LVAL rows; then the row and page of the
// first row), and the LVAL rows themselves (a chain's rows each start with the row and page of
// the next, 0 at the last).
//
// Owns: reading a value in any of the three forms; storing one out of the row.
// Failures: kUnrecognizedFormat for a field or chain that does not decode.
#pragma once

#include <cstddef>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"
#include "platform/jetwriter/usage_map.h"

namespace jetwriter {

// The value of the field `field`, read through its LVAL pages when it is not inline.
Bytes ReadLongValue(PageFile& file, const Format& f, const Bytes& field);

// The most bytes one LVAL row holds.
std::size_t LongValueRowMax(const Format& f);

// Stores `value` on new LVAL pages, one row on each (a chain when it needs more than one row),
// entered in the column's maps `owned` and `free`; returns the field the row holds.
Bytes StoreLongValue(PageFile& file, const Format& f, const Bytes& value, PageAllocator& pages,
                     MapRef owned, MapRef free);

}  // namespace jetwriter
