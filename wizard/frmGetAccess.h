// The source database page: the Access file to migrate.
#pragma once

#include <QLineEdit>

#include "wizard/wizard_page.h"

namespace wizard {

class frmGetAccess : public WizardPage {
  Q_OBJECT
 public:
  explicit frmGetAccess(PageFlow& flow);

 private:
  void Browse();

  QLineEdit* text1_;
  platform::FileChoice lastChoice_;  // what the dialog reports again when it is cancelled
};

}  // namespace wizard
