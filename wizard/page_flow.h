// The order of the wizard's windows: each page created on its first show and afterwards only
// hidden and shown, each in the place and size of the page before it (the first centred);
// closing any page removes the work files and ends the program.
#pragma once

#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/migration_flow.h"
#include "engine/restore.h"
#include "options/settings.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/program.h"
#include "platform/shell_start.h"
#include "platform/ui_services.h"
#include "report/migration_report.h"
#include "target/create_db.h"
#include "target/run_locks.h"

namespace wizard {

enum class PageId { Option, GetAccess, Target, Ivex, Createdb, Final };

struct WizardServices {
  platform::Dialogs& dialogs;
  platform::CommandStarter& commands;
  platform::ProgramEnd& programEnd;
  // The database engine of the migration run, made on first use and kept.
  std::function<std::shared_ptr<dao::Engine>()> makeEngine;
  // The Access file's tables linked to a database file, asked before "Create DB" replaces it.
  target::LinkedTablesProbe linkedTables = {};
  // Keys of rows of the new database (connection, table) that break an SQL condition
  // (engine::KeysOfRowsBreaking); without it the step after reload.bat does not run.
  std::function<std::string(const std::string&, const std::string&, const std::string&)>
      rowsBreaking = {};
  // The new database as restore and the undo record see it; without it nothing is restored.
  engine::TargetDatabaseInspector* targetInspector = nullptr;
  // Removes the user data sources registered for a database file (POSIX path) that restore
  // removed; without it they stay.
  std::function<void(const std::string&)> forgetDataSources = {};
  // The PostgreSQL target's server (engine::FlowServices::serverDatabases).
  target::ServerDatabases* serverDatabases = nullptr;
};

// What the final page needs to check a finished run; without it the results show the run's own
// failures only.
struct ResultsCheck {
  reporting::MigrationVerifier& verifier;
  // The error lines of the Norvane tools that a task's command file printed.
  std::function<std::vector<std::string>(int taskId)> toolErrors;
  // The connection the last run's target was opened with ("DSN=name").
  std::function<std::string()> targetConnection;
};

class WizardPage;

class PageFlow : public platform::CommandStarter {
 public:
  PageFlow(MigrationSettings& settings, WizardServices services);
  ~PageFlow() override;
  PageFlow(const PageFlow&) = delete;
  PageFlow& operator=(const PageFlow&) = delete;

  // Creates the page on its first show (running its load step), then makes it visible.
  void Show(PageId id);
  void Hide(PageId id);
  // The page, or nullptr before its first show.
  WizardPage* Page(PageId id) const;
  // The page on the screen now, or nullptr.
  QWidget* VisiblePage() const;

  // The close step of every page: waits for command files still running (they need the work
  // files), removes the work files of every folder the pages wrote them in and ends the program.
  // Runs once. When the user stops the wait, the work files stay and the user is told where.
  void CloseStep();
  bool Ending() const { return ending_; }

  MigrationSettings& settings() { return settings_; }
  WizardServices& services() { return services_; }
  // The dialogs of the pages: the services' dialogs with every path in a message shown as the
  // user's system writes it (ShownText).
  platform::Dialogs& dialogs() { return *shownDialogs_; }
  void SetResultsCheck(std::unique_ptr<ResultsCheck> check) { resultsCheck_ = std::move(check); }
  ResultsCheck* resultsCheck() const { return resultsCheck_.get(); }
  // The locks of the Access file and database that "Create DB" last worked on, held until the
  // program ends.
  target::RunLocks& runLocks() { return runLocks_; }
  // What a migration flow of the pages works with: the services above, the results check and
  // the command files started through this flow.
  engine::FlowServices FlowServicesOfPages();

  // The work files of the settings' folder are written now: the close step removes them too.
  void NoteWorkFolder();
  // The source page's check of an Access file (Windows path): whether a finding stops its run.
  void NoteCheckStops(const std::string& accessPath, bool stops);
  bool CheckStops(const std::string& accessPath) const;
  // The file the program was started with, chosen once on the source page's first arrival.
  void SetStartFile(platform::FileChoice file) { startFile_ = std::move(file); }
  std::optional<platform::FileChoice> TakeStartFile() { return std::exchange(startFile_, {}); }
  // Whether the command file started last still runs.
  bool LastCommandFileRunning();
  // The exit status of the command file started last, once it has ended (-1 without one).
  int LastCommandFileExit();

  // Command files are started through the flow, which keeps their tasks for the close step.
  int StartCommandFile(const std::string& windowsPath) override;
  bool IsRunning(int taskId) override { return services_.commands.IsRunning(taskId); }
  int Wait(int taskId) override { return services_.commands.Wait(taskId); }

 private:
  // Size and place of a page about to be shown: those of the page it replaces.
  void Place(WizardPage& page);

  MigrationSettings& settings_;
  WizardServices services_;
  std::array<std::unique_ptr<WizardPage>, 6> pages_;
  std::vector<std::pair<int, std::string>> tasks_;
  std::vector<MigrationSettings> workFolders_;  // one per folder, as last written
  std::map<std::string, bool> checkStops_;      // by Access file
  std::optional<platform::FileChoice> startFile_;
  std::unique_ptr<ResultsCheck> resultsCheck_;
  std::unique_ptr<platform::Dialogs> shownDialogs_;
  target::RunLocks runLocks_;
  QRect lastFrame_;  // of the page shown last
  QSize lastSize_;
  bool ending_ = false;
};

}  // namespace wizard
