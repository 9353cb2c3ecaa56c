// Changes to the table catalog of an Access file: renaming a table, adding a linked table.
//
// Owns: the interface between the Access side of the engine (which reads through libmdb) and
// the writer that changes the file. The engine holds the file exclusively and calls the writer
// while it holds it; after a change the engine re-reads the catalog.
// Failures: both operations throw platform::Error (dao::err numbers) and then have written
// nothing: a change is made whole or not at all.
#pragma once

#include <memory>
#include <string>

namespace platform {

class AccessCatalogWriter {
 public:
  virtual ~AccessCatalogWriter() = default;
  // Gives the table stored as `oldName` the name `newName`.
  virtual void RenameTable(const std::string& oldName, const std::string& newName) = 0;
  // Adds a linked table `name` for table `sourceTableName` of the ODBC source `connect`
  // ("ODBC;..."); the writer reads the remote table's structure through ODBC. With a connect
  // string ";DATABASE=<path>" the table is linked to that Access file instead.
  virtual void AppendLinkedTable(const std::string& name, const std::string& connect,
                                 const std::string& sourceTableName) = 0;
};

// Opens the writer for the Access file at `posixPath`; the caller already holds the file
// exclusively for this process.
using AccessCatalogWriterFactory =
    std::unique_ptr<AccessCatalogWriter> (*)(const std::string& posixPath);

}  // namespace platform
