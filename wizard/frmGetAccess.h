// The source database page: the Access file to migrate.
#pragma once

#include <QLineEdit>

#include "engine/migration_flow.h"
#include "wizard/safety_prompts.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmGetAccess : public WizardPage, private PagePrompts {
  Q_OBJECT
 public:
  explicit frmGetAccess(PageFlow& flow);

 private:
  void Browse();
  // Stores a chosen file and checks it: ">>" only for a file the check does not stop.
  void Choose(const platform::FileChoice& choice);
  void Refresh() override;
  bool AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                   engine::FlowPlan plan) override;

  engine::MigrationFlow check_;  // the check at once after a choice
  QLineEdit* text1_;
  platform::FileChoice lastChoice_;       // what the dialog reports again when it is cancelled
  engine::Gate gate_ = engine::Gate::Go;  // of the last check
};

}  // namespace wizard
