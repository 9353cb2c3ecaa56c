// The PostgreSQL target as the settings name it: its ODBC connect string for psqlODBC (the run's
// open, the check after the run and the links).
#pragma once

#include <string>

struct MigrationSettings;

namespace target {

// "Driver={<ServerOdbcDriver>};Server=<host>;Port=<port>;Database=<db>;Uid=<user>;BoolsAsChar=0;"
// (without "ODBC;"), leaving out what is empty; never a password. BoolsAsChar=0 makes psqlODBC
// report boolean as SQL_BIT, so a link shows Yes/No.
std::string PostgresConnectString(const MigrationSettings& settings);

}  // namespace target
