#include "norvane/table_edit.h"

#include <stdexcept>

#include "norvane/lexer.h"
#include "platform/text.h"

namespace norvane {
namespace {

constexpr std::string_view kKeyIndex = "sys_new_primary_key";

bool Mentions(const std::string& text, const char* word) {
  return platform::LowerAscii(text).find(word) != std::string::npos;
}

// Whether the trigger made by `sql` fires on an UPDATE of its table; true when its text cannot be
// read that far. CREATE [TEMP] TRIGGER [IF NOT EXISTS] [schema.]name [BEFORE | AFTER |
// INSTEAD OF] event ...
bool FiresOnUpdate(const std::string& sql) {
  const std::vector<Token> t = Tokenize(sql);
  std::size_t i = 0;
  const auto word = [&](const char* w) {
    if (i >= t.size() || !t[i].Is(w)) return false;
    ++i;
    return true;
  };
  if (!word("create")) return true;
  if (!word("temp")) word("temporary");
  if (!word("trigger")) return true;
  if (word("if") && !(word("not") && word("exists"))) return true;
  if (i >= t.size() || !t[i].IsName()) return true;
  ++i;
  if (i + 1 < t.size() && t[i].IsSymbol(".")) i += 2;
  if (!word("before") && !word("after") && word("instead") && !word("of")) return true;
  return !(word("insert") || word("delete"));
}

}  // namespace

TableEdit TableEdit::Read(Connection& c, std::string_view table) {
  TableEdit edit;
  edit.def_ = ReadTableDefinition(c, table);
  for (const auto& e : edit.def_.elements)
    if (e.isColumn) edit.same_.push_back(QuoteId(e.column));
  edit.copy_ = edit.same_;
  edit.hasPrimaryKey_ =
      !c.Scalar("SELECT 1 FROM pragma_table_info(?) WHERE pk > 0", {Value::Text(edit.def_.name)})
           .IsNull();
  return edit;
}

bool TableEdit::RewritesValues() const {
  return copy_ != same_;
}

TableDefinition& TableEdit::EditDefinition() {
  changed_ = rebuild_ = true;
  return def_;
}

std::vector<std::string>& TableEdit::EditCopyExpressions() {
  changed_ = rebuild_ = true;
  return copy_;
}

TableDefinition::Element& TableEdit::Column(std::string_view column) {
  auto* e = def_.FindColumn(column);
  if (!e) throw DbError("Column '" + std::string(column) + "' not found in table '" + name() + "'");
  return *e;
}

void TableEdit::SetNotNull(std::string_view column) {
  auto& e = Column(column);
  if (e.notNull) return;
  e.text += " NOT NULL";
  e.notNull = true;
  changed_ = true;
}

void TableEdit::SetType(std::string_view column, const std::string& type,
                        std::string valueExpression) {
  auto& e = Column(column);
  // Stored values keep their meaning only under the same affinity.
  if (e.generated || Affinity(e.Type()) != Affinity(type)) rebuild_ = true;
  e.text = e.text.substr(0, e.typeBegin) + (e.typeBegin == e.typeEnd ? " " : "") + type +
           e.text.substr(e.typeEnd);
  e.typeEnd = e.typeBegin + (e.typeBegin == e.typeEnd ? 1 : 0) + type.size();
  std::size_t n = 0;
  for (const auto& el : def_.elements) {
    if (!el.isColumn) continue;
    if (&el == &e) copy_[n] = std::move(valueExpression);
    ++n;
  }
  changed_ = true;
}

bool TableEdit::KeyFitsInPlace(Connection& c, const std::vector<std::string>& columns) const {
  if (rebuild_ || !platform::Trim(def_.tail).empty()) return false;
  for (std::size_t i = 0; i < columns.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (platform::EqualsNoCase(columns[i], columns[j])) return false;
  // A key on one integer column makes it the row id: the rows are stored anew.
  if (columns.size() == 1)
    for (const auto& e : def_.elements)
      if (e.isColumn && platform::EqualsNoCase(e.column, columns[0]) && Affinity(e.Type()) == 'i')
        return false;
  // The key's index takes the first automatic index name; keep clear of tables that have one.
  for (const auto& e : def_.elements)
    if (Mentions(e.text, "unique") || Mentions(e.text, "primary")) return false;
  return c
      .Scalar(
          "SELECT 1 FROM sqlite_schema WHERE (type = 'index' AND tbl_name = ? AND substr(name, 1, "
          "17) = 'sqlite_autoindex_') OR name = ? COLLATE NOCASE",
          {Value::Text(name()), Value::Text(std::string(kKeyIndex))})
      .IsNull();
}

// A key on one column declared "integer" makes that column the row id. Where every row's row id
// already equals its key value (rows transferred in key order from 1 on), the stored rows are what
// a rebuild would store: the definition alone changes. Equal row ids also mean no NULLs and no
// duplicates.
bool TableEdit::RowIdKeyFitsInPlace(Connection& c, const std::vector<std::string>& columns) const {
  if (rebuild_ || !platform::Trim(def_.tail).empty() || columns.size() != 1) return false;
  std::size_t n = 0, key = copy_.size();
  for (const auto& e : def_.elements) {
    if (!e.isColumn) continue;
    if (platform::EqualsNoCase(e.column, "rowid")) return false;  // the name is taken
    if (platform::EqualsNoCase(e.column, columns[0])) {
      if (e.generated || !platform::EqualsNoCase(platform::Trim(e.Type()), "integer")) return false;
      key = n;
    }
    ++n;
  }
  if (key == copy_.size() || copy_[key] != same_[key]) return false;
  for (const auto& e : def_.elements)
    if (Mentions(e.text, "primary")) return false;
  return c
      .Scalar("SELECT 1 FROM " + QuoteId(name()) + " WHERE rowid IS NOT " + same_[key] + " LIMIT 1")
      .IsNull();
}

bool TableEdit::AddPrimaryKey(Connection& c, const std::vector<std::string>& columns) {
  std::string list;
  for (std::size_t i = 0; i < columns.size(); ++i) list += (i ? ", " : "") + QuoteId(columns[i]);
  if (RowIdKeyFitsInPlace(c, columns)) {
    rowIdKey_ = columns[0];
  } else if (KeyFitsInPlace(c, columns)) {
    try {
      c.Exec("CREATE UNIQUE INDEX " + QuoteId(kKeyIndex) + " ON " + QuoteId(name()) + " (" + list +
             ")");
    } catch (const DbError&) {
      if (sqlite3_extended_errcode(c.get()) == SQLITE_CONSTRAINT_UNIQUE) return false;
      throw;
    }
    keyIndex_ = kKeyIndex;
  } else {
    if (!c.Scalar("SELECT 1 FROM " + QuoteId(name()) + " GROUP BY " + list +
                  " HAVING count(*) > 1 LIMIT 1")
             .IsNull())
      return false;
    rebuild_ = true;
  }
  for (const auto& col : columns) SetNotNull(col);
  TableDefinition::Element key;
  key.text = "PRIMARY KEY (" + list + ")";
  def_.elements.push_back(key);
  hasPrimaryKey_ = changed_ = true;
  return true;
}

void TableEdit::AddConstraint(std::string text) {
  foreignKeys_ = foreignKeys_ || Mentions(text, "references");
  TableDefinition::Element e;
  e.text = std::move(text);
  def_.elements.push_back(e);
  changed_ = true;
}

void TableEdit::Apply(Connection& c) {
  if (!changed_) return;
  // Values rewritten in the key column would no longer equal the row ids.
  if (!rowIdKey_.empty()) {
    std::size_t n = 0;
    for (const auto& e : def_.elements) {
      if (!e.isColumn) continue;
      if (platform::EqualsNoCase(e.column, rowIdKey_) && copy_[n] != same_[n]) rebuild_ = true;
      ++n;
    }
  }
  // Updating the values in place would fire the table's update triggers.
  if (!rebuild_ && RewritesValues())
    for (const auto& row : c.Rows("SELECT sql FROM sqlite_schema WHERE type = 'trigger' AND "
                                  "tbl_name = ?",
                                  {Value::Text(name())}))
      if (row[0].IsNull() || FiresOnUpdate(row[0].AsText())) rebuild_ = true;
  if (rebuild_)
    Rebuild(c);
  else
    ApplyInPlace(c);
  changed_ = false;
}

void TableEdit::Rebuild(Connection& c) {
  // The rebuild recreates the table's indexes; the key's own index comes with the new table.
  if (!keyIndex_.empty()) c.Exec("DROP INDEX " + QuoteId(keyIndex_));
  keyIndex_.clear();
  RebuildTable(c, def_, copy_);
}

void TableEdit::ApplyInPlace(Connection& c) {
  std::string sets;
  for (std::size_t i = 0; i < copy_.size(); ++i)
    if (copy_[i] != same_[i]) sets += (sets.empty() ? "" : ", ") + same_[i] + " = " + copy_[i];
  if (!sets.empty()) c.Exec("UPDATE " + QuoteId(name()) + " SET " + sets);

  // The stored definition is replaced as SQLite's own schema changes do: the schema version
  // moves on, so every connection reads the new definition.
  const std::string version = c.Scalar("PRAGMA schema_version").AsText();
  c.Exec("PRAGMA writable_schema = ON");
  try {
    c.Rows("UPDATE sqlite_schema SET sql = ? WHERE type = 'table' AND name = ?",
           {Value::Text(def_.ToSql(name())), Value::Text(name())});
    if (!keyIndex_.empty())
      c.Rows("UPDATE sqlite_schema SET name = ?, sql = NULL WHERE type = 'index' AND name = ?",
             {Value::Text("sqlite_autoindex_" + name() + "_1"), Value::Text(keyIndex_)});
    c.Exec("PRAGMA schema_version = " + std::to_string(std::stoll(version) + 1));
  } catch (...) {
    sqlite3_exec(c.get(), "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
    throw;
  }
  c.Exec("PRAGMA writable_schema = OFF");
  keyIndex_.clear();
  if (foreignKeys_) RefreshForeignKeyTriggers(c);
}

}  // namespace norvane
