// The PostgreSQL target as the settings name it: its ODBC connect string for psqlODBC (the run's
// open, the check after the run and the links), its name in messages and reports, the command
// lines of the server's own tools (createdb, psql) in migrate.bat and reload.bat, and the
// database on the server that "Create DB" makes or replaces.
#pragma once

#include <string>
#include <vector>

struct MigrationSettings;

namespace target {

// "Driver={<ServerOdbcDriver>};Server=<host>;Port=<port>;Database=<db>;Uid=<user>;BoolsAsChar=0;"
// (without "ODBC;"), leaving out what is empty; never a password. BoolsAsChar=0 makes psqlODBC
// report boolean as SQL_BIT, so a link shows Yes/No.
std::string PostgresConnectString(const MigrationSettings& settings);

// "PostgreSQL database 'Sales' on server 'db1' port 5432 as user 'ann'" (platform::Describe).
std::string PostgresTargetName(const MigrationSettings& settings);

// The database's name when none is given: the Access file's title without its extension
// ("Sales.mdb", "Sales.accdb": "Sales").
std::string DefaultServerDatabaseOf(const std::string& fileTitle);

// Whether a recorded target is a database on a server, named by its connect string
// (PostgresConnectString, which begins with "Driver="), not a database file's path.
bool IsServerTarget(const std::string& target);

// The message for a server setting that cannot be written into a command file or a connect
// string (a line break, a double quote, a ';', '{' or '}'), or "" when all can.
std::string UnsafeServerSetting(const MigrationSettings& settings);

// The command line that has psql run `script` (a name in the current folder) on the settings'
// database: "psql -X -w [-h host] [-p port] [-U user] -d <database> [-v ON_ERROR_STOP=1]
// -q -f <script>", a value holding a blank in double quotes. -X: no ~/.psqlrc; -w: a password
// comes from PGPASSWORD or ~/.pgpass, never from a prompt. With `stopAtFirstError` psql ends at
// the first statement that fails, with exit status 3.
std::string PsqlCommandLine(const MigrationSettings& settings, const std::string& script,
                            bool stopAtFirstError);

// migrate.bat for the server: into the work folder, createdb, then psql loading sp.sql.
//   cd <WorkFolder>
//   <drive>
//   createdb -w [-h host] [-p port] [-U user] -E UTF8 -T template0 <database>
//   PsqlCommandLine(settings, "sp.sql", true)
std::vector<std::string> PostgresMigrateBatLines(const MigrationSettings& settings);
// reload.bat for the server: the scripts joined as for Norvane, then psql runs reload.sql
// (PsqlCommandLine(settings, "reload.sql", true)).
std::vector<std::string> PostgresReloadBatLines(const MigrationSettings& settings);

// The PostgreSQL server as "Create DB" and a run that stopped early need it.
class ServerDatabases {
 public:
  virtual ~ServerDatabases() = default;
  // Whether the settings' database exists on their server; throws platform::Error when the
  // server cannot be asked.
  virtual bool Exists(const MigrationSettings& settings) = 0;
  // Drops it; throws platform::Error with the reason when it cannot (another session uses it).
  virtual void Drop(const MigrationSettings& settings) = 0;
};

}  // namespace target
