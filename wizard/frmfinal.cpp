#include "wizard/frmfinal.h"

#include <cmath>

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>

#include "options/page_rules.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/row_progress.h"
#include "platform/ui/window_placement.h"
#include "report/report_completion.h"
#include "target/create_db.h"
#include "wizard/command_file_wait.h"

namespace wizard {
namespace {

QLineEdit* ReadOnlyBox(const char* name) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setReadOnly(true);
  return box;
}

// How often the rows of a table are shown in the status line.
constexpr std::chrono::milliseconds kRowsShown{250};

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
  dbFileLabel_ = NamedLabel("Label4(0)", "DB File:");
  boxes->addWidget(dbFileLabel_, 0, 0);
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
  auto* after = new QHBoxLayout;
  restore_ = NamedButton("Restore", "Restore");
  restore_->setToolTip("Put the Access file back as it was and remove the new database");
  restore_->setVisible(false);
  showResults_ = NamedButton("ShowResults", "&Results");
  showResults_->setToolTip("Show the results of the migration again");
  showResults_->setVisible(false);
  after->addWidget(restore_);
  after->addWidget(showResults_);
  after->addStretch(1);
  content()->addLayout(after);
  AddButtonRow("Command3", "create ODBC data source", {"<<", "Migrate", "Finish"});
  status_ = AddStatusBar();
  Command1(2)->setEnabled(false);

  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::Createdb); });
  connect(Command1(1), &QPushButton::clicked, this, &frmfinal::Migrate);
  connect(restore_, &QPushButton::clicked, this, &frmfinal::Restore);
  connect(showResults_, &QPushButton::clicked, this, [this] {
    if (results_) results_->ShowAgain();
  });
}

std::string frmfinal::CurrentTarget() const {
  return settings_.AccessDbPath + '\n' + settings_.WorkFolder + settings_.TargetDbFileName;
}

void frmfinal::Refresh() {
  // A server's database is no file: the box names it as "Create DB" does.
  dbFileLabel_->setText(settings_.Target == TargetKind::PostgreSql ? "Database:" : "DB File:");
  dbFile_->setText(QString::fromStdString(ShownTargetDatabase(settings_)));
  dbFile_->setCursorPosition(0);
  if (ShowsCurrentRun()) {
    UpdateButtons();
    return;
  }
  // Another file than the last run's: nothing of that run stays on the page.
  odbcSource_->clear();
  bar1_->setVisible(false);
  restore_->setVisible(false);
  showResults_->setVisible(false);
  if (results_) results_->hide();
  if (migration_.Active())
    status_->showMessage("The migration of " +
                         QString::fromStdString(ShownPath(runFor_.substr(0, runFor_.find('\n')))) +
                         " is still finishing ...");
  else
    status_->clearMessage();
  if (!migration_.Active()) {
    // The page starts afresh: a later return to the first file too.
    runFor_.clear();
    finishEnabled_ = false;
  }
  restored_ = false;
  UpdateButtons();
}

void frmfinal::UpdateButtons() {
  const bool busy = migration_.Active();
  // After a restore, "Migrate" waits for "Create DB" to make the database again.
  if (restored_ && TargetDbExists()) restored_ = false;
  Command1(1)->setEnabled(!busy && !restored_);
  // "Finish" once the run of the file shown has ended, never while reload.bat and the steps
  // after it work.
  Command1(2)->setEnabled(!busy && finishEnabled_ && ShowsCurrentRun());
  UpdateDefaultButton();
}

QPushButton* frmfinal::DefaultButton() const {
  // None while reload.bat and the steps after it work: Enter then presses nothing.
  if (Command1(2)->isEnabled()) return Command1(2);
  return Command1(1)->isEnabled() ? Command1(1) : nullptr;
}

bool frmfinal::CanClose() {
  if (migration_.RunUnderWay()) return false;
  if (!migration_.Active()) return true;
  // The steps after the run are not skipped: the close waits, then the results are read.
  WaitVisibly(
      "The migration is finishing: reload.bat, then properties.bat and the check of the new "
      "database. The results follow.\nStop waiting to go back to the wizard.",
      [this] { return !migration_.Active(); });
  return false;
}

