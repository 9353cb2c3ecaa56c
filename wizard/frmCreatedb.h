// The database creation page: "Create DB" writes the work files and starts migrate.bat.
#pragma once

#include <QLineEdit>
#include <QTimer>

#include "engine/migration_flow.h"
#include "target/create_db.h"
#include "wizard/safety_prompts.h"
#include "wizard/wizard_page.h"

namespace wizard {

class frmCreatedb : public WizardPage, private target::CreateDbView, private PagePrompts {
  Q_OBJECT
 public:
  explicit frmCreatedb(PageFlow& flow);

 private:
  void Refresh() override;
  // The Access file and database file that "Create DB" works on now.
  std::string CurrentTarget() const;
  // Whether the database of the settings is there: the file, or for a server the last
  // migrate.bat's success (the wizard does not reach the server itself).
  bool Created();
  // While migrate.bat runs: once it has ended, the status says what it left.
  void WatchCreation();
  target::CreateDbView* CreateView() override { return this; }

  void SetStatusText(const std::string& text) override;
  void EnableNext() override;
  void Repaint() override { repaint(); }

  engine::MigrationFlow creation_;
  QLabel* label1_;
  QLineEdit* text1_;
  QPushButton* create_;
  QTimer watch_;
  QStatusBar* status_;
  std::string createdFor_;      // CurrentTarget() when "Create DB" last started migrate.bat
  bool serverCreated_ = false;  // that migrate.bat ended well, for a server's database
};

}  // namespace wizard
