#include "norvane/procedure.h"

#include <map>
#include <optional>

#include "norvane/catalog.h"
#include "norvane/dialect.h"
#include "platform/text.h"

namespace norvane {
namespace {

constexpr int kMaxCallDepth = 16;

// One parsed statement of a procedure body.
struct Node {
  enum Kind {
    kDeclareVariable,
    kDeclareException,
    kDeclareTempTable,
    kDeclareCursor,
    kOpen,
    kFetch,
    kClose,
    kLoop,
    kLeave,
    kIf,
    kSet,
    kExecuteImmediate,
    kSql,
  };
  Kind kind = kSql;
  int line = 0;
  std::string name;                // variable, exception, table, cursor, label
  std::vector<std::string> names;  // fetch targets
  std::string text;                // SQL text: select, table columns, statement; or sqlstate
  std::vector<Token> expr;         // set / execute immediate
  std::vector<std::pair<std::vector<Token>, std::vector<Node>>> branches;  // if / elseif
  std::vector<Node> body;                                                  // loop body, else
};
using Block = std::vector<Node>;

struct Procedure {
  std::string name;
  Block body;
};

std::string Lower(std::string_view s) {
  return platform::LowerAscii(s);
}

class Parser {
 public:
  Parser(std::string_view source) : src_(source), t_(Tokenize(source)) {
    for (const auto& tok : t_)
      if (tok.kind == Token::kBad) Fail(tok, tok.value);
  }

  // create procedure [owner.]name() begin ... end
  Procedure ParseCreate() {
    Procedure p;
    Expect("create");
    Expect("procedure");
    p.name = TakeObjectName(t_, i_);
    Expect("(");
    if (!At().IsSymbol(")")) Fail(At(), "procedures with parameters are not supported");
    Expect(")");
    p.body = ParseBeginEnd();
    return p;
  }

  Procedure ParseAnonymous() {
    Procedure p;
    p.name = "(block)";
    p.body = ParseBeginEnd();
    return p;
  }

 private:
  Block ParseBeginEnd() {
    Expect("begin");
    Block b = ParseBlock();
    Expect("end");
    if (i_ < t_.size() && t_[i_].IsSymbol(";")) ++i_;
    if (i_ < t_.size()) Fail(t_[i_], "unexpected '" + t_[i_].text + "' after the end of the block");
    return b;
  }

  const Token& At() {
    static const Token kEnd = [] {
      Token t;
      t.text = t.value = "(end of text)";
      return t;
    }();
    return i_ < t_.size() ? t_[i_] : kEnd;
  }
  int Line() { return i_ < t_.size() ? t_[i_].line : (t_.empty() ? 1 : t_.back().line); }

  [[noreturn]] void Fail(const Token& t, const std::string& what) {
    throw DbError("line " + std::to_string(t.line) + ": " + what);
  }

  void Expect(std::string_view w) {
    if (!(At().Is(w) || At().IsSymbol(w)))
      Fail(At(), "expected '" + std::string(w) + "' but found '" + At().text + "'");
    ++i_;
  }

  std::string Name(const char* what) {
    if (!At().IsName())
      Fail(At(), std::string("expected ") + what + " but found '" + At().text + "'");
    return t_[i_++].value;
  }

  bool AtBlockEnd() { return At().Is("end") || At().Is("else") || At().Is("elseif"); }

  Block ParseBlock() {
    Block b;
    while (!AtBlockEnd()) {
      if (i_ >= t_.size()) Fail(At(), "missing 'end'");
      if (At().IsSymbol(";")) {
        ++i_;
        continue;
      }
      b.push_back(ParseStatement());
      if (i_ < t_.size() && t_[i_].IsSymbol(";")) ++i_;
    }
    return b;
  }

