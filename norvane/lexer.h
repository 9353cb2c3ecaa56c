// Tokens of the Norvane SQL dialect, and the split of a script into statements.
//
// Owns: the token rules shared by the script reader, the dialect and the procedure interpreter:
// words, 'strings' and "names" with doubled quotes, [names], numbers, operators and comments.
// Failures: never throws; an unterminated string, name or comment becomes a kBad token that the
// statement holding it reports when it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

struct Token {
  enum Kind { kWord, kQuotedName, kString, kNumber, kSymbol, kBad };
  Kind kind = kSymbol;
  std::string text;                // the source text of the token, quotes included
  std::string value;               // a name or string without its quotes; otherwise the text
  std::size_t begin = 0, end = 0;  // byte offsets in the source
  int line = 1;

  // A bare word equal to `word`, without regard to ASCII letter case.
  bool Is(std::string_view word) const;
  bool IsSymbol(std::string_view symbol) const { return kind == kSymbol && text == symbol; }
  // A bare word or a quoted name: something that names an object.
  bool IsName() const { return kind == kWord || kind == kQuotedName; }
};

// `firstLine` numbers the line the source starts on.
std::vector<Token> Tokenize(std::string_view source, int firstLine = 1);

struct ScriptStatement {
  std::string text;  // from its first token to its last, without the closing ';'
  int line = 0;      // line of its first token
};

// Splits at ';' outside quotes and comments. A begin ... end block (with its end if, end loop,
// case ... end) is one statement; "begin;" and "begin transaction" are not blocks.
std::vector<ScriptStatement> SplitScript(std::string_view script);

}  // namespace norvane
