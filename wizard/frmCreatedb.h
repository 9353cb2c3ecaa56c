// The database creation page: "Create DB" writes the work files and starts migrate.bat.
#pragma once

#include <QLineEdit>

#include "target/create_db.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmCreatedb : public WizardPage, private target::CreateDbView {
  Q_OBJECT
 public:
  explicit frmCreatedb(PageFlow& flow);

 private:
  void SetStatusText(const std::string& text) override;
  void EnableNext() override { Command1(1)->setEnabled(true); }
  void Repaint() override { repaint(); }

  QLineEdit* text1_;
  QStatusBar* status_;
};

}  // namespace wizard
