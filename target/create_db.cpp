#include "target/create_db.h"

#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "platform/error.h"
#include "platform/files.h"
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
  // The tool's own rule: a name of two characters or fewer keeps itself and gets ".log".
  if (platform::CharCount(s.TargetDbFileName) <= 2) return TargetDbFilePath(s) + ".log";
  return platform::DropLastChars(TargetDbFilePath(s), 2) + "log";
}

namespace {

void RewriteWorkFile(const std::string& path, const std::vector<std::string>& lines) {
  if (platform::files::FileExists(path)) platform::files::DeleteFile(path);
  platform::files::WriteTextLines(path, lines);
}

// Clears the attributes of and deletes the old database file and its log; a log that is not
// there is no failure.
void RemoveOldDatabase(const MigrationSettings& s) {
  const std::string db = TargetDbFilePath(s), log = TargetLogFilePath(s);
  platform::files::ClearAttributes(db);
  if (platform::files::FileExists(log)) platform::files::ClearAttributes(log);
  platform::files::DeleteFile(db);
  if (platform::files::FileExists(log)) platform::files::DeleteFile(log);
}

}  // namespace

std::optional<int> CreateDb(const MigrationSettings& s, platform::Dialogs& dialogs,
                            platform::CommandStarter& commands, CreateDbView& view) {
  dialogs.SetBusyPointer(true);
  view.SetStatusText(kCreatingStatus);
  const auto stop = [&](const std::string& what, const platform::Error& e) {
    dialogs.SetBusyPointer(false);
    dialogs.Message(what + "\n\n" + e.Description());
    return std::nullopt;
  };

  try {
    engine::WriteTimeFixProcedure(s);
    RewriteWorkFile(s.WorkFolder + "migrate.bat", MigrateBatLines(s));
    RewriteWorkFile(s.WorkFolder + "reload.bat", engine::ReloadBatLines(s));
  } catch (const platform::Error& e) {
    return stop("The work files could not be written to " + s.WorkFolder + ".", e);
  }

  if (platform::files::FileExists(TargetDbFilePath(s))) {
    if (!dialogs.Question(kOverwriteQuestion)) {
      dialogs.SetBusyPointer(false);
      return std::nullopt;
    }
    try {
      RemoveOldDatabase(s);
    } catch (const platform::Error& e) {
      return stop("The existing database file " + TargetDbFilePath(s) + " could not be removed.",
                  e);
    }
  }

  dialogs.Message(kWaitMessage);
  int task = 0;
  try {
    task = commands.StartCommandFile(s.WorkFolder + "migrate.bat");
  } catch (const platform::Error& e) {
    return stop("The command file " + s.WorkFolder + "migrate.bat could not be started.", e);
  }
  view.EnableNext();
  dialogs.SetBusyPointer(false);
  view.Repaint();
  return task;
}

}  // namespace target
