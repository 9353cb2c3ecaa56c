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
  void Refresh() override;
  // The Access file and database file that "Create DB" works on now.
  std::string CurrentTarget() const;
  // The check before "Create DB": true (and the user told) when a finding stops the run.
  bool StoppedByCheck();

  void SetStatusText(const std::string& text) override;
  void EnableNext() override;
  void Repaint() override { repaint(); }

  QLineEdit* text1_;
  QStatusBar* status_;
  std::string createdFor_;  // CurrentTarget() when "Create DB" last started migrate.bat
};

}  // namespace wizard
