// Names quoted for SQL: the one quoting rule of the scripts, the target's statements and the
// translated expressions.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Where a quoted name goes: a statement handed over whole, or one line of a script file.
enum class QuotedIn { kStatement, kScriptLine };

// The name between double quotes, an embedded double quote doubled. A name that cannot be
// quoted is refused with a platform::Error (err::kBadFileName): one holding a NUL character
// (a statement ends there), and in a script line one holding any control character (a line
// break would split the statement).
std::string QuoteName(std::string_view name, QuotedIn in = QuotedIn::kStatement);

}  // namespace platform
