// The final page: starts the migration run, shows its progress, waits for reload.bat, shows the
// results window, and leaves the wizard. Everything it shows belongs to the Access file chosen
// now: after "<<" and another file the page starts afresh.
#pragma once

#include <QLineEdit>
#include <QProgressBar>

#include <chrono>
#include <memory>

#include "engine/migration_flow.h"
#include "engine/run_view.h"
#include "report/migration_report.h"
#include "wizard/flow_driver.h"
#include "wizard/migration_results_window.h"
#include "wizard/safety_prompts.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmfinal : public WizardPage, private engine::RunView, private PagePrompts {
  Q_OBJECT
 public:
  explicit frmfinal(PageFlow& flow);

 private:
  void Migrate();
  void Restore();
  // The run yields to the event loop: no close then. While reload.bat and the steps after it
  // work, a close waits for them (visibly, the user may stop waiting) and then stays on the
  // page with the results.
  bool CanClose() override;
  void Refresh() override;
  QPushButton* DefaultButton() const override;
  // The Access file and database the page shows now.
  std::string CurrentTarget() const;
  // Whether the last run was made for the file chosen now.
  bool ShowsCurrentRun() const { return runFor_ == CurrentTarget(); }
  void UpdateButtons();

  // engine::FlowFrontEnd
  void StepStarted(engine::FlowStep step) override;
  void ShowReport(const reporting::MigrationReport& report) override;
  engine::RunView* RunViewOfFlow() override { return this; }
  void FlowEnded(bool succeeded) override;
  void Restored() override;

  void SetStatusText(const std::string& text) override;
  void SetProgress(float value) override;
  void SetProgressVisible(bool visible) override { bar1_->setVisible(visible); }
  void SetRowProgress(const std::string& what, std::uint64_t done, std::uint64_t total) override;
  void SetOdbcSourceText(const std::string& text) override;
  void EnableFinish() override { finishEnabled_ = true; }
  void Repaint() override { repaint(); }
  void YieldToEventLoop() override;
  void ShowMessage(const std::string& text) override { dialogs_.Message(text); }
  void SetPointer(engine::Pointer pointer) override;
  void ShowRunFailures(const platform::FailureLog& failures) override;

  QLabel* dbFileLabel_;
  QLineEdit* dbFile_;
  QLineEdit* odbcSource_;
  QStatusBar* status_;
  QProgressBar* bar1_;
  QPushButton* restore_;
  QPushButton* showResults_;
  bool finishEnabled_ = false;  // the run of runFor_ went far enough to finish after it
  std::string runFor_;          // CurrentTarget() when "Migrate" was last pressed
  bool restored_ = false;       // restore removed the database of runFor_
  std::string stepText_;        // the status of the step, before the rows of a table
  std::chrono::steady_clock::time_point rowsStart_, rowsShown_;
  std::uint64_t rowsFrom_ = 0, rowsDone_ = 0;
  bool rowsStarted_ = false;
  engine::MigrationFlow migration_;
  FlowDriver driver_;
  std::unique_ptr<MigrationResultsWindow> results_;
};

}  // namespace wizard
