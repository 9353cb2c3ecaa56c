#include "norvane/dialect.h"

#include "norvane/catalog.h"
#include "norvane/procedure.h"
#include "norvane/table_properties.h"
#include "norvane/table_rebuild.h"
#include "platform/text.h"

namespace norvane {
namespace {

[[noreturn]] void Syntax(const std::string& what) {
  throw DbError("Syntax error: " + what);
}

void Expect(const std::vector<Token>& t, std::size_t& i, std::string_view word) {
  if (i >= t.size() || !(t[i].Is(word) || t[i].IsSymbol(word)))
    Syntax("expected '" + std::string(word) + "'" +
           (i < t.size() ? " near '" + t[i].text + "'" : " at the end"));
  ++i;
}

void ExpectEnd(const std::vector<Token>& t, std::size_t i) {
  if (i < t.size()) Syntax("unexpected '" + t[i].text + "'");
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

// Every column of the definition copied as it is.
std::vector<std::string> SameColumns(const TableDefinition& def) {
  std::vector<std::string> out;
  for (const auto& e : def.elements)
    if (e.isColumn) out.push_back(QuoteId(e.column));
  return out;
}

void RefuseCatalog(const TableDefinition& def) {
  if (IsCatalogName(def.name)) throw DbError("Catalog table '" + def.name + "' cannot be altered");
}

// The columns' names as the table spells them; a missing column: DbError.
std::vector<std::string> ColumnsOf(TableDefinition& def, const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) {
    const auto* e = def.FindColumn(n);
    if (!e) throw DbError("Column '" + n + "' not found in table '" + def.name + "'");
    out.push_back(e->column);
  }
  return out;
}

void ModifyNotNull(Connection& c, TableDefinition def, const std::string& column) {
  auto* e = def.FindColumn(column);
  if (!e) throw DbError("Column '" + column + "' not found in table '" + def.name + "'");
  if (e->notNull) return;
  const Value nulls = c.Scalar("SELECT count(*) FROM " + QuoteId(def.name) + " WHERE " +
                               QuoteId(e->column) + " IS NULL");
  if (nulls.AsText() != "0")
    throw DbError("Column '" + e->column + "' of table '" + def.name +
                  "' cannot be made not null: " + nulls.AsText() + " row(s) hold no value");
  e->text += " NOT NULL";
  e->notNull = true;
  RebuildTable(c, def, SameColumns(def));
}

// The time of day of a date/time value; whole seconds without a fraction.
std::string TimeOfDay(const std::string& col) {
  return "CASE WHEN " + col + " IS NULL THEN NULL WHEN strftime('%f', " + col +
         ") GLOB '*.000' THEN time(" + col + ") ELSE strftime('%H:%M:%f', " + col + ") END";
}

void ModifyToTime(Connection& c, TableDefinition def, const std::string& column) {
  auto* e = def.FindColumn(column);
  if (!e) throw DbError("Column '" + column + "' not found in table '" + def.name + "'");
  const std::string type = e->text.substr(e->typeBegin, e->typeEnd - e->typeBegin);
  if (platform::EqualsNoCase(platform::Trim(type), "time")) return;
  const std::string col = QuoteId(e->column);
  // Only times of day stored on 1899-12-30 can lose their date; any other value would be lost.
  const auto other = c.Rows("SELECT " + col + " FROM " + QuoteId(def.name) + " WHERE " + col +
                            " IS NOT NULL AND (date(" + col + ") IS NULL OR date(" + col +
                            ") <> '1899-12-30') "
                            "LIMIT 1");
  if (!other.empty())
    throw DbError("Column '" + e->column + "' of table '" + def.name +
                  "' cannot become time: it holds '" + other[0][0].AsText() +
                  "', which is not a time of day on 1899-12-30");
  e->text = e->text.substr(0, e->typeBegin) + (e->typeBegin == e->typeEnd ? " " : "") + "time" +
            e->text.substr(e->typeEnd);
  std::vector<std::string> copy = SameColumns(def);
  std::size_t n = 0;
  for (const auto& el : def.elements) {
    if (!el.isColumn) continue;
    if (&el == e) copy[n] = TimeOfDay(col);
    ++n;
  }
  RebuildTable(c, def, copy);
}

void AddPrimaryKey(Connection& c, TableDefinition def, const std::vector<std::string>& names) {
  if (!c.Scalar("SELECT 1 FROM pragma_table_info(?) WHERE pk > 0", {Value::Text(def.name)})
           .IsNull())
    throw DbError("Table '" + def.name + "' already has a primary key");
  const std::vector<std::string> cols = ColumnsOf(def, names);
  std::vector<std::string> quoted;
  for (const auto& col : cols) quoted.push_back(QuoteId(col));
  const std::string table = QuoteId(def.name), list = Join(quoted, ", ");
  for (const auto& q : quoted)
    if (!c.Scalar("SELECT 1 FROM " + table + " WHERE " + q + " IS NULL LIMIT 1").IsNull())
      throw DbError("Primary key of table '" + def.name + "' refused: column " + q +
                    " holds rows without a value");
  const auto dup = c.Rows("SELECT " + list + " FROM " + table + " GROUP BY " + list +
                          " HAVING count(*) > 1 LIMIT 1");
  if (!dup.empty()) {
    std::vector<std::string> values;
    for (const auto& v : dup[0]) values.push_back(v.AsText());
    throw DbError("Primary key of table '" + def.name + "' refused: the key (" +
                  Join(values, ", ") + ") is held by more than one row");
  }
  for (const auto& col : cols) {
    auto* e = def.FindColumn(col);
    if (!e->notNull) {
      e->text += " NOT NULL";
      e->notNull = true;
    }
  }
  TableDefinition::Element key;
  key.text = "PRIMARY KEY (" + list + ")";
  def.elements.push_back(key);
  RebuildTable(c, def, SameColumns(def));
}

void AddForeignKey(Connection& c, TableDefinition def, const std::vector<std::string>& names,
                   const std::string& parentName, const std::vector<std::string>& parentNames) {
  if (names.size() != parentNames.size())
    throw DbError("Foreign key refused: " + std::to_string(names.size()) + " column(s) refer to " +
                  std::to_string(parentNames.size()));
  TableDefinition parent = ReadTableDefinition(c, parentName);
  const std::vector<std::string> from = ColumnsOf(def, names);
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
  const auto orphan =
      c.Rows("SELECT " + Join(qf, ", ") + " FROM " + QuoteId(def.name) + " AS f WHERE " +
             Join(notNull, " AND ") + " AND NOT EXISTS (SELECT 1 FROM " + QuoteId(parent.name) +
             " AS p WHERE " + Join(match, " AND ") + ") LIMIT 1");
  if (!orphan.empty()) {
    std::vector<std::string> values;
    for (const auto& v : orphan[0]) values.push_back(v.AsText());
    throw DbError("Foreign key from '" + def.name + "' to '" + parent.name + "' refused: (" +
                  Join(values, ", ") + ") has no matching row in '" + parent.name + "'");
  }
  TableDefinition::Element key;
  key.text = "FOREIGN KEY (" + Join(qf, ", ") + ") REFERENCES " + QuoteId(parent.name) + " (" +
             Join(qt, ", ") + ")";
  def.elements.push_back(key);
  RebuildTable(c, def, SameColumns(def));
}

}  // namespace

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
  for (const auto& st : SplitScript(text)) {
    try {
      Execute(st.text);
    } catch (const DbError& e) {
      throw DbError(std::string(e.what()) + " (in: " + st.text + ")");
    }
  }
}

