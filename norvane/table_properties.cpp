#include "norvane/table_properties.h"

#include "norvane/catalog.h"
#include "norvane/dialect.h"
#include "platform/text.h"

namespace norvane {
namespace {

std::vector<std::string> Quoted(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) out.push_back(QuoteId(n));
  return out;
}

// "cascade", "set null", "no action" or "restrict" at t[i], in SQLite's spelling.
std::string Action(const std::vector<Token>& t, std::size_t& i) {
  if (i < t.size() && t[i].Is("cascade")) return ++i, "CASCADE";
  if (i < t.size() && t[i].Is("restrict")) return ++i, "RESTRICT";
  if (i + 1 < t.size() && t[i].Is("set") && t[i + 1].Is("null")) return i += 2, "SET NULL";
  if (i + 1 < t.size() && t[i].Is("no") && t[i + 1].Is("action")) return i += 2, "NO ACTION";
  Syntax("expected cascade, set null or no action");
}

// The columns of `def` named, as the table spells them.
std::vector<std::string> Spelled(TableDefinition& def, const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) {
    const auto* e = def.FindColumn(n);
    if (!e) throw DbError("Column '" + n + "' not found in table '" + def.name + "'");
    out.push_back(e->column);
  }
  return out;
}

std::vector<std::string> SameColumns(const TableDefinition& def) {
  std::vector<std::string> out;
  for (const auto& e : def.elements)
    if (e.isColumn) out.push_back(QuoteId(e.column));
  return out;
}

