#include "wizard/frmGetAccess.h"

#include "options/page_rules.h"
#include "target/create_db.h"

namespace wizard {

frmGetAccess::frmGetAccess(PageFlow& flow)
    : WizardPage(flow, PageId::GetAccess, "frmGetAccess", "Select the MS Access DB to Migrate"),
      PagePrompts(check_, dialogs_),
      check_(flow.settings(), flow.FlowServicesOfPages(), flow.runLocks(),
             engine::WorkFiles::RemovedAtClose) {
  content()->addWidget(NamedLabel(
      "Label1", "Select the Microsoft Access Database that you would like to Migrate to Norvane."));
  auto* browse = NamedButton("Command2", "Browse ...");
  content()->addWidget(browse, 0, Qt::AlignLeft);
  text1_ = new QLineEdit;
  text1_->setObjectName("Text1(0)");
  text1_->setReadOnly(true);
  content()->addWidget(text1_);
  content()->addStretch(1);
  AddButtonRow("Command3", "Choose MS Access DB", {"<<", ">>", "Cancel"});
  Command1(1)->setEnabled(false);

  SetActionButton(browse);
  connect(browse, &QPushButton::clicked, this, &frmGetAccess::Browse);
  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Option); });
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Ivex); });
}

void frmGetAccess::Browse() {
  if (auto choice = dialogs_.OpenFile(kAccessFilter)) lastChoice_ = std::move(*choice);
  if (const std::string unsafe = target::UnsafePathMessage(lastChoice_.path); !unsafe.empty()) {
    dialogs_.Message(unsafe);  // nothing is stored: the page keeps its earlier choice
    return;
  }
  if (!StoreAccessChoice(lastChoice_.path, lastChoice_.title, settings_)) {
    dialogs_.Message(kNoAccessDbMessage);
    return;
  }
  text1_->setText(QString::fromStdString(settings_.WorkFolder + lastChoice_.title));
  Command1(1)->setEnabled(true);
  check_.RunToEnd(engine::FlowPlan::CheckOnly, *this);
  UpdateDefaultButton();
}

}  // namespace wizard
