// Changes to the table catalog of an Access file: renaming a table, adding a linked table.
//
// Owns: the interface between the Access side of the engine (which reads through libmdb) and
// the writer that changes the file. The engine holds the file exclusively and calls the writer
// while it holds it; after a change the engine re-reads the catalog.
// Failures: the changes throw platform::Error (dao::err numbers) and then have made nothing
// of that change. A writer may collect every change of a run and make them visible to other
// readers together at Finish; until then only CurrentPath shows them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class AccessCatalogWriter {
 public:
  virtual ~AccessCatalogWriter() = default;
  // Gives the table stored as `oldName` the name `newName`.
  virtual void RenameTable(const std::string& oldName, const std::string& newName) = 0;
  // Adds a linked table `name` for table `sourceTableName` of the ODBC source `connect`
  // ("ODBC;..."); the writer reads the remote table's structure through ODBC. With a connect
  // string ";DATABASE=<path>" the table is linked to that Access file instead.
  // With `propertiesOf`, the name of a table of this file, the link takes that table's display
  // and lookup properties (platform/display_properties.h) for the columns both have.
  virtual void AppendLinkedTable(const std::string& name, const std::string& connect,
                                 const std::string& sourceTableName,
                                 const std::string& propertiesOf) = 0;
  void AppendLinkedTable(const std::string& name, const std::string& connect,
                         const std::string& sourceTableName) {
    AppendLinkedTable(name, connect, sourceTableName, {});
  }
  // Makes every change so far the file's content in one step; throws when it cannot, and then
  // the file is as it was before the first change.
  virtual void Finish() = 0;
  // The file that holds the changes so far, for reading them back before Finish.
  virtual std::string CurrentPath() const = 0;
  // Called by Finish once the changed file is complete on disk and before it replaces the
  // original, with the backup's path and the changed file's; a throw keeps the original.
  virtual void SetBeforeReplace(
      std::function<void(const std::string& backup, const std::string& changed)> hook) = 0;
};

// Opens the writer for the Access file at `posixPath`; the caller already holds the file
// exclusively for this process.
using AccessCatalogWriterFactory =
    std::unique_ptr<AccessCatalogWriter> (*)(const std::string& posixPath);

// The catalog changes a link-back makes, for a check before the run: each table renamed, then a
// link under its old name to its table on the target.
struct LinkBackPlan {
  std::vector<std::pair<std::string, std::string>> renames;  // old name, new name
  struct Link {
    std::string name;
    std::string sourceTableName;
  };
  std::vector<Link> links;
  std::string connect;  // the links' connect string ("ODBC;...")
};

// One reason a writer would refuse changes of a plan.
struct LinkBackRefusal {
  enum class Of {
    File,     // the file takes no change at all (a journal beside it, a format not changed)
    Rename,   // the new names in `names` cannot be given
    Link,     // the links in `names` cannot be added
    Connect,  // the connect string cannot be stored: no link can be added
  };
  Of of = Of::File;
  std::string reason;              // one sentence
  std::vector<std::string> names;  // the names refused for this reason, in the plan's order
};

// Why the writer would refuse the plan's changes to the file at `posixPath`, each reason once;
// none when it would make them (the remote tables it reads while linking are not looked at).
// Reads the file only and takes no lock.
using AccessCatalogCheck = std::vector<LinkBackRefusal> (*)(const std::string& posixPath,
                                                            const LinkBackPlan& plan);

}  // namespace platform
