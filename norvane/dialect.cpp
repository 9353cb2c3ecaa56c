#include "norvane/dialect.h"

#include "norvane/catalog.h"
#include "norvane/procedure.h"
#include "norvane/table_edit.h"
#include "norvane/table_properties.h"
#include "platform/text.h"

namespace norvane {
namespace {

void ExpectEnd(const std::vector<Token>& t, std::size_t i) {
  if (i < t.size()) Syntax("unexpected '" + t[i].text + "'");
}

void RefuseCatalog(const TableDefinition& def) {
  if (IsCatalogName(def.name)) throw DbError("Catalog table '" + def.name + "' cannot be altered");
}

const TableDefinition::Element* FindColumn(const TableDefinition& def, std::string_view name) {
  for (const auto& e : def.elements)
    if (e.isColumn && platform::EqualsNoCase(e.column, name)) return &e;
  return nullptr;
}

const TableDefinition::Element& ColumnOf(const TableDefinition& def, const std::string& name) {
  const auto* e = FindColumn(def, name);
  if (!e) throw DbError("Column '" + name + "' not found in table '" + def.name + "'");
  return *e;
}

// The columns' names as the table spells them; a missing column: DbError.
std::vector<std::string> ColumnsOf(const TableDefinition& def,
                                   const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) out.push_back(ColumnOf(def, n).column);
  return out;
}

void ModifyNotNull(Connection& c, TableEdit& edit, const std::string& column) {
  const auto& e = ColumnOf(edit.definition(), column);
  if (e.notNull) return;
  const Value nulls = c.Scalar("SELECT count(*) FROM " + QuoteId(edit.name()) + " WHERE " +
                               QuoteId(e.column) + " IS NULL");
  if (nulls.AsText() != "0")
    throw DbError("Column '" + e.column + "' of table '" + edit.name() +
                  "' cannot be made not null: " + nulls.AsText() + " row(s) hold no value");
  edit.SetNotNull(e.column);
}

// True for text "1899-12-30 HH:MM:SS" with a valid time: the form the transfer stores, whose
// date and time SQLite's date functions would give too, only more slowly.
std::string PlainTimeOfDay(const std::string& col) {
  return "norvane_time_of_day(" + col + ") IS NOT NULL";
}

// The time of day of a date/time value; whole seconds without a fraction.
std::string TimeOfDay(const std::string& col) {
  return "coalesce(norvane_time_of_day(" + col + "), CASE WHEN " + col +
         " IS NULL THEN NULL WHEN strftime('%f', " + col + ") GLOB '*.000' THEN time(" + col +
         ") ELSE strftime('%H:%M:%f', " + col + ") END)";
}

void ModifyToTime(Connection& c, TableEdit& edit, const std::string& column) {
  const auto& e = ColumnOf(edit.definition(), column);
  if (platform::EqualsNoCase(platform::Trim(e.Type()), "time")) return;
  const std::string col = QuoteId(e.column);
  // Only times of day stored on 1899-12-30 can lose their date; any other value would be lost.
  const auto other = c.Rows("SELECT " + col + " FROM " + QuoteId(edit.name()) + " WHERE " + col +
                            " IS NOT NULL AND NOT " + PlainTimeOfDay(col) + " AND (date(" + col +
                            ") IS NULL OR date(" + col + ") <> '1899-12-30') LIMIT 1");
  if (!other.empty())
    throw DbError("Column '" + e.column + "' of table '" + edit.name() +
                  "' cannot become time: it holds '" + other[0][0].AsText() +
                  "', which is not a time of day on 1899-12-30");
  edit.SetType(e.column, "time", TimeOfDay(col));
}

void AddPrimaryKey(Connection& c, TableEdit& edit, const std::vector<std::string>& names) {
  if (edit.HasPrimaryKey()) throw DbError("Table '" + edit.name() + "' already has a primary key");
  const std::vector<std::string> cols = ColumnsOf(edit.definition(), names);
  std::vector<std::string> quoted;
  for (const auto& col : cols) quoted.push_back(QuoteId(col));
  const std::string table = QuoteId(edit.name()), list = Join(quoted, ", ");
  for (std::size_t k = 0; k < cols.size(); ++k)
    if (!ColumnOf(edit.definition(), cols[k]).notNull &&
        !c.Scalar("SELECT 1 FROM " + table + " WHERE " + quoted[k] + " IS NULL LIMIT 1").IsNull())
      throw DbError("Primary key of table '" + edit.name() + "' refused: column " + quoted[k] +
                    " holds rows without a value");
  if (edit.AddPrimaryKey(c, cols)) return;
  const auto dup = c.Rows("SELECT " + list + " FROM " + table + " GROUP BY " + list +
                          " HAVING count(*) > 1 LIMIT 1");
  if (dup.empty()) throw DbError("internal: the key's index refused rows that are unique");
  std::vector<std::string> values;
  for (const auto& v : dup[0]) values.push_back(v.AsText());
  throw DbError("Primary key of table '" + edit.name() + "' refused: the key (" +
                Join(values, ", ") + ") is held by more than one row");
}

// Whether the statement's plan sorts rows itself instead of reading them in order from the table
// or an index.
bool SortsRows(Connection& c, const std::string& select) {
  for (const auto& row : c.Rows("EXPLAIN QUERY PLAN " + select))
    if (row.back().AsText().find("TEMP B-TREE") != std::string::npos) return true;
  return false;
}

// True when every value of the child's column that is not NULL has an equal value in the parent's
// column, shown by reading both in order (from an index or the row id) side by side. Only INTEGER
// values are matched; two of them are equal under "=" exactly when they are the same number,
// unless TEXT affinity applies to one of them, so neither column may have TEXT affinity. False
// when it cannot be shown this way (a value with no match, another type, a side that would have to
// be sorted); the caller's own query then decides.
bool EveryChildHasParent(Connection& c, const TableDefinition& child, const std::string& from,
                         const TableDefinition& parent, const std::string& to) {
  if (Affinity(ColumnOf(child, from).Type()) == 't' || Affinity(ColumnOf(parent, to).Type()) == 't')
    return false;
  const auto ordered = [](const std::string& table, const std::string& column) {
    return "SELECT " + QuoteId(column) + " FROM " + QuoteId(table) + " WHERE " + QuoteId(column) +
           " IS NOT NULL ORDER BY " + QuoteId(column);
  };
  const std::string kidsSql = ordered(child.name, from), keysSql = ordered(parent.name, to);
  try {
    if (SortsRows(c, kidsSql) || SortsRows(c, keysSql)) return false;
    Statement kids(c, kidsSql), keys(c, keysSql);
    std::optional<std::int64_t> key;
    while (kids.Step()) {
      const auto kid = kids.ColumnInteger(0);
      if (!kid) return false;
      while (!key || *key < *kid) {
        if (!keys.Step()) return false;
        if (const auto k = keys.ColumnInteger(0)) key = k;
      }
      if (*key != *kid) return false;
    }
    return true;
  } catch (const DbError&) {
    return false;
  }
}

void AddForeignKey(Connection& c, TableEdit& edit, const std::vector<std::string>& names,
                   const std::string& parentName, const std::vector<std::string>& parentNames) {
  if (names.size() != parentNames.size())
    throw DbError("Foreign key refused: " + std::to_string(names.size()) + " column(s) refer to " +
                  std::to_string(parentNames.size()));
  TableDefinition parent = ReadTableDefinition(c, parentName);
  const std::vector<std::string> from = ColumnsOf(edit.definition(), names);
  const std::vector<std::string> to = ColumnsOf(parent, parentNames);
  // The referenced columns must be the parent's primary key or carry a unique index, as SQLite
  // requires of a declared key.
  std::vector<std::vector<std::string>> uniques;
  uniques.emplace_back();
  for (const auto& r : c.Rows("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                              {Value::Text(parent.name)}))
    uniques.back().push_back(r[0].AsText());
  for (const auto& idx : c.Rows("SELECT name FROM pragma_index_list(?) WHERE \"unique\" AND "
                                "partial = 0",
                                {Value::Text(parent.name)})) {
    uniques.emplace_back();
    for (const auto& r : c.Rows("SELECT name FROM pragma_index_info(?)", {idx[0]}))
      uniques.back().push_back(r[0].AsText());
  }
  bool unique = false;
  for (const auto& u : uniques) {
    if (u.size() != to.size()) continue;
    bool all = true;
    for (const auto& col : to) {
      bool found = false;
      for (const auto& k : u) found = found || platform::EqualsNoCase(k, col);
      all = all && found;
    }
    unique = unique || all;
  }
  if (!unique)
    throw DbError("Foreign key refused: the columns of '" + parent.name +
                  "' it refers to are not its primary key or a unique index");

  std::vector<std::string> qf, qt, match, notNull;
  for (std::size_t i = 0; i < from.size(); ++i) {
    qf.push_back(QuoteId(from[i]));
    qt.push_back(QuoteId(to[i]));
    match.push_back("p." + QuoteId(to[i]) + " = f." + QuoteId(from[i]));
    notNull.push_back("f." + QuoteId(from[i]) + " IS NOT NULL");
  }
  const bool matched =
      from.size() == 1 && EveryChildHasParent(c, edit.definition(), from[0], parent, to[0]);
  const auto orphan =
      matched ? std::vector<std::vector<Value>>{}
              : c.Rows("SELECT " + Join(qf, ", ") + " FROM " + QuoteId(edit.name()) +
                       " AS f WHERE " + Join(notNull, " AND ") + " AND NOT EXISTS (SELECT 1 FROM " +
                       QuoteId(parent.name) + " AS p WHERE " + Join(match, " AND ") + ") LIMIT 1");
  if (!orphan.empty()) {
    std::vector<std::string> values;
    for (const auto& v : orphan[0]) values.push_back(v.AsText());
    throw DbError("Foreign key from '" + edit.name() + "' to '" + parent.name + "' refused: (" +
                  Join(values, ", ") + ") has no matching row in '" + parent.name + "'");
  }
  edit.AddConstraint("FOREIGN KEY (" + Join(qf, ", ") + ") REFERENCES " + QuoteId(parent.name) +
                     " (" + Join(qt, ", ") + ")");
}

// alter table <name> followed by a change of its definition (t[i] is the word after the name).
bool EditsDefinition(const std::vector<Token>& t, std::size_t i) {
  // "modify foreign key": a key's actions, which table_properties applies on its own.
  if (i + 1 < t.size() && t[i].Is("modify") && t[i + 1].Is("foreign")) return false;
  return (i < t.size() && t[i].Is("modify")) ||
         (i + 1 < t.size() && t[i].Is("add") && (t[i + 1].Is("primary") || t[i + 1].Is("foreign")));
}

// Checks the data one change of the definition needs and adds the change to `edit`.
void ApplyAlterForm(Connection& c, TableEdit& edit, const std::vector<Token>& t, std::size_t i) {
  if (t[i].Is("modify")) {
    ++i;
    if (i >= t.size() || !t[i].IsName()) Syntax("expected a column name after modify");
    const std::string column = t[i++].value;
    if (i + 1 < t.size() && t[i].Is("not") && t[i + 1].Is("null")) {
      ExpectEnd(t, i + 2);
      ModifyNotNull(c, edit, column);
    } else if (i < t.size() && t[i].Is("time")) {
      ExpectEnd(t, i + 1);
      ModifyToTime(c, edit, column);
    } else {
      throw DbError(
          "Unsupported column change: only 'not null' and 'time' can be given after "
          "modify");
    }
  } else if (t[i + 1].Is("primary")) {
    i += 2;
    Expect(t, i, "key");
    const auto names = NameList(t, i);
    ExpectEnd(t, i);
    AddPrimaryKey(c, edit, names);
  } else {
    i += 2;
    Expect(t, i, "key");
    const auto names = NameList(t, i);
    Expect(t, i, "references");
    const std::string parent = TakeObjectName(t, i);
    const auto parentNames = NameList(t, i);
    ExpectEnd(t, i);
    AddForeignKey(c, edit, names, parent, parentNames);
  }
}

// The table an "alter table" statement changes the definition of; nullopt for other statements.
std::optional<std::string> EditedTable(std::string_view statement) {
  const std::vector<Token> t = Tokenize(statement);
  for (const auto& tok : t)
    if (tok.kind == Token::kBad) return std::nullopt;
  if (t.size() < 3 || !t[0].Is("alter") || !t[1].Is("table")) return std::nullopt;
  std::size_t i = 2;
  try {
    std::string table = TakeObjectName(t, i);
    if (EditsDefinition(t, i)) return table;
  } catch (const DbError&) {
  }
  return std::nullopt;
}

// Changes whose checks must see the table with the changes before them made: anything after a
// rewrite of values (but more of the same), and a key that refers to its own table.
bool NeedsTableAsItStands(const TableEdit& edit, const std::vector<Token>& t, std::size_t i) {
  if (edit.RewritesValues() && !(t.size() == i + 3 && t[i].Is("modify") && t[i + 2].Is("time")))
    return true;
  if (i + 1 >= t.size() || !t[i].Is("add") || !t[i + 1].Is("foreign")) return false;
  while (i < t.size() && !t[i].Is("references")) ++i;
  try {
    return platform::EqualsNoCase(TakeObjectName(t, ++i), edit.name());
  } catch (const DbError&) {
    return false;
  }
}

}  // namespace

void Syntax(const std::string& what) {
  throw DbError("Syntax error: " + what);
}

void Expect(const std::vector<Token>& t, std::size_t& i, std::string_view word) {
  if (i >= t.size() || !(t[i].Is(word) || t[i].IsSymbol(word)))
    Syntax("expected '" + std::string(word) + "'" +
           (i < t.size() ? " near '" + t[i].text + "'" : " at the end"));
  ++i;
}

std::vector<std::string> NameList(const std::vector<Token>& t, std::size_t& i) {
  Expect(t, i, "(");
  std::vector<std::string> names;
  while (true) {
    if (i >= t.size() || !t[i].IsName()) Syntax("expected a column name");
    names.push_back(t[i++].value);
    if (i < t.size() && t[i].IsSymbol(",")) {
      ++i;
      continue;
    }
    Expect(t, i, ")");
    return names;
  }
}

std::string Join(const std::vector<std::string>& v, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) out += (i ? std::string(sep) : "") + v[i];
  return out;
}

std::string TakeObjectName(const std::vector<Token>& t, std::size_t& i) {
  if (i >= t.size() || !t[i].IsName()) Syntax("expected a name");
  std::string name = t[i++].value;
  if (i + 1 < t.size() && t[i].IsSymbol(".") && t[i + 1].IsName()) {
    const std::string second = t[i + 1].value;
    i += 2;
    // SYS.<name> is a catalog object; any other owner is the one user the file has.
    name = platform::EqualsNoCase(name, "SYS") ? "SYS." + second : second;
  }
  return name;
}

std::string RewriteDialect(std::string_view s) {
  const std::vector<Token> t = Tokenize(s);
  std::string out;
  std::size_t copied = 0;
  auto replace = [&](std::size_t first, std::size_t last, const std::string& with) {
    out += std::string(s.substr(copied, t[first].begin - copied)) + with;
    copied = t[last].end;
  };
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].IsName() && platform::EqualsNoCase(t[i].value, "SYS") && i + 2 < t.size() &&
        t[i + 1].IsSymbol(".") && t[i + 2].IsName() && (i == 0 || !t[i - 1].IsSymbol("."))) {
      replace(i, i + 2, QuoteId("SYS." + t[i + 2].value));
      i += 2;
    } else if (t[i].Is("number") && i + 3 < t.size() && t[i + 1].IsSymbol("(") &&
               t[i + 2].IsSymbol("*") && t[i + 3].IsSymbol(")")) {
      replace(i, i + 3, "row_number() OVER ()");
      i += 3;
    }
  }
  return out + std::string(s.substr(copied));
}

