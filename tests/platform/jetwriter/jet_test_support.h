// Helpers of the catalog writer's tests: fixture copies, the remote Norvane file, and the two
// independent readers (mdbtools' command-line tools on libmdb, and the npm package mdb-reader).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/jetwriter/table_def.h"

namespace jettest {

// A file of each format links are tested on: Jet 3, Jet 4, ACE 2007, ACE 2010.
inline constexpr const char* kLinkFormats[] = {"nwind.mdb", "testV2000.mdb",
                                               "modern-dev-V2007.accdb", "modern-dev-V2010.accdb"};
// The test name of one of them: "Jet3", "Jet4", "Ace2007", "Ace2010".
std::string FormatNameOf(const std::string& file);

// Copies tests/data/<name> into `dir` and returns the copy's path.
std::filesystem::path CopyFixture(const std::string& name, const std::filesystem::path& dir);

// Creates `tables` (name -> column definitions) in the Norvane file at `path` (made when missing),
// then runs `statements` (such as "create index ...") on it.
void MakeRemote(const std::filesystem::path& path,
                const std::vector<std::pair<std::string, std::string>>& tables,
                const std::vector<std::string>& statements = {});

// Output of a command (run through /bin/sh); `ok` false when it exits non-zero.
std::string Run(const std::string& command, bool* ok = nullptr);
std::string Quote(const std::string& s);

// libmdb's view: the user tables and each one's rows as mdb-export prints them.
std::vector<std::string> LibmdbTables(const std::filesystem::path& mdb);
std::string LibmdbExport(const std::filesystem::path& mdb, const std::string& table);

struct Link {
  std::string connect;
  std::string foreignName;
  bool operator==(const Link&) const = default;
};

// A link to a table of another Access file (type 6) as MSysObjects holds it.
struct AccessLink {
  long id = 0;
  std::string database;
  std::string foreignName;
  std::string connect;
  bool operator==(const AccessLink&) const = default;
};

// mdb-reader's view: user tables with their row counts, the ODBC links (type 4 rows) and the
// links to other Access files (type 6 rows).
struct NodeView {
  bool available = false;
  std::string why;  // when not available
  std::map<std::string, long> rowCounts;
  std::map<std::string, Link> links;
  std::map<std::string, AccessLink> accessLinks;
};
NodeView ReadWithMdbReader(const std::filesystem::path& mdb);

// Every row of MSysObjects as mdb-export prints it, by column name.
std::vector<std::map<std::string, std::string>> LibmdbObjects(const std::filesystem::path& mdb);

// ODBC links as libmdb reads them from MSysObjects.
std::map<std::string, Link> LibmdbLinks(const std::filesystem::path& mdb);

// The table definition of catalog entry `name` read back with our own reader, and the number of
// pages it spans.
jetwriter::TableDef DefinitionOf(const std::filesystem::path& mdb, const std::string& name,
                                 int* definitionPages);

}  // namespace jettest
