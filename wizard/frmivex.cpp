#include "wizard/frmivex.h"

#include "options/page_rules.h"
#include "target/create_db.h"

namespace wizard {

frmivex::frmivex(PageFlow& flow)
    : WizardPage(flow, PageId::Ivex, "frmivex", "Norvane's IVEX selection") {
  content()->addWidget(
      NamedLabel("Label1",
                 "Locate Norvane 's  ivex.exe.  It will probably be located in the norvane "
                 "default directory \\win or \\win32:"));
  text1_ = new QLineEdit;
  text1_->setObjectName("Text1(0)");
  text1_->setReadOnly(true);
  content()->addWidget(text1_);
  auto* browse = NamedButton("Command2", "Browse ...");
  content()->addWidget(browse, 0, Qt::AlignLeft);
  content()->addStretch(1);
  AddButtonRow("Command3", "locate ivex.exe", {"<<", ">>", "Cancel"});
  Command1(1)->setEnabled(false);

  SetActionButton(browse);
  connect(browse, &QPushButton::clicked, this, &frmivex::Browse);
  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Target); });
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Createdb); });
}

void frmivex::Browse() {
  if (auto choice = dialogs_.OpenFile(kToolFilter)) lastChoice_ = std::move(*choice);
  if (const std::string unsafe = target::UnsafePathMessage(lastChoice_.path); !unsafe.empty()) {
    dialogs_.Message(unsafe);  // nothing is stored: the page keeps its earlier choice
    return;
  }
  if (!StoreQueryToolChoice(lastChoice_.path, lastChoice_.title, settings_)) {
    dialogs_.Message(kInvalidToolMessage);
    text1_->clear();
    return;
  }
  text1_->setText(QString::fromStdString(ShownPath(settings_.QueryToolPath)));
  Command1(1)->setEnabled(true);
  UpdateDefaultButton();
}

}  // namespace wizard
