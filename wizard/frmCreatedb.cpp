#include "wizard/frmCreatedb.h"

#include "options/page_rules.h"

namespace wizard {
namespace {

// How often the page looks whether migrate.bat has ended.
constexpr std::chrono::milliseconds kWatch{200};

}  // namespace

frmCreatedb::frmCreatedb(PageFlow& flow)
    : WizardPage(flow, PageId::Createdb, "frmCreatedb", CreateDbTextsOf(TargetKind::Norvane).title),
      PagePrompts(creation_, dialogs_),
      creation_(flow.settings(), flow.FlowServicesOfPages(), flow.runLocks(),
                engine::WorkFiles::RemovedAtClose) {
  label1_ = NamedLabel("Label1", CreateDbTextsOf(TargetKind::Norvane).label1);
  content()->addWidget(label1_);
  text1_ = new QLineEdit;
  text1_->setObjectName("Text1(0)");
  text1_->setReadOnly(true);
  content()->addWidget(text1_);
  content()->addWidget(NamedLabel("Label2", "Click on 'Create DB' to proceed:"));
  create_ = NamedButton("Command3", "Create DB");
  content()->addWidget(create_, 0, Qt::AlignLeft);
  SetActionButton(create_);
  content()->addStretch(1);
  AddButtonRow("Command5", CreateDbTextsOf(TargetKind::Norvane).helpKeyword,
               {"<<", ">>", "Cancel"});
  status_ = AddStatusBar();
  Command1(1)->setEnabled(false);

  // The check, then one run at a time per Access file and database (the locks are held to the
  // program's end), then the work files and migrate.bat.
  connect(create_, &QPushButton::clicked, this, [this] {
    flow_.NoteWorkFolder();
    creation_.RunToEnd(engine::FlowPlan::CreateOnly, *this);
  });
  // A server's database is made without the query tool, whose page is passed by.
  connect(Command1(0), &QPushButton::clicked, this, [this] {
    GoTo(settings_.Target == TargetKind::PostgreSql ? PageId::Target : PageId::Ivex);
  });
  connect(Command1(1), &QPushButton::clicked, this, [this] { GoTo(PageId::Final); });
  watch_.setInterval(kWatch);
  connect(&watch_, &QTimer::timeout, this, &frmCreatedb::WatchCreation);
}

std::string frmCreatedb::CurrentTarget() const {
  return settings_.AccessDbPath + '\n' + settings_.WorkFolder + settings_.TargetDbFileName +
         (settings_.Target == TargetKind::PostgreSql ? '\n' + ShownTargetDatabase(settings_) : "");
}

bool frmCreatedb::Created() {
  return settings_.Target == TargetKind::PostgreSql ? serverCreated_ : TargetDbExists();
}

void frmCreatedb::Refresh() {
  const CreateDbTexts texts = CreateDbTextsOf(settings_.Target);
  setWindowTitle(texts.title);
  label1_->setText(texts.label1);
  SetHelpKeyword(texts.helpKeyword);
  text1_->setText(QString::fromStdString(ShownTargetDatabase(settings_)));
  text1_->setCursorPosition(0);
  // "Create DB" not for a file the source page's check stops.
  const bool stops = flow_.CheckStops(settings_.AccessDbPath);
  create_->setEnabled(!stops);
  // ">>" only once the database of the Access file now chosen has been created, and while it is
  // there (restore removes it).
  const bool current = !createdFor_.empty() && createdFor_ == CurrentTarget();
  const bool created = current && (watch_.isActive() || Created());
  Command1(1)->setEnabled(created);
  if (stops)
    status_->showMessage("The check of this Access file stops its migration: choose another.");
  else if (!created)
    status_->clearMessage();
  if (!current) watch_.stop();
}

void frmCreatedb::EnableNext() {
  createdFor_ = CurrentTarget();
  serverCreated_ = false;
  Command1(1)->setEnabled(true);
  UpdateDefaultButton();
  watch_.start();
}

void frmCreatedb::WatchCreation() {
  if (flow_.LastCommandFileRunning()) return;
  watch_.stop();
  // migrate.bat has ended: the status says what it left.
  if (settings_.Target == TargetKind::PostgreSql) serverCreated_ = flow_.LastCommandFileExit() == 0;
  if (Created()) {
    status_->showMessage(
        QString::fromStdString("Database created: " + ShownTargetDatabase(settings_)));
  } else {
    status_->showMessage("migrate.bat ended without the database: see its window.");
    Command1(1)->setEnabled(false);
    UpdateDefaultButton();
  }
}

void frmCreatedb::SetStatusText(const std::string& text) {
  status_->showMessage(QString::fromStdString(text));
}

}  // namespace wizard
