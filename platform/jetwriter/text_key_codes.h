// Index key codes of single characters under the Jet 4 / ACE "General" sort orders, for the
// characters catalog names hold: ASCII, Latin-1 and Latin Extended-A (U+0020-U+007E,
// U+00A0-U+017F).
//
// Owns: the code values only (sorted by character). Nothing here fails.
#pragma once

#include <span>

namespace jetwriter {

struct KeyCode {
  char16_t ch;
  const char* inline_;  // bytes written in place of the character (none for unprintable ones)
  const char* extra;    // extra code (accents, case) or, when unprintable, the unprintable code
  bool unprintable = false;
  bool ignored = false;
};

// "General legacy": Jet 4 and Access 2007 files (sort version 0).
std::span<const KeyCode> GeneralLegacyCodes();
// "General": Access 2010 and later files (sort version 1).
std::span<const KeyCode> GeneralCodes();

}  // namespace jetwriter
