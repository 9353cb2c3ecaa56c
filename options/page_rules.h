// The rules of the wizard's pages that need no widget: what a choice or a press writes into the
// settings, and what the page shows or asks then.
#pragma once

#include <string>

#include "options/settings.h"

namespace wizard {

inline constexpr const char* kAppTitle = "Norvane Migration Wizard";

// ----- Options page -----
inline constexpr const char* kDefaultPrefix = "Old_";
inline constexpr const char* kEmptyOtherMessage =
    "Because you selected <Other:> the entry box must not be empty!";

struct OptionsState {
  bool linkChecked = false;
  bool oldPrefixSelected = true;  // otherwise "Other:" is selected
  std::string otherText = kDefaultPrefix;
};

// The controls' state after the page's load step.
OptionsState OptionsStateAtLoad(const MigrationSettings& settings);

// ">>": writes LinkTablesFlag and TablePrefix. False (with the flag already written) when
// "Other:" is selected with a blank entry: the page shows kEmptyOtherMessage and stays.
bool StoreOptions(const OptionsState& state, MigrationSettings& settings);

// ----- Source database page -----
inline constexpr const char* kAccessFilter = "Access Database (*.mdb *.accdb) | *.mdb *.accdb";
inline constexpr const char* kNoAccessDbMessage =
    "You must choose an Access DB before you will be allowed to proceed further.";

// The new database file's name: for an .accdb title (any letter case) the title without
// "accdb", then "db" (Sales.accdb, Sales.db); for any other the title without its last three
// characters, then "db" (Sales.mdb, Sales.db).
std::string TargetDbFileNameOf(const std::string& fileTitle);

// "Browse ...": stores the chosen path. False when it is blank (the page shows
// kNoAccessDbMessage); otherwise WorkFolder and TargetDbFileName are set as well.
bool StoreAccessChoice(const std::string& path, const std::string& title,
                       MigrationSettings& settings);

// ----- Query-tool page -----
inline constexpr const char* kToolFilter = "Norvane (*.exe) | *.exe";
inline constexpr const char* kInvalidToolMessage =
    "If you don't select a valid ivex/wivex path you will not be able to proceed.";

// "Browse ...": true and the tool's settings written when the title names ivex.exe or
// ivexw.exe (in any letter case); otherwise false and nothing written.
bool StoreQueryToolChoice(const std::string& path, const std::string& title,
                          MigrationSettings& settings);

// ----- Target page -----
inline constexpr const char* kNoServerDatabaseMessage =
    "You must enter the name of the PostgreSQL database before you will be allowed to proceed "
    "further.";
inline constexpr const char* kBadPortMessage = "The port must be a number from 1 to 65535.";
inline constexpr const char* kNoOdbcDriverMessage =
    "You must enter the name of the PostgreSQL ODBC driver that the linked tables will use.";

struct TargetState {
  bool postgres = false;  // otherwise the Norvane database file
  std::string server;     // a host name or address, a socket folder, or a postgresql:// URI
  std::string port;
  std::string database;
  std::string user;
  std::string odbcDriver = MigrationSettings().ServerOdbcDriver;  // the settings' default
};

// The controls' state on the page's first arrival.
TargetState TargetStateAtLoad(const MigrationSettings& settings);

// The database name the page proposes: the Access file's name without its extension (Sales for
// Sales.mdb); empty before a file is chosen.
std::string ProposedServerDatabase(const MigrationSettings& settings);

// ">>": writes Target and, for PostgreSQL, the server's fields (each trimmed; a URI's parts go
// to their fields). Returns the message the page shows and writes nothing when the choice is
// refused: a URI the address rule refuses (a password in it among them), a URI part that
// disagrees with its box, a URI parameter the links cannot carry, a port that is no number
// from 1 to 65535, no database name, no ODBC driver, or a character the links' connect string
// cannot carry. Norvane writes Target alone; the server's fields keep their values.
std::string StoreTargetChoice(const TargetState& state, MigrationSettings& settings);

// ----- Database creation page -----
struct CreateDbTexts {
  const char* title;
  const char* label1;  // where the new database goes
  const char* helpKeyword;
};
CreateDbTexts CreateDbTextsOf(TargetKind target);

// The new database as "Create DB" shows it: the database file (ShownPath), or the server's
// database ("database 'Sales' on server 'db1' port 5432 as user 'ann'").
std::string ShownTargetDatabase(const MigrationSettings& settings);

// ----- Paths the pages show -----
// A path as the user's system writes it (POSIX, long folder names); the Windows short form
// stays inside the command files. A path that maps to no POSIX one is shown as given.
std::string ShownPath(const std::string& windowsPath);
// A message with every Windows-form path in it shown so: the settings' own paths (whose long
// forms may hold blanks), then any other drive path up to a blank, a quote or the line's end.
std::string ShownText(const std::string& text, const MigrationSettings& settings);

// ----- Help -----
std::string HelpFilePath(const MigrationSettings& settings);

}  // namespace wizard
