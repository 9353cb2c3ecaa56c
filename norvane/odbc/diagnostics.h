// The diagnostic functions' common part, shared by the ANSI and the wide entry points. They read
// a handle's records and never add any to it (a truncated message is only the return code).
#pragma once

#include <string>

#include "norvane/odbc/driver.h"

namespace norvane::odbc {

// SQLGetDiagField(W) up to the text: a number field is stored at `value` (SQL_SUCCESS); a text
// field is put in `text` for the caller to copy out in its form (SQL_NEED_DATA); otherwise the
// call's return (SQL_NO_DATA, SQL_ERROR, SQL_INVALID_HANDLE).
SQLRETURN ReadDiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                        SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                        std::string& text);

// SQLError: the first record of the most specific handle given, removed from it.
// SQL_NO_DATA when it has none, SQL_INVALID_HANDLE when no handle is given.
SQLRETURN TakeFirstRecord(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, DiagRecord& out);

// ODBC's origin of an SQLSTATE's class and subclass: "ISO 9075" or "ODBC 3.0".
const char* ClassOrigin(const std::string& state);
const char* SubclassOrigin(const std::string& state);

}  // namespace norvane::odbc
