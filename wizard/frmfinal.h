// The final page: starts the migration run, shows its progress, waits for reload.bat, shows the
// results window, and leaves the wizard.
#pragma once

#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include <memory>
#include <optional>

#include "engine/migration_run.h"
#include "engine/restore.h"
#include "engine/run_view.h"
#include "wizard/console/migration_report.h"
#include "wizard/migration_results_window.h"
#include "wizard/property_watch.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmfinal : public WizardPage, private engine::RunView {
  Q_OBJECT
 public:
  explicit frmfinal(PageFlow& flow);

 private:
  void Migrate();
  // The check before the run, the run and the undo record around it; nullopt when the user
  // cancelled at the check.
  std::optional<engine::RunOutcome> CheckedRun();
  void Restore();
  bool CanClose() const override { return !run_.Running(); }
  void Refresh() override;
  QPushButton* DefaultButton() const override;
  // reload.bat has ended: its errors and the check of what arrived complete the report.
  void WatchReload();
  void ShowResults();

  void SetStatusText(const std::string& text) override;
  void SetProgress(float value) override;
  void SetProgressVisible(bool visible) override { bar1_->setVisible(visible); }
  void SetOdbcSourceText(const std::string& text) override;
  void EnableFinish() override { finishEnabled_ = true; }
  void Repaint() override { repaint(); }
  void YieldToEventLoop() override;
  void ShowMessage(const std::string& text) override { dialogs_.Message(text); }
  void SetPointer(engine::Pointer pointer) override;
  void ShowRunFailures(const platform::FailureLog& failures) override;

  QLineEdit* dbFile_;
  QLineEdit* odbcSource_;
  QStatusBar* status_;
  QProgressBar* bar1_;
  QPushButton* restore_;
  bool finishEnabled_ = false;
  engine::MigrationRun run_;
  PropertyWatch properties_;
  console::MigrationReport report_;                     // of the last run
  std::optional<engine::LinkBackRecorder> undoRecord_;  // of the last run, until its results
  std::optional<int> reloadTask_;                       // while reload.bat runs
  QTimer reloadWatch_;
  std::unique_ptr<MigrationResultsWindow> results_;
};

}  // namespace wizard
