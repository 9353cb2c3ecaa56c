// The real engine: Access files through libmdb, ODBC targets through unixODBC.
//
// Owns: the engine object and its Jet workspaces. A workspace opens an Access file (a POSIX
// path, or a Windows-form path resolved through platform/paths) or, with a connect string
// "ODBC;...", an ODBC target (platform/odbc). An open Access database holds the file's lock
// (file_lock.h) until it is closed, keeps the catalog it read (catalog.h) and executes the
// transfer statement (transfer.h); OpenRecordset reads a table's rows as text (recordset.h).
// Renames and appended linked tables go through the catalog writer the engine is given; after
// each change the catalog is read again (from the writer's CurrentPath), entries keep their
// positions and new entries come after the existing ones. Close calls the writer's Finish while
// the lock still holds; its failure is Close's.
// Failures: every operation throws platform::Error with a dao::err number: kFileNotFound,
// kCouldNotLock (the description names the file), kUnrecognizedFormat (not an Access file,
// truncated, damaged, encrypted), kUnsupported (no catalog writer, a password in the connect
// string, any statement other than the transfer, a transfer from an ODBC-linked table, changes
// libmdb cannot make), kObjectExists, kItemNotFound (a missing table), kOdbcCancelled,
// kOdbcCallFailed, kObjectClosed after Close.
// A table linked to another Access file (a split database's front-end) is read through its link,
// as Jet reads it: its indexes are the back-end table's, and the transfer copies the back-end
// table's rows. A back-end that cannot be reached fails that transfer with the catalog's reason
// (kFileNotFound for a missing or relative path, kItemNotFound for a missing table, the reader's
// error for a damaged file, kCouldNotLock when another program holds it exclusively).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/access_catalog_writer.h"
#include "platform/dao/dao.h"
#include "platform/odbc/odbc.h"

namespace platform::access {

struct EngineOptions {
  // Asked when a target's connect string names no data source; none means "cancelled".
  dao::DataSourceChooser* chooser = nullptr;
  // Opens the writer for renames and linked tables; none makes those operations kUnsupported.
  AccessCatalogWriterFactory writerFactory = nullptr;
  // How long the reader of an Access file may stay silent before the file counts as damaged.
  std::chrono::milliseconds readTimeout{60000};
  // Cleans up what a killed run left beside the file (never the file itself); called on every
  // exclusive open before the file is read. Returns true when there was something.
  bool (*recoverInterruptedChange)(const std::string& posixPath) = nullptr;
  // Given to each catalog writer (see dao::Engine::SetBeforeCatalogReplace).
  dao::BeforeCatalogReplace beforeReplace = {};
  // What the writer would refuse of a link-back (Database::LinkBackRefusals); none finds nothing.
  AccessCatalogCheck catalogCheck = nullptr;
  // The time limits of the target's connections (their statements wait that long at most on a
  // database another program holds), and how long the open waits for such a database.
  odbc::Limits targetLimits = {};
  std::chrono::milliseconds targetOpenLockWait{std::chrono::seconds(5)};
  // The transfer into a PostgreSQL database (a connection naming psqlODBC, odbc.h's
  // NamesPostgresDriver): copies table `source` of the Access file at `mdbPath` into a new
  // table `table` of the database the ODBC connection string names, in bulk. None makes such a
  // transfer kUnsupported. Throws platform::Error as the ODBC transfer does.
  std::function<void(const std::string& connection, const std::string& mdbPath, int jetVersion,
                     const std::string& source, const std::string& table,
                     std::chrono::milliseconds timeout)>
      serverTransfer = {};
};

std::shared_ptr<dao::Engine> CreateEngine(const EngineOptions& options);

}  // namespace platform::access
