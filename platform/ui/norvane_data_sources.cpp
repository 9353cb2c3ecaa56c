#include "platform/ui/norvane_data_sources.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <strings.h>

#include <filesystem>
#include <memory>

#include "platform/error.h"

namespace platform::ui {
namespace {

struct EnvDeleter {
  void operator()(void* env) const { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};

std::string EntryOf(const std::string& dsn, const char* key) {
  char value[1024] = {};
  SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "odbc.ini");
  return value;
}

std::string InstallerError() {
  DWORD code = 0;
  char message[SQL_MAX_MESSAGE_LENGTH] = {};
  WORD length = 0;
  if (SQLInstallerError(1, &code, message, sizeof message, &length) == SQL_SUCCESS) return message;
  return "the driver manager gave no reason";
}

}  // namespace

std::vector<NorvaneDataSource> NorvaneDataSources() {
  std::vector<NorvaneDataSource> sources;
  SQLHENV raw = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) return sources;
  std::unique_ptr<void, EnvDeleter> env(raw);
  SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  for (const bool user : {true, false}) {
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR driver[256];
    SQLSMALLINT nameLength = 0, driverLength = 0;
    SQLUSMALLINT direction = user ? SQL_FETCH_FIRST_USER : SQL_FETCH_FIRST_SYSTEM;
    while (SQL_SUCCEEDED(SQLDataSources(raw, direction, name, sizeof name, &nameLength, driver,
                                        sizeof driver, &driverLength))) {
      direction = SQL_FETCH_NEXT;
      if (strcasecmp(reinterpret_cast<char*>(driver), kNorvaneDriver) != 0) continue;
      const std::string dsn(reinterpret_cast<char*>(name));
      sources.push_back({dsn, {}, user});
    }
  }
  env.reset();
  // Read once the listing is over: the driver manager moves the files' mode while it lists.
  for (auto& s : sources) {
    SQLSetConfigMode(s.user ? ODBC_USER_DSN : ODBC_SYSTEM_DSN);
    s.database = EntryOf(s.name, "Database");
  }
  SQLSetConfigMode(ODBC_BOTH_DSN);
  return sources;
}

std::string RegisterUserDataSource(const std::string& databasePath) {
  const auto existing = NorvaneDataSources();
  for (const auto& s : existing)
    if (s.database == databasePath) return s.name;
  const std::string stem = std::filesystem::path(databasePath).stem().string();
  std::string name = stem;
  for (int n = 2;; ++n) {
    bool taken = false;
    for (const auto& s : existing) taken = taken || strcasecmp(s.name.c_str(), name.c_str()) == 0;
    if (!taken && EntryOf(name, "Driver").empty()) break;
    name = stem + "_" + std::to_string(n);
  }
  SQLSetConfigMode(ODBC_USER_DSN);
  const bool written =
      SQLWriteDSNToIni(name.c_str(), kNorvaneDriver) &&
      SQLWritePrivateProfileString(name.c_str(), "Database", databasePath.c_str(), "odbc.ini") &&
      SQLWritePrivateProfileString(name.c_str(), "Description", "Norvane database", "odbc.ini");
  const std::string why = written ? std::string() : InstallerError();
  SQLSetConfigMode(ODBC_BOTH_DSN);
  if (!written)
    throw Error(err::kPathFileAccess,
                "The data source " + name + " could not be registered: " + why);
  return name;
}

std::vector<std::string> RemoveUserDataSourcesOf(const std::string& databasePath) {
  std::vector<std::string> removed;
  for (const auto& s : NorvaneDataSources()) {
    if (!s.user || s.database != databasePath) continue;
    SQLSetConfigMode(ODBC_USER_DSN);
    const bool done = SQLRemoveDSNFromIni(s.name.c_str());
    const std::string why = done ? std::string() : InstallerError();
    SQLSetConfigMode(ODBC_BOTH_DSN);
    if (!done)
      throw Error(err::kPathFileAccess,
                  "The data source " + s.name + " could not be removed: " + why);
    removed.push_back(s.name);
  }
  return removed;
}

}  // namespace platform::ui
