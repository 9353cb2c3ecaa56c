// The query-tool page: where the Norvane query tool ivex is.
#pragma once

#include <QLineEdit>

#include "wizard/wizard_page.h"

namespace wizard {

class frmivex : public WizardPage {
  Q_OBJECT
 public:
  explicit frmivex(PageFlow& flow);

 private:
  void Browse();

  QLineEdit* text1_;
  platform::FileChoice lastChoice_;
};

}  // namespace wizard
