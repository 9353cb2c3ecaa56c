#include "target/create_db.h"

#include "platform/text.h"
#include "wizard/settings.h"

namespace target {

std::vector<std::string> MigrateBatLines(const MigrationSettings& s) {
  const std::string database = s.WorkFolder + s.TargetDbFileName;
  const bool windowed = platform::LowerAscii(platform::Trim(s.QueryToolFileName)) == "ivexw.exe";
  return {
      "cd " + platform::Trim(s.QueryToolPath),
      s.QueryToolPath.substr(0, 2),
      (windowed ? "vorlinw.exe " : "vorlin.exe ") + database,
      s.QueryToolFileName + " -c \"uid=dba;pwd=KWZ;dbf=" + database + "\" -q read " + s.WorkFolder +
          "sp.SQL",
  };
}

std::string TargetDbFilePath(const MigrationSettings& s) {
  return s.WorkFolder + s.TargetDbFileName;
}

std::string TargetLogFilePath(const MigrationSettings& s) {
  return platform::DropLastChars(TargetDbFilePath(s), 2) + "log";
}

}  // namespace target
