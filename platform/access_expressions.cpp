#include "platform/access_expressions.h"

#include <cctype>
#include <cstdio>
#include <optional>

#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::access_sql {
namespace {

struct Token {
  enum Kind { kEnd, kNumber, kString, kDate, kName, kWord, kSymbol } kind = kEnd;
  std::string text;  // a string's or a name's value; a word or symbol as written
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Splits an expression; nothing when it holds a character outside the language.
std::optional<std::vector<Token>> Tokenize(std::string_view s) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < s.size() &&
                std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      std::size_t j = i;
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
          j = k;
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        }
      }
      const std::string number(s.substr(i, j - i));
      if (number.find('.') != number.rfind('.')) return std::nullopt;
      out.push_back({Token::kNumber, number});
      i = j;
    } else if (c == '"' || c == '\'') {
      std::string value;
      std::size_t j = i + 1;
      while (true) {
        if (j >= s.size()) return std::nullopt;
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            value += c;
            j += 2;
            continue;
          }
          break;
        }
        value += s[j++];
      }
      out.push_back({Token::kString, value});
      i = j + 1;
    } else if (c == '#') {
      const std::size_t close = s.find('#', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      out.push_back({Token::kDate, std::string(s.substr(i + 1, close - i - 1))});
      i = close + 1;
    } else if (c == '[') {
      const std::size_t close = s.find(']', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      out.push_back({Token::kName, std::string(s.substr(i + 1, close - i - 1))});
      i = close + 1;
    } else if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < s.size() && IsWordChar(s[j])) ++j;
      out.push_back({Token::kWord, std::string(s.substr(i, j - i))});
      i = j;
    } else {
      std::string symbol(1, c);
      if ((c == '<' || c == '>') && i + 1 < s.size() &&
          (s[i + 1] == '=' || (c == '<' && s[i + 1] == '>')))
        symbol += s[i + 1];
      if (std::string_view("<>=(),+-*/&!").find(c) == std::string_view::npos) return std::nullopt;
      out.push_back({Token::kSymbol, symbol});
      i += symbol.size();
    }
  }
  out.push_back({Token::kEnd, ""});
  return out;
}

std::string QuoteText(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? "''" : std::string(1, c);
  return out + "'";
}

// #m/d/yyyy#, #yyyy-mm-dd#, each with an optional time "h:mm[:ss]" (and AM/PM) as the target's
// date/time text; nothing for anything else.
std::optional<std::string> DateText(const std::string& literal) {
  int a = 0, b = 0, c = 0, h = 0, m = 0, sec = 0, n = 0;
  char sep = 0, rest[16] = {};
  const std::string text = Trim(literal);
  int year = 0, month = 0, day = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%*c%d%n", &a, &sep, &b, &c, &n) == 4 &&
      (sep == '/' || sep == '-')) {
    if (sep == '-' && a > 31) {
      year = a, month = b, day = c;
    } else {
      month = a, day = b, year = c;
    }
  } else {
    return std::nullopt;
  }
  std::string tail = Trim(text.substr(static_cast<std::size_t>(n)));
  if (!tail.empty()) {
    int used = 0;
    const int got = std::sscanf(tail.c_str(), "%d:%d%n:%d%n", &h, &m, &used, &sec, &used);
    if (got < 2) return std::nullopt;
    std::string ampm = Trim(tail.substr(static_cast<std::size_t>(used)));
    if (!ampm.empty()) {
      if (std::sscanf(ampm.c_str(), "%15s", rest) != 1) return std::nullopt;
      const std::string word = LowerAscii(rest);
      if (word == "pm" && h < 12)
        h += 12;
      else if (word == "am" && h == 12)
        h = 0;
      else if (word != "am" && word != "pm")
        return std::nullopt;
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 100 || year > 9999 || h > 23 ||
      m > 59 || sec > 59)
    return std::nullopt;
  char out[80];  // room for any int, so the compiler sees no truncation
  std::snprintf(out, sizeof out, "'%04d-%02d-%02d %02d:%02d:%02d'", year, month, day, h, m, sec);
  return std::string(out);
}

