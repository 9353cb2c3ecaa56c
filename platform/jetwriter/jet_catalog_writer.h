// The catalog writer for Jet 3, Jet 4 and ACE (Access 2007-2016) files: renames tables (local or
// linked) and adds ODBC-linked tables and tables linked to another Access file by changing
// MSysObjects, its two indexes (ParentIdName, Id) and the pages they use.
//
// Owns: the PageFile of the Access file while the writer lives (see page_file.h for the backup,
// the work copy and the lock), the reading of the remote table's columns through ODBC when a link
// is added. A file with a journal beside it ("<file>-journal") is refused (kCouldNotLock) and the
// journal left alone.
// Failures: platform::Error with dao::err numbers; after a failure nothing of that operation was
// written. kItemNotFound: no table of that name; kObjectExists: the name is taken (compared as
// the catalog's index compares, without regard to letter case); kUnsupported: a file, name or
// layout the writer cannot change correctly (an Access 2019 file, an encrypted file, a character
// whose index key is unknown, a page with no room); kUnrecognizedFormat: the file does not decode;
// kOdbcCallFailed: the remote table could not be read; kCouldNotLock: the file is in use.
// A link's Connect is stored as Access stores it, without the leading "ODBC;" of the DAO
// property (the object type says it is ODBC); a reader shows it as "ODBC;" + the stored text.
// A connect string ";DATABASE=<path>" adds a link to a table of that Access file (type 6): the
// path goes to the Database column, the table's name to ForeignName, Connect stays empty, and
// the entry has no table definition page (its id is one of the ids below zero). The writer
// neither reads nor checks the other file; the engine checks that its table exists first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/access_catalog_writer.h"
#include "platform/jetwriter/page_file.h"
#include "platform/odbc/odbc.h"

namespace jetwriter {

// A column of the remote table, as SQLColumns reports it.
struct RemoteColumn {
  std::string name;
  int sqlType = 0;
  long size = 0;
  int digits = 0;
};

// An index of the remote table, as SQLStatistics reports it.
struct RemoteIndex {
  std::string name;
  std::vector<std::string> columns;  // in key order
  bool unique = true;
};

struct RemoteTable {
  std::vector<RemoteColumn> columns;
  // The primary key first (SQLPrimaryKeys; the index of the same columns, or one named after the
  // key when SQLStatistics lists none), the other unique indexes next, then the non-unique ones,
  // each group in the driver's order. Access keeps them on the link in this order.
  std::vector<RemoteIndex> indexes;
  bool hasPrimaryKey = false;  // indexes[0] is the primary key
};

// Reads the columns, the primary key and the indexes of `table` from the ODBC source `connect`
// (without "ODBC;"), as Access asks for them when it links a table. The connection has the time
// limits of platform/odbc: a source another program holds locked fails once they run out.
RemoteTable ReadRemoteTable(const std::string& connect, const std::string& table,
                            platform::odbc::Limits limits = {});

// The caller holds the file itself: no lock is taken. Each change replaces the file at once.
std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriter(const std::string& posixPath);

// For a migration run, which holds the file itself: every change of the run replaces the file
// together at Finish (a writer destroyed without Finish leaves the file as it was).
std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriterForRun(
    const std::string& posixPath);

// Stand-alone use: locks the file exclusively and refuses a file with a lock file (.ldb) beside
// it, which means Access may have it open.
std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriterLocked(
    const std::string& posixPath);

// Removes the work copy a killed run left beside the file (the file itself was never touched by
// that run). The engine calls this on every exclusive open. Returns true when there was one.
bool RecoverInterruptedChange(const std::string& posixPath);

// What the writer would refuse of a link-back's changes (see platform::AccessCatalogCheck): a
// journal beside the file, a file it does not change, new names Access or the file's code page
// and sort order cannot take, a connect string the file cannot store.
std::vector<platform::LinkBackRefusal> CheckLinkBack(const std::string& posixPath,
                                                     const platform::LinkBackPlan& plan);

// The path of the backup the writer made (empty before its first change).
std::string BackupPathOf(const platform::AccessCatalogWriter& writer);

}  // namespace jetwriter
