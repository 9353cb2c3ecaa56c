#include "norvane/catalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace norvane {
namespace fs = std::filesystem;
namespace {

// The catalog, as one script. Tables named "SYS.*" are the catalog's own (creator 'sys').
std::string CatalogScript() {
  return "PRAGMA application_id = " + std::to_string(kApplicationId) +
         ";\n"
         "PRAGMA user_version = 1;\n"
         "BEGIN;\n"
         "CREATE TABLE " +
         QuoteId(kUserTable) +
         " (user_name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, password TEXT NOT NULL);\n"
         "INSERT INTO " +
         QuoteId(kUserTable) +
         " VALUES ('dba', 'KWZ');\n"
         "CREATE TABLE " +
         QuoteId(kProcedureTable) +
         " (proc_name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, creator TEXT NOT NULL,"
         " proc_defn TEXT NOT NULL);\n"
         "CREATE VIEW " +
         QuoteId(kColumnsView) +
         " AS SELECT m.name AS tname, c.name AS cname,"
         " lower(trim(CASE WHEN instr(c.type, '(') > 0 THEN substr(c.type, 1, instr(c.type, '(') - "
         "1)"
         " ELSE c.type END)) AS coltype,"
         " CASE WHEN m.name LIKE 'SYS.%' OR m.name LIKE 'sqlite\\_%' ESCAPE '\\' THEN 'sys'"
         " ELSE 'dba' END AS creator,"
         " c.cid + 1 AS colno, c.type AS domain_name,"
         " CASE WHEN c.\"notnull\" THEN 'N' ELSE 'Y' END AS nulls, c.dflt_value AS \"default\","
         " CASE WHEN c.pk > 0 THEN 'Y' ELSE 'N' END AS in_primary_key"
         " FROM sqlite_schema AS m JOIN pragma_table_info(m.name) AS c"
         " WHERE m.type = 'table';\n"
         "COMMIT;\n";
}

[[noreturn]] void Fail(const std::string& what, const fs::path& p, int code) {
  throw DbError(what + " " + p.string() + ": " + std::strerror(code));
}

}  // namespace

fs::path LogPathOf(const fs::path& database) {
  return platform::paths::DatabaseLogPathOf(database.string());
}

bool IsCatalogName(std::string_view table) {
  return platform::StartsWithNoCase(table, "SYS.") || platform::StartsWithNoCase(table, "sqlite_");
}

void CreateDatabase(const fs::path& database) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(database, ec)))
    throw DbError("The database file " + database.string() +
                  " already exists; it was not changed. Move, rename or delete it first.");
  if (!fs::is_directory(database.parent_path(), ec))
    throw DbError("The folder " + database.parent_path().string() + " does not exist.");

  // Build the file under a temporary name and link it into place: a failure never leaves a
  // half-made database, and a file that appeared meanwhile is not overwritten.
  std::string temp = (database.parent_path() / ("." + database.filename().string() + ".XXXXXX"));
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) Fail("Cannot create a file in", database.parent_path(), errno);
  ::close(fd);
  struct Cleanup {
    std::string path;
    ~Cleanup() { ::unlink(path.c_str()); }
  } cleanup{temp};
  {
    Connection c(temp, false);
    c.Exec(CatalogScript());
  }
  if (::link(temp.c_str(), database.c_str()) != 0) {
    if (errno == EEXIST)
      throw DbError("The database file " + database.string() +
                    " already exists; it was not changed.");
    Fail("Cannot create", database, errno);
  }
  ::chmod(database.c_str(), 0644);

  const fs::path log = LogPathOf(database);
  try {
    platform::files::ReplaceDurably(
        log.string(), "Norvane transaction log of " + database.filename().string() + "\r\n",
        log.string());
  } catch (const platform::Error& e) {
    ::unlink(database.c_str());
    throw DbError(e.Description());
  }
}

void CheckIsNorvaneFile(Connection& c, const std::string& shownPath) {
  Value id;
  try {
    id = c.Scalar("PRAGMA application_id");
  } catch (const DbError& e) {
    if (IsLockedError(e)) throw;  // another program holds it: no verdict on what it is
    throw DbError("Not a Norvane database file: " + shownPath + " (" + e.what() + ")");
  }
  if (id.AsText() != std::to_string(kApplicationId))
    throw DbError("Not a Norvane database file: " + shownPath);
}

void CheckLogin(Connection& c, std::string_view user, std::string_view password) {
  const Value stored =
      c.Scalar("SELECT password FROM " + QuoteId(kUserTable) + " WHERE user_name = ?",
               {Value::Text(std::string(user))});
  if (stored.IsNull() || stored.AsText() != password) throw DbError("Invalid user ID or password");
}

}  // namespace norvane