  // Tokens up to ';' or, outside parentheses and case expressions, one of the stop words.
  std::vector<Token> Until(std::initializer_list<const char*> stops) {
    std::vector<Token> out;
    int depth = 0, cases = 0;
    for (; i_ < t_.size(); ++i_) {
      const Token& t = t_[i_];
      if (depth == 0 && t.IsSymbol(";")) break;
      if (depth == 0 && cases == 0) {
        bool stop = false;
        for (const char* s : stops) stop = stop || t.Is(s);
        if (stop) break;
      }
      if (t.IsSymbol("(")) ++depth;
      if (t.IsSymbol(")")) --depth;
      if (t.Is("case")) ++cases;
      if (t.Is("end") && cases > 0) --cases;
      out.push_back(t);
    }
    return out;
  }

  std::string Text(const std::vector<Token>& tokens) {
    if (tokens.empty()) return {};
    return std::string(src_.substr(tokens.front().begin, tokens.back().end - tokens.front().begin));
  }

  std::vector<Token> Expression(std::initializer_list<const char*> stops, const char* what) {
    const Token& start = At();
    std::vector<Token> e = Until(stops);
    if (e.empty()) Fail(start, std::string("expected ") + what);
    return e;
  }

  Node ParseStatement() {
    Node n;
    n.line = Line();
    const Token& first = At();
    if (first.kind == Token::kWord && i_ + 1 < t_.size() && t_[i_ + 1].IsSymbol(":")) {
      n.name = t_[i_].value;
      i_ += 2;
      if (!At().Is("loop")) Fail(At(), "only a loop may carry a label");
      return ParseLoop(std::move(n));
    }
    if (first.Is("loop")) return ParseLoop(std::move(n));
    if (first.Is("declare")) return ParseDeclare(std::move(n));
    if (first.Is("leave")) {
      ++i_;
      n.kind = Node::kLeave;
      n.name = Name("a loop label");
      return n;
    }
    if (first.Is("if")) return ParseIf(std::move(n));
    if (first.Is("set")) {
      ++i_;
      n.kind = Node::kSet;
      n.name = Name("a variable");
      Expect("=");
      n.expr = Expression({"end", "else", "elseif"}, "a value");
      return n;
    }
    if (first.Is("execute")) {
      ++i_;
      Expect("immediate");
      n.kind = Node::kExecuteImmediate;
      n.expr = Expression({"end", "else", "elseif"}, "a statement text");
      return n;
    }
    if (first.Is("open") || first.Is("close")) {
      ++i_;
      n.kind = first.Is("open") ? Node::kOpen : Node::kClose;
      n.name = Name("a cursor");
      return n;
    }
    if (first.Is("fetch")) {
      ++i_;
      if (At().Is("next")) ++i_;
      if (At().Is("prior") || At().Is("first") || At().Is("last") || At().Is("absolute") ||
          At().Is("relative"))
        Fail(At(), "only fetch next is supported");
      n.kind = Node::kFetch;
      n.name = Name("a cursor");
      Expect("into");
      n.names.push_back(Name("a variable"));
      while (At().IsSymbol(",")) {
        ++i_;
        n.names.push_back(Name("a variable"));
      }
      return n;
    }
    if (first.Is("insert") || first.Is("update") || first.Is("delete")) {
      n.kind = Node::kSql;
      n.text = Text(Until({"end", "else", "elseif"}));
      return n;
    }
    Fail(first, "'" + first.text + "' is not supported in a procedure");
  }

  Node ParseLoop(Node n) {
    Expect("loop");
    n.kind = Node::kLoop;
    n.body = ParseBlock();
    Expect("end");
    Expect("loop");
    if (At().IsName() && !At().IsSymbol(";")) {
      const Token& label = At();
      if (!platform::EqualsNoCase(label.value, n.name))
        Fail(label, "'end loop " + label.value + "' does not close the loop " +
                        (n.name.empty() ? "without a label" : n.name));
      ++i_;
    }
    return n;
  }

  Node ParseIf(Node n) {
    n.kind = Node::kIf;
    Expect("if");
    while (true) {
      std::vector<Token> cond = Expression({"then"}, "a condition");
      Expect("then");
      n.branches.emplace_back(std::move(cond), ParseBlock());
      if (At().Is("elseif")) {
        ++i_;
        continue;
      }
      break;
    }
    if (At().Is("else")) {
      ++i_;
      n.body = ParseBlock();
    }
    Expect("end");
    Expect("if");
    return n;
  }

