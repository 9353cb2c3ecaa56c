// The final page: starts the migration run, shows its progress, waits for reload.bat, shows the
// results window, and leaves the wizard.
#pragma once

#include <QLineEdit>
#include <QProgressBar>

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
  bool CanClose() const override { return !migration_.RunUnderWay(); }
  void Refresh() override;
  QPushButton* DefaultButton() const override;

  // engine::FlowFrontEnd
  void StepStarted(engine::FlowStep step) override;
  void ShowReport(const reporting::MigrationReport& report) override;
  engine::RunView* RunViewOfFlow() override { return this; }
  void FlowEnded(bool succeeded) override;

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
  engine::MigrationFlow migration_;
  FlowDriver driver_;
  std::unique_ptr<MigrationResultsWindow> results_;
};

}  // namespace wizard
