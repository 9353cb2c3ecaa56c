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

// The head of a connect string that names an ODBC data source, letter case ignored.
inline constexpr std::string_view kOdbcPrefix = "ODBC;";
bool IsOdbcConnect(std::string_view connect);
// The connect string without its "ODBC;" head; unchanged when it has none.
std::string WithoutOdbcPrefix(std::string_view connect);

// Appends code point c as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Code page 1252 text as Windows decodes it: the five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+0081, U+008D, U+008F, U+0090 and U+009D.
std::string Cp1252ToUtf8(std::string_view bytes);
// The reverse; false (and `out` incomplete) for malformed UTF-8 or a character the code page
// cannot hold.
bool Utf8ToCp1252(std::string_view utf8, std::string& out);

// Number of UTF-8 characters in s (a malformed byte counts as one character).
std::size_t CharCount(std::string_view s);
// The first n characters of s (all of s when it is shorter).
std::string LeftChars(std::string_view s, std::size_t n);
// s without its last n characters (empty when it has n or fewer).
std::string DropLastChars(std::string_view s, std::size_t n);
// The columns s takes in a fixed-width font: a combining mark none, a wide (East Asian)
// character two, any other character (a malformed byte too) one.
std::size_t DisplayWidth(std::string_view s);
// s followed by blanks up to `width` columns (s itself when it is as wide or wider).
std::string PadToWidth(std::string_view s, std::size_t width);

}  // namespace platform
