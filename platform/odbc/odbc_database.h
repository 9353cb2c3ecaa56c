// The target side of the engine: a database reached through ODBC.
//
// Owns: the ODBC connection of one open target and its table collection (read with SQLTables).
// An index appended to a table is created with CREATE [UNIQUE] INDEX. Index names are
// database-wide on some targets (SQLite), so the physical name is "<table>_<index>"; a primary
// index becomes a unique index (the key itself is declared later by the script that ivex runs).
// Failures: platform::Error. kOdbcCancelled when the data-source chooser is cancelled,
// kOdbcCallFailed with the driver's diagnostics for anything the driver refuses, kItemNotFound
// for a table that is not there, kUnsupported for what a target table cannot do (renames,
// links, relations, Jet statements), kObjectClosed after Close.
#pragma once

#include <memory>
#include <string>

#include "platform/dao/dao.h"
#include "platform/odbc/odbc.h"

namespace platform::odbc {

// The ODBC connection string named by a connect string "ODBC;...". When it names no data
// source (no DSN value, no DRIVER, no FILEDSN), the chooser is asked; its answer replaces the
// empty DSN and the other parts are kept. Throws kOdbcCancelled on cancel, kUnsupported for a
// connect string that does not start with "ODBC;".
std::string ConnectionStringFor(const std::string& connect, dao::DataSourceChooser* chooser);

// "CREATE [UNIQUE] INDEX ..." for an index of `table`, from the field list "+A;-B".
// Throws kUnsupported for an empty or malformed field list.
std::string CreateIndexStatement(const std::string& table, const dao::Index& index);
// "ALTER TABLE ... ADD CONSTRAINT <table>_<index> PRIMARY KEY (...)": the primary index on
// PostgreSQL, where the key constraint makes its own index.
std::string AddPrimaryKeyStatement(const std::string& table, const dao::Index& index);

// Opens the target the connect string names (asking the chooser when it names none), with the
// connection's time limits.
std::shared_ptr<dao::Database> OpenOdbcDatabase(const std::string& connect,
                                                dao::DataSourceChooser* chooser,
                                                Limits limits = {});

}  // namespace platform::odbc
