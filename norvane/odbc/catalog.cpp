// The catalog functions: the file's tables, columns, indexes and keys as ODBC result sets, read
// from sqlite_schema and the table-valued pragmas. Catalogs and schemas do not exist: their
// columns are NULL and their arguments are not filtered on.
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvane/odbc/core.h"
#include "norvane/odbc/diagnostics.h"
#include "norvane/odbc/patterns.h"
#include "norvane/odbc/types.h"

namespace norvane::odbc {

namespace {

// ----- reading the file

class Query {
 public:
  Query(sqlite3* db, const std::string& sql) : db_(db) {
    if (db == nullptr) throw DriverError{"08003", "Connection not open"};
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr);
    if (rc != SQLITE_OK) throw SqliteError(db, rc);
  }
  ~Query() { sqlite3_finalize(st_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int index, const std::string& text) {
    sqlite3_bind_text(st_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqliteError(db_, rc);
  }
  bool IsNull(int col) const { return sqlite3_column_type(st_, col) == SQLITE_NULL; }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
    return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
                        : std::string();
  }
  std::optional<std::string> MaybeText(int col) const {
    if (IsNull(col)) return std::nullopt;
    return Text(col);
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

// SQLite's names are case-insensitive in ASCII: "kunden" is the table "Kunden".
bool SameName(std::string_view a, std::string_view b) {
  return EqualsNoCase(a, b);
}

bool LessName(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The catalog's own objects ("SYS.*") and SQLite's ("sqlite_*").
bool IsSystemName(std::string_view name) {
  return EqualsNoCase(name.substr(0, 4), "SYS.") || EqualsNoCase(name.substr(0, 7), "sqlite_");
}

struct SchemaTable {
  std::string name;
  bool view = false;
};

std::vector<SchemaTable> SchemaTables(sqlite3* db) {
  Query q(db, "SELECT name, type FROM sqlite_schema WHERE type IN ('table', 'view') ORDER BY name");
  std::vector<SchemaTable> out;
  while (q.Step()) out.push_back({q.Text(0), q.Text(1) == "view"});
  std::stable_sort(out.begin(), out.end(), [](const SchemaTable& a, const SchemaTable& b) {
    return LessName(a.name, b.name);
  });
  return out;
}

// The table or view called `name` as the file spells it.
std::optional<SchemaTable> FindTable(sqlite3* db, const std::string& name) {
  const std::vector<SchemaTable> tables = SchemaTables(db);
  for (auto& t : tables)
    if (t.name == name) return t;
  for (auto& t : tables)
    if (SameName(t.name, name)) return t;
  return std::nullopt;
}

struct TableColumn {
  std::string name;
  std::string declared;
  bool notNull = false;
  std::optional<std::string> defaultValue;
  int pk = 0;  // position in the primary key from 1, 0 outside it
};

std::vector<TableColumn> ColumnsOf(sqlite3* db, const std::string& table) {
  Query q(db,
          "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1) ORDER BY cid");
  q.Bind(1, table);
  std::vector<TableColumn> out;
  while (q.Step())
    out.push_back(
        {q.Text(0), q.Text(1), q.Int(2) != 0, q.MaybeText(3), static_cast<int>(q.Int(4))});
  return out;
}

std::vector<std::string> PrimaryKeyOf(const std::vector<TableColumn>& columns) {
  std::vector<const TableColumn*> key;
  for (auto& c : columns)
    if (c.pk > 0) key.push_back(&c);
  std::sort(key.begin(), key.end(), [](auto* a, auto* b) { return a->pk < b->pk; });
  std::vector<std::string> out;
  for (auto* c : key) out.push_back(c->name);
  return out;
}

struct IndexColumn {
  std::optional<std::string> name;  // null for an expression
  bool descending = false;
};

struct Index {
  std::string name;
  bool unique = false;
  std::string origin;  // "c" created, "u" UNIQUE constraint, "pk" PRIMARY KEY
  bool partial = false;
  std::vector<IndexColumn> columns;
};

std::vector<Index> IndexesOf(sqlite3* db, const std::string& table) {
  std::vector<Index> out;
  {
    Query q(db, "SELECT name, \"unique\", origin, partial FROM pragma_index_list(?1)");
    q.Bind(1, table);
    while (q.Step()) out.push_back({q.Text(0), q.Int(1) != 0, q.Text(2), q.Int(3) != 0, {}});
  }
  for (auto& index : out) {
    Query q(db, "SELECT name, \"desc\" FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno");
    q.Bind(1, index.name);
    while (q.Step()) index.columns.push_back({q.MaybeText(0), q.Int(1) != 0});
  }
  return out;
}

bool SameColumns(const std::vector<IndexColumn>& index, const std::vector<std::string>& names) {
  if (index.size() != names.size()) return false;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!index[i].name || !SameName(*index[i].name, names[i])) return false;
  return true;
}

bool IsExplicitKeyIndex(const Index& index, const std::string& table) {
  return index.unique && SameName(index.name, table + "_primarykey");
}

// The primary key as an index: under the name of the explicit "<table>_primarykey" index over
// the same columns when there is one, else "PRIMARY". Its source indexes are not listed again.
struct Key {
  std::string name;
  std::vector<IndexColumn> columns;
  std::vector<std::string> sources;  // index names the key stands for
};

std::optional<Key> PrimaryKeyIndex(const std::string& table,
                                   const std::vector<TableColumn>& columns,
                                   const std::vector<Index>& indexes) {
  const std::vector<std::string> pk = PrimaryKeyOf(columns);
  if (pk.empty()) return std::nullopt;
  Key key{"PRIMARY", {}, {}};
  for (auto& c : pk) key.columns.push_back({c, false});
  for (auto& index : indexes) {
    if (index.origin == "pk") {
      key.columns = index.columns;
      key.sources.push_back(index.name);
    }
  }
  for (auto& index : indexes) {
    if (IsExplicitKeyIndex(index, table) && SameColumns(index.columns, pk)) {
      key.name = index.name;
      key.columns = index.columns;
      key.sources.push_back(index.name);
    }
  }
  return key;
}

// ----- result columns

ColumnInfo Col(const char* name, SQLSMALLINT type, SQLSMALLINT nullable = SQL_NULLABLE) {
  ColumnInfo c;
  c.name = name;
  c.sqlType = type;
  c.nullable = nullable;
  switch (type) {
    case SQL_SMALLINT:
      c.typeName = "smallint";
      c.size = 5;
      c.octetLength = 2;
      c.radix = 10;
      break;
    case SQL_INTEGER:
      c.typeName = "integer";
      c.size = 10;
      c.octetLength = 4;
      c.radix = 10;
      break;
    case SQL_CHAR:
      c.typeName = "char";
      c.size = 1;
      c.octetLength = 4;
      break;
    default:
      c.typeName = "varchar";
      c.size = 128;
      c.octetLength = 512;  // 128 characters in UTF-8
  }
  return c;
}

constexpr SQLSMALLINT kNotNull = SQL_NO_NULLS;

Cell Text(const char* s) {
  return Cell::Text(s);
}
Cell Text(const std::string& s) {
  return Cell::Text(s);
}
Cell Text(const std::optional<std::string>& s) {
  return s ? Cell::Text(*s) : Cell::Null();
}
Cell Int(std::int64_t v) {
  return Cell::Int(v);
}
Cell Null() {
  return Cell::Null();
}

// ----- types as the application's ODBC version names them

bool Odbc2(const Stmt& stmt) {
  return stmt.dbc != nullptr && stmt.dbc->env != nullptr &&
         stmt.dbc->env->odbcVersion == SQL_OV_ODBC2;
}

SQLSMALLINT ShownType(const Stmt& stmt, SQLSMALLINT type) {
  if (!Odbc2(stmt)) return type;
  switch (type) {
    case SQL_TYPE_DATE:
      return SQL_DATE;
    case SQL_TYPE_TIME:
      return SQL_TIME;
    case SQL_TYPE_TIMESTAMP:
      return SQL_TIMESTAMP;
    default:
      return type;
  }
}

bool IsDateTime(SQLSMALLINT type) {
  return type == SQL_TYPE_DATE || type == SQL_TYPE_TIME || type == SQL_TYPE_TIMESTAMP ||
         type == SQL_DATE || type == SQL_TIME || type == SQL_TIMESTAMP;
}

// SQL_DATA_TYPE: SQL_DATETIME for the date and time types, the type itself else.
SQLSMALLINT VerboseType(SQLSMALLINT type) {
  return IsDateTime(type) ? SQL_DATETIME : type;
}

Cell DateTimeSub(SQLSMALLINT type) {
  switch (type) {
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return Int(SQL_CODE_DATE);
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return Int(SQL_CODE_TIME);
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return Int(SQL_CODE_TIMESTAMP);
    default:
      return Null();
  }
}

bool IsCharOrBinary(SQLSMALLINT type) {
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return true;
    default:
      return false;
  }
}

bool IsExactNumeric(SQLSMALLINT type) {
  switch (type) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return true;
    default:
      return false;
  }
}

bool IsNumeric(SQLSMALLINT type) {
  return IsExactNumeric(type) || type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE;
}

// DECIMAL_DIGITS: the scale of exact numbers, the fraction digits of times; NULL else.
Cell DecimalDigits(const ColumnInfo& c) {
  if (IsExactNumeric(c.sqlType) || c.sqlType == SQL_BIT || c.sqlType == SQL_TYPE_TIME ||
      c.sqlType == SQL_TYPE_TIMESTAMP)
    return Int(c.digits);
  return Null();
}

Cell Radix(SQLSMALLINT radix) {
  return radix != 0 ? Int(radix) : Null();
}

// ----- patterns

std::size_t CharLength(std::string_view s, std::size_t at) {
  std::size_t n = 1;
  while (at + n < s.size() && (static_cast<unsigned char>(s[at + n]) & 0xC0) == 0x80) ++n;
  return n;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, s = 0;
  std::size_t starP = std::string_view::npos, starS = 0;
  while (s < name.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starP = ++p;
      starS = s;
      continue;
    }
    if (p < pattern.size()) {
      const std::size_t here = CharLength(name, s);
      if (pattern[p] == '_') {
        ++p;
        s += here;
        continue;
      }
      std::size_t lit = p;
      if (pattern[p] == '\\' && p + 1 < pattern.size()) lit = p + 1;
      const std::size_t litLen = CharLength(pattern, lit);
      if (EqualsNoCase(pattern.substr(lit, litLen), name.substr(s, here))) {
        p = lit + litLen;
        s += here;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    starS += CharLength(name, starS);
    s = starS;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

namespace {

// A pattern argument: null or empty matches everything.
bool Matches(const Arg& pattern, const std::string& name) {
  return !pattern || pattern->empty() || MatchesPattern(*pattern, name);
}

// The table an ordinary (not pattern) argument names; HY009 for none.
std::optional<SchemaTable> NamedTable(Stmt& stmt, const Arg& table) {
  if (!table) throw DriverError{"HY009", "Invalid use of null pointer"};
  return FindTable(stmt.dbc->db, *table);
}

std::vector<std::string> TableTypes(const Arg& list) {
  std::vector<std::string> out;
  if (!list) return out;
  std::string item;
  auto flush = [&] {
    std::string t;
    for (char ch : item)
      if (ch != '\'') t.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    const auto b = t.find_first_not_of(' ');
    const auto e = t.find_last_not_of(' ');
    if (b != std::string::npos) out.push_back(t.substr(b, e - b + 1));
    item.clear();
  };
  for (char ch : *list) {
    if (ch == ',')
      flush();
    else
      item.push_back(ch);
  }
  flush();
  if (std::find(out.begin(), out.end(), "%") != out.end()) out.clear();
  return out;
}

const char* TypeOf(const SchemaTable& t) {
  if (IsSystemName(t.name)) return "SYSTEM TABLE";
  return t.view ? "VIEW" : "TABLE";
}

}  // namespace

void Tables(Stmt& stmt, const Arg& catalog, const Arg& schema, const Arg& table,
            const Arg& tableType) {
  RowSet rs;
  rs.columns = {Col("TABLE_CAT", SQL_VARCHAR), Col("TABLE_SCHEM", SQL_VARCHAR),
                Col("TABLE_NAME", SQL_VARCHAR), Col("TABLE_TYPE", SQL_VARCHAR),
                Col("REMARKS", SQL_VARCHAR)};
  auto is = [](const Arg& a, const char* v) { return a && *a == v; };
  auto empty = [](const Arg& a) { return a && a->empty(); };
  if (is(catalog, SQL_ALL_CATALOGS) && empty(schema) && empty(table)) {
    // No catalogs: the list is empty.
  } else if (is(schema, SQL_ALL_SCHEMAS) && empty(catalog) && empty(table)) {
    // No schemas either.
  } else if (is(tableType, SQL_ALL_TABLE_TYPES) && empty(catalog) && empty(schema) &&
             empty(table)) {
    for (const char* type : {"SYSTEM TABLE", "TABLE", "VIEW"})
      rs.rows.push_back({Null(), Null(), Null(), Text(type), Null()});
  } else {
    const std::vector<std::string> types = TableTypes(tableType);
    for (auto& t : SchemaTables(stmt.dbc->db)) {
      const std::string type = TypeOf(t);
      if (!Matches(table, t.name)) continue;
      if (!types.empty() && std::find(types.begin(), types.end(), type) == types.end()) continue;
      rs.rows.push_back({Null(), Null(), Text(t.name), Text(type), Null()});
    }
    std::stable_sort(rs.rows.begin(), rs.rows.end(),
                     [](const auto& a, const auto& b) { return a[3].bytes < b[3].bytes; });
  }
  stmt.SetResult(std::move(rs));
}

void Columns(Stmt& stmt, const Arg& /*catalog*/, const Arg& /*schema*/, const Arg& table,
             const Arg& column) {
  RowSet rs;
  rs.columns = {Col("TABLE_CAT", SQL_VARCHAR),
                Col("TABLE_SCHEM", SQL_VARCHAR),
                Col("TABLE_NAME", SQL_VARCHAR, kNotNull),
                Col("COLUMN_NAME", SQL_VARCHAR, kNotNull),
                Col("DATA_TYPE", SQL_SMALLINT, kNotNull),
                Col("TYPE_NAME", SQL_VARCHAR, kNotNull),
                Col("COLUMN_SIZE", SQL_INTEGER),
                Col("BUFFER_LENGTH", SQL_INTEGER),
                Col("DECIMAL_DIGITS", SQL_SMALLINT),
                Col("NUM_PREC_RADIX", SQL_SMALLINT),
                Col("NULLABLE", SQL_SMALLINT, kNotNull),
                Col("REMARKS", SQL_VARCHAR),
                Col("COLUMN_DEF", SQL_VARCHAR),
                Col("SQL_DATA_TYPE", SQL_SMALLINT, kNotNull),
                Col("SQL_DATETIME_SUB", SQL_SMALLINT),
                Col("CHAR_OCTET_LENGTH", SQL_INTEGER),
                Col("ORDINAL_POSITION", SQL_INTEGER, kNotNull),
                Col("IS_NULLABLE", SQL_VARCHAR)};
  sqlite3* db = stmt.dbc->db;
  for (auto& t : SchemaTables(db)) {
    if (!Matches(table, t.name)) continue;
    std::vector<TableColumn> columns;
    try {
      columns = ColumnsOf(db, t.name);
    } catch (const DriverError& e) {
      // A view over a table that no longer exists: the others are still listed.
      if (!t.view) throw;
      stmt.Warn("01000", "The columns of view " + t.name + " cannot be read: " + e.message);
      continue;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const TableColumn& c = columns[i];
      if (!Matches(column, c.name)) continue;
      const ColumnInfo info = ColumnOfDeclared(c.declared);
      const SQLSMALLINT type = ShownType(stmt, info.sqlType);
      rs.rows.push_back({Null(), Null(), Text(t.name), Text(c.name), Int(type), Text(info.typeName),
                         info.size != 0 ? Int(static_cast<std::int64_t>(info.size)) : Null(),
                         Int(info.octetLength), DecimalDigits(info), Radix(info.radix),
                         Int(c.notNull ? SQL_NO_NULLS : SQL_NULLABLE), Null(), Text(c.defaultValue),
                         Int(VerboseType(type)), DateTimeSub(type),
                         IsCharOrBinary(info.sqlType) ? Int(info.octetLength) : Null(),
                         Int(static_cast<std::int64_t>(i) + 1), Text(c.notNull ? "NO" : "YES")});
    }
  }
  stmt.SetResult(std::move(rs));
}

void Statistics(Stmt& stmt, const Arg& /*catalog*/, const Arg& /*schema*/, const Arg& table,
                SQLUSMALLINT unique, SQLUSMALLINT reserved) {
  if (unique != SQL_INDEX_UNIQUE && unique != SQL_INDEX_ALL)
    throw DriverError{"HY100", "Uniqueness option type out of range"};
  if (reserved != SQL_ENSURE && reserved != SQL_QUICK)
    throw DriverError{"HY101", "Accuracy option type out of range"};
  RowSet rs;
  rs.columns = {Col("TABLE_CAT", SQL_VARCHAR),
                Col("TABLE_SCHEM", SQL_VARCHAR),
                Col("TABLE_NAME", SQL_VARCHAR, kNotNull),
                Col("NON_UNIQUE", SQL_SMALLINT),
                Col("INDEX_QUALIFIER", SQL_VARCHAR),
                Col("INDEX_NAME", SQL_VARCHAR),
                Col("TYPE", SQL_SMALLINT, kNotNull),
                Col("ORDINAL_POSITION", SQL_SMALLINT),
                Col("COLUMN_NAME", SQL_VARCHAR),
                Col("ASC_OR_DESC", SQL_CHAR),
                Col("CARDINALITY", SQL_INTEGER),
                Col("PAGES", SQL_INTEGER),
                Col("FILTER_CONDITION", SQL_VARCHAR)};
  sqlite3* db = stmt.dbc->db;
  const std::optional<SchemaTable> found = NamedTable(stmt, table);
  if (found && !found->view) {
    const std::string& name = found->name;
    Cell cardinality = Null();
    if (reserved == SQL_ENSURE) {
      std::string quoted = "\"";
      for (char ch : name) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      Query count(db, "SELECT count(*) FROM " + quoted + "\"");
      if (count.Step()) cardinality = Int(count.Int(0));
    }
    rs.rows.push_back({Null(), Null(), Text(name), Null(), Null(), Null(), Int(SQL_TABLE_STAT),
                       Null(), Null(), Null(), cardinality, Null(), Null()});

    const std::vector<Index> indexes = IndexesOf(db, name);
    const std::optional<Key> key = PrimaryKeyIndex(name, ColumnsOf(db, name), indexes);
    auto emit = [&](const std::string& indexName, bool isUnique,
                    const std::vector<IndexColumn>& columns) {
      for (std::size_t i = 0; i < columns.size(); ++i)
        rs.rows.push_back({Null(), Null(), Text(name), Int(isUnique ? SQL_FALSE : SQL_TRUE), Null(),
                           Text(indexName), Int(SQL_INDEX_OTHER),
                           Int(static_cast<std::int64_t>(i) + 1), Text(columns[i].name),
                           Text(columns[i].descending ? "D" : "A"), Null(), Null(), Null()});
    };
    if (key) emit(key->name, true, key->columns);

    std::vector<const Index*> rest;
    for (auto& index : indexes) {
      if (key &&
          std::find(key->sources.begin(), key->sources.end(), index.name) != key->sources.end())
        continue;
      if (!index.unique && unique == SQL_INDEX_UNIQUE) continue;
      rest.push_back(&index);
    }
    // Unique before non-unique; among the unique ones a "<table>_primarykey" index (a key not
    // declared yet) first, partial ones last; then by name.
    auto rank = [&](const Index* i) {
      if (!i->unique) return 3;
      if (IsExplicitKeyIndex(*i, name)) return 0;
      return i->partial ? 2 : 1;
    };
    std::stable_sort(rest.begin(), rest.end(), [&](const Index* a, const Index* b) {
      if (rank(a) != rank(b)) return rank(a) < rank(b);
      return LessName(a->name, b->name);
    });
    for (const Index* index : rest) emit(index->name, index->unique, index->columns);
  }
  stmt.SetResult(std::move(rs));
}

void PrimaryKeys(Stmt& stmt, const Arg& /*catalog*/, const Arg& /*schema*/, const Arg& table) {
  RowSet rs;
  rs.columns = {Col("TABLE_CAT", SQL_VARCHAR),
                Col("TABLE_SCHEM", SQL_VARCHAR),
                Col("TABLE_NAME", SQL_VARCHAR, kNotNull),
                Col("COLUMN_NAME", SQL_VARCHAR, kNotNull),
                Col("KEY_SEQ", SQL_SMALLINT, kNotNull),
                Col("PK_NAME", SQL_VARCHAR)};
  sqlite3* db = stmt.dbc->db;
  const std::optional<SchemaTable> found = NamedTable(stmt, table);
  if (found && !found->view) {
    const std::optional<Key> key =
        PrimaryKeyIndex(found->name, ColumnsOf(db, found->name), IndexesOf(db, found->name));
    if (key)
      for (std::size_t i = 0; i < key->columns.size(); ++i)
        rs.rows.push_back({Null(), Null(), Text(found->name), Text(key->columns[i].name),
                           Int(static_cast<std::int64_t>(i) + 1), Text(key->name)});
  }
  stmt.SetResult(std::move(rs));
}

namespace {

struct ForeignKey {
  std::string fkTable;
  std::int64_t id = 0;
  std::string pkTable;
  std::vector<std::pair<std::string, std::string>> columns;  // (from, to)
  std::string onUpdate, onDelete;
};

std::vector<ForeignKey> ForeignKeysOf(sqlite3* db, const std::string& table) {
  std::vector<ForeignKey> out;
  std::vector<std::optional<std::string>> to;  // per column of every key, in order
  {
    Query q(db,
            "SELECT id, \"table\", \"from\", \"to\", on_update, on_delete"
            " FROM pragma_foreign_key_list(?1) ORDER BY id, seq");
    q.Bind(1, table);
    while (q.Step()) {
      if (out.empty() || out.back().id != q.Int(0))
        out.push_back({table, q.Int(0), q.Text(1), {}, q.Text(4), q.Text(5)});
      out.back().columns.push_back({q.Text(2), q.Text(3)});
      to.push_back(q.MaybeText(3));
    }
  }
  std::size_t at = 0;
  for (auto& fk : out) {
    // The parent as the file spells it; a key without parent columns means its primary key.
    if (auto parent = FindTable(db, fk.pkTable)) fk.pkTable = parent->name;
    std::vector<std::string> parentKey;
    bool asked = false;
    for (std::size_t i = 0; i < fk.columns.size(); ++i, ++at) {
      if (to[at]) continue;
      if (!asked) {
        parentKey = PrimaryKeyOf(ColumnsOf(db, fk.pkTable));
        asked = true;
      }
      fk.columns[i].second = i < parentKey.size() ? parentKey[i] : std::string();
    }
  }
  return out;
}

SQLSMALLINT Rule(const Stmt& stmt, const std::string& action) {
  if (EqualsNoCase(action, "CASCADE")) return SQL_CASCADE;
  if (EqualsNoCase(action, "SET NULL")) return SQL_SET_NULL;
  if (EqualsNoCase(action, "SET DEFAULT")) return SQL_SET_DEFAULT;
  if (EqualsNoCase(action, "RESTRICT")) return SQL_RESTRICT;
  return Odbc2(stmt) ? SQL_RESTRICT : SQL_NO_ACTION;  // ODBC 2 has no SQL_NO_ACTION
}

// The name of the parent's key over `columns`: its primary key or a unique index.
Cell ParentKeyName(sqlite3* db, const std::string& table, const std::vector<std::string>& columns) {
  if (!FindTable(db, table)) return Null();
  const std::vector<Index> indexes = IndexesOf(db, table);
  const std::vector<TableColumn> tableColumns = ColumnsOf(db, table);
  if (auto key = PrimaryKeyIndex(table, tableColumns, indexes);
      key && SameColumns(key->columns, columns))
    return Text(key->name);
  for (auto& index : indexes)
    if (index.unique && !index.partial && SameColumns(index.columns, columns))
      return Text(index.name);
  return Null();
}

}  // namespace

void ForeignKeys(Stmt& stmt, const Arg& /*pkCatalog*/, const Arg& /*pkSchema*/, const Arg& pkTable,
                 const Arg& /*fkCatalog*/, const Arg& /*fkSchema*/, const Arg& fkTable) {
  const bool byPk = pkTable && !pkTable->empty();
  const bool byFk = fkTable && !fkTable->empty();
  if (!pkTable && !fkTable) throw DriverError{"HY009", "Invalid use of null pointer"};
  RowSet rs;
  rs.columns = {Col("PKTABLE_CAT", SQL_VARCHAR),
                Col("PKTABLE_SCHEM", SQL_VARCHAR),
                Col("PKTABLE_NAME", SQL_VARCHAR, kNotNull),
                Col("PKCOLUMN_NAME", SQL_VARCHAR, kNotNull),
                Col("FKTABLE_CAT", SQL_VARCHAR),
                Col("FKTABLE_SCHEM", SQL_VARCHAR),
                Col("FKTABLE_NAME", SQL_VARCHAR, kNotNull),
                Col("FKCOLUMN_NAME", SQL_VARCHAR, kNotNull),
                Col("KEY_SEQ", SQL_SMALLINT, kNotNull),
                Col("UPDATE_RULE", SQL_SMALLINT),
                Col("DELETE_RULE", SQL_SMALLINT),
                Col("FK_NAME", SQL_VARCHAR),
                Col("PK_NAME", SQL_VARCHAR),
                Col("DEFERRABILITY", SQL_SMALLINT)};
  sqlite3* db = stmt.dbc->db;
  std::vector<ForeignKey> keys;
  if (byFk) {
    if (auto child = FindTable(db, *fkTable); child && !child->view)
      keys = ForeignKeysOf(db, child->name);
  } else if (byPk) {
    for (auto& t : SchemaTables(db))
      if (!t.view)
        for (auto& fk : ForeignKeysOf(db, t.name)) keys.push_back(std::move(fk));
  }
  if (byPk)
    std::erase_if(keys, [&](const ForeignKey& fk) { return !SameName(fk.pkTable, *pkTable); });
  // By the parent's key: sorted by the child; by the child: by the parent.
  std::stable_sort(keys.begin(), keys.end(), [&](const ForeignKey& a, const ForeignKey& b) {
    const std::string& x = byFk ? a.pkTable : a.fkTable;
    const std::string& y = byFk ? b.pkTable : b.fkTable;
    return LessName(x, y);
  });
  for (auto& fk : keys) {
    std::vector<std::string> parentColumns;
    for (auto& c : fk.columns) parentColumns.push_back(c.second);
    const Cell pkName = ParentKeyName(db, fk.pkTable, parentColumns);
    for (std::size_t i = 0; i < fk.columns.size(); ++i)
      rs.rows.push_back({Null(), Null(), Text(fk.pkTable), Text(fk.columns[i].second), Null(),
                         Null(), Text(fk.fkTable), Text(fk.columns[i].first),
                         Int(static_cast<std::int64_t>(i) + 1), Int(Rule(stmt, fk.onUpdate)),
                         Int(Rule(stmt, fk.onDelete)), Null(), pkName, Int(SQL_NOT_DEFERRABLE)});
  }
  stmt.SetResult(std::move(rs));
}

void SpecialColumns(Stmt& stmt, SQLUSMALLINT identifierType, const Arg& /*catalog*/,
                    const Arg& /*schema*/, const Arg& table, SQLUSMALLINT scope,
                    SQLUSMALLINT nullable) {
  if (identifierType != SQL_BEST_ROWID && identifierType != SQL_ROWVER)
    throw DriverError{"HY097", "Column type out of range"};
  if (scope != SQL_SCOPE_CURROW && scope != SQL_SCOPE_TRANSACTION && scope != SQL_SCOPE_SESSION)
    throw DriverError{"HY098", "Scope type out of range"};
  if (nullable != SQL_NO_NULLS && nullable != SQL_NULLABLE)
    throw DriverError{"HY099", "Nullable type out of range"};
  RowSet rs;
  rs.columns = {Col("SCOPE", SQL_SMALLINT),
                Col("COLUMN_NAME", SQL_VARCHAR, kNotNull),
                Col("DATA_TYPE", SQL_SMALLINT, kNotNull),
                Col("TYPE_NAME", SQL_VARCHAR, kNotNull),
                Col("COLUMN_SIZE", SQL_INTEGER),
                Col("BUFFER_LENGTH", SQL_INTEGER),
                Col("DECIMAL_DIGITS", SQL_SMALLINT),
                Col("PSEUDO_COLUMN", SQL_SMALLINT)};
  sqlite3* db = stmt.dbc->db;
  const std::optional<SchemaTable> found = NamedTable(stmt, table);
  if (identifierType == SQL_BEST_ROWID && found && !found->view) {
    const std::vector<TableColumn> columns = ColumnsOf(db, found->name);
    // The primary key; else the first unique index over plain columns (without a column that
    // may be NULL when the caller asks so). A table with neither has no best row id.
    std::vector<std::string> best = PrimaryKeyOf(columns);
    if (best.empty()) {
      auto notNull = [&](const std::string& col) {
        for (auto& c : columns)
          if (SameName(c.name, col)) return c.notNull;
        return false;
      };
      std::vector<Index> indexes = IndexesOf(db, found->name);
      std::stable_sort(indexes.begin(), indexes.end(), [&](const Index& a, const Index& b) {
        const bool ka = IsExplicitKeyIndex(a, found->name), kb = IsExplicitKeyIndex(b, found->name);
        if (ka != kb) return ka;
        return LessName(a.name, b.name);
      });
      for (auto& index : indexes) {
        if (!index.unique || index.partial) continue;
        std::vector<std::string> names;
        bool usable = !index.columns.empty();
        for (auto& c : index.columns) {
          if (!c.name || (nullable == SQL_NO_NULLS && !notNull(*c.name))) usable = false;
          if (c.name) names.push_back(*c.name);
        }
        if (usable) {
          best = names;
          break;
        }
      }
    }
    for (auto& name : best) {
      for (auto& c : columns) {
        if (!SameName(c.name, name)) continue;
        const ColumnInfo info = ColumnOfDeclared(c.declared);
        rs.rows.push_back({Int(SQL_SCOPE_SESSION), Text(c.name), Int(ShownType(stmt, info.sqlType)),
                           Text(info.typeName),
                           info.size != 0 ? Int(static_cast<std::int64_t>(info.size)) : Null(),
                           Int(info.octetLength), DecimalDigits(info), Int(SQL_PC_NOT_PSEUDO)});
      }
    }
  }
  stmt.SetResult(std::move(rs));
}

namespace {

bool IsSqlType(SQLSMALLINT t) {
  switch (t) {
    case SQL_ALL_TYPES:
    case SQL_CHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_DATETIME:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_VARCHAR:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_BIGINT:
    case SQL_TINYINT:
    case SQL_BIT:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
      return true;
    default:
      return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
  }
}

// The ODBC 3 code of a date or time type given in either version's code.
SQLSMALLINT Odbc3Type(SQLSMALLINT t) {
  switch (t) {
    case SQL_DATE:
      return SQL_TYPE_DATE;
    case SQL_TIME:
      return SQL_TYPE_TIME;
    case SQL_TIMESTAMP:
      return SQL_TYPE_TIMESTAMP;
    default:
      return t;
  }
}

}  // namespace

void GetTypeInfo(Stmt& stmt, SQLSMALLINT dataType) {
  if (!IsSqlType(dataType)) throw DriverError{"HY004", "Invalid SQL data type"};
  RowSet rs;
  rs.columns = {Col("TYPE_NAME", SQL_VARCHAR, kNotNull),
                Col("DATA_TYPE", SQL_SMALLINT, kNotNull),
                Col("COLUMN_SIZE", SQL_INTEGER),
                Col("LITERAL_PREFIX", SQL_VARCHAR),
                Col("LITERAL_SUFFIX", SQL_VARCHAR),
                Col("CREATE_PARAMS", SQL_VARCHAR),
                Col("NULLABLE", SQL_SMALLINT, kNotNull),
                Col("CASE_SENSITIVE", SQL_SMALLINT, kNotNull),
                Col("SEARCHABLE", SQL_SMALLINT, kNotNull),
                Col("UNSIGNED_ATTRIBUTE", SQL_SMALLINT),
                Col("FIXED_PREC_SCALE", SQL_SMALLINT, kNotNull),
                Col("AUTO_UNIQUE_VALUE", SQL_SMALLINT),
                Col("LOCAL_TYPE_NAME", SQL_VARCHAR),
                Col("MINIMUM_SCALE", SQL_SMALLINT),
                Col("MAXIMUM_SCALE", SQL_SMALLINT),
                Col("SQL_DATA_TYPE", SQL_SMALLINT, kNotNull),
                Col("SQL_DATETIME_SUB", SQL_SMALLINT),
                Col("NUM_PREC_RADIX", SQL_INTEGER),
                Col("INTERVAL_PRECISION", SQL_SMALLINT)};
  std::vector<const TypeRow*> types;
  for (auto& t : TypeRows())
    if (dataType == SQL_ALL_TYPES || Odbc3Type(t.sqlType) == Odbc3Type(dataType))
      types.push_back(&t);
  // By DATA_TYPE; the rows of one type stay in the order of TypeRows(), closest first.
  std::stable_sort(types.begin(), types.end(), [&](const TypeRow* a, const TypeRow* b) {
    return ShownType(stmt, a->sqlType) < ShownType(stmt, b->sqlType);
  });
  auto text = [](const char* s) { return s != nullptr ? Cell::Text(s) : Cell::Null(); };
  for (const TypeRow* t : types) {
    const SQLSMALLINT type = ShownType(stmt, t->sqlType);
    const bool numeric = IsNumeric(t->sqlType);
    const bool scaled = IsExactNumeric(t->sqlType) || t->sqlType == SQL_TYPE_TIME ||
                        t->sqlType == SQL_TYPE_TIMESTAMP;
    rs.rows.push_back(
        {Cell::Text(t->name), Int(type), Int(t->columnSize), text(t->prefix), text(t->suffix),
         text(t->createParams), Int(SQL_NULLABLE), Int(t->caseSensitive ? SQL_TRUE : SQL_FALSE),
         Int(t->searchable), numeric ? Int(t->unsignedAttribute ? SQL_TRUE : SQL_FALSE) : Null(),
         Int(t->fixedPrecScale ? SQL_TRUE : SQL_FALSE),
         numeric ? Int(t->autoUnique ? SQL_TRUE : SQL_FALSE) : Null(), Cell::Text(t->name),
         scaled ? Int(t->minimumScale) : Null(), scaled ? Int(t->maximumScale) : Null(),
         Int(VerboseType(type)), DateTimeSub(type), Radix(t->radix), Null()});
  }
  stmt.SetResult(std::move(rs));
}

}  // namespace norvane::odbc

// ----- the ANSI entry points

using namespace norvane::odbc;

extern "C" {

SQLRETURN SQL_API SQLTables(SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                            SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                            SQLSMALLINT tableLength, SQLCHAR* type, SQLSMALLINT typeLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Tables(*s, ArgText(catalog, catalogLength), ArgText(schema, schemaLength),
           ArgText(table, tableLength), ArgText(type, typeLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                             SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                             SQLSMALLINT tableLength, SQLCHAR* column, SQLSMALLINT columnLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Columns(*s, ArgText(catalog, catalogLength), ArgText(schema, schemaLength),
            ArgText(table, tableLength), ArgText(column, columnLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                SQLUSMALLINT reserved) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Statistics(*s, ArgText(catalog, catalogLength), ArgText(schema, schemaLength),
               ArgText(table, tableLength), unique, reserved);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                 SQLSMALLINT tableLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    PrimaryKeys(*s, ArgText(catalog, catalogLength), ArgText(schema, schemaLength),
                ArgText(table, tableLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT h, SQLCHAR* pkCatalog, SQLSMALLINT pkCatalogLength,
                                 SQLCHAR* pkSchema, SQLSMALLINT pkSchemaLength, SQLCHAR* pkTable,
                                 SQLSMALLINT pkTableLength, SQLCHAR* fkCatalog,
                                 SQLSMALLINT fkCatalogLength, SQLCHAR* fkSchema,
                                 SQLSMALLINT fkSchemaLength, SQLCHAR* fkTable,
                                 SQLSMALLINT fkTableLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    ForeignKeys(*s, ArgText(pkCatalog, pkCatalogLength), ArgText(pkSchema, pkSchemaLength),
                ArgText(pkTable, pkTableLength), ArgText(fkCatalog, fkCatalogLength),
                ArgText(fkSchema, fkSchemaLength), ArgText(fkTable, fkTableLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT h, SQLUSMALLINT identifierType, SQLCHAR* catalog,
                                    SQLSMALLINT catalogLength, SQLCHAR* schema,
                                    SQLSMALLINT schemaLength, SQLCHAR* table,
                                    SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                    SQLUSMALLINT nullable) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    SpecialColumns(*s, identifierType, ArgText(catalog, catalogLength),
                   ArgText(schema, schemaLength), ArgText(table, tableLength), scope, nullable);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT h, SQLSMALLINT dataType) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    GetTypeInfo(*s, dataType);
    return SQL_SUCCESS;
  });
}

}  // extern "C"
