#include "wizard/frmoption.h"

#include <QHBoxLayout>

#include "options/page_rules.h"

namespace wizard {

frmoption::frmoption(PageFlow& flow)
    : WizardPage(flow, PageId::Option, "frmoption", "Migration Options") {
  content()->addWidget(NamedLabel(
      "Label1",
      "You may choose to only create a Norvane DB based on your Access DB or you may also "
      "include a link to the newly created Norvane tables back to your Access DB Application."));
  check1_ = new QCheckBox("Transfer and Link Norvane Tables.");
  check1_->setObjectName("Check1(0)");
  content()->addWidget(check1_);
  oldPrefix_ = new QRadioButton("Precede MS Access table names with \"Old_\" ");
  oldPrefix_->setObjectName("Option1(0)");
  other_ = new QRadioButton("Other:");
  other_->setObjectName("Option1(1)");
  text1_ = new QLineEdit(kDefaultPrefix);
  text1_->setObjectName("Text1");
  auto* first = new QHBoxLayout;
  first->addSpacing(24);
  first->addWidget(oldPrefix_);
  first->addStretch(1);
  auto* second = new QHBoxLayout;
  second->addSpacing(24);
  second->addWidget(other_);
  second->addWidget(text1_);
  second->addStretch(1);
  content()->addLayout(first);
  content()->addLayout(second);
  content()->addStretch(1);
  AddButtonRow("Command3", "Migrate Options", {nullptr, ">>", "Cancel"});

  connect(oldPrefix_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) text1_->setEnabled(false);
  });
  connect(other_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) text1_->setEnabled(true);
  });
  connect(check1_, &QCheckBox::clicked, this, &frmoption::CheckChanged);
  connect(Command1(1), &QPushButton::clicked, this, &frmoption::Next);

  // Load step.
  const OptionsState state = OptionsStateAtLoad(settings_);
  check1_->setChecked(state.linkChecked);
  oldPrefix_->setEnabled(state.linkChecked);
  other_->setEnabled(state.linkChecked);
  (state.oldPrefixSelected ? oldPrefix_ : other_)->setChecked(true);
  if (!state.oldPrefixSelected) text1_->setText(QString::fromStdString(state.otherText));
  text1_->setEnabled(state.linkChecked && !state.oldPrefixSelected);
}

void frmoption::CheckChanged(bool on) {
  oldPrefix_->setEnabled(on);
  other_->setEnabled(on);
  if (on) {
    oldPrefix_->setChecked(true);
    text1_->setEnabled(false);
  } else {
    text1_->setEnabled(false);
  }
}

void frmoption::Next() {
  const OptionsState state{check1_->isChecked(), oldPrefix_->isChecked(),
                           text1_->text().toStdString()};
  if (!StoreOptions(state, settings_)) {
    dialogs_.Message(kEmptyOtherMessage);
    return;
  }
  GoTo(PageId::GetAccess);
}

}  // namespace wizard
