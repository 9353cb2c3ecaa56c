#include "wizard/frmCreatedb.h"

#include "engine/preflight.h"

namespace wizard {

frmCreatedb::frmCreatedb(PageFlow& flow)
    : WizardPage(flow, PageId::Createdb, "frmCreatedb", "Create a Norvane DataBase") {
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

  connect(create, &QPushButton::clicked, this, [this] {
    // One run at a time per Access file and database, from here to the program's end.
    if (const std::string refusal = flow_.runLocks().Take(settings_); !refusal.empty()) {
      dialogs_.Message(refusal);
      return;
    }
    if (StoppedByCheck()) return;
    target::CreateDb(settings_, dialogs_, flow_, *this, flow_.services().linkedTables);
  });
  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Ivex); });
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Final); });
}

bool frmCreatedb::StoppedByCheck() {
  const auto& makeEngine = flow_.services().makeEngine;
  const auto engine = makeEngine ? makeEngine() : nullptr;
  if (!engine) return false;
  const engine::PreflightResult result =
      engine::RunPreflight(*engine, engine::PreflightRequestOf(settings_));
  if (engine::GateOf(result) != engine::Gate::Stop) return false;
  dialogs_.Message("The database cannot be created. The check of " + result.accessPath +
                   " found:\n" + result.Text());
  return true;
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
