// The wide entry points' edge: UTF-16 (SQLWCHAR, surrogate pairs beyond U+FFFF) to and from the
// UTF-8 the driver works in. Broken input (a lone surrogate, a bad UTF-8 sequence) becomes
// U+FFFD; nothing here fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "norvane/odbc/driver.h"
#include "norvane/odbc/types.h"  // Utf16Of, Utf8Of (defined in unicode.cpp)

namespace norvane::odbc {

// A wide string argument: null pointer, SQL_NTS or a length in characters.
std::optional<std::string> WideArg(const SQLWCHAR* text, SQLINTEGER chars);

// Copies `value` out to a wide buffer with its terminator. `capacity` and `*length` count
// characters (SQLWCHARs) in the first form and bytes in the second, as the entry point's
// ODBC definition says. Truncation never splits a surrogate pair; it adds 01004 to `handle`
// and returns SQL_SUCCESS_WITH_INFO. `length` gets the full length.
SQLRETURN WideOutChars(Handle& handle, const std::string& value, SQLWCHAR* buffer, SQLLEN capacity,
                       SQLSMALLINT* length);
SQLRETURN WideOutBytes(Handle& handle, const std::string& value, SQLPOINTER buffer, SQLLEN capacity,
                       SQLSMALLINT* length);
SQLRETURN WideOutBytes(Handle& handle, const std::string& value, SQLPOINTER buffer, SQLLEN capacity,
                       SQLINTEGER* length);

// The same copy without a diagnostic (the diagnostic functions must not add records to the
// handle they read). Returns true when `value` was truncated.
bool CopyWide(const std::u16string& value, SQLWCHAR* buffer, SQLLEN capacityChars);

}  // namespace norvane::odbc
