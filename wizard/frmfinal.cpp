#include "wizard/frmfinal.h"

#include <cmath>

#include <QApplication>
#include <QGridLayout>

#include "engine/restore.h"
#include "platform/paths.h"
#include "wizard/safety_prompts.h"

namespace wizard {
namespace {

QLineEdit* ReadOnlyBox(const char* name) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setReadOnly(true);
  return box;
}

}  // namespace

frmfinal::frmfinal(PageFlow& flow)
    : WizardPage(flow, PageId::Final, "frmfinal", "The final stop in the Migration Process"),
      run_(flow.settings(), *this, flow, flow.services().makeEngine) {
  auto* boxes = new QGridLayout;
  dbFile_ = ReadOnlyBox("Text1(0)");
  odbcSource_ = ReadOnlyBox("Text1(1)");
  boxes->addWidget(NamedLabel("Label4(0)", "DB File:"), 0, 0);
  boxes->addWidget(dbFile_, 0, 1);
  boxes->addWidget(NamedLabel("Label4(1)", "ODBC source:"), 1, 0);
  boxes->addWidget(odbcSource_, 1, 1);
  content()->addLayout(boxes);
  content()->addWidget(
      NamedLabel("Label1",
                 "You must select a Norvane ODBC Data Source that includes the newly created "
                 "Norvane DB."));
  content()->addWidget(
      NamedLabel("Label2",
                 "If you do not have one please proceed to create one and then specifying the "
                 "new Norvane DB in your ODBC Data Source."));
  content()->addWidget(NamedLabel("Label3",
                                  "If you require help on the specifics, please refer to the "
                                  "button: \"Things to Note for your MIGRATION\"."));
  content()->addStretch(1);
  bar1_ = new QProgressBar;
  bar1_->setObjectName("Bar1");
  bar1_->setRange(0, 100);
  bar1_->setVisible(false);
  content()->addWidget(bar1_);
  restore_ = NamedButton("Restore", "Restore");
  restore_->setToolTip("Put the Access file back as it was and remove the new database");
  restore_->setVisible(false);
  content()->addWidget(restore_, 0, Qt::AlignLeft);
  AddButtonRow("Command3", "create ODBC data source", {"<<", "Migrate", "Finish"});
  status_ = AddStatusBar();
  Command1(2)->setEnabled(false);

  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Createdb); });
  connect(Command1(1), &QPushButton::clicked, this, &frmfinal::Migrate);
  connect(restore_, &QPushButton::clicked, this, &frmfinal::Restore);

  // Load step.
  dbFile_->setText(QString::fromStdString(settings_.WorkFolder + settings_.TargetDbFileName));
}

void frmfinal::Migrate() {
  // A run yields to the event loop; its page takes no other press until it has ended.
  for (int i = 0; i < 3; ++i) Command1(i)->setEnabled(false);
  CheckedRun();
  Command1(0)->setEnabled(true);
  Command1(1)->setEnabled(true);
  Command1(2)->setEnabled(finishEnabled_);
}

void frmfinal::CheckedRun() {
  const auto engine = flow_.services().makeEngine();
  if (engine && !ConfirmMigration(*engine, settings_, dialogs_)) return;
  engine::LinkBackRecorder undoRecord(settings_);
  run_.lsfinish_migrate();
  platform::FailureLog recordFailures;
  undoRecord.AfterRun(recordFailures);
  ShowRunFailures(recordFailures);
  try {
    restore_->setVisible(
        engine::HasLinkBackRecord(platform::paths::ToPosix(settings_.AccessDbPath)));
  } catch (const platform::Error&) {
    restore_->setVisible(false);
  }
}

void frmfinal::Restore() {
  const auto engine = flow_.services().makeEngine();
  if (engine && OfferRestore(*engine, settings_, dialogs_)) restore_->setVisible(false);
}

void frmfinal::SetStatusText(const std::string& text) {
  status_->showMessage(QString::fromStdString(text));
}

void frmfinal::SetProgress(float value) {
  bar1_->setValue(static_cast<int>(std::lround(value)));
  bar1_->setProperty("exactValue", value);
}

void frmfinal::SetOdbcSourceText(const std::string& text) {
  odbcSource_->setText(QString::fromStdString(text));
}

void frmfinal::YieldToEventLoop() {
  QApplication::processEvents();
}

void frmfinal::SetPointer(engine::Pointer pointer) {
  dialogs_.SetBusyPointer(pointer == engine::Pointer::Hourglass);
}

void frmfinal::ShowRunFailures(const platform::FailureLog& failures) {
  if (failures.empty()) return;
  std::string text = "The migration went on past " + std::to_string(failures.size()) +
                     (failures.size() == 1 ? " failure:" : " failures:");
  for (const auto& f : failures) text += "\n- " + f.context + ": " + f.description;
  dialogs_.Message(text);
}

}  // namespace wizard