// The key of up to five rows for which `condition` is false, as "(k1), (k2)"; empty when none.
std::string Offenders(Connection& c, const std::string& table, const std::string& condition) {
  std::vector<std::string> key;
  for (const auto& r : c.Rows("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                              {Value::Text(table)}))
    key.push_back(QuoteId(r[0].AsText()));
  if (key.empty()) key.push_back("rowid");
  const auto rows = c.Rows("SELECT " + Join(key, ", ") + " FROM " + QuoteId(table) +
                           " WHERE NOT (" + condition + ") LIMIT 5");
  std::string out;
  for (const auto& row : rows) {
    std::vector<std::string> values;
    for (const auto& v : row) values.push_back(v.AsText());
    out += (out.empty() ? "(" : ", (") + Join(values, ", ") + ")";
  }
  return out;
}

}  // namespace

void AddCheck(Connection& c, TableDefinition& def, const std::string& condition) {
  const std::string offenders = Offenders(c, def.name, condition);
  if (!offenders.empty())
    throw DbError("Check on table '" + def.name + "' refused: rows with the keys " + offenders +
                  " break it");
  TableDefinition::Element check;
  check.text = "CHECK (" + condition + ")";
  def.elements.push_back(check);
}

void SetForeignKeyActions(TableDefinition& def, const std::vector<std::string>& columns,
                          const std::string& parent, const std::vector<std::string>& parentColumns,
                          const std::string& onUpdate, const std::string& onDelete) {
  // The key as "add foreign key" declares it.
  const std::string key = "FOREIGN KEY (" + Join(Quoted(Spelled(def, columns)), ", ") +
                          ") REFERENCES " + QuoteId(parent) + " (" +
                          Join(Quoted(parentColumns), ", ") + ")";
  for (auto& e : def.elements) {
    if (e.isColumn || !platform::StartsWithNoCase(e.text, key)) continue;
    const std::string rest = platform::Trim(std::string_view(e.text).substr(key.size()));
    if (!rest.empty() && !platform::StartsWithNoCase(rest, "on ")) continue;
    e.text = key + (onUpdate.empty() ? "" : " ON UPDATE " + onUpdate) +
             (onDelete.empty() ? "" : " ON DELETE " + onDelete);
    return;
  }
  throw DbError("Table '" + def.name + "' has no foreign key (" + Join(columns, ", ") + ") to '" +
                parent + "'");
}

std::string ParentActionTrigger(const std::string& name, bool onDelete, std::string_view action,
                                const std::string& child, const std::string& parent,
                                const std::vector<std::string>& from,
                                const std::vector<std::string>& to) {
  const bool cascade = platform::EqualsNoCase(action, "CASCADE");
  if (!cascade && !platform::EqualsNoCase(action, "SET NULL")) return "";
  std::vector<std::string> match, changed, set;
  for (std::size_t i = 0; i < from.size(); ++i) {
    match.push_back(QuoteId(from[i]) + " = OLD." + QuoteId(to[i]));
    changed.push_back("OLD." + QuoteId(to[i]) + " IS NOT NEW." + QuoteId(to[i]));
    set.push_back(QuoteId(from[i]) + " = " + (cascade ? "NEW." + QuoteId(to[i]) : "NULL"));
  }
  const std::string where = " WHERE " + Join(match, " AND ");
  if (onDelete)
    return "CREATE TRIGGER " + QuoteId(name) + " AFTER DELETE ON " + QuoteId(parent) + " BEGIN " +
           (cascade ? "DELETE FROM " + QuoteId(child) + where
                    : "UPDATE " + QuoteId(child) + " SET " + Join(set, ", ") + where) +
           "; END";
  return "CREATE TRIGGER " + QuoteId(name) + " AFTER UPDATE OF " + Join(Quoted(to), ", ") + " ON " +
         QuoteId(parent) + " WHEN " + Join(changed, " OR ") + " BEGIN UPDATE " + QuoteId(child) +
         " SET " + Join(set, ", ") + where + "; END";
}

bool AlterTableProperty(Connection& c, std::string_view statement, const std::vector<Token>& t,
                        std::size_t i, const std::string& table) {
  const bool check = i + 1 < t.size() && t[i].Is("add") && t[i + 1].Is("check");
  const bool actions =
      i + 2 < t.size() && t[i].Is("modify") && t[i + 1].Is("foreign") && t[i + 2].Is("key");
  if (!check && !actions) return false;
  TableDefinition def = ReadTableDefinition(c, table);
  if (IsCatalogName(def.name)) throw DbError("Catalog table '" + def.name + "' cannot be altered");
  Savepoint unit(c, "norvane_property");
  i += 2;
  if (check) {
    // The condition as written, between the outer parentheses.
    if (i >= t.size() || !t[i].IsSymbol("(") || !t.back().IsSymbol(")") || t.size() - i < 3)
      Syntax("expected (condition) after check");
    int depth = 0;
    for (std::size_t k = i; k < t.size(); ++k) {
      depth += t[k].IsSymbol("(") ? 1 : t[k].IsSymbol(")") ? -1 : 0;
      if (depth == 0 && k + 1 < t.size()) Syntax("unexpected '" + t[k + 1].text + "'");
    }
    const std::string condition(
        statement.substr(t[i + 1].begin, t[t.size() - 2].end - t[i + 1].begin));
    AddCheck(c, def, condition);
  } else {
    Expect(t, i, "key");
    const auto columns = NameList(t, i);
    Expect(t, i, "references");
    const std::string parent = TakeObjectName(t, i);
    const auto parentColumns = NameList(t, i);
    std::string onUpdate, onDelete;
    while (i < t.size()) {
      Expect(t, i, "on");
      if (i < t.size() && t[i].Is("update")) {
        onUpdate = Action(t, ++i);
      } else if (i < t.size() && t[i].Is("delete")) {
        onDelete = Action(t, ++i);
      } else {
        Syntax("expected update or delete after on");
      }
    }
    TableDefinition parentDef = ReadTableDefinition(c, parent);
    SetForeignKeyActions(def, columns, parentDef.name, Spelled(parentDef, parentColumns), onUpdate,
                         onDelete);
  }
  RebuildTable(c, def, SameColumns(def));
  unit.Release();
  return true;
}

}  // namespace norvane
