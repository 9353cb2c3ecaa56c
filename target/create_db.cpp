#include "target/create_db.h"

#include "options/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "target/postgres_target.h"

namespace target {

std::vector<std::string> MigrateBatLines(const MigrationSettings& s) {
  if (s.Target == TargetKind::PostgreSql) return PostgresMigrateBatLines(s);
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

std::string LinkedDatabaseQuestion(const std::vector<std::string>& tables) {
  std::string names;
  for (const std::string& t : tables) names += (names.empty() ? "" : ", ") + t;
  return std::string(kLinkedDatabaseQuestionStart) + " (" + names +
         "). Replacing it deletes their rows, with every change made since the migration, and "
         "leaves the links showing the new, empty database." +
         kLinkedDatabaseQuestionEnd;
}

std::string UnsafePathMessage(const std::string& windowsPath) {
  const std::string why = platform::paths::UnsafeInCommandFile(windowsPath);
  if (why.empty()) return "";
  return "The path " + windowsPath + " cannot be written into a command file: it holds " + why +
         ". Rename the file or folder, or choose another.";
}

std::string UnsafeDatabasePathMessage(const std::string& windowsPath) {
  if (std::string message = UnsafePathMessage(windowsPath); !message.empty()) return message;
  if (windowsPath.find(';') != std::string::npos)
    return "The path " + windowsPath +
           " cannot be used for the new database: it holds the character ; which ends the "
           "database's name in a connection string. Rename the file or folder, or choose "
           "another.";
  std::string posix;
  try {
    posix = platform::paths::ToPosix(windowsPath).string();
  } catch (const platform::Error&) {
    return "";  // a folder that is not there: writing the work files says so
  }
  if (posix.size() > kLongestDatabasePath)
    return "The path " + windowsPath + " cannot be used for the new database: it is " +
           std::to_string(posix.size()) + " bytes long, and the database takes at most " +
           std::to_string(kLongestDatabasePath) + ". Move the Access file to a shorter path.";
  return "";
}

std::string UnsafeCommandFilePath(const MigrationSettings& s) {
  if (s.Target == TargetKind::PostgreSql) {
    for (const std::string& path : {s.AccessDbPath, s.WorkFolder})
      if (std::string message = UnsafePathMessage(path); !message.empty()) return message;
    return UnsafeServerSetting(s);
  }
  if (std::string message = UnsafeDatabasePathMessage(s.WorkFolder + s.TargetDbFileName);
      !message.empty())
    return message;
  for (const std::string& path : {s.AccessDbPath, s.QueryToolPath + s.QueryToolFileName})
    if (std::string message = UnsafePathMessage(path); !message.empty()) return message;
  return "";
}

std::string TargetLogFilePath(const MigrationSettings& s) {
  return platform::paths::DatabaseLogPathOf(TargetDbFilePath(s));
}

namespace {

void RewriteWorkFile(const std::string& path, const std::vector<std::string>& lines) {
  if (platform::files::FileExists(path)) platform::files::DeleteFile(path);
  platform::files::WriteTextLines(path, lines);
}

constexpr const char* kSideFileEndings[] = {"-journal", "-wal", "-shm"};

// SQLite's files of the database: a journal left without its database would be replayed into
// the new one.
void RemoveSideFiles(const MigrationSettings& s) {
  for (const char* ending : kSideFileEndings) {
    const std::string side = TargetDbFilePath(s) + ending;
    if (platform::files::FileExists(side)) {
      platform::files::ClearAttributes(side);
      platform::files::DeleteFile(side);
    }
  }
}

// Clears the attributes of and deletes the old database file, its side files and its log; a
// log that is not there is no failure.
void RemoveOldDatabase(const MigrationSettings& s) {
  const std::string db = TargetDbFilePath(s), log = TargetLogFilePath(s);
  platform::files::ClearAttributes(db);
  if (platform::files::FileExists(log)) platform::files::ClearAttributes(log);
  platform::files::DeleteFile(db);
  RemoveSideFiles(s);
  if (platform::files::FileExists(log)) platform::files::DeleteFile(log);
}

// Asks the second question when the Access file's links use the database. True: go on.
bool ConfirmLinkedDatabase(const MigrationSettings& s, platform::Dialogs& dialogs,
                           const LinkedTablesProbe& linkedTables) {
  if (!linkedTables) return true;
  std::vector<std::string> tables;
  try {
    tables = linkedTables(platform::paths::ToPosix(s.AccessDbPath).string(),
                          platform::paths::ToPosix(TargetDbFilePath(s)).string());
  } catch (const platform::Error& e) {
    tables = {"(the Access file's links could not be read: " + e.Description() + ")"};
  }
  return tables.empty() || dialogs.Question(LinkedDatabaseQuestion(tables));
}

// The server's database: refused when it exists unless the user says to replace it (and, when
// the Access file's links use it, says so again); then dropped. True: go on. Every refusal and
// failure has been told.
bool ReplaceServerDatabase(const MigrationSettings& s, platform::Dialogs& dialogs,
                           const LinkedTablesProbe& linkedTables, ServerDatabases* databases) {
  const std::string name = PostgresTargetName(s);
  if (databases == nullptr) {
    dialogs.Message("The " + name + " cannot be checked from here, so it was not created.");
    return false;
  }
  bool exists = false;
  try {
    exists = databases->Exists(s);
  } catch (const platform::Error& e) {
    dialogs.Message("The " + name + " cannot be checked.\n\n" + e.Description());
    return false;
  }
  if (!exists) return true;
  if (!dialogs.Question(ServerOverwriteQuestion(s))) return false;
  if (linkedTables) {
    std::vector<std::string> tables;
    try {
      tables =
          linkedTables(platform::paths::ToPosix(s.AccessDbPath).string(), PostgresConnectString(s));
    } catch (const platform::Error& e) {
      tables = {"(the Access file's links could not be read: " + e.Description() + ")"};
    }
    if (!tables.empty() && !dialogs.Question(LinkedDatabaseQuestion(tables))) return false;
  }
  try {
    databases->Drop(s);
  } catch (const platform::Error& e) {
    dialogs.Message("The existing " + name + " could not be removed.\n\n" + e.Description());
    return false;
  }
  return true;
}

}  // namespace

std::string ServerOverwriteQuestion(const MigrationSettings& s) {
  return std::string(kServerOverwriteQuestionStart) + PostgresTargetName(s) +
         kServerOverwriteQuestionEnd;
}

std::optional<int> CreateDb(const MigrationSettings& s, const CreateDbFiles& files,
                            platform::Dialogs& dialogs, platform::CommandStarter& commands,
                            CreateDbView& view, const LinkedTablesProbe& linkedTables,
                            ServerDatabases* serverDatabases) {
  dialogs.SetBusyPointer(true);
  view.SetStatusText(kCreatingStatus);
  const auto stop = [&](const std::string& what, const platform::Error& e) {
    dialogs.SetBusyPointer(false);
    dialogs.Message(what + "\n\n" + e.Description());
    return std::nullopt;
  };

  if (const std::string unsafe = UnsafeCommandFilePath(s); !unsafe.empty()) {
    dialogs.SetBusyPointer(false);
    dialogs.Message(unsafe);
    return std::nullopt;
  }
  const bool server = s.Target == TargetKind::PostgreSql;
  try {
    RewriteWorkFile(s.WorkFolder + "sp.sql", files.procedure);
    RewriteWorkFile(s.WorkFolder + "migrate.bat", MigrateBatLines(s));
    RewriteWorkFile(s.WorkFolder + "reload.bat", files.reloadBat);
  } catch (const platform::Error& e) {
    return stop("The work files could not be written to " + s.WorkFolder + ".", e);
  }

  if (server) {
    if (!ReplaceServerDatabase(s, dialogs, linkedTables, serverDatabases)) {
      dialogs.SetBusyPointer(false);
      return std::nullopt;
    }
  } else if (platform::files::FileExists(TargetDbFilePath(s))) {
    if (!dialogs.Question(kOverwriteQuestion) || !ConfirmLinkedDatabase(s, dialogs, linkedTables)) {
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

  try {
    if (!server) RemoveSideFiles(s);
  } catch (const platform::Error& e) {
    return stop("The files left beside " + TargetDbFilePath(s) + " could not be removed.", e);
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
