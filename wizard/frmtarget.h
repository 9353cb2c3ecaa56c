// The target page: the new database as a Norvane file beside the Access file, or a database on a
// PostgreSQL server with the server's address and the ODBC driver the links name.
#pragma once

#include <QLineEdit>
#include <QRadioButton>

#include <array>

#include "wizard/wizard_page.h"

namespace wizard {

class frmtarget : public WizardPage {
  Q_OBJECT
 public:
  explicit frmtarget(PageFlow& flow);

 private:
  QWidget* FirstControl() const override;
  void Refresh() override;
  void TargetChanged();
  void Next();

  QRadioButton* norvane_;
  QRadioButton* postgres_;
  QWidget* server_;  // the server's boxes and the note on the password, shown for PostgreSQL
  // Text1(0) server, (1) port, (2) database, (3) user, (4) ODBC driver.
  std::array<QLineEdit*, 5> text1_{};
  bool databaseTyped_ = false;  // the user changed the proposed database name
};

}  // namespace wizard
