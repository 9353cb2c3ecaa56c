// The Norvane database file: a SQLite file with the product's catalog.
//
// Owns: creating a database file with its catalog and log file, recognising one, checking a
// user's password, and the catalog's names. Catalog objects are named "SYS.<name>"; every other
// table belongs to the user who loaded it.
// Failures: throw norvane::DbError (or platform::Error for a path that does not resolve) with a
// message for the user: existing file, folder missing, not a Norvane file, wrong password.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "norvane/sqlite.h"

namespace norvane {

inline constexpr std::string_view kUserTable = "SYS.SYSUSER";
inline constexpr std::string_view kProcedureTable = "SYS.SYSPROCEDURE";
inline constexpr std::string_view kColumnsView = "SYS.SYSCOLUMNS";
// PRAGMA application_id of a Norvane file ("NORV").
inline constexpr int kApplicationId = 0x4E4F5256;

// The log file's path: the database file's name with "log" in place of its last two characters
// (a name of two characters or fewer gets ".log" appended, so the log stays in the same folder).
std::filesystem::path LogPathOf(const std::filesystem::path& database);

// Creates the database file and its log. An existing database file is never touched: DbError.
void CreateDatabase(const std::filesystem::path& database);

// Opens an existing Norvane file. A missing file or a SQLite file of another kind: DbError.
void CheckIsNorvaneFile(Connection& c, const std::string& shownPath);

// Wrong user or password: DbError ("Invalid user ID or password").
void CheckLogin(Connection& c, std::string_view user, std::string_view password);

// True for the catalog's own objects ("SYS.*" and SQLite's internal "sqlite_*").
bool IsCatalogName(std::string_view table);

}  // namespace norvane