bool IsWord(const Token& t, std::string_view word) {
  return t.kind == Token::kWord && EqualsNoCase(t.text, word);
}

bool IsSymbol(const Token& t, std::string_view symbol) {
  return t.kind == Token::kSymbol && t.text == symbol;
}

struct Untranslated {
  std::string why;
};

// Recursive descent over one rule; throws Untranslated.
class RuleWriter {
 public:
  RuleWriter(std::vector<Token> tokens, const std::string& column,
             const std::vector<ColumnKind>& columns)
      : t_(std::move(tokens)), column_(column), columns_(columns) {}

  std::string Rule() {
    std::string sql = Or();
    if (t_[i_].kind != Token::kEnd) Fail("unexpected '" + t_[i_].text + "'");
    return sql;
  }

 private:
  struct Operand {
    std::string sql;
    ValueKind kind = ValueKind::kOther;
    bool column = false;
  };

  [[noreturn]] static void Fail(const std::string& why) { throw Untranslated{why}; }

  const Token& Next() { return t_[i_++]; }
  bool Accept(std::string_view word) {
    if (!IsWord(t_[i_], word)) return false;
    ++i_;
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!IsSymbol(t_[i_], symbol)) return false;
    ++i_;
    return true;
  }

  std::string Or() {
    std::string sql = And();
    while (Accept("Or")) sql = "(" + sql + " OR " + And() + ")";
    return sql;
  }
  std::string And() {
    std::string sql = Not();
    while (Accept("And")) sql = "(" + sql + " AND " + Not() + ")";
    return sql;
  }
  std::string Not() {
    if (Accept("Not")) return "(NOT " + Not() + ")";
    return Predicate();
  }

  static bool IsComparison(const Token& t) {
    for (const char* op : {"=", "<>", "<", "<=", ">", ">="})
      if (IsSymbol(t, op)) return true;
    return false;
  }
  bool StartsTail() const {
    const Token& t = t_[i_];
    return IsComparison(t) || IsWord(t, "Between") || IsWord(t, "In") || IsWord(t, "Like") ||
           IsWord(t, "Is") ||
           (IsWord(t, "Not") && (IsWord(t_[i_ + 1], "In") || IsWord(t_[i_ + 1], "Like")));
  }

  // The field a field's rule leaves out.
  Operand ImplicitColumn() {
    if (column_.empty()) Fail("a comparison has no left side");
    return ColumnOperand(column_);
  }

  Operand ColumnOperand(const std::string& name) {
    for (const ColumnKind& c : columns_) {
      if (!EqualsNoCase(c.name, name)) continue;
      const std::string quoted = platform::QuoteName(c.name);
      switch (c.kind) {
        case ValueKind::kText:
          return {quoted + " COLLATE NOCASE", c.kind, true};
        case ValueKind::kExactNumber:
          return {"CAST(" + quoted + " AS REAL)", c.kind, true};
        case ValueKind::kOther:
          Fail("it compares the binary field [" + c.name + "]");
        default:
          return {quoted, c.kind, true};
      }
    }
    Fail("it names [" + name + "], which is no field of the table");
  }

  Operand Value() {
    const Token& t = Next();
    switch (t.kind) {
      case Token::kNumber:
        return {t.text, ValueKind::kNumber, false};
      case Token::kString:
        return {QuoteText(t.text), ValueKind::kText, false};
      case Token::kDate: {
        const auto date = DateText(t.text);
        if (!date) Fail("the date #" + t.text + "# is not understood");
        return {*date, ValueKind::kDateTime, false};
      }
      case Token::kName:
        return ColumnOperand(t.text);
      case Token::kWord: {
        if (IsSymbol(t_[i_], "("))
          Fail("it calls the function " + t.text + "(), which the target cannot check");
        if (EqualsNoCase(t.text, "True") || EqualsNoCase(t.text, "Yes") ||
            EqualsNoCase(t.text, "On"))
          return {TrueValue(), ValueKind::kBoolean, false};
        if (EqualsNoCase(t.text, "False") || EqualsNoCase(t.text, "No") ||
            EqualsNoCase(t.text, "Off"))
          return {"0", ValueKind::kBoolean, false};
        if (EqualsNoCase(t.text, "Null")) return {"NULL", ValueKind::kOther, false};
        return ColumnOperand(t.text);
      }
      case Token::kSymbol:
        if (t.text == "-" && t_[i_].kind == Token::kNumber)
          return {"-" + Next().text, ValueKind::kNumber, false};
        if (t.text == "(") {
          --i_;
          Fail("a parenthesis stands where a value belongs");
        }
        Fail("unexpected '" + t.text + "'");
      case Token::kEnd:
        break;
    }
    Fail("the rule ends early");
  }

  // Access's True is -1; a Yes/No field on the target holds 1.
  std::string TrueValue() const {
    for (const ColumnKind& c : columns_)
      if (!column_.empty() && EqualsNoCase(c.name, column_) && c.kind != ValueKind::kBoolean)
        return "-1";
    return "1";
  }

  Operand Operand1() {
    Operand v = Value();
    if (IsSymbol(t_[i_], "+") || IsSymbol(t_[i_], "-") || IsSymbol(t_[i_], "*") ||
        IsSymbol(t_[i_], "/") || IsSymbol(t_[i_], "&"))
      Fail("it computes with '" + t_[i_].text + "'");
    return v;
  }

  std::string Predicate() {
    if (IsSymbol(t_[i_], "(")) {
      ++i_;
      std::string inner = Or();
      if (!AcceptSymbol(")")) Fail("a parenthesis is not closed");
      if (!StartsTail()) return inner;
      Fail("a parenthesised condition is compared");
    }
    const Operand left = StartsTail() ? ImplicitColumn() : Operand1();
    if (!StartsTail()) {
      if (left.column && left.kind == ValueKind::kBoolean) return "(" + left.sql + " <> 0)";
      Fail("'" + left.sql + "' is not a condition");
    }
    const Token& op = Next();
    if (IsComparison(op)) {
      const Operand right = Operand1();
      if (right.sql == "NULL") Fail("it compares with Null");
      return "(" + left.sql + " " + op.text + " " + right.sql + ")";
    }
    if (IsWord(op, "Between")) {
      const Operand low = Operand1();
      if (!Accept("And")) Fail("Between has no And");
      const Operand high = Operand1();
      return "(" + left.sql + " BETWEEN " + low.sql + " AND " + high.sql + ")";
    }
    if (IsWord(op, "Is")) {
      const bool negated = Accept("Not");
      if (!Accept("Null")) Fail("Is is not followed by Null");
      return "(" + left.sql + (negated ? " IS NOT NULL)" : " IS NULL)");
    }
    const bool negated = IsWord(op, "Not");
    const Token& word = negated ? Next() : op;
    if (IsWord(word, "In")) {
      if (!AcceptSymbol("(")) Fail("In has no list");
      std::string list;
      do {
        list += (list.empty() ? "" : ", ") + Operand1().sql;
      } while (AcceptSymbol(","));
      if (!AcceptSymbol(")")) Fail("the list of In is not closed");
      return "(" + left.sql + (negated ? " NOT IN (" : " IN (") + list + "))";
    }
    // Like
    const Token& pattern = Next();
    if (pattern.kind != Token::kString) Fail("Like is not followed by a text");
    return "(" + (negated ? std::string("NOT ") : "") + LikeSql(left, pattern.text) + ")";
  }

  // Access's Like: * any run, ? one character, # one digit, [..] a set; without letter case.
  // As LIKE where it can be (no # and no set), else as GLOB (with letter case).
  std::string LikeSql(const Operand& left, const std::string& pattern) {
    const bool glob = pattern.find_first_of("#[") != std::string::npos;
    std::string out;
    bool escaped = false;
    for (std::size_t k = 0; k < pattern.size(); ++k) {
      const char c = pattern[k];
      if (glob) {
        if (c == '#')
          out += "[0-9]";
        else if (c == '[' && k + 1 < pattern.size() && pattern[k + 1] == '!') {
          out += "[^";
          ++k;
        } else
          out += c;
      } else if (c == '*') {
        out += '%';
      } else if (c == '?') {
        out += '_';
      } else if (c == '%' || c == '_' || c == '\\') {
        out += '\\';
        out += c;
        escaped = true;
      } else {
        out += c;
      }
    }
    std::string subject = left.sql;
    const std::string nocase = " COLLATE NOCASE";
    if (subject.ends_with(nocase)) subject.resize(subject.size() - nocase.size());
    if (glob) return subject + " GLOB " + QuoteText(out);
    return subject + " LIKE " + QuoteText(out) + (escaped ? " ESCAPE '\\'" : "");
  }

  std::vector<Token> t_;
  std::size_t i_ = 0;
  const std::string& column_;
  const std::vector<ColumnKind>& columns_;
};

}  // namespace

