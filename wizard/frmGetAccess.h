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

  engine::MigrationFlow check_;  // the check at once after a choice
  QLineEdit* text1_;
  platform::FileChoice lastChoice_;  // what the dialog reports again when it is cancelled
};

}  // namespace wizard
