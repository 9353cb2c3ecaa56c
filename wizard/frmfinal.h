// The final page: starts the migration run, shows its progress, and leaves the wizard.
#pragma once

#include <QLineEdit>
#include <QProgressBar>

#include "engine/migration_run.h"
#include "engine/run_view.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmfinal : public WizardPage, private engine::RunView {
  Q_OBJECT
 public:
  explicit frmfinal(PageFlow& flow);

 private:
  void Migrate();
  // The check before the run (which may cancel it) and the undo record around it.
  void CheckedRun();
  void Restore();
  bool CanClose() const override { return !run_.Running(); }

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
};

}  // namespace wizard
