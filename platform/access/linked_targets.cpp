#include "platform/access/linked_targets.h"

#include <odbcinst.h>

#include <filesystem>

#include "platform/access/catalog.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::access {

std::string DatabaseFileOf(const std::string& connect) {
  std::string file, dsn;
  std::size_t at = 0;
  while (at <= connect.size()) {
    std::size_t end = connect.find(';', at);
    if (end == std::string::npos) end = connect.size();
    const std::string part = connect.substr(at, end - at);
    const std::size_t eq = part.find('=');
    if (eq != std::string::npos) {
      const std::string key = LowerAscii(Trim(part.substr(0, eq)));
      const std::string value = Trim(part.substr(eq + 1));
      if (key == "database" || key == "dbf") file = value;
      if (key == "dsn") dsn = value;
    }
    at = end + 1;
  }
  if (file.empty() && !dsn.empty()) {
    char buffer[4096] = {};
    SQLGetPrivateProfileString(dsn.c_str(), "Database", "", buffer, sizeof buffer, "odbc.ini");
    file = buffer;
  }
  return file;
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
