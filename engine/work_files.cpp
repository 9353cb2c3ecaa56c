#include "engine/work_files.h"

#include "engine/time_fix_procedure.h"
#include "options/settings.h"
#include "platform/files.h"
#include "target/postgres_target.h"

namespace engine {

std::vector<std::string> ReloadBatLines(const MigrationSettings& s) {
  if (s.Target == TargetKind::PostgreSql) return target::PostgresReloadBatLines(s);
  const std::string& w = s.WorkFolder;
  return {
      "cd " + s.QueryToolPath,
      s.QueryToolPath.substr(0, 2),
      "copy " + w + "reload1.sql + " + w + "reload2.sql " + w + "reload.sql",
      s.QueryToolFileName + " -c \"uid=dba;pwd=KWZ;dbf=" + w + s.TargetDbFileName + "\" read " + w +
          "reload.SQL",
  };
}

std::vector<std::string> ProcedureLinesOf(const MigrationSettings& s) {
  return TimeFixProcedureLines(s.Target);
}

std::string PsqlScriptLine(const MigrationSettings& s, const std::string& script) {
  return target::PsqlCommandLine(s, script, false);
}

void RemoveWorkFiles(const MigrationSettings& settings, platform::ProgramEnd& programEnd,
                     platform::FailureLog& failures) {
  if (settings.WorkFolder.empty()) return;
  for (const char* name : kWorkFileNames) {
    const std::string path = settings.WorkFolder + name;
    try {
      platform::files::DeleteFile(path);
    } catch (const platform::Error& e) {
      if (e.Number() == platform::err::kFileNotFound) continue;
      failures.push_back({"Deleting " + path, e.Number(), e.Description()});
    }
  }
  programEnd.EndProgram();
}

}  // namespace engine
