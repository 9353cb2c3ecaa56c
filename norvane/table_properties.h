// Alter-table forms for what an application relies on beyond columns and keys: check constraints
// and the actions of foreign keys.
//
// Owns: the forms
//   alter table <t> add check (<condition>)
//   alter table <t> modify foreign key (<cols>) references <parent> (<cols>)
//       [on update cascade|set null|no action] [on delete cascade|set null|no action]
// each an edit of the table's definition (TableDefinition, table_rebuild.h) that one rebuild
// applies with every column copied as it is; and the triggers that carry out a key's actions on
// every connection (the ODBC driver leaves SQLite's own key enforcement off).
// Failures: DbError. A check that existing rows break is refused, naming up to five of their
// keys; a key the table does not have is refused; the statement then changes nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "norvane/lexer.h"
#include "norvane/sqlite.h"
#include "norvane/table_rebuild.h"

namespace norvane {

// Runs the statement when it is one of the forms above (t[i] follows the table's name) and says
// whether it was.
bool AlterTableProperty(Connection& c, std::string_view statement, const std::vector<Token>& t,
                        std::size_t i, const std::string& table);

// Adds "CHECK (<condition>)" to `def`; refused when rows of the table break it.
void AddCheck(Connection& c, TableDefinition& def, const std::string& condition);

// Gives the key of `def` over `columns` to `parent` the actions; refused when there is no such key.
void SetForeignKeyActions(TableDefinition& def, const std::vector<std::string>& columns,
                          const std::string& parent, const std::vector<std::string>& parentColumns,
                          const std::string& onUpdate, const std::string& onDelete);

// The trigger that carries out `action` ("CASCADE", "SET NULL") of a key when a parent row is
// deleted (`onDelete`) or its key changes; empty for any other action, which refuses instead.
std::string ParentActionTrigger(const std::string& name, bool onDelete, std::string_view action,
                                const std::string& child, const std::string& parent,
                                const std::vector<std::string>& from,
                                const std::vector<std::string>& to);

}  // namespace norvane