ValueKind KindOfAccessType(int accessType) {
  switch (accessType) {
    case 0x01:
      return ValueKind::kBoolean;
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x06:
    case 0x07:
      return ValueKind::kNumber;
    case 0x05:
    case 0x10:
      return ValueKind::kExactNumber;
    case 0x08:
      return ValueKind::kDateTime;
    case 0x0a:
    case 0x0c:
      return ValueKind::kText;
    default:
      return ValueKind::kOther;
  }
}

Translation DefaultExpression(std::string_view accessDefault, ValueKind kind) {
  std::string text = Trim(accessDefault);
  if (text.starts_with('=')) text = Trim(text.substr(1));
  if (text.empty()) return {};
  const std::string lower = LowerAscii(text);
  auto is = [&](std::string_view name) {
    return lower == name || lower == std::string(name) + "()";
  };
  if (is("date")) {
    if (kind != ValueKind::kDateTime) return {"", "Date() on a field that holds no date"};
    return {"(datetime('now', 'localtime', 'start of day'))", ""};
  }
  if (is("now")) {
    if (kind != ValueKind::kDateTime) return {"", "Now() on a field that holds no date"};
    return {"(datetime('now', 'localtime'))", ""};
  }
  if (is("time")) {
    if (kind != ValueKind::kDateTime) return {"", "Time() on a field that holds no date"};
    return {"('1899-12-30 ' || time('now', 'localtime'))", ""};
  }
  const auto tokens = Tokenize(text);
  if (!tokens) return {"", "not understood"};
  const std::vector<Token>& t = *tokens;
  const bool negative = t.size() == 3 && IsSymbol(t[0], "-") && t[1].kind == Token::kNumber;
  if (t.size() != 2 && !negative) return {"", "an expression, not a value"};
  const Token& v = negative ? t[1] : t[0];
  switch (v.kind) {
    case Token::kNumber:
      if (kind == ValueKind::kText || kind == ValueKind::kOther || kind == ValueKind::kDateTime)
        return {QuoteText((negative ? "-" : "") + v.text), ""};
      return {(negative ? "-" : "") + v.text, ""};
    case Token::kString:
      return {QuoteText(v.text), ""};
    case Token::kDate: {
      const auto date = DateText(v.text);
      if (!date) return {"", "the date #" + v.text + "# is not understood"};
      return {*date, ""};
    }
    case Token::kWord:
      if (EqualsNoCase(v.text, "Null")) return {};
      for (const char* yes : {"True", "Yes", "On"})
        if (EqualsNoCase(v.text, yes)) return {kind == ValueKind::kBoolean ? "1" : "-1", ""};
      for (const char* no : {"False", "No", "Off"})
        if (EqualsNoCase(v.text, no)) return {"0", ""};
      return {"", "an expression, not a value"};
    default:
      return {"", "an expression, not a value"};
  }
}

Translation CheckExpression(std::string_view rule, const std::string& column,
                            const std::vector<ColumnKind>& columns) {
  auto tokens = Tokenize(rule);
  if (!tokens) return {"", "not understood"};
  if (tokens->size() == 1) return {};
  try {
    RuleWriter writer(std::move(*tokens), column, columns);
    return {writer.Rule(), ""};
  } catch (const Untranslated& u) {
    return {"", u.why};
  }
}

}  // namespace platform::access_sql
