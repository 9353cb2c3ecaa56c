// "Create DB": the work files that create the new database and the database file's names.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/shell_start.h"
#include "platform/ui_services.h"

struct MigrationSettings;

namespace target {

// The four lines of migrate.bat (for the PostgreSQL target: PostgresMigrateBatLines).
std::vector<std::string> MigrateBatLines(const MigrationSettings& settings);

// WorkFolder + TargetDbFileName, and its log file ("log" in place of the last two characters).
std::string TargetDbFilePath(const MigrationSettings& settings);
std::string TargetLogFilePath(const MigrationSettings& settings);

inline constexpr const char* kCreatingStatus = "Creating database ...";
inline constexpr const char* kOverwriteQuestion =
    "The Norvane file already exists.  If you want to overwrite the file click 'YES' or if you "
    "would like to move or rename the file click 'NO'.";
inline constexpr const char* kWaitMessage =
    "WAIT UNTIL CMD window disappears (NT) OR \"finished migrate.bat\" is showing (win95)!!";

// The tables of the Access file (first argument, POSIX path) that are linked to the database
// file (second argument, POSIX path); throws platform::Error when the Access file cannot be read.
using LinkedTablesProbe =
    std::function<std::vector<std::string>(const std::string&, const std::string&)>;

// The second, separate question before a database that the Access file's links use is removed.
inline constexpr const char* kLinkedDatabaseQuestionStart =
    "The Access file's linked tables use this Norvane database";
inline constexpr const char* kLinkedDatabaseQuestionEnd = " Replace it anyway?";
std::string LinkedDatabaseQuestion(const std::vector<std::string>& tables);

// The question before the PostgreSQL target's database is replaced:
// "The <PostgresTargetName> already exists. Replacing it deletes every table in it. Replace it?"
inline constexpr const char* kServerOverwriteQuestionStart = "The ";
inline constexpr const char* kServerOverwriteQuestionEnd =
    " already exists. Replacing it deletes every table in it. Replace it?";
std::string ServerOverwriteQuestion(const MigrationSettings& settings);

// The message for a path that cannot be written into a command file, or "" when it can.
std::string UnsafePathMessage(const std::string& windowsPath);
// The longest POSIX path (in bytes) of a new database file: SQLite opens no file whose path is
// longer than 512 bytes, and vorlin creates the file as ".<name>.XXXXXX" with its "-journal".
inline constexpr std::size_t kLongestDatabasePath = 496;
// The message for a path of the new database that cannot be used, or "" when it can: one that
// cannot be written into a command file, holds a ';' (which ends the value in the connection
// strings of ivex and the ODBC driver) or is longer than kLongestDatabasePath.
std::string UnsafeDatabasePathMessage(const std::string& windowsPath);
// The message for the first path of the settings that cannot, or "" when all can; for the
// PostgreSQL target the Access file's, the work folder's and the server's settings.
std::string UnsafeCommandFilePath(const MigrationSettings& settings);

// What "Create DB" changes on its page.
class CreateDbView {
 public:
  virtual ~CreateDbView() = default;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void EnableNext() = 0;
  virtual void Repaint() = 0;
};

// "Create DB": refuses paths that cannot be written into a command file, writes sp.sql,
// migrate.bat and reload.bat (`files` gives the lines of the first and the last), asks before
// replacing an existing database file (and asks again, naming the tables, when `linkedTables` says
// the Access file's links use it), removes it with its side files (-journal, -wal, -shm: also when
// they are left without a database), and starts migrate.bat. Returns the started task, or nothing
// when the user answered No or a step failed (the user has been told what failed). The lines of the
// command files the migration run needs besides migrate.bat.
struct CreateDbFiles {
  std::vector<std::string> procedure;  // sp.sql
  std::vector<std::string> reloadBat;  // reload.bat
};

// For the PostgreSQL target, migrate.bat runs createdb and psql; an existing database on the
// server is asked about as the file is (kServerOverwriteQuestion, then the linked-tables
// question, `linkedTables` given the Access file and the target's connect string) and dropped
// through `serverDatabases` before migrate.bat starts.
class ServerDatabases;
std::optional<int> CreateDb(const MigrationSettings& settings, const CreateDbFiles& files,
                            platform::Dialogs& dialogs, platform::CommandStarter& commands,
                            CreateDbView& view, const LinkedTablesProbe& linkedTables = {},
                            ServerDatabases* serverDatabases = nullptr);

}  // namespace target
