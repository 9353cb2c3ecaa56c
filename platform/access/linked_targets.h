// Which tables of an Access file are linked to a given database file.
//
// Owns: reading the Access file's catalog (catalog.h, in a reader child) and matching each ODBC
// link's connect string ("Database=", "DBQ=" or "DBF=" naming a file, POSIX or Windows form)
// against the database file. A link through a named data source is matched through the driver
// manager's setting "Database" of that source. Failures: what ReadCatalog throws (kFileNotFound,
// kUnrecognizedFormat, ...) when the Access file cannot be read.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace platform::access {

// The database file an ODBC connect string names as the Norvane driver reads it ("Database=",
// else "DBQ=", else "DBF=", else the "Database" setting of its "DSN="), as written there (a
// value in braces without them); "" when it names none.
std::string DatabaseFileOf(const std::string& connect);

// True when `named` (POSIX or Windows form) is the file `posixPath`.
bool SameFile(const std::string& named, const std::string& posixPath);

// The names of the tables linked to the database file `databasePosixPath`.
std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                        const std::string& databasePosixPath,
                                        std::chrono::milliseconds timeout);

}  // namespace platform::access
