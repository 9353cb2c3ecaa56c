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
// date/time text; with `timeAlone` also a time without a date, on 1899-12-30 as Access keeps it;
// nothing for anything else.
std::optional<std::string> DateText(const std::string& literal, bool timeAlone = false) {
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
  } else if (timeAlone && text.find(':') != std::string::npos) {
    year = 1899, month = 12, day = 30, n = 0;
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
             const std::vector<ColumnKind>& columns, Dialect dialect)
      : t_(std::move(tokens)),
        column_(column),
        columns_(columns),
        pg_(dialect == Dialect::kPostgreSql) {}

  std::string Rule() {
    std::string sql = Or();
    if (t_[i_].kind != Token::kEnd) Fail("unexpected '" + t_[i_].text + "'");
    return sql;
  }

  // A whole expression as a value of a column of `kind` (PostgreSQL: a default).
  std::string ValueExpression(ValueKind kind) {
    Operand v = Expression();
    if (t_[i_].kind != Token::kEnd) Fail("unexpected '" + t_[i_].text + "'");
    if (v.kind == ValueKind::kDateTime && kind != ValueKind::kDateTime && kind != ValueKind::kText)
      Fail("a date as the default of a field that holds no date");
    return v.sql;
  }

 private:
  struct Operand {
    std::string sql;
    ValueKind kind = ValueKind::kOther;
    bool column = false;
    bool literal = false;  // a number, text, date or Yes/No as written
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
      if (pg_) {
        if (c.kind == ValueKind::kOther) Fail("it compares the binary field [" + c.name + "]");
        return {quoted, c.kind, true};
      }
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
    if (pg_) return Expression();
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
    if (pg_) return PgPredicate();
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

  // PostgreSQL: operands are whole expressions (functions, arithmetic, &); text compares
  // without letter case through lower(); Like is ILIKE, or a regular expression (~*) for # and
  // sets.

  std::string PgPredicate() {
    if (IsSymbol(t_[i_], "(")) {
      // A parenthesised condition, or an expression that a comparison follows.
      const std::size_t start = i_;
      try {
        ++i_;
        std::string inner = Or();
        if (AcceptSymbol(")") && !StartsTail() && !StartsArithmetic()) return inner;
      } catch (const Untranslated&) {
      }
      i_ = start;
    }
    const Operand left = StartsTail() ? ImplicitColumn() : Expression();
    if (!StartsTail()) {
      if (left.kind == ValueKind::kBoolean && !left.literal) return left.sql;
      Fail("'" + left.sql + "' is not a condition");
    }
    const Token& op = Next();
    if (IsComparison(op)) {
      const Operand right = Expression();
      if (right.sql == "NULL") Fail("it compares with Null");
      return Compare(left, op.text, right);
    }
    if (IsWord(op, "Between")) {
      const Operand low = Expression();
      if (!Accept("And")) Fail("Between has no And");
      const Operand high = Expression();
      const bool text = left.kind == ValueKind::kText;
      return "(" + Folded(left, text) + " BETWEEN " + Matched(low, left, text) + " AND " +
             Matched(high, left, text) + ")";
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
      const bool text = left.kind == ValueKind::kText;
      std::string list;
      do {
        list += (list.empty() ? "" : ", ") + Matched(Expression(), left, text);
      } while (AcceptSymbol(","));
      if (!AcceptSymbol(")")) Fail("the list of In is not closed");
      return "(" + Folded(left, text) + (negated ? " NOT IN (" : " IN (") + list + "))";
    }
    const Token& pattern = Next();
    if (pattern.kind != Token::kString) Fail("Like is not followed by a text");
    const std::string subject = left.kind == ValueKind::kText ? left.sql : left.sql + "::text";
    return "(" + (negated ? std::string("NOT ") : "") + PgLike(subject, pattern.text) + ")";
  }

  bool StartsArithmetic() const {
    for (const char* op : {"+", "-", "*", "/", "&"})
      if (IsSymbol(t_[i_], op)) return true;
    return IsWord(t_[i_], "Mod");
  }

  // `o` without letter case when `text`.
  static std::string Folded(const Operand& o, bool text) {
    return text && o.kind == ValueKind::kText ? "lower(" + o.sql + ")" : o.sql;
  }
  // `o` as the other side `other` of a comparison takes it: folded text, a number written as
  // text, Yes/No as true/false, Access's -1 and 0 for a Yes/No literal against a number.
  static std::string Matched(const Operand& o, const Operand& other, bool text) {
    if (other.kind == ValueKind::kBoolean && !other.literal && o.literal &&
        (o.kind == ValueKind::kNumber || o.kind == ValueKind::kBoolean))
      return o.sql == "0" || o.sql == "false" ? "false" : "true";
    if (o.kind == ValueKind::kBoolean && o.literal && other.kind != ValueKind::kBoolean)
      return o.sql == "true" ? "-1" : "0";
    if (text && o.literal && o.kind == ValueKind::kNumber) return QuoteText(o.sql);
    return Folded(o, text);
  }
  std::string Compare(const Operand& left, const std::string& op, const Operand& right) {
    const bool text = left.kind == ValueKind::kText || right.kind == ValueKind::kText;
    return "(" + Matched(left, right, text) + " " + op + " " + Matched(right, left, text) + ")";
  }

  // Access's & joins the text of its sides, Null as empty text.
  Operand Expression() {
    Operand left = Additive();
    while (AcceptSymbol("&")) {
      const Operand right = Additive();
      left = {"concat(" + left.sql + ", " + right.sql + ")", ValueKind::kText, false, false};
    }
    return left;
  }
  // A date literal where it computes: a timestamp.
  static Operand Typed(Operand o) {
    if (o.literal && o.kind == ValueKind::kDateTime) o.sql = "timestamp " + o.sql;
    return o;
  }

  Operand Additive() {
    Operand left = Term();
    while (IsSymbol(t_[i_], "+") || IsSymbol(t_[i_], "-")) {
      const std::string op = Next().text;
      const Operand right = Typed(Term());
      left = Typed(left);
      if (left.kind == ValueKind::kText || right.kind == ValueKind::kText) {
        if (op == "-") Fail("it subtracts text");
        left = {"(" + left.sql + " || " + right.sql + ")", ValueKind::kText, false, false};
      } else if (left.kind == ValueKind::kDateTime && right.kind == ValueKind::kDateTime) {
        if (op == "+") Fail("it adds two dates");
        left = {"(extract(epoch from (" + left.sql + " - " + right.sql + ")) / 86400)",
                ValueKind::kNumber, false, false};
      } else if (left.kind == ValueKind::kDateTime) {
        // A number added to a date counts days.
        left = {"(" + left.sql + " " + op + " (" + right.sql + ") * interval '1 day')",
                ValueKind::kDateTime, false, false};
      } else {
        left = {"(" + left.sql + " " + op + " " + right.sql + ")", ValueKind::kNumber, false,
                false};
      }
    }
    return left;
  }
  Operand Term() {
    Operand left = Factor();
    while (IsSymbol(t_[i_], "*") || IsSymbol(t_[i_], "/") || IsWord(t_[i_], "Mod")) {
      const std::string op = Next().text;
      const Operand right = Factor();
      if (left.kind == ValueKind::kText || right.kind == ValueKind::kText ||
          left.kind == ValueKind::kDateTime || right.kind == ValueKind::kDateTime)
        Fail("it computes with '" + op + "' on text or dates");
      if (op == "/")  // Access divides in Double, never truncating
        left.sql = "(CAST(" + left.sql + " AS double precision) / " + right.sql + ")";
      else if (op == "*")
        left.sql = "(" + left.sql + " * " + right.sql + ")";
      else
        left.sql = "mod(" + left.sql + ", " + right.sql + ")";
      left = {left.sql, ValueKind::kNumber, false, false};
    }
    return left;
  }
  Operand Factor() {
    if (AcceptSymbol("-")) {
      const Operand v = Factor();
      if (v.literal && v.kind == ValueKind::kNumber) return {"-" + v.sql, v.kind, false, true};
      return {"(-" + v.sql + ")", v.kind, false, false};
    }
    if (AcceptSymbol("(")) {
      Operand inner = Expression();
      if (!AcceptSymbol(")")) Fail("a parenthesis is not closed");
      inner.literal = false;
      return inner;
    }
    const Token& t = Next();
    switch (t.kind) {
      case Token::kNumber:
        return {t.text, ValueKind::kNumber, false, true};
      case Token::kString:
        return {QuoteText(t.text), ValueKind::kText, false, true};
      case Token::kDate: {
        // Untyped, so that a time column compares with it too (Typed where it computes).
        const auto date = DateText(t.text, true);
        if (!date) Fail("the date #" + t.text + "# is not understood");
        return {*date, ValueKind::kDateTime, false, true};
      }
      case Token::kName:
        return ColumnOperand(t.text);
      case Token::kWord:
        if (IsSymbol(t_[i_], "(")) return Call(t.text);
        if (EqualsNoCase(t.text, "True") || EqualsNoCase(t.text, "Yes") ||
            EqualsNoCase(t.text, "On"))
          return {"true", ValueKind::kBoolean, false, true};
        if (EqualsNoCase(t.text, "False") || EqualsNoCase(t.text, "No") ||
            EqualsNoCase(t.text, "Off"))
          return {"false", ValueKind::kBoolean, false, true};
        if (EqualsNoCase(t.text, "Null")) return {"NULL", ValueKind::kOther, false, true};
        return ColumnOperand(t.text);
      case Token::kSymbol:
        Fail("unexpected '" + t.text + "'");
      case Token::kEnd:
        break;
    }
    Fail("the rule ends early");
  }

  // A value of IIf: a condition (a boolean) or an expression.
  Operand ConditionOrValue() {
    const std::size_t start = i_;
    try {
      std::string condition = Or();
      if (IsSymbol(t_[i_], ",") || IsSymbol(t_[i_], ")"))
        return {condition, ValueKind::kBoolean, false, false};
    } catch (const Untranslated&) {
    }
    i_ = start;
    return Expression();
  }

  // A function's arguments after its name.
  std::vector<Operand> Arguments(const std::string& name, std::size_t least, std::size_t most) {
    ++i_;  // "("
    std::vector<Operand> args;
    if (!AcceptSymbol(")")) {
      do {
        args.push_back(Expression());
      } while (AcceptSymbol(","));
      if (!AcceptSymbol(")")) Fail("the arguments of " + name + "() are not closed");
    }
    if (args.size() < least || args.size() > most)
      Fail(name + "() is given " + std::to_string(args.size()) +
           (args.size() == 1 ? " argument" : " arguments"));
    return args;
  }
  static std::string AsText(const Operand& o) {
    return o.kind == ValueKind::kText ? o.sql : "CAST(" + o.sql + " AS text)";
  }

  Operand Call(const std::string& name) {
    const std::string f = LowerAscii(name);
    if (f == "iif") {
      ++i_;  // "("
      const std::string condition = Or();
      std::vector<Operand> values;
      while (AcceptSymbol(",")) values.push_back(ConditionOrValue());
      if (!AcceptSymbol(")") || values.size() != 2) Fail("IIf() takes a condition and two values");
      const ValueKind kind = values[0].sql == "NULL" ? values[1].kind : values[0].kind;
      return {
          "CASE WHEN " + condition + " THEN " + values[0].sql + " ELSE " + values[1].sql + " END",
          kind, false, false};
    }
    if (f == "isnull") {
      const Operand v = Arguments(name, 1, 1)[0];
      return {"(" + v.sql + " IS NULL)", ValueKind::kBoolean, false, false};
    }
    if (f == "nz") {
      // Nz(x) is x, or for Null 0 or empty text.
      std::vector<Operand> args = Arguments(name, 1, 2);
      if (args.size() == 1)
        args.push_back({args[0].kind == ValueKind::kText ? "''" : "0", args[0].kind, false, true});
      if ((args[0].kind == ValueKind::kText) != (args[1].kind == ValueKind::kText))
        return {"coalesce(" + AsText(args[0]) + ", " + AsText(args[1]) + ")", ValueKind::kText,
                false, false};
      return {"coalesce(" + args[0].sql + ", " + Typed(args[1]).sql + ")", args[0].kind, false,
              false};
    }
    if (f == "year" || f == "month" || f == "day" || f == "hour" || f == "minute" ||
        f == "second" || f == "weekday") {
      const Operand v = Typed(Arguments(name, 1, 1)[0]);
      if (v.kind != ValueKind::kDateTime) Fail(name + "() of a value that is no date");
      // Access counts weekdays from Sunday as 1.
      const std::string field = f == "weekday" ? "dow" : f;
      return {"(CAST(extract(" + field + " from " + v.sql + ") AS integer)" +
                  (f == "weekday" ? " + 1)" : ")"),
              ValueKind::kNumber, false, false};
    }
    if (f == "instr") {
      // InStr(text, part) without letter case, as Access compares text; 0 when not found.
      const std::vector<Operand> args = Arguments(name, 2, 2);
      return {"strpos(lower(" + AsText(args[0]) + "), lower(" + AsText(args[1]) + "))",
              ValueKind::kNumber, false, false};
    }
    if (f == "genguid") {
      Arguments(name, 0, 0);
      return {"gen_random_uuid()", ValueKind::kOther, false, false};
    }
    if (f == "date" || f == "now" || f == "time") {
      Arguments(name, 0, 0);
      if (f == "date") return {"current_date", ValueKind::kDateTime, false, false};
      if (f == "now") return {"localtimestamp(0)", ValueKind::kDateTime, false, false};
      // Access keeps a time of day on 1899-12-30.
      return {"(date '1899-12-30' + localtime(0))", ValueKind::kDateTime, false, false};
    }
    const struct {
      const char* access;
      const char* sql;
      std::size_t least, most;
      ValueKind kind;
    } functions[] = {
        {"len", "length", 1, 1, ValueKind::kNumber}, {"left", "left", 2, 2, ValueKind::kText},
        {"right", "right", 2, 2, ValueKind::kText},  {"mid", "substr", 2, 3, ValueKind::kText},
        {"ucase", "upper", 1, 1, ValueKind::kText},  {"lcase", "lower", 1, 1, ValueKind::kText},
        {"trim", "btrim", 1, 1, ValueKind::kText},   {"ltrim", "ltrim", 1, 1, ValueKind::kText},
        {"rtrim", "rtrim", 1, 1, ValueKind::kText},  {"abs", "abs", 1, 1, ValueKind::kNumber},
        {"int", "floor", 1, 1, ValueKind::kNumber},  {"fix", "trunc", 1, 1, ValueKind::kNumber},
    };
    for (const auto& fn : functions) {
      if (f != fn.access) continue;
      const std::vector<Operand> args = Arguments(name, fn.least, fn.most);
      std::string sql = std::string(fn.sql) + "(";
      for (std::size_t k = 0; k < args.size(); ++k) {
        const bool textArgument = k == 0 && fn.kind == ValueKind::kText;
        sql += (k ? ", " : "") + (textArgument || f == "len" ? AsText(args[k]) : args[k].sql);
      }
      return {sql + ")", fn.kind, false, false};
    }
    Fail("it calls the function " + name + "(), which the target cannot check");
  }

  // Access's Like: * any run, ? one character, # one digit, [..] a set ([!..] not in it);
  // without letter case.
  std::string PgLike(const std::string& subject, const std::string& pattern) {
    if (pattern.find_first_of("#[") == std::string::npos) {
      std::string out;
      for (char c : pattern) {
        if (c == '*')
          out += '%';
        else if (c == '?')
          out += '_';
        else if (c == '%' || c == '_' || c == '\\')
          out += std::string("\\") + c;
        else
          out += c;
      }
      return subject + " ILIKE " + QuoteText(out);
    }
    std::string out = "^";
    for (std::size_t k = 0; k < pattern.size(); ++k) {
      const char c = pattern[k];
      if (c == '*') {
        out += ".*";
      } else if (c == '?') {
        out += '.';
      } else if (c == '#') {
        out += "[0-9]";
      } else if (c == '[') {
        const std::size_t close = pattern.find(']', k + 1);
        if (close == std::string::npos) Fail("a [ of the Like pattern is not closed");
        std::string set = pattern.substr(k + 1, close - k - 1);
        if (set.empty()) Fail("the Like pattern has an empty []");
        out += '[';
        for (std::size_t j = 0; j < set.size(); ++j) {
          if (j == 0 && set[j] == '!' && set.size() > 1)
            out += '^';
          else if (set[j] == '\\' || set[j] == '^' || (set[j] == '[' && j + 1 < set.size()))
            out += std::string("\\") + set[j];
          else
            out += set[j];
        }
        out += ']';
        k = close;
      } else if (std::string_view(".^$|()+{}\\]").find(c) != std::string_view::npos) {
        out += std::string("\\") + c;
      } else {
        out += c;
      }
    }
    return subject + " ~* " + QuoteText(out + "$");
  }

  std::vector<Token> t_;
  std::size_t i_ = 0;
  const std::string& column_;
  const std::vector<ColumnKind>& columns_;
  bool pg_ = false;
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

namespace {

// PostgreSQL: a literal as its column takes it, or any expression of the rules' language that
// names no field.
Translation PgDefault(const std::string& text, ValueKind kind) {
  const auto tokens = Tokenize(text);
  if (!tokens) return {"", "not understood"};
  const std::vector<Token>& t = *tokens;
  const bool negative = t.size() == 3 && IsSymbol(t[0], "-") && t[1].kind == Token::kNumber;
  if (t.size() == 2 || negative) {
    const Token& v = negative ? t[1] : t[0];
    const std::string number = (negative ? "-" : "") + v.text;
    if (v.kind == Token::kWord && EqualsNoCase(v.text, "Null")) return {};
    bool yes = false, no = false;
    for (const char* word : {"True", "Yes", "On"}) yes = yes || IsWord(v, word);
    for (const char* word : {"False", "No", "Off"}) no = no || IsWord(v, word);
    if (kind == ValueKind::kBoolean) {
      if (v.kind == Token::kNumber) return {number == "0" ? "false" : "true", ""};
      if (yes || no) return {yes ? "true" : "false", ""};
    } else if (yes || no) {
      if (kind == ValueKind::kText || kind == ValueKind::kOther || kind == ValueKind::kDateTime)
        return {"", "Yes/No as the default of a field that holds no number"};
      return {yes ? "-1" : "0", ""};
    }
    if (v.kind == Token::kNumber) {
      if (kind == ValueKind::kText) return {QuoteText(number), ""};
      if (kind == ValueKind::kDateTime || kind == ValueKind::kOther)
        return {"", "a number as the default of a field that holds no number"};
      return {number, ""};
    }
    if (v.kind == Token::kString) return {QuoteText(v.text), ""};
    if (v.kind == Token::kDate) {
      const auto date = DateText(v.text, true);
      if (!date) return {"", "the date #" + v.text + "# is not understood"};
      if (kind != ValueKind::kDateTime && kind != ValueKind::kText)
        return {"", "a date as the default of a field that holds no date"};
      return {*date, ""};
    }
  }
  static const std::vector<ColumnKind> none;
  static const std::string noColumn;
  try {
    RuleWriter writer(*tokens, noColumn, none, Dialect::kPostgreSql);
    return {"(" + writer.ValueExpression(kind) + ")", ""};
  } catch (const Untranslated& u) {
    return {"", u.why};
  }
}

}  // namespace

Translation DefaultExpression(std::string_view accessDefault, ValueKind kind, Dialect dialect) {
  std::string text = Trim(accessDefault);
  if (text.starts_with('=')) text = Trim(text.substr(1));
  if (text.empty()) return {};
  if (dialect == Dialect::kPostgreSql) {
    const std::string lower = LowerAscii(text);
    for (const char* function : {"Date", "Now", "Time"}) {
      const std::string name = LowerAscii(function);
      if ((lower == name || lower == name + "()") && kind != ValueKind::kDateTime)
        return {"", std::string(function) + "() on a field that holds no date"};
    }
    if (lower == "date" || lower == "now" || lower == "time") text += "()";
    return PgDefault(text, kind);
  }
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
                            const std::vector<ColumnKind>& columns, Dialect dialect) {
  auto tokens = Tokenize(rule);
  if (!tokens) return {"", "not understood"};
  if (tokens->size() == 1) return {};
  try {
    RuleWriter writer(std::move(*tokens), column, columns, dialect);
    return {writer.Rule(), ""};
  } catch (const Untranslated& u) {
    return {"", u.why};
  }
}

std::string NextAutoNumber(const std::string& quotedColumn, std::uint32_t counter,
                           Dialect dialect) {
  std::string highest = "coalesce(max(" + quotedColumn + "), 0)";
  if (counter > 0)
    highest = (dialect == Dialect::kPostgreSql ? "greatest(" : "max(") + highest + ", " +
              std::to_string(counter) + ")";
  return highest + " + 1";
}

}  // namespace platform::access_sql
