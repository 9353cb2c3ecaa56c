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
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Target); });
}

void frmGetAccess::Refresh() {
  // A file given on the command line is chosen on the first arrival, as if browsed to.
  if (auto given = flow_.TakeStartFile()) Choose(*given);
}

void frmGetAccess::Browse() {
  if (auto choice = dialogs_.OpenFile(kAccessFilter)) lastChoice_ = std::move(*choice);
  Choose(lastChoice_);
}

void frmGetAccess::Choose(const platform::FileChoice& choice) {
  lastChoice_ = choice;
  if (const std::string unsafe = target::UnsafePathMessage(choice.path); !unsafe.empty()) {
    dialogs_.Message(unsafe);  // nothing is stored: the page keeps its earlier choice
    return;
  }
  if (!StoreAccessChoice(choice.path, choice.title, settings_)) {
    dialogs_.Message(kNoAccessDbMessage);
    return;
  }
  text1_->setText(QString::fromStdString(ShownPath(settings_.AccessDbPath)));
  text1_->setCursorPosition(0);
  gate_ = engine::Gate::Go;
  check_.RunToEnd(engine::FlowPlan::CheckOnly, *this);
  const bool stops = gate_ == engine::Gate::Stop;
  flow_.NoteCheckStops(settings_.AccessDbPath, stops);
  Command1(1)->setEnabled(!stops);
  UpdateDefaultButton();
}

bool frmGetAccess::AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                               engine::FlowPlan plan) {
  gate_ = gate;
  return PagePrompts::AcceptCheck(result, gate, plan);
}

}  // namespace wizard
