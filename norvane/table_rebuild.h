// Table changes SQLite cannot make in place, and foreign keys that every connection enforces.
//
// Owns: reading a table's CREATE TABLE text into column and constraint elements, rebuilding the
// table from an edited definition (new table, rows copied, old dropped, new renamed, indexes and
// triggers recreated), and the triggers that enforce the declared foreign keys.
// The keys are declared in the table definition (so SQLForeignKeys and SQLite's own checks see
// them) and enforced by triggers named "sys_fk_*". SQLite's foreign_keys pragma is a setting of
// each connection (off by default; the Norvane driver leaves it so, ivex turns it off); the
// triggers make the keys and their cascades hold for every program that opens the file.
// Failures: DbError. The caller runs each change inside a Savepoint, so a failed rebuild leaves the
// table as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "norvane/sqlite.h"

namespace norvane {

struct TableDefinition {
  struct Element {
    std::string text;  // as written in the CREATE TABLE text
    bool isColumn = false;
    std::string column;    // the column's name (columns only)
    bool notNull = false;  // the column carries NOT NULL
    bool generated = false;
    std::size_t typeBegin = 0, typeEnd = 0;  // the declared type's place in `text`

    std::string Type() const { return text.substr(typeBegin, typeEnd - typeBegin); }
  };
  std::string name;  // the table's name as stored
  std::vector<Element> elements;
  std::string tail;  // what follows the closing parenthesis (WITHOUT ROWID, STRICT)

  Element* FindColumn(std::string_view column);
  std::string ToSql(std::string_view tableName) const;
};

// SQLite's column affinity of a declared type: 'i' integer, 't' text, 'b' blob (none), 'r' real,
// 'n' numeric.
char Affinity(std::string_view declaredType);

// The definition of an existing table, found without regard to ASCII letter case.
// A table that does not exist, or one made by CREATE TABLE ... AS: DbError.
TableDefinition ReadTableDefinition(Connection& c, std::string_view table);

// Replaces the table by one made from `def`; `copyExpressions` gives, per column of `def`, the
// expression over the old table that fills it. Keeps rows, indexes, triggers and keys.
void RebuildTable(Connection& c, const TableDefinition& def,
                  const std::vector<std::string>& copyExpressions);

// Drops the key triggers and creates them anew from every table's declared foreign keys.
void RefreshForeignKeyTriggers(Connection& c);

}  // namespace norvane
