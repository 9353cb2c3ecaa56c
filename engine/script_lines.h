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
// " on update cascade on delete cascade", " on delete set null", ... of a relationship's
// attributes; empty without cascades.
std::string ForeignKeyActions(long attributes);

// The five lines that close reload1.sql.
const std::vector<std::string>& ReloadTail();

// In PostgreSQL's dialect, for psql: "alter table "F" add foreign key (...) references "P"
// (...)", then the relationship's cascade actions ("on update cascade", "on delete cascade" or "on
// delete set null") and ";".
std::string PostgresForeignKeyLine(const dao::Relation& relation);
// The end of reload1.sql for psql: the time-column procedure sp.sql loaded, called and dropped
// (psql commits each statement itself).
std::vector<std::string> PostgresReloadTail();

// The lines of the target's dialect: Norvane's (above) or PostgreSQL's, whose foreign keys carry
// the relationship's cascades (which Norvane's properties step adds later). A relationship Access
// does not enforce gives "" for PostgreSQL (its rows may break it, and psql stops at the first
// statement that fails), and is written as ever for Norvane. PostgreSQL has no key lines: the run
// makes each key with the table's indexes, before the table's link.
std::vector<std::string> PrimaryKeyLinesOf(TargetKind target, std::string_view fieldList,
                                           std::string_view targetTable);
std::string ForeignKeyLineOf(TargetKind target, const dao::Relation& relation);
std::vector<std::string> ReloadTailOf(TargetKind target);

}  // namespace engine
