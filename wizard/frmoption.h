// The options page: link the migrated tables back into Access, and with which prefix.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "wizard/wizard_page.h"

namespace wizard {

class frmoption : public WizardPage {
  Q_OBJECT
 public:
  explicit frmoption(PageFlow& flow);

 private:
  QWidget* FirstControl() const override { return check1_; }
  void CheckChanged(bool on);
  void Next();

  QCheckBox* check1_;
  QRadioButton* oldPrefix_;
  QRadioButton* other_;
  QLineEdit* text1_;
};

}  // namespace wizard
