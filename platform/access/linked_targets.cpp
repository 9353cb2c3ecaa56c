#include "platform/access/linked_targets.h"

#include <odbcinst.h>

#include <filesystem>

#include "platform/access/catalog.h"
#include "platform/odbc/odbc.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::access {

std::string DatabaseFileOf(const std::string& connect) {
  // As the Norvane driver reads it: Database, else DBQ, else DBF, else the data source's
  // setting; a value in braces without them ("}}" is one "}").
  std::string named[3], dsn;
  for (const auto& [key, raw] : odbc::ParseConnectionString(connect)) {
    std::string value = Trim(raw);
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}') {
      std::string inner;
      for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        inner += value[i];
        if (value[i] == '}' && value[i + 1] == '}') ++i;
      }
      value = inner;
    }
    const std::string k = LowerAscii(key);
    const int slot = k == "database" ? 0 : k == "dbq" ? 1 : k == "dbf" ? 2 : -1;
    if (slot >= 0 && named[slot].empty()) named[slot] = value;
    if (k == "dsn" && dsn.empty()) dsn = value;
  }
  for (const std::string& file : named)
    if (!file.empty()) return file;
  if (dsn.empty()) return "";
  char buffer[4096] = {};
  SQLGetPrivateProfileString(dsn.c_str(), "Database", "", buffer, sizeof buffer, "odbc.ini");
  return buffer;
}

bool SameFile(const std::string& named, const std::string& posixPath) {
  if (named.empty()) return false;
  std::error_code ec;
  std::filesystem::path path = named;
  if (named.size() >= 2 && named[1] == ':') {
    try {
      path = paths::ToPosix(named);
    } catch (const Error&) {
      return false;
    }
  }
  return std::filesystem::equivalent(path, posixPath, ec);
}

std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                        const std::string& databasePosixPath,
                                        std::chrono::milliseconds timeout) {
  std::vector<std::string> names;
  for (const TableInfo& table : ReadCatalog(accessPosixPath, timeout).tables)
    if (table.objectType == dao::ObjectType::kOdbcLink &&
        SameFile(DatabaseFileOf(table.connect), databasePosixPath))
      names.push_back(table.name);
  return names;
}

}  // namespace platform::access
