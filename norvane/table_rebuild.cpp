#include "norvane/table_rebuild.h"

#include <map>

#include "norvane/catalog.h"
#include "norvane/lexer.h"
#include "norvane/table_properties.h"
#include "platform/text.h"

namespace norvane {
namespace {

constexpr std::string_view kTriggerPrefix = "sys_fk_";

bool IsConstraintWord(const Token& t) {
  for (const char* w : {"constraint", "primary", "not", "null", "unique", "check", "default",
                        "collate", "references", "generated", "as"})
    if (t.Is(w)) return true;
  return false;
}

bool StartsTableConstraint(const Token& t) {
  for (const char* w : {"constraint", "primary", "unique", "check", "foreign"})
    if (t.Is(w)) return true;
  return false;
}

TableDefinition::Element ParseElement(std::string_view sql, const std::vector<Token>& t,
                                      std::size_t a, std::size_t b) {
  TableDefinition::Element e;
  const std::size_t base = t[a].begin;
  e.text = std::string(sql.substr(base, t[b - 1].end - base));
  if (StartsTableConstraint(t[a])) return e;
  e.isColumn = true;
  e.column = t[a].value;
  std::size_t i = a + 1;
  e.typeBegin = e.typeEnd = t[a].end - base;
  int depth = 0;
  for (; i < b; ++i) {
    if (depth == 0 && IsConstraintWord(t[i])) break;
    if (t[i].IsSymbol("(")) ++depth;
    if (t[i].IsSymbol(")")) --depth;
    if (i == a + 1) e.typeBegin = t[i].begin - base;
    e.typeEnd = t[i].end - base;
  }
  for (; i < b; ++i) {
    if (t[i].Is("not") && i + 1 < b && t[i + 1].Is("null")) e.notNull = true;
    if (t[i].Is("generated") || t[i].Is("as")) e.generated = true;
  }
  return e;
}

std::vector<std::string> Column(Connection& c, const std::string& sql,
                                const std::vector<Value>& params = {}) {
  std::vector<std::string> out;
  for (const auto& row : c.Rows(sql, params)) out.push_back(row.at(0).AsText());
  return out;
}

// A table name not in use, for the new table while it is filled.
std::string FreeName(Connection& c, const std::string& base) {
  for (int n = 0;; ++n) {
    const std::string name = base + "_rebuild" + (n ? std::to_string(n) : "");
    if (c.Scalar("SELECT 1 FROM sqlite_schema WHERE name = ? COLLATE NOCASE", {Value::Text(name)})
            .IsNull())
      return name;
  }
}

// Turns on SQLite's legacy rename for the guard's lifetime: the rename of the rebuilt table must
// not rewrite or re-check other tables' references, which name the table being replaced.
class LegacyRename {
 public:
  explicit LegacyRename(Connection& c) : c_(c) { c_.Exec("PRAGMA legacy_alter_table = ON"); }
  LegacyRename(const LegacyRename&) = delete;
  LegacyRename& operator=(const LegacyRename&) = delete;
  ~LegacyRename() { sqlite3_exec(c_.get(), "PRAGMA legacy_alter_table = OFF", 0, 0, 0); }

 private:
  Connection& c_;
};

void DropForeignKeyTriggers(Connection& c) {
  for (const auto& name :
       Column(c, "SELECT name FROM sqlite_schema WHERE type = 'trigger' AND substr(name, 1, " +
                     std::to_string(kTriggerPrefix.size()) + ") = " + QuoteText(kTriggerPrefix)))
    c.Exec("DROP TRIGGER " + QuoteId(name));
}

std::string Conditions(const std::vector<std::string>& left, const std::string& leftPrefix,
                       const std::vector<std::string>& right, const std::string& rightPrefix,
                       const char* op, const char* joiner) {
  std::string out;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (i) out += joiner;
    out += leftPrefix + QuoteId(left[i]) + " " + op + " " + rightPrefix + QuoteId(right[i]);
  }
  return out;
}

std::string NotNullAll(const std::vector<std::string>& cols, const std::string& prefix) {
  std::string out;
  for (std::size_t i = 0; i < cols.size(); ++i)
    out += (i ? " AND " : "") + prefix + QuoteId(cols[i]) + " IS NOT NULL";
  return out;
}

std::string JoinQuoted(const std::vector<std::string>& cols) {
  std::string out;
  for (std::size_t i = 0; i < cols.size(); ++i) out += (i ? ", " : "") + QuoteId(cols[i]);
  return out;
}

}  // namespace

