#include "norvane/lexer.h"

#include <cctype>

#include "platform/text.h"

namespace norvane {
namespace {

bool IsWordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c == '@' || c >= 0x80;
}

int CountLines(std::string_view s) {
  int n = 0;
  for (char c : s) n += (c == '\n');
  return n;
}

// Scans a quoted token closed by `close`, where a doubled `close` stands for itself.
// Returns the offset after the closing quote, or npos when it is not closed.
std::size_t ScanQuoted(std::string_view s, std::size_t i, char close, std::string& value,
                       bool doubling) {
  for (++i; i < s.size(); ++i) {
    if (s[i] == close) {
      if (doubling && i + 1 < s.size() && s[i + 1] == close) {
        value += close;
        ++i;
        continue;
      }
      return i + 1;
    }
    value += s[i];
  }
  return std::string_view::npos;
}

}  // namespace

bool Token::Is(std::string_view word) const {
  return kind == kWord && platform::EqualsNoCase(text, word);
}

std::vector<Token> Tokenize(std::string_view s, int firstLine) {
  std::vector<Token> tokens;
  int line = firstLine;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if ((c == '-' && i + 1 < s.size() && s[i + 1] == '-') ||
        (c == '/' && i + 1 < s.size() && s[i + 1] == '/')) {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    Token t;
    t.begin = i;
    t.line = line;
    std::size_t end = i + 1;
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      const std::size_t close = s.find("*/", i + 2);
      if (close != std::string_view::npos) {
        line += CountLines(s.substr(i, close + 2 - i));
        i = close + 2;
        continue;
      }
      t.kind = Token::kBad;
      t.value = "unterminated comment";
      end = s.size();
    } else if (c == '\'' || c == '"' || c == '[' || c == '`') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      end = ScanQuoted(s, i, close, t.value, c != '[');
      if (end == std::string_view::npos) {
        t.kind = Token::kBad;
        t.value = c == '\'' ? "unterminated string" : "unterminated quoted name";
        end = s.size();
      } else {
        t.kind = c == '\'' ? Token::kString : Token::kQuotedName;
      }
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(s[i + 1]))) {
      t.kind = Token::kNumber;
      while (end < s.size() &&
             (std::isalnum(static_cast<unsigned char>(s[end])) || s[end] == '.' ||
              ((s[end] == '+' || s[end] == '-') && (s[end - 1] == 'e' || s[end - 1] == 'E'))))
        ++end;
    } else if (IsWordChar(c)) {
      t.kind = Token::kWord;
      while (end < s.size() && IsWordChar(static_cast<unsigned char>(s[end]))) ++end;
    } else {
      t.kind = Token::kSymbol;
      static const char* const kPairs[] = {"||", "<>", "!=", "<=", ">=", "==", "<<", ">>"};
      for (const char* p : kPairs)
        if (s.substr(i, 2) == p) end = i + 2;
    }
    t.end = end;
    t.text = std::string(s.substr(i, end - i));
    if (t.kind == Token::kWord || t.kind == Token::kNumber || t.kind == Token::kSymbol)
      t.value = t.text;
    line += CountLines(t.text);
    tokens.push_back(std::move(t));
    i = end;
  }
  return tokens;
}

std::vector<ScriptStatement> SplitScript(std::string_view script) {
  const std::vector<Token> tokens = Tokenize(script);
  std::vector<ScriptStatement> out;
  std::vector<bool> blocks;  // open begin/case constructs
  std::size_t first = 0;     // first token of the current statement
  auto finish = [&](std::size_t endToken) {
    if (endToken > first) {
      const Token& a = tokens[first];
      const Token& b = tokens[endToken - 1];
      out.push_back({std::string(script.substr(a.begin, b.end - a.begin)), a.line});
    }
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    const Token* next = i + 1 < tokens.size() ? &tokens[i + 1] : nullptr;
    if (t.Is("begin")) {
      const bool transaction = !next || next->IsSymbol(";") || next->Is("transaction") ||
                               next->Is("deferred") || next->Is("immediate") ||
                               next->Is("exclusive");
      if (!transaction) blocks.push_back(true);
    } else if (t.Is("case")) {
      blocks.push_back(true);
    } else if (t.Is("end")) {
      const bool closesOther =
          next && (next->Is("if") || next->Is("loop") || next->Is("while") || next->Is("for"));
      if (!closesOther && !blocks.empty()) blocks.pop_back();
      if (next && next->Is("case")) ++i;  // "end case" closes the case it names
    } else if (t.IsSymbol(";") && blocks.empty()) {
      finish(i);
      first = i + 1;
    }
  }
  finish(tokens.size());
  return out;
}

}  // namespace norvane