  Node ParseDeclare(Node n) {
    Expect("declare");
    if (At().Is("local")) {
      ++i_;
      Expect("temporary");
      Expect("table");
      n.kind = Node::kDeclareTempTable;
      n.name = Name("a table name");
      if (!At().IsSymbol("(")) Fail(At(), "expected the table's columns");
      std::vector<Token> cols;
      int depth = 0;
      do {
        if (i_ >= t_.size()) Fail(At(), "unclosed column list");
        if (t_[i_].IsSymbol("(")) ++depth;
        if (t_[i_].IsSymbol(")")) --depth;
        cols.push_back(t_[i_++]);
      } while (depth > 0);
      n.text = Text(cols);
      if (At().Is("on")) {
        ++i_;
        Expect("commit");
        if (!At().Is("delete") && !At().Is("preserve")) Fail(At(), "expected delete or preserve");
        ++i_;
        Expect("rows");
      }
      return n;
    }
    n.name = Name("a name to declare");
    if (At().Is("exception")) {
      ++i_;
      Expect("for");
      Expect("sqlstate");
      if (At().Is("value")) ++i_;
      if (At().kind != Token::kString || At().value.size() != 5)
        Fail(At(), "expected a five-character sqlstate");
      n.kind = Node::kDeclareException;
      n.text = t_[i_++].value;
      return n;
    }
    std::size_t j = i_;
    while (j < t_.size() && (t_[j].Is("dynamic") || t_[j].Is("scroll") || t_[j].Is("no") ||
                             t_[j].Is("insensitive") || t_[j].Is("sensitive")))
      ++j;
    if (j < t_.size() && t_[j].Is("cursor")) {
      i_ = j + 1;
      Expect("for");
      if (!At().Is("select") && !At().Is("with")) Fail(At(), "a cursor must be over a select");
      n.kind = Node::kDeclareCursor;
      n.text = Text(Until({}));
      return n;
    }
    n.kind = Node::kDeclareVariable;
    const std::vector<Token> type = Until({});
    if (type.empty()) Fail(At(), "expected the type of " + n.name);
    for (const auto& t : type)
      if (t.Is("default") || t.IsSymbol("=")) Fail(t, "initial values are not supported");
    n.text = Text(type);
    return n;
  }

  std::string_view src_;
  std::vector<Token> t_;
  std::size_t i_ = 0;
};

struct Cursor {
  std::string select;
  bool open = false;
  std::vector<std::vector<Value>> rows;
  std::size_t next = 0;
};

// Runs one procedure body: its variables, cursors and temporary tables live for the call.
class Interpreter {
 public:
  Interpreter(Session& s, const Procedure& p) : s_(s), c_(s.connection()), p_(p) {}
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;
  ~Interpreter() {
    for (const auto& t : tempTables_) {
      const std::string sql = "DROP TABLE IF EXISTS temp." + QuoteId(t);
      sqlite3_exec(c_.get(), sql.c_str(), nullptr, nullptr, nullptr);
    }
  }

  void Run() {
    if (auto leaving = RunBlock(p_.body)) throw DbError("leave " + *leaving + " outside its loop");
  }

 private:
  [[noreturn]] void Fail(const Node& n, const std::string& what) {
    throw DbError("procedure " + p_.name + ", line " + std::to_string(n.line) + ": " + what);
  }

  // Runs a block; returns the label of a loop being left, if any.
  std::optional<std::string> RunBlock(const Block& b) {
    for (const Node& n : b) {
      try {
        if (auto leaving = RunNode(n)) return leaving;
      } catch (const DbError& e) {
        const std::string what = e.what();
        if (what.rfind("procedure ", 0) == 0) throw;
        Fail(n, what);
      }
    }
    return std::nullopt;
  }

