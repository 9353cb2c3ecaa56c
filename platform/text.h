// Small string rules shared by the wizard and the tools: blanks, letter case, UTF-8 characters.
// Strings are UTF-8; "characters" are code points. Letter case is folded for ASCII letters only,
// which is how SQLite compares identifiers, so lower-cased names still name the same column.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Removes leading and trailing blanks (the space character only).
std::string Trim(std::string_view s);
std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// Appends code point c as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Number of UTF-8 characters in s (a malformed byte counts as one character).
std::size_t CharCount(std::string_view s);
// The first n characters of s (all of s when it is shorter).
std::string LeftChars(std::string_view s, std::size_t n);
// s without its last n characters (empty when it has n or fewer).
std::string DropLastChars(std::string_view s, std::size_t n);

}  // namespace platform
