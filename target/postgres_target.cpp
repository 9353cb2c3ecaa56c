#include "target/postgres_target.h"

#include <cctype>
#include <utility>

#include "options/settings.h"
#include "platform/server_address.h"
#include "platform/text.h"

namespace target {
namespace {

// A value of a tool's command line: in double quotes when it holds a blank.
std::string Argument(const std::string& value) {
  return value.find_first_of(" \t") == std::string::npos ? value : "\"" + value + "\"";
}

// " -h <host> -p <port> -U <user>", leaving out what is empty.
std::string ServerArguments(const MigrationSettings& s) {
  std::string text;
  if (!s.ServerHost.empty()) text += " -h " + Argument(s.ServerHost);
  if (!s.ServerPort.empty()) text += " -p " + Argument(s.ServerPort);
  if (!s.ServerUser.empty()) text += " -U " + Argument(s.ServerUser);
  return text;
}

}  // namespace

std::string PostgresConnectString(const MigrationSettings& settings) {
  std::string text = "Driver={" + settings.ServerOdbcDriver + "};";
  const auto add = [&text](const char* key, const std::string& value) {
    if (!value.empty()) text += std::string(key) + "=" + value + ";";
  };
  add("Server", settings.ServerHost);
  add("Port", settings.ServerPort);
  add("Database", settings.ServerDatabase);
  add("Uid", settings.ServerUser);
  return text + "BoolsAsChar=0;";
}

std::string PostgresTargetName(const MigrationSettings& s) {
  return "PostgreSQL " +
         platform::Describe({s.ServerHost, s.ServerPort, s.ServerDatabase, s.ServerUser, {}});
}

std::string DefaultServerDatabaseOf(const std::string& fileTitle) {
  const std::size_t dot = fileTitle.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileTitle : fileTitle.substr(0, dot);
}

bool IsServerTarget(const std::string& target) {
  return platform::StartsWithNoCase(target, "Driver=");
}

std::string UnsafeServerSetting(const MigrationSettings& s) {
  const std::pair<const char*, const std::string*> settings[] = {
      {"server", &s.ServerHost},
      {"port", &s.ServerPort},
      {"database", &s.ServerDatabase},
      {"user", &s.ServerUser},
      {"ODBC driver", &s.ServerOdbcDriver}};
  for (const auto& [what, value] : settings)
    if (value->find_first_of("\r\n\";{}") != std::string::npos)
      return std::string("The PostgreSQL ") + what + " '" + *value +
             "' cannot be used: it holds a line break, a double quote, ';', '{' or '}', which "
             "a command file or a connect string cannot hold.";
  if (s.ServerDatabase.empty()) return "The PostgreSQL database has no name.";
  return "";
}

std::string PsqlCommandLine(const MigrationSettings& s, const std::string& script,
                            bool stopAtFirstError) {
  return "psql -X -w" + ServerArguments(s) + " -d " + Argument(s.ServerDatabase) +
         (stopAtFirstError ? " -v ON_ERROR_STOP=1" : "") + " -q -f " + Argument(script);
}

std::vector<std::string> PostgresMigrateBatLines(const MigrationSettings& s) {
  return {
      "cd " + s.WorkFolder,
      s.WorkFolder.substr(0, 2),
      "createdb -w" + ServerArguments(s) + " -E UTF8 -T template0 " + Argument(s.ServerDatabase),
      PsqlCommandLine(s, "sp.sql", true),
  };
}

std::vector<std::string> PostgresReloadBatLines(const MigrationSettings& s) {
  const std::string& w = s.WorkFolder;
  return {
      "cd " + w,
      w.substr(0, 2),
      "copy " + w + "reload1.sql + " + w + "reload2.sql " + w + "reload.sql",
      PsqlCommandLine(s, "reload.sql", true),
  };
}

}  // namespace target
