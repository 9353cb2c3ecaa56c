#include "wizard/frmCreatedb.h"

namespace wizard {

frmCreatedb::frmCreatedb(PageFlow& flow)
    : WizardPage(flow, PageId::Createdb, "frmCreatedb", "Create a Norvane DataBase"),
      PagePrompts(creation_, dialogs_),
      creation_(flow.settings(), flow.FlowServicesOfPages(), flow.runLocks(),
                engine::WorkFiles::RemovedAtClose) {
  content()->addWidget(NamedLabel("Label1",
                                  "The location of the new Norvane DB file is going to be in the "
                                  "same location as the Access DB."));
  text1_ = new QLineEdit;
  text1_->setObjectName("Text1(0)");
  text1_->setReadOnly(true);
  content()->addWidget(text1_);
  content()->addWidget(NamedLabel("Label2", "Click on 'Create DB' to proceed:"));
  auto* create = NamedButton("Command3", "Create DB");
  content()->addWidget(create, 0, Qt::AlignLeft);
  SetActionButton(create);
  content()->addStretch(1);
  AddButtonRow("Command5", "create norvane db", {"<<", ">>", "Cancel"});
  status_ = AddStatusBar();
  Command1(1)->setEnabled(false);

  // The check, then one run at a time per Access file and database (the locks are held to the
  // program's end), then the work files and migrate.bat.
  connect(create, &QPushButton::clicked, this,
          [this] { creation_.RunToEnd(engine::FlowPlan::CreateOnly, *this); });
  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Ivex); });
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Final); });
}

std::string frmCreatedb::CurrentTarget() const {
  return settings_.AccessDbPath + '\n' + settings_.WorkFolder + settings_.TargetDbFileName;
}

void frmCreatedb::Refresh() {
  text1_->setText(QString::fromStdString(settings_.WorkFolder + settings_.TargetDbFileName));
  text1_->setCursorPosition(0);
  // ">>" only once the database of the Access file now chosen has been created.
  const bool created = !createdFor_.empty() && createdFor_ == CurrentTarget();
  Command1(1)->setEnabled(created);
  if (!created) status_->clearMessage();
}

void frmCreatedb::EnableNext() {
  createdFor_ = CurrentTarget();
  Command1(1)->setEnabled(true);
  UpdateDefaultButton();
}

void frmCreatedb::SetStatusText(const std::string& text) {
  status_->showMessage(QString::fromStdString(text));
}

}  // namespace wizard
