// Access expressions (a field's default value, a field's or a table's validation rule) written
// as SQL for the Norvane (SQLite) side or for PostgreSQL.
//
// Owns: pure text work, no database. What it understands: literals (numbers, "text", 'text',
// #dates#, True/False/Yes/No/On/Off, Null), Date(), Now() and Time() as defaults, and in rules
// the comparisons = <> < <= > >=, And, Or, Not, Between ... And ..., [Not] In (...),
// [Not] Like with * ? # [..], Is [Not] Null and parentheses; a field's rule may leave out its
// field ("> 0"), a table's rule names its fields ([End] >= [Start]).
// PostgreSQL's dialect also takes whole expressions where a value stands: arithmetic (+ - * /
// Mod, a number added to a date counts days), & (Null as empty text), IIf, Date(), Now(), Time(),
// Len, Left, Right, Mid, UCase, LCase, Trim, LTrim, RTrim, InStr, Abs, Int, Fix, Nz, IsNull,
// Year, Month, Day, Hour, Minute, Second, Weekday and GenGUID; text compares through lower(),
// Like is ILIKE (a regular expression, ~*, for # and sets), Yes/No is boolean; defaults may be
// such expressions too.
// Failures: none thrown; an expression outside that subset comes back untranslated, with the
// reason, for the caller to report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::access_sql {

enum class Dialect { kNorvane, kPostgreSql };

// How the target stores a column, which decides how a rule compares it.
enum class ValueKind {
  kNumber,       // integers and floating point
  kExactNumber,  // Currency and Decimal: exact decimal text where a double cannot hold it
  kText,         // compared without regard to ASCII letter case, as Access does
  kDateTime,     // "YYYY-MM-DD HH:MM:SS" text
  kBoolean,      // 0 / 1
  kOther,        // binary, GUID
};

// The kind of an Access column type (platform/access/catalog.h ColumnType values).
ValueKind KindOfAccessType(int accessType);

struct Translation {
  std::string sql;  // empty with an empty `why`: nothing to carry (a Null default)
  std::string why;  // why the expression was not translated; empty when it was

  bool ok() const { return why.empty(); }
};

struct ColumnKind {
  std::string name;
  ValueKind kind = ValueKind::kOther;
};

// A DEFAULT clause's expression for a column of `kind`.
Translation DefaultExpression(std::string_view accessDefault, ValueKind kind,
                              Dialect dialect = Dialect::kNorvane);

// A CHECK expression. `column` names the field of a field's rule (the field the rule may leave
// out); empty for a table's rule. `columns` are the table's columns with their kinds.
Translation CheckExpression(std::string_view rule, const std::string& column,
                            const std::vector<ColumnKind>& columns,
                            Dialect dialect = Dialect::kNorvane);

// The number an AutoNumber column gives next, as an aggregate over its table: one after the
// highest in the table and after Access's counter (the last number it gave, which rows deleted
// since may have left above the highest; 0: the file does not say).
std::string NextAutoNumber(const std::string& quotedColumn, std::uint32_t counter,
                           Dialect dialect = Dialect::kNorvane);

}  // namespace platform::access_sql
