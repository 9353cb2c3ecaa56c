// The pieces of a command-file line, split as the Windows command shell and C runtime split them.
//
// Owns: argument splitting by the Windows quoting rules, and the parts of a "copy" line.
// Failures: SplitCopyArguments throws platform::Error (err::kBadFileName) for a copy line without
// a source or a target; splitting arguments never fails.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::shell {

// Splits a command line into its program and arguments: blanks and tabs separate arguments
// outside double quotes; 2n backslashes before a quote give n backslashes and the quote opens or
// closes quoting, 2n+1 give n backslashes and a literal quote; "" inside quotes is a literal
// quote; other backslashes stand as they are. The program name (first element) ends at the next
// blank, or at its closing quote when it starts with one.
std::vector<std::string> SplitWindowsArguments(std::string_view line);

struct CopyArguments {
  std::vector<std::string> sources;  // joined one after the other
  std::string target;
};

// The arguments of "copy" (after the word itself): sources joined by "+", then the target;
// switches such as /b, /a and /y are dropped.
// Unquoted paths may hold blanks (short folder names such as "My Dat~1" keep theirs): when the
// text has no double quote and holds " + ", it is cut at each " + ", every part before the last
// is one source as it stands, and the last part is cut before its last blank-separated word that
// begins a path with a drive ("X:\" or "X:/"), the source before it and the target from it on.
// Without such a word after the last part's first, the Windows quoting rules below apply.
CopyArguments SplitCopyArguments(std::string_view arguments);

}  // namespace platform::shell