  std::optional<std::string> RunNode(const Node& n) {
    switch (n.kind) {
      case Node::kDeclareVariable:
        Declare(n, variables_);
        variables_[Lower(n.name)] = Value();
        break;
      case Node::kDeclareException:
        Declare(n, exceptions_);
        exceptions_[Lower(n.name)] = n.text;
        break;
      case Node::kDeclareCursor:
        Declare(n, cursors_);
        cursors_[Lower(n.name)].select = n.text;
        break;
      case Node::kDeclareTempTable:
        if (!c_.Scalar("SELECT 1 FROM temp.sqlite_schema WHERE name = ? COLLATE NOCASE",
                       {Value::Text(n.name)})
                 .IsNull())
          Fail(n, "temporary table " + n.name + " already exists");
        c_.Exec("CREATE TEMP TABLE " + QuoteId(n.name) + " " + n.text);
        tempTables_.push_back(n.name);
        break;
      case Node::kOpen: {
        Cursor& cur = FindCursor(n);
        if (cur.open) Fail(n, "cursor " + n.name + " is already open");
        cur.rows = c_.Rows(RewriteDialect(cur.select));
        cur.next = 0;
        cur.open = true;
        break;
      }
      case Node::kClose: {
        Cursor& cur = FindCursor(n);
        if (!cur.open) Fail(n, "cursor " + n.name + " is not open");
        cur.open = false;
        cur.rows.clear();
        break;
      }
      case Node::kFetch: {
        Cursor& cur = FindCursor(n);
        if (!cur.open) Fail(n, "cursor " + n.name + " is not open");
        if (cur.next >= cur.rows.size()) {
          sqlstate_ = "02000";
          return std::nullopt;
        }
        const auto& row = cur.rows[cur.next++];
        if (row.size() != n.names.size())
          Fail(n, "fetch into " + std::to_string(n.names.size()) +
                      " variable(s) from a cursor of " + std::to_string(row.size()) + " column(s)");
        for (std::size_t i = 0; i < row.size(); ++i) Variable(n, n.names[i]) = row[i];
        break;
      }
      case Node::kLoop:
        while (true) {
          auto leaving = RunBlock(n.body);
          if (!leaving) continue;
          if (platform::EqualsNoCase(*leaving, n.name)) break;
          return leaving;
        }
        break;
      case Node::kLeave:
        return n.name;
      case Node::kIf:
        for (const auto& [cond, block] : n.branches)
          if (IsTrue(n, cond)) return RunBlock(block);
        return RunBlock(n.body);
      case Node::kSet:
        Variable(n, n.name) = Evaluate(n, n.expr);
        break;
      case Node::kExecuteImmediate: {
        const Value text = Evaluate(n, n.expr);
        if (text.IsNull()) Fail(n, "execute immediate of a NULL statement text");
        s_.ExecuteText(text.AsText());
        break;
      }
      case Node::kSql:
        c_.Exec(RewriteDialect(n.text));
        break;
    }
    sqlstate_ = "00000";
    return std::nullopt;
  }

  template <class Map>
  void Declare(const Node& n, const Map& names) {
    if (names.count(Lower(n.name))) Fail(n, n.name + " is declared twice");
  }

  Cursor& FindCursor(const Node& n) {
    auto it = cursors_.find(Lower(n.name));
    if (it == cursors_.end()) Fail(n, "cursor " + n.name + " is not declared");
    return it->second;
  }

  Value& Variable(const Node& n, const std::string& name) {
    auto it = variables_.find(Lower(name));
    if (it == variables_.end()) Fail(n, "variable " + name + " is not declared");
    return it->second;
  }

  // The expression as a SQLite select, with variables bound as parameters, exception names as
  // their sqlstate and `sqlstate` as the state of the last statement.
  Value Evaluate(const Node& n, const std::vector<Token>& expr, bool truth = false) {
    std::string sql;
    std::vector<Value> params;
    for (std::size_t i = 0; i < expr.size(); ++i) {
      const Token& t = expr[i];
      const bool call = i + 1 < expr.size() && expr[i + 1].IsSymbol("(");
      const bool member = i > 0 && expr[i - 1].IsSymbol(".");
      std::string piece = t.text;
      if (t.kind == Token::kWord && !call && !member) {
        const std::string key = Lower(t.value);
        if (auto v = variables_.find(key); v != variables_.end()) {
          params.push_back(v->second);
          piece = "?" + std::to_string(params.size());
        } else if (auto e = exceptions_.find(key); e != exceptions_.end()) {
          piece = QuoteText(e->second);
        } else if (key == "sqlstate") {
          piece = QuoteText(sqlstate_);
        }
      }
      sql += (sql.empty() ? "" : " ") + piece;
    }
    sql = truth ? "SELECT CASE WHEN (" + sql + ") THEN 1 ELSE 0 END" : "SELECT " + sql;
    try {
      return c_.Scalar(sql, params);
    } catch (const DbError& e) {
      const std::string what = e.what();
      if (what.rfind("no such column: ", 0) == 0) Fail(n, "unknown variable " + what.substr(16));
      Fail(n, what);
    }
  }

