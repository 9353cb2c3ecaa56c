// The diagnostic functions' common part, shared by the ANSI and the wide entry points. They read
// a handle's records and never add any to it (a truncated message is only the return code).
#pragma once

#include <string>

#include "norvane/odbc/driver.h"

namespace norvane::odbc {

// One field of SQLGetDiagField: text, or a number of `size` bytes (2, 4 or 8).
struct DiagValue {
  bool isText = false;
  std::string text;
  SQLLEN number = 0;
  int size = 0;
};
// SQL_SUCCESS with `out` filled, SQL_NO_DATA past the last record, SQL_ERROR for a field that
// does not exist or does not belong to this kind of handle.
SQLRETURN DiagField(Handle& handle, SQLSMALLINT record, SQLSMALLINT field, DiagValue& out);
// Writes a number of `value.size` bytes to `target`.
void StoreNumber(const DiagValue& value, SQLPOINTER target);

// SQLError: the first record of the most specific handle given, removed from it.
// SQL_NO_DATA when it has none, SQL_INVALID_HANDLE when no handle is given.
SQLRETURN TakeFirstRecord(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, DiagRecord& out);

// ODBC's origin of an SQLSTATE's class and subclass: "ISO 9075" or "ODBC 3.0".
const char* ClassOrigin(const std::string& state);
const char* SubclassOrigin(const std::string& state);

}  // namespace norvane::odbc
