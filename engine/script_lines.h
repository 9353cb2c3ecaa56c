// The statements the migration run writes into reload1.sql and reload2.sql, and the script tail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "options/settings.h"
#include "platform/dao/dao.h"

namespace engine {

// The not-null line of every key field, then the primary-key line, for a primary index with
// the engine's field list ("+OrderID;-Quantity") on target table `targetTable`.
std::vector<std::string> PrimaryKeyLines(std::string_view fieldList, std::string_view targetTable);

// The foreign-key statement of one relationship. A relationship without field pairs has no
// statement: platform::Error.
std::string ForeignKeyLine(const dao::Relation& relation);
// The same for `target`; PostgreSQL's carries the relationship's cascades (ForeignKeyActions),
// which Norvane's properties step adds later.
std::string ForeignKeyLine(const dao::Relation& relation, TargetKind target);

// " on update cascade on delete cascade", " on delete set null", ... of a relationship's
// attributes; empty without cascades.
std::string ForeignKeyActions(long attributes);

// The five lines that close reload1.sql.
const std::vector<std::string>& ReloadTail();

}  // namespace engine
