// The ODBC data sources of the Norvane driver: listing the user and system ones, and
// registering a user data source for a new database file.
//
// Owns: nothing; the entries live in the driver manager's odbc.ini files (the user's file is
// where ODBCINI points, else ~/.odbc.ini; the system folder is ODBCSYSINI, else /etc).
// Failures: a driver manager that cannot be asked lists nothing. RegisterUserDataSource and
// RemoveUserDataSourcesOf throw
// platform::Error (err::kPathFileAccess) with the driver manager's message when the entry
// cannot be written.
#pragma once

#include <string>
#include <vector>

namespace platform::ui {

inline constexpr const char* kNorvaneDriver = "Norvane";

struct NorvaneDataSource {
  std::string name;
  std::string database;  // the "Database" entry: the database file's POSIX path
  bool user = true;      // a user data source, else a system one
};

// The data sources whose driver is Norvane, user ones first.
std::vector<NorvaneDataSource> NorvaneDataSources();

// The user data source for `databasePath`: an existing Norvane source of that file, else a new
// user source named after the file (its name without the extension; "name_2" and so on when
// that name is taken by another file). Returns its name.
std::string RegisterUserDataSource(const std::string& databasePath);

// Removes the user data sources of the Norvane driver whose database is `databasePath` (a file
// restore removed); returns their names. Throws platform::Error (err::kPathFileAccess) with the
// driver manager's message when an entry cannot be removed.
std::vector<std::string> RemoveUserDataSourcesOf(const std::string& databasePath);

}  // namespace platform::ui
