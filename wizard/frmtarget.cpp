#include "wizard/frmtarget.h"

#include <QFormLayout>
#include <QHBoxLayout>

#include "options/page_rules.h"

namespace wizard {

frmtarget::frmtarget(PageFlow& flow)
    : WizardPage(flow, PageId::Target, "frmtarget", "Select the Target DB of the Migration") {
  content()->addWidget(NamedLabel(
      "Label1", "Select the database that you would like to Migrate your Access DB to."));
  norvane_ = new QRadioButton("A Norvane DB file in the same location as the Access DB.");
  norvane_->setObjectName("Option1(0)");
  postgres_ = new QRadioButton("A PostgreSQL DB on a server:");
  postgres_->setObjectName("Option1(1)");
  content()->addWidget(norvane_, 0, Qt::AlignLeft);
  content()->addWidget(postgres_, 0, Qt::AlignLeft);

  server_ = new QWidget;
  server_->setObjectName("Frame1");
  auto* indent = new QHBoxLayout(server_);
  indent->setContentsMargins(24, 0, 0, 0);
  auto* column = new QVBoxLayout;
  indent->addLayout(column);
  auto* form = new QFormLayout;
  form->setContentsMargins(0, 0, 0, 0);
  const char* const captions[] = {"Server:", "Port:", "Database:", "User:", "ODBC driver:"};
  const char* const hints[] = {"localhost, or postgresql://user@host:port/database", "5432", "",
                               "your login name", ""};
  for (std::size_t i = 0; i < text1_.size(); ++i) {
    text1_[i] = new QLineEdit;
    text1_[i]->setObjectName(QString("Text1(%1)").arg(i));
    text1_[i]->setPlaceholderText(hints[i]);
    auto* label = NamedLabel(QString("Label%1").arg(i + 2).toUtf8().constData(), captions[i]);
    label->setWordWrap(false);
    label->setBuddy(text1_[i]);
    form->addRow(label, text1_[i]);
  }
  column->addLayout(form);
  column->addWidget(NamedLabel("Label7",
                               "The password is not asked for here: it is taken from PGPASSWORD "
                               "or ~/.pgpass, and it is written into no file or link."));
  content()->addWidget(server_);
  content()->addStretch(1);
  AddButtonRow("Command3", "choose target db", {"<<", ">>", "Cancel"});

  // Load step.
  const TargetState state = TargetStateAtLoad(settings_);
  (state.postgres ? postgres_ : norvane_)->setChecked(true);
  const std::array<const std::string*, 5> values = {&state.server, &state.port, &state.database,
                                                    &state.user, &state.odbcDriver};
  for (std::size_t i = 0; i < text1_.size(); ++i)
    text1_[i]->setText(QString::fromStdString(*values[i]));
  databaseTyped_ = !settings_.ServerDatabase.empty();
  server_->setVisible(state.postgres);

  connect(postgres_, &QRadioButton::toggled, this, &frmtarget::TargetChanged);
  connect(text1_[2], &QLineEdit::textEdited, this, [this] { databaseTyped_ = true; });
  connect(Command1(0), &QPushButton::clicked, this, [this] { GoTo(PageId::GetAccess); });
  connect(Command1(1), &QPushButton::clicked, this, &frmtarget::Next);
}

QWidget* frmtarget::FirstControl() const {
  return postgres_->isChecked() ? static_cast<QWidget*>(postgres_) : norvane_;
}

void frmtarget::Refresh() {
  // The proposed database name follows the Access file until the user types another.
  if (!databaseTyped_)
    text1_[2]->setText(QString::fromStdString(ProposedServerDatabase(settings_)));
}

void frmtarget::TargetChanged() {
  server_->setVisible(postgres_->isChecked());
}

void frmtarget::Next() {
  const auto text = [this](int i) {
    return text1_[static_cast<std::size_t>(i)]->text().toStdString();
  };
  const TargetState state{postgres_->isChecked(), text(0), text(1), text(2), text(3), text(4)};
  if (const std::string refused = StoreTargetChoice(state, settings_); !refused.empty()) {
    dialogs_.Message(refused);
    return;
  }
  // The query tool is Norvane's: PostgreSQL's creation uses the server's own tools.
  GoTo(settings_.Target == TargetKind::PostgreSql ? PageId::Createdb : PageId::Ivex);
}

}  // namespace wizard
