// Norvane's types: what a declared column type is to an application, and the conversions
// between stored values and the application's C types.
//
// Storage (what the migration writes and this driver reads and writes):
// - numeric_blob(p,s) (Currency as numeric_blob(19,4), Decimal): a REAL when the decimal has at
//   most 15 significant digits (a double keeps those digits, and SQL arithmetic works on it),
//   else the decimal text itself, which the column's blob affinity keeps as it is.
// - real (Single) and double: REAL; text out with as many digits as bring the double back.
// - timestamp: text "YYYY-MM-DD HH:MM:SS[.fff]"; time: "HH:MM:SS"; date: "YYYY-MM-DD".
// - guid: text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; bit: 0 or 1; varchar/text: UTF-8.
// Failures: DriverError with 22003 (out of range), 22018 (not a number), 22007 (not a date),
// 07006 (no such conversion).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "norvane/odbc/driver.h"

namespace norvane::odbc {

// The application's view of a declared type ("numeric_blob(19,4)", "varchar(60)", "float", "").
ColumnInfo ColumnOfDeclared(std::string_view declared);

// One row of SQLGetTypeInfo: a type the driver creates columns of.
struct TypeRow {
  const char* name;  // TYPE_NAME, as written in CREATE TABLE
  SQLSMALLINT sqlType;
  SQLINTEGER columnSize;
  const char* prefix;  // LITERAL_PREFIX, null for none
  const char* suffix;
  const char* createParams;  // "length", "precision,scale", null
  bool caseSensitive;
  SQLSMALLINT searchable;
  bool unsignedAttribute;
  bool fixedPrecScale;
  bool autoUnique;
  SQLSMALLINT minimumScale, maximumScale;
  SQLSMALLINT radix;  // 0 for none
};
const std::vector<TypeRow>& TypeRows();

// The decimal text `text` with exactly `scale` fraction digits (rounded half away from zero
// when it has more). "12.5" at scale 4 is "12.5000". Throws 22018 for a non-number.
std::string DecimalAtScale(std::string_view text, int scale);
// The shortest text that reads back as `value`.
std::string DoubleText(double value);
// True when `decimal` has at most 15 significant digits; `value` then holds it.
bool HeldByDouble(std::string_view decimal, double& value);

// Writes `v` of a column described by `column` to the application's buffer as `cType`,
// from byte `offset` on for text and binary (SQLGetData in pieces; `offset` advances).
// `scratch` keeps the converted text between pieces. Returns SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO (01004 truncated, on `handle`) or SQL_NO_DATA when every piece was
// read.
SQLRETURN ConvertOut(Handle& handle, const Value& v, const ColumnInfo& column, SQLSMALLINT cType,
                     SQLPOINTER target, SQLLEN capacity, SQLLEN* indicator, std::size_t& offset,
                     std::string& scratch, const DescRecord* numeric = nullptr);

// Binds the application's value at `data` (C type `cType`, length `length` from its
// indicator or octet length) to parameter `index` of `prepared`, stored as the parameter's
// SQL type `sqlType` asks (see Storage above). `stable`: `data` stays where it is until the
// statement has run, so text and bytes are not copied.
void BindIn(sqlite3_stmt* prepared, int index, SQLSMALLINT cType, SQLSMALLINT sqlType,
            SQLSMALLINT scale, const void* data, SQLLEN length, bool stable = false);

}  // namespace norvane::odbc

namespace norvane::odbc {
// ASCII letters without regard to case, as SQLite compares names and ODBC compares keys.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view s);
// UTF-8 <-> UTF-16 (SQLWCHAR is two bytes); an invalid sequence becomes U+FFFD.
std::u16string Utf16Of(std::string_view utf8);
std::string Utf8Of(const char16_t* units, std::size_t count);
}  // namespace norvane::odbc