Session::Session(Connection& c, std::ostream& out) : c_(c), out_(out) {}

void Session::Execute(std::string_view statement) {
  const std::vector<Token> t = Tokenize(statement);
  for (const auto& tok : t)
    if (tok.kind == Token::kBad) throw DbError("Syntax error: " + tok.value);
  if (t.empty()) return;
  if (t[0].Is("commit")) {
    std::size_t i = 1;
    if (i < t.size() && (t[i].Is("work") || t[i].Is("transaction"))) ++i;
    ExpectEnd(t, i);
    if (c_.InTransaction()) c_.Exec("COMMIT");
    return;
  }
  if (t[0].Is("alter") && t.size() > 1 && t[1].Is("table")) return AlterTable(statement, t);
  if (t[0].Is("create") && t.size() > 1 && t[1].Is("procedure"))
    return CreateProcedure(*this, statement);
  if (t[0].Is("call")) return CallProcedure(*this, statement);
  if (t[0].Is("drop") && t.size() > 1 && t[1].Is("procedure")) return DropProcedure(*this, t);
  if (t[0].Is("begin") && t.size() > 1 && !t[1].Is("transaction") && !t[1].Is("deferred") &&
      !t[1].Is("immediate") && !t[1].Is("exclusive"))
    return RunBlock(*this, statement);
  PlainSql(statement);
}

