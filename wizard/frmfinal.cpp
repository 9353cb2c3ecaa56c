#include "wizard/frmfinal.h"

#include <chrono>
#include <cmath>
#include <utility>

#include <QApplication>
#include <QGridLayout>

#include "engine/restore.h"
#include "platform/paths.h"
#include "platform/ui/window_placement.h"
#include "wizard/console/report_completion.h"
#include "wizard/safety_prompts.h"

namespace wizard {
namespace {

constexpr std::chrono::milliseconds kReloadWatch{200};

QLineEdit* ReadOnlyBox(const char* name) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setReadOnly(true);
  return box;
}

}  // namespace

frmfinal::frmfinal(PageFlow& flow)
    : WizardPage(flow, PageId::Final, "frmfinal", "The final stop in the Migration Process"),
      run_(flow.settings(), *this, flow, flow.services().makeEngine),
      properties_(flow) {
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
  connect(&reloadWatch_, &QTimer::timeout, this, &frmfinal::WatchReload);
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
  const std::optional<engine::RunOutcome> outcome = CheckedRun();
  Command1(0)->setEnabled(true);
  Command1(1)->setEnabled(!reloadTask_);  // no second run while reload.bat works
  Command1(2)->setEnabled(finishEnabled_);
  UpdateDefaultButton();
  DefaultButton()->setFocus();  // not the box the focus fell to while the buttons were off
  // Cancelled at the check, or a failed open that has been told.
  if (outcome != engine::RunOutcome::Finished) return;
  if (reloadTask_) {
    status_->showMessage("Waiting for reload.bat to finish ...");
    if (ResultsCheck* check = flow_.resultsCheck(); check != nullptr && report_.verifyError.empty())
      check->verifier.ReadAccessAhead(settings_, check->targetConnection());
    reloadWatch_.start(kReloadWatch);
  } else {
    ShowResults();
  }
}

void frmfinal::WatchReload() {
  if (flow_.Ending()) {
    reloadWatch_.stop();
    return;
  }
  if (!reloadTask_) return;
  if (flow_.IsRunning(*reloadTask_)) {
    // Meanwhile the check reads the Access side, a table at each turn of the event loop.
    ResultsCheck* check = flow_.resultsCheck();
    const bool more = check != nullptr && check->verifier.ReadNextAccessSide();
    reloadWatch_.setInterval(more ? std::chrono::milliseconds(0) : kReloadWatch);
    return;
  }
  reloadWatch_.stop();
  const int task = *std::exchange(reloadTask_, std::nullopt);
  const int status = flow_.Wait(task);
  const ResultsCheck* check = flow_.resultsCheck();
  console::AddReloadOutcome(
      status, check != nullptr ? check->toolErrors(task) : std::vector<std::string>(), report_);
  // Then what the transfer could not carry, and then the results.
  status_->showMessage("Carrying rules, required fields and cascades ...");
  properties_.Run(run_.TargetConnect(), [this](std::optional<int> properties, int ended) {
    properties_.AddTo(report_);
    if (const ResultsCheck* c = flow_.resultsCheck(); c != nullptr && properties)
      console::AddBatchOutcome("properties.bat", ended, c->toolErrors(*properties), report_);
    Command1(1)->setEnabled(true);
    ShowResults();
  });
}

void frmfinal::ShowResults() {
  if (ResultsCheck* check = flow_.resultsCheck()) {
    status_->showMessage("Checking the new database ...");
    dialogs_.SetBusyPointer(true);
    console::CheckWhatArrived(check->verifier, settings_, check->targetConnection(), report_);
    dialogs_.SetBusyPointer(false);
  }
  if (undoRecord_ && flow_.services().targetInspector != nullptr)
    undoRecord_->AfterMigration(*flow_.services().targetInspector, report_.runFailures);
  undoRecord_.reset();
  status_->showMessage(QString::fromStdString(console::Headline(report_)));
  if (!results_) results_ = std::make_unique<MigrationResultsWindow>(dialogs_);
  results_->move(platform::ui::Beside(frameGeometry(), platform::ui::FrameSizeOf(results_.get()),
                                      platform::ui::AvailableScreenArea(this))
                     .topLeft());
  results_->ShowReport(report_, settings_.WorkFolder + settings_.TargetDbFileName);
}

std::optional<engine::RunOutcome> frmfinal::CheckedRun() {
  if (const auto access = flow_.services().makeEngine();
      access && !ConfirmMigration(*access, {flow_.services().targetInspector, flow_.runLocks()},
                                  settings_, dialogs_))
    return std::nullopt;
  report_ = {};
  ResultsCheck* check = flow_.resultsCheck();
  if (check != nullptr) console::NoteAccessBeforeRun(check->verifier, settings_, report_);
  // A table whose values differ after its transfer is not linked.
  run_.CheckValuesBeforeLinking({});
  if (check != nullptr && report_.verifyError.empty())
    run_.CheckValuesBeforeLinking([this, check](const std::string& name, const std::string&) {
      return check->verifier.CompareValues(settings_, check->targetConnection(), name);
    });
  undoRecord_.emplace(settings_);
  run_.SetBeforeCatalogReplace(undoRecord_->BeforeReplace());
  properties_.ReadBefore();
  const engine::RunOutcome outcome = run_.lsfinish_migrate();
  report_.runFailures = run_.Failures();
  undoRecord_->AfterRun(report_.runFailures);
  reloadTask_ = outcome == engine::RunOutcome::Finished ? run_.ReloadTaskId() : std::nullopt;
  try {
    restore_->setVisible(
        engine::HasLinkBackRecord(platform::paths::ToPosix(settings_.AccessDbPath)));
  } catch (const platform::Error&) {
    restore_->setVisible(false);
  }
  return outcome;
}

void frmfinal::Restore() {
  const auto engine = flow_.services().makeEngine();
  if (engine && OfferRestore(*engine, {flow_.services().targetInspector, flow_.runLocks()},
                             settings_, dialogs_))
    restore_->setVisible(false);
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
