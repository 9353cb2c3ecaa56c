// Asking a table of the new database which rows break a condition, before the condition is made
// a constraint.
//
// Owns: one query through ODBC: the key (the primary key's columns, else the row id) of up to
// five rows for which the condition is false.
// Failures: platform::Error with the driver's diagnostics when the query fails (a condition the
// target does not understand, a missing table).
#pragma once

#include <string>

#include "platform/odbc/odbc.h"

namespace platform::verify {

// "(k1), (k2)" with a key's columns separated by ", "; empty when no row breaks `condition`.
std::string KeysOfRowsBreaking(odbc::Connection& db, const std::string& table,
                               const std::string& condition);

}  // namespace platform::verify