void Session::ExecuteText(std::string_view text) {
  const std::vector<ScriptStatement> statements = SplitScript(text);
  std::vector<std::string_view> texts;
  for (const auto& st : statements) texts.push_back(st.text);
  for (std::size_t k = 0; k < texts.size();) {
    const std::size_t n = std::max<std::size_t>(AlterRunLength(texts, k), 1);
    const auto errors = n > 1 ? ExecuteAlterRun({texts.begin() + k, n}, true)
                              : std::vector<std::optional<std::string>>{Try(texts[k])};
    for (std::size_t j = 0; j < n; ++j)
      if (errors[j]) throw DbError(*errors[j] + " (in: " + statements[k + j].text + ")");
    k += n;
  }
}

std::optional<std::string> Session::Try(std::string_view statement) {
  try {
    Execute(statement);
    return std::nullopt;
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::size_t Session::AlterRunLength(std::span<const std::string_view> statements,
                                    std::size_t first) const {
  std::string table;
  std::size_t k = first;
  for (; k < statements.size(); ++k) {
    const auto edited = EditedTable(statements[k]);
    if (!edited || (k > first && !platform::EqualsNoCase(*edited, table))) break;
    table = *edited;
  }
  return k - first;
}

std::vector<std::optional<std::string>> Session::ExecuteAlterRun(
    std::span<const std::string_view> run, bool stopAtFailure) {
  std::vector<std::optional<std::string>> errors(run.size());
  try {
    Savepoint unit(c_, "norvane_alter_run");
    TableEdit edit = TableEdit::Read(c_, EditedTable(run.front()).value());
    RefuseCatalog(edit.definition());
    for (std::size_t k = 0; k < run.size(); ++k) {
      const std::vector<Token> t = Tokenize(run[k]);
      std::size_t i = 2;
      TakeObjectName(t, i);
      if (edit.Changed() && NeedsTableAsItStands(edit, t, i)) {
        edit.Apply(c_);
        edit = TableEdit::Read(c_, edit.name());
      }
      TableEdit next = edit;
      try {
        Savepoint one(c_, "norvane_alter");
        ApplyAlterForm(c_, next, t, i);
        one.Release();
        edit = std::move(next);
      } catch (const std::exception& e) {
        errors[k] = e.what();
        if (stopAtFailure) break;
      }
    }
    edit.Apply(c_);
    unit.Release();
    return errors;
  } catch (const std::exception&) {
    // A failure of the run as a whole, undone: the statements go one by one, as alone.
  }
  for (std::size_t k = 0; k < run.size(); ++k) {
    errors[k] = Try(run[k]);
    if (errors[k] && stopAtFailure) break;
  }
  return errors;
}

void Session::AlterTable(std::string_view statement, const std::vector<Token>& t) {
  std::size_t i = 2;
  const std::string table = TakeObjectName(t, i);
  if (AlterTableProperty(c_, statement, t, i, table)) return;
  if (!EditsDefinition(t, i)) {
    // rename, add column, drop column: SQLite does these in place.
    if (IsCatalogName(table)) throw DbError("Catalog table '" + table + "' cannot be altered");
    return PlainSql(statement);
  }
  TableEdit edit = TableEdit::Read(c_, table);
  RefuseCatalog(edit.definition());
  Savepoint unit(c_, "norvane_alter");
  ApplyAlterForm(c_, edit, t, i);
  edit.Apply(c_);
  unit.Release();
}

void Session::PlainSql(std::string_view statement) {
  const std::string sql = RewriteDialect(statement);
  std::string_view rest = sql;
  while (!platform::Trim(rest).empty()) {
    std::string_view tail;
    Statement st(c_, rest, &tail);
    rest = tail;
    if (st.Empty()) break;
    bool header = false;
    while (st.Step()) {
      if (!header) {
        for (int i = 0; i < st.ColumnCount(); ++i) out_ << (i ? "\t" : "") << st.ColumnName(i);
        out_ << "\n";
        header = true;
      }
      for (int i = 0; i < st.ColumnCount(); ++i) {
        const Value v = st.Column(i);
        out_ << (i ? "\t" : "") << (v.IsNull() ? "(NULL)" : v.AsText());
      }
      out_ << "\n";
    }
  }
}

}  // namespace norvane
