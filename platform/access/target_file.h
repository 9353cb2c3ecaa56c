// Is the file a target connection names a Norvane database that can be written now?
//
// Owns: judging a database file by its first bytes (without opening it as a database, so nothing
// is created, changed or waited on) and by the locks other programs hold on it. A Norvane
// database is a SQLite file whose header carries the product's application id ("NORV").
// Failures: CheckTargetFile throws platform::Error dao::err::kOdbcCallFailed naming the file and
// what it is instead (missing, a folder, empty, an Access file, a ZIP archive, a text file, a
// SQLite file of another program, unreadable) or which process holds it locked.
#pragma once

#include <chrono>
#include <string>

namespace platform::access {

enum class TargetFileKind {
  kNorvane,
  kMissing,
  kFolder,
  kEmpty,
  kUnreadable,
  kAccess,
  kZip,
  kOtherSqlite,
  kText,
  kOther
};

// What the file at `posixPath` is; `reason` gets the system's text for kUnreadable.
TargetFileKind KindOfTargetFile(const std::string& posixPath, std::string* reason = nullptr);

// The POSIX path of the database file the ODBC connection string names (Database=, DBF= or its
// data source's Database setting, POSIX or Windows form), or "" when it names none.
std::string TargetFilePath(const std::string& connectionString);

// Throws unless the file named by the ODBC connection string (Database=, DBF= or its data
// source's Database setting) is a Norvane database that no other program holds locked for
// longer than `lockWait`. A connection string naming no file is left to the driver.
void CheckTargetFile(const std::string& connectionString,
                     std::chrono::milliseconds lockWait = std::chrono::seconds(5));

// Before anything is made: why the ODBC connection string cannot reach a Norvane database, or ""
// when it can. Refused: a data source the driver manager does not know, a connection that names
// no database file, and a file that is not a Norvane database, unless it is `createdPosixPath`
// (the file "Create DB" makes; may be "").
std::string TargetConnectionRefusal(const std::string& connectionString,
                                    const std::string& createdPosixPath);

}  // namespace platform::access