void Session::AlterTable(std::string_view statement, const std::vector<Token>& t) {
  std::size_t i = 2;
  const std::string table = TakeObjectName(t, i);
  if (AlterTableProperty(c_, statement, t, i, table)) return;
  const bool modify = i < t.size() && t[i].Is("modify");
  const bool addKey =
      i + 1 < t.size() && t[i].Is("add") && (t[i + 1].Is("primary") || t[i + 1].Is("foreign"));
  if (!modify && !addKey) {
    // rename, add column, drop column: SQLite does these in place.
    if (IsCatalogName(table)) throw DbError("Catalog table '" + table + "' cannot be altered");
    return PlainSql(statement);
  }
  TableDefinition def = ReadTableDefinition(c_, table);
  RefuseCatalog(def);
  Savepoint unit(c_, "norvane_alter");
  if (modify) {
    ++i;
    if (i >= t.size() || !t[i].IsName()) Syntax("expected a column name after modify");
    const std::string column = t[i++].value;
    if (i + 1 < t.size() && t[i].Is("not") && t[i + 1].Is("null")) {
      ExpectEnd(t, i + 2);
      ModifyNotNull(c_, def, column);
    } else if (i < t.size() && t[i].Is("time")) {
      ExpectEnd(t, i + 1);
      ModifyToTime(c_, def, column);
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
    AddPrimaryKey(c_, def, names);
  } else {
    i += 2;
    Expect(t, i, "key");
    const auto names = NameList(t, i);
    Expect(t, i, "references");
    const std::string parent = TakeObjectName(t, i);
    const auto parentNames = NameList(t, i);
    ExpectEnd(t, i);
    AddForeignKey(c_, def, names, parent, parentNames);
  }
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