void frmfinal::Migrate() {
  // A run yields to the event loop; its page takes no other press until it has ended.
  for (int i = 0; i < 3; ++i) Command1(i)->setEnabled(false);
  // An earlier run of this file that ended still lets the wizard finish (a run the check
  // refuses changes nothing).
  if (!ShowsCurrentRun()) finishEnabled_ = false;
  runFor_ = CurrentTarget();
  showResults_->setVisible(false);
  flow_.NoteWorkFolder();
  driver_.Start(engine::FlowPlan::MigrateOnly, *this);
  Command1(0)->setEnabled(true);
  UpdateButtons();
  // Not the box the focus fell to while the buttons were off.
  if (QPushButton* next = DefaultButton()) next->setFocus();
  restore_->setVisible(migration_.CanRestore());
}

void frmfinal::StepStarted(engine::FlowStep step) {
  switch (step) {
    case engine::FlowStep::WaitReload:
      SetStatusText("Waiting for reload.bat to finish ...");
      break;
    case engine::FlowStep::Properties:
      SetStatusText("Carrying rules, required fields and cascades ...");
      break;
    case engine::FlowStep::CheckAfter:
      if (flow_.resultsCheck() != nullptr) {
        SetStatusText("Checking the new database ...");
        dialogs_.SetBusyPointer(true);
      }
      break;
    default:
      break;
  }
}

void frmfinal::ShowReport(const reporting::MigrationReport& report) {
  dialogs_.SetBusyPointer(false);
  SetStatusText(reporting::Headline(report));
  if (!results_) results_ = std::make_unique<MigrationResultsWindow>(dialogs_);
  const std::string database = runFor_.substr(runFor_.find('\n') + 1);
  results_->ShowReport(report, ShownPath(database), this);
  showResults_->setVisible(ShowsCurrentRun());
}

void frmfinal::FlowEnded(bool) {
  UpdateButtons();
  if (ShowsCurrentRun()) {
    restore_->setVisible(migration_.CanRestore());
  } else {
    status_->clearMessage();
  }
}

void frmfinal::Restore() {
  OfferRestore();
}

void frmfinal::Restored() {
  // The database is gone: nothing of the run stays on the page, and its data source neither.
  const std::string database = settings_.WorkFolder + settings_.TargetDbFileName;
  try {
    if (flow_.services().forgetDataSources)
      flow_.services().forgetDataSources(platform::paths::PosixFormOrMapped(database));
  } catch (const platform::Error& e) {
    dialogs_.Message(e.Description());
  }
  restore_->setVisible(false);
  showResults_->setVisible(false);
  if (results_) results_->hide();
  odbcSource_->clear();
  restored_ = true;
  status_->showMessage("Restored: the Access file is as it was and the new database is removed");
  UpdateButtons();
}

void frmfinal::SetStatusText(const std::string& text) {
  stepText_ = text;
  rowsStarted_ = false;
  if (ShowsCurrentRun()) status_->showMessage(QString::fromStdString(text));
}

void frmfinal::SetRowProgress(const std::string&, std::uint64_t done, std::uint64_t total) {
  const auto now = std::chrono::steady_clock::now();
  if (!rowsStarted_ || done < rowsDone_) {  // a new table
    rowsStart_ = rowsShown_ = now;
    rowsFrom_ = done;
    rowsStarted_ = true;
  }
  rowsDone_ = done;
  const bool last = total > 0 && done >= total;
  if (now - rowsShown_ < kRowsShown && !last) return;
  rowsShown_ = now;
  const double seconds = std::chrono::duration<double>(now - rowsStart_).count();
  const double rate = seconds > 0 ? static_cast<double>(done - rowsFrom_) / seconds : 0;
  if (ShowsCurrentRun())
    status_->showMessage(
        QString::fromStdString(stepText_ + "  " + platform::RowsText(done, total, rate)));
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
