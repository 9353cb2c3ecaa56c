// The error lines of the Norvane tools (ivex, vorlin) and of cmdshell.
//
// Owns: the one form these programs print a failure in, so that a program reading their output
// (the console program collects ivex's errors for its report) can pick the failures out.
// An error line is a single line, written to standard error:
//   "<tool>: error: <message>"
// <tool> is "ivex" (also for ivexw.exe), "vorlin" (also for vorlinw.exe) or "cmdshell"; the
// message holds no line break. The PostgreSQL target's tools print theirs in the same form
// ("createdb: error: ...", "psql: error: ..."), and psql a failing statement of a script as
// "psql:<file>:<line>: ERROR:  <message>", which counts as an error line too. The messages the
// programs print:
//   ivex: error: refused: <why>                          (nothing executed, exit status 2)
//   ivex: error: statement at line <n> (<its first line>[ ...]): <why>
//   ivex: error: the open transaction could not be committed: <why>
//   vorlin: error: cannot create <database file>: <why>
//   cmdshell: error: line <n> failed (<the line as written>): <why>
//   cmdshell: error: <tool> ended by signal <number>
//   cmdshell: error: <why the command file cannot be run at all>
// Every other output line (echoed command lines, ivex's statement echo, the rows a select
// returns, and ivex's closing count "ivex: <n> of the script's statements failed") is not an
// error line: the programs pass such text through OrdinaryOutput, so that not even a value in a
// row can pass for an error. Lines are the pieces between line feeds.
// Failures: none; these functions never throw beyond std::bad_alloc.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::shell {

// "<tool>: error: <message>", line breaks in the message turned into blanks; no newline at the end.
std::string ToolErrorLine(std::string_view tool, std::string_view message);

// `text` with a blank put before every line that would read as an error line.
std::string OrdinaryOutput(std::string_view text);

// True when `line` (one output line, a trailing CR or LF allowed) is an error line of ivex,
// vorlin or cmdshell in the form above.
bool IsToolErrorLine(std::string_view line);

// Picks the error lines out of a command file's output as it arrives in pieces.
class ToolErrorLines {
 public:
  void Take(std::string_view chunk);
  // The error lines since the last call.
  std::vector<std::string> TakeErrors();

 private:
  std::string pending_;
  std::vector<std::string> errors_;
};

}  // namespace platform::shell
