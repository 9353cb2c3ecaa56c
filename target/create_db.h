// "Create DB": the work files that create the new database and the database file's names.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/shell_start.h"
#include "platform/ui_services.h"

struct MigrationSettings;

namespace target {

// The four lines of migrate.bat.
std::vector<std::string> MigrateBatLines(const MigrationSettings& settings);

// WorkFolder + TargetDbFileName, and its log file ("log" in place of the last two characters).
std::string TargetDbFilePath(const MigrationSettings& settings);
std::string TargetLogFilePath(const MigrationSettings& settings);

inline constexpr const char* kCreatingStatus = "Creating database ...";
inline constexpr const char* kOverwriteQuestion =
    "The Norvane file already exists.  If you want to overwrite the file click 'YES' or if you "
    "would like to move or rename the file click 'NO'.";
inline constexpr const char* kWaitMessage =
    "WAIT UNTIL CMD window disappears (NT) OR \"finished migrate.bat\" is showing (win95)!!";

// What "Create DB" changes on its page.
class CreateDbView {
 public:
  virtual ~CreateDbView() = default;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void EnableNext() = 0;
  virtual void Repaint() = 0;
};

// "Create DB": writes sp.sql, migrate.bat and reload.bat, asks before replacing an existing
// database file, and starts migrate.bat. Returns the started task, or nothing when the user
// answered No or a step failed (the user has been told what failed).
std::optional<int> CreateDb(const MigrationSettings& settings, platform::Dialogs& dialogs,
                            platform::CommandStarter& commands, CreateDbView& view);

}  // namespace target
