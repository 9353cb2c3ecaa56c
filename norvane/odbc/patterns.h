// ODBC search patterns as the catalog functions read them.
#pragma once

#include <string_view>

namespace norvane::odbc {

// True when `name` matches `pattern`: % any characters, _ one (UTF-8) character, \ takes the
// next character as it is. Letters compare as SQLite compares names (ASCII without case).
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace norvane::odbc
