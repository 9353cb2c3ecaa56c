// Pending changes to one table, applied together: at most one table rebuild for a run of
// alter-table statements.
//
// Owns: an edited copy of a table's definition, per column the expression that fills it from
// the table as it stands, and applying them. Changes that leave the stored rows valid (a column
// made not null, a key or check added, a column type of the same affinity with its values
// rewritten) are made in place: the rows are updated, the stored CREATE TABLE text is replaced and
// a primary key's index is built directly. A key that becomes the row id is made in place when
// every row's row id already equals its key. Anything else rebuilds the table once.
// The callers check the data a new constraint needs before they add it; TableEdit trusts them.
// Failures: DbError. Apply runs inside the caller's savepoint, which undoes a failed change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "norvane/sqlite.h"
#include "norvane/table_rebuild.h"

namespace norvane {

class TableEdit {
 public:
  // The table as it stands; a missing table or one whose definition cannot be read: DbError.
  static TableEdit Read(Connection& c, std::string_view table);

  const TableDefinition& definition() const { return def_; }
  const std::string& name() const { return def_.name; }
  bool HasPrimaryKey() const { return hasPrimaryKey_; }
  // Values of some column are rewritten when the change is applied.
  bool RewritesValues() const;
  bool Changed() const { return changed_; }

  // For changes the forms below do not cover: the definition as it will be created, with one copy
  // expression per column. Any edit made through these leads to a rebuild.
  TableDefinition& EditDefinition();
  std::vector<std::string>& EditCopyExpressions();

  void SetNotNull(std::string_view column);
  // Gives the column the declared type `type`; `valueExpression` (over the table as it stands)
  // gives its new values.
  void SetType(std::string_view column, const std::string& type, std::string valueExpression);
  // Declares the primary key on the table's columns `columns` (as the table spells them) and makes
  // them not null. False, with nothing changed, when two rows hold the same key.
  bool AddPrimaryKey(Connection& c, const std::vector<std::string>& columns);
  // A table constraint (foreign key, check) that the rows already satisfy.
  void AddConstraint(std::string text);

  // Makes the pending changes in the database. The edit is spent afterwards.
  void Apply(Connection& c);

 private:
  TableDefinition::Element& Column(std::string_view column);
  bool KeyFitsInPlace(Connection& c, const std::vector<std::string>& columns) const;
  bool RowIdKeyFitsInPlace(Connection& c, const std::vector<std::string>& columns) const;
  void ApplyInPlace(Connection& c);
  void Rebuild(Connection& c);

  TableDefinition def_;
  std::vector<std::string> copy_;  // per column of def_
  std::vector<std::string> same_;  // per column: the column itself, quoted
  bool hasPrimaryKey_ = false;
  bool changed_ = false;
  bool rebuild_ = false;
  bool foreignKeys_ = false;
  std::string keyIndex_;  // the index built for a new primary key, until it takes the key's name
  std::string rowIdKey_;  // a new key's column that becomes the row id without a rebuild
};

}  // namespace norvane