char Affinity(std::string_view declared) {
  const std::string t = platform::LowerAscii(declared);
  const auto has = [&t](const char* s) { return t.find(s) != std::string::npos; };
  if (has("int")) return 'i';
  if (has("char") || has("clob") || has("text")) return 't';
  if (has("blob") || platform::Trim(t).empty()) return 'b';
  if (has("real") || has("floa") || has("doub")) return 'r';
  return 'n';
}

TableDefinition::Element* TableDefinition::FindColumn(std::string_view column) {
  for (auto& e : elements)
    if (e.isColumn && platform::EqualsNoCase(e.column, column)) return &e;
  return nullptr;
}

std::string TableDefinition::ToSql(std::string_view tableName) const {
  std::string sql = "CREATE TABLE " + QuoteId(tableName) + " (";
  for (std::size_t i = 0; i < elements.size(); ++i) sql += (i ? ", " : "") + elements[i].text;
  return sql + ")" + tail;
}

TableDefinition ReadTableDefinition(Connection& c, std::string_view table) {
  const auto rows =
      c.Rows("SELECT name, sql FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE",
             {Value::Text(std::string(table))});
  if (rows.empty()) throw DbError("Table '" + std::string(table) + "' not found");
  TableDefinition def;
  def.name = rows[0][0].AsText();
  const std::string sql = rows[0][1].AsText();
  const std::vector<Token> t = Tokenize(sql);
  std::size_t open = 0;
  while (open < t.size() && !t[open].IsSymbol("(")) {
    if (t[open].Is("as")) break;
    ++open;
  }
  if (open == t.size() || !t[open].IsSymbol("("))
    throw DbError("The definition of table '" + def.name + "' cannot be changed");
  int depth = 0;
  std::size_t start = open + 1, close = t.size();
  for (std::size_t i = open; i < t.size(); ++i) {
    if (t[i].IsSymbol("(")) {
      ++depth;
    } else if (t[i].IsSymbol(")")) {
      if (--depth == 0) {
        close = i;
        break;
      }
    } else if (t[i].IsSymbol(",") && depth == 1) {
      def.elements.push_back(ParseElement(sql, t, start, i));
      start = i + 1;
    }
  }
  if (close == t.size() || start >= close)
    throw DbError("The definition of table '" + def.name + "' cannot be read");
  def.elements.push_back(ParseElement(sql, t, start, close));
  def.tail = sql.substr(t[close].end);
  return def;
}

void RebuildTable(Connection& c, const TableDefinition& def,
                  const std::vector<std::string>& copyExpressions) {
  const Value name = Value::Text(def.name);
  const std::vector<std::string> keep = Column(
      c,
      "SELECT sql FROM sqlite_schema WHERE tbl_name = ? AND type IN ('index', 'trigger') AND "
      "sql IS NOT NULL AND substr(name, 1, " +
          std::to_string(kTriggerPrefix.size()) + ") <> " + QuoteText(kTriggerPrefix),
      {name});
  const std::string quoted = QuoteId(def.name);
  const Value before = c.Scalar("SELECT count(*) FROM " + quoted);

  std::vector<std::string> columns, expressions;
  std::size_t n = 0;
  for (const auto& e : def.elements) {
    if (!e.isColumn) continue;
    if (n >= copyExpressions.size())
      throw DbError("internal: no copy expression for column " + e.column);
    if (!e.generated) {
      columns.push_back(e.column);
      expressions.push_back(copyExpressions[n]);
    }
    ++n;
  }
  std::string targets, sources;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    targets += (i ? ", " : "") + QuoteId(columns[i]);
    sources += (i ? ", " : "") + expressions[i];
  }

  DropForeignKeyTriggers(c);
  const std::string temp = FreeName(c, def.name);
  c.Exec(def.ToSql(temp));
  c.Exec("INSERT INTO " + QuoteId(temp) + " (" + targets + ") SELECT " + sources + " FROM " +
         quoted);
  c.Exec("DROP TABLE " + quoted);
  {
    LegacyRename legacy(c);
    c.Exec("ALTER TABLE " + QuoteId(temp) + " RENAME TO " + quoted);
  }
  for (const auto& sql : keep) c.Exec(sql);
  RefreshForeignKeyTriggers(c);
  const Value after = c.Scalar("SELECT count(*) FROM " + quoted);
  if (!(after == before))
    throw DbError("internal: rebuilding '" + def.name + "' changed the number of rows");
}

