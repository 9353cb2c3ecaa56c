#include "wizard/frmfinal.h"

#include <cmath>

#include <QApplication>
#include <QGridLayout>

#include "platform/ui/window_placement.h"
#include "report/report_completion.h"

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
      PagePrompts(migration_, dialogs_),
      migration_(flow.settings(), flow.FlowServicesOfPages(), flow.runLocks(),
                 engine::WorkFiles::RemovedAtClose),
      driver_(migration_, [&flow] { return flow.Ending(); }) {
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
}

void frmfinal::Refresh() {
  dbFile_->setText(QString::fromStdString(settings_.WorkFolder + settings_.TargetDbFileName));
  dbFile_->setCursorPosition(0);
}

QPushButton* frmfinal::DefaultButton() const {
  return Command1(2)->isEnabled() ? Command1(2) : Command1(1);
}

void frmfinal::Migrate() {
  // A run yields to the event loop; its page takes no other press until it has ended.
  for (int i = 0; i < 3; ++i) Command1(i)->setEnabled(false);
  driver_.Start(engine::FlowPlan::MigrateOnly, *this);
  Command1(0)->setEnabled(true);
  // No second run while reload.bat and the step after it work.
  Command1(1)->setEnabled(!migration_.Active());
  Command1(2)->setEnabled(finishEnabled_);
  UpdateDefaultButton();
  DefaultButton()->setFocus();  // not the box the focus fell to while the buttons were off
  restore_->setVisible(migration_.CanRestore());
}

void frmfinal::StepStarted(engine::FlowStep step) {
  switch (step) {
    case engine::FlowStep::WaitReload:
      status_->showMessage("Waiting for reload.bat to finish ...");
      break;
    case engine::FlowStep::Properties:
      status_->showMessage("Carrying rules, required fields and cascades ...");
      break;
    case engine::FlowStep::CheckAfter:
      if (flow_.resultsCheck() != nullptr) {
        status_->showMessage("Checking the new database ...");
        dialogs_.SetBusyPointer(true);
      }
      break;
    default:
      break;
  }
}

void frmfinal::ShowReport(const reporting::MigrationReport& report) {
  dialogs_.SetBusyPointer(false);
  status_->showMessage(QString::fromStdString(reporting::Headline(report)));
  if (!results_) results_ = std::make_unique<MigrationResultsWindow>(dialogs_);
  results_->move(platform::ui::Beside(frameGeometry(), platform::ui::FrameSizeOf(results_.get()),
                                      platform::ui::AvailableScreenArea(this))
                     .topLeft());
  results_->ShowReport(report, settings_.WorkFolder + settings_.TargetDbFileName);
}

void frmfinal::FlowEnded(bool) {
  Command1(1)->setEnabled(true);
}

void frmfinal::Restore() {
  if (OfferRestore()) restore_->setVisible(false);
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
  odbcSource_->setCursorPosition(0);  // the data source's name comes first
}

void frmfinal::YieldToEventLoop() {
  QApplication::processEvents();
}

void frmfinal::SetPointer(engine::Pointer pointer) {
  dialogs_.SetBusyPointer(pointer == engine::Pointer::Hourglass);
}

void frmfinal::ShowRunFailures(const platform::FailureLog&) {
  // The results window lists them with the rest of the report once reload.bat has ended.
}

}  // namespace wizard
