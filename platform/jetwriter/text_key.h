// Index keys of text values under the "General" sort orders: Jet 3 "General 97", Jet 4 and
// Access 2007 "General legacy", Access 2010 and later "General".
//
// Owns: the key encoding of ascending, non-null text (inline codes, then accent, case and
// unprintable-character codes).
// Failures: a character whose code is not known (outside ASCII, Latin-1 and, for Jet 4 and
// later, Latin Extended-A) throws platform::Error dao::err::kUnsupported.
#pragma once

#include <string>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

// Key of an ascending, non-null text value (flag byte included), in the sort order of `f`.
Bytes TextKey(const std::string& utf8, const Format& f);

}  // namespace jetwriter