  bool IsTrue(const Node& n, const std::vector<Token>& cond) {
    return Evaluate(n, cond, true).AsText() == "1";
  }

  Session& s_;
  Connection& c_;
  const Procedure& p_;
  std::map<std::string, Value> variables_;
  std::map<std::string, std::string> exceptions_;
  std::map<std::string, Cursor> cursors_;
  std::vector<std::string> tempTables_;
  std::string sqlstate_ = "00000";
};

// Runs a parsed procedure as one unit: an error undoes everything it changed.
void Run(Session& s, const Procedure& p) {
  int& depth = s.callDepth();
  if (depth >= kMaxCallDepth) throw DbError("procedure " + p.name + ": calls nested too deeply");
  ++depth;
  struct Unnest {
    int& d;
    ~Unnest() { --d; }
  } unnest{depth};
  Savepoint unit(s.connection(), "norvane_call_" + std::to_string(depth));
  {
    Interpreter run(s, p);
    run.Run();
  }
  unit.Release();
}

std::string ProcedureTable() {
  return QuoteId(kProcedureTable);
}

}  // namespace

void CreateProcedure(Session& s, std::string_view statement) {
  const Procedure p = Parser(statement).ParseCreate();
  Connection& c = s.connection();
  if (!c.Scalar("SELECT 1 FROM " + ProcedureTable() + " WHERE proc_name = ?", {Value::Text(p.name)})
           .IsNull())
    throw DbError("Procedure '" + p.name + "' already exists");
  c.Scalar("INSERT INTO " + ProcedureTable() + " (proc_name, creator, proc_defn) VALUES (?, ?, ?)",
           {Value::Text(p.name), Value::Text("dba"), Value::Text(std::string(statement))});
}

void CallProcedure(Session& s, std::string_view statement) {
  const std::vector<Token> t = Tokenize(statement);
  std::size_t i = 1;
  const std::string name = TakeObjectName(t, i);
  if (i < t.size() && t[i].IsSymbol("(")) {
    if (i + 1 >= t.size() || !t[i + 1].IsSymbol(")"))
      throw DbError("Procedure '" + name + "' takes no arguments");
    i += 2;
  }
  if (i < t.size()) throw DbError("Syntax error: unexpected '" + t[i].text + "'");
  const Value text = s.connection().Scalar(
      "SELECT proc_defn FROM " + ProcedureTable() + " WHERE proc_name = ?", {Value::Text(name)});
  if (text.IsNull()) throw DbError("Procedure '" + name + "' not found");
  const std::string source = text.AsText();
  Procedure p;
  try {
    p = Parser(source).ParseCreate();
  } catch (const DbError& e) {
    throw DbError("procedure " + name + ": " + e.what());
  }
  Run(s, p);
}

void DropProcedure(Session& s, const std::vector<Token>& t) {
  std::size_t i = 2;
  const std::string name = TakeObjectName(t, i);
  if (i < t.size()) throw DbError("Syntax error: unexpected '" + t[i].text + "'");
  Connection& c = s.connection();
  if (c.Scalar("SELECT 1 FROM " + ProcedureTable() + " WHERE proc_name = ?", {Value::Text(name)})
          .IsNull())
    throw DbError("Procedure '" + name + "' not found");
  c.Scalar("DELETE FROM " + ProcedureTable() + " WHERE proc_name = ?", {Value::Text(name)});
}

void RunBlock(Session& s, std::string_view statement) {
  Run(s, Parser(statement).ParseAnonymous());
}

}  // namespace norvane