void RefreshForeignKeyTriggers(Connection& c) {
  DropForeignKeyTriggers(c);
  int serial = 0;
  for (const auto& child : Column(c, "SELECT name FROM sqlite_schema WHERE type = 'table'")) {
    if (IsCatalogName(child)) continue;
    // id -> (parent, child columns, parent columns)
    struct Key {
      std::string parent, onUpdate, onDelete;
      std::vector<std::string> from, to;
    };
    std::map<std::int64_t, Key> keys;
    for (const auto& row : c.Rows("SELECT id, \"table\", \"from\", \"to\", on_update, on_delete "
                                  "FROM pragma_foreign_key_list(?) ORDER BY id, seq",
                                  {Value::Text(child)})) {
      Key& k = keys[std::stoll(row[0].AsText())];
      k.parent = row[1].AsText();
      k.onUpdate = row[4].AsText();
      k.onDelete = row[5].AsText();
      k.from.push_back(row[2].AsText());
      k.to.push_back(row[3].AsText());
    }
    for (auto& [id, k] : keys) {
      if (c.Scalar("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE",
                   {Value::Text(k.parent)})
              .IsNull())
        continue;  // a key whose table is gone enforces nothing
      if (k.to.front().empty())
        k.to = Column(c, "SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                      {Value::Text(k.parent)});
      if (k.to.size() != k.from.size()) continue;
      const std::string base = std::string(kTriggerPrefix) + std::to_string(++serial) + "_";
      const std::string message =
          QuoteText("foreign key from " + QuoteId(child) + " (" + JoinQuoted(k.from) + ") to " +
                    QuoteId(k.parent) + " violated");
      const std::string raise = " BEGIN SELECT RAISE(ABORT, " + message + "); END";
      const std::string parent = QuoteId(k.parent), table = QuoteId(child);
      const std::string noParent = NotNullAll(k.from, "NEW.") + " AND NOT EXISTS (SELECT 1 FROM " +
                                   parent + " WHERE " +
                                   Conditions(k.to, "", k.from, "NEW.", "=", " AND ") + ")";
      const std::string hasChild = "EXISTS (SELECT 1 FROM " + table + " WHERE " +
                                   Conditions(k.from, "", k.to, "OLD.", "=", " AND ") + ")";
      c.Exec("CREATE TRIGGER " + QuoteId(base + "insert") + " BEFORE INSERT ON " + table +
             " WHEN " + noParent + raise);
      c.Exec("CREATE TRIGGER " + QuoteId(base + "update") + " BEFORE UPDATE OF " +
             JoinQuoted(k.from) + " ON " + table + " WHEN " + noParent + raise);
      // A parent row's delete and key change: the key's action, or a refusal.
      const std::string onDelete =
          ParentActionTrigger(base + "delete", true, k.onDelete, child, k.parent, k.from, k.to);
      const std::string onUpdate =
          ParentActionTrigger(base + "key", false, k.onUpdate, child, k.parent, k.from, k.to);
      c.Exec(!onDelete.empty() ? onDelete
                               : "CREATE TRIGGER " + QuoteId(base + "delete") +
                                     " BEFORE DELETE ON " + parent + " WHEN " + hasChild + raise);
      c.Exec(!onUpdate.empty() ? onUpdate
                               : "CREATE TRIGGER " + QuoteId(base + "key") + " BEFORE UPDATE OF " +
                                     JoinQuoted(k.to) + " ON " + parent + " WHEN (" +
                                     Conditions(k.to, "OLD.", k.to, "NEW.", "IS NOT", " OR ") +
                                     ") AND " + hasChild + raise);
    }
  }
}

}  // namespace norvane
