// The command line of norvane-migrate.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace console {

struct ConsoleOptions {
  std::string access;                    // the Access file (POSIX or Windows form)
  std::vector<std::string> accessFiles;  // every --access given: files or folders
  std::string ivex;                      // the query tool; empty: the one the build installs
  bool link = false;
  std::string prefix = "Old_";
  std::optional<std::string> dsn;      // a named data source of the new database
  std::optional<std::string> connect;  // or a whole "ODBC;..." connect string
  bool overwrite = false;
  bool replaceLinkedDatabase = false;  // also when the Access file's links use it
  bool keepWorkFiles = false;
  bool help = false;
  bool version = false;
  bool verbose = false;                   // the command files' output shown as well
  bool check = false;                     // only the check before a run
  bool dryRun = false;                    // work files and the plan, nothing else
  std::optional<std::string> reportJson;  // also write the report as JSON to this file
  std::optional<std::string> restore;     // undo the link-back of this Access file
  bool discardChanges = false;            // restore also when the database changed since
  // The target: the Norvane database file beside the Access file (the default), or a database
  // on a PostgreSQL server; the server's parts (empty: libpq's PGHOST, PGPORT, PGUSER, then its
  // defaults; the database's name defaults to the Access file's title without its extension).
  bool postgres = false;
  std::string server, port, database, user;
  std::optional<std::string> odbcDriver;  // the psqlODBC driver the links name
};

// Throws std::invalid_argument with a message for the user.
ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& args);

extern const char* const kConsoleUsage;
// "norvane-migrate <version>", for --version.
std::string VersionLine();

}  // namespace console
