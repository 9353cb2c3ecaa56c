#include "target/postgres_target.h"

#include "options/settings.h"

namespace target {

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

}  // namespace target
