#include "wizard/wizard_page.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>

#include <filesystem>

#include "options/page_rules.h"
#include "platform/paths.h"

namespace wizard {
namespace {

QFrame* Rule() {
  auto* rule = new QFrame;
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  return rule;
}

QPixmap PagePicture() {
  QPixmap picture(120, 260);
  QPainter p(&picture);
  QLinearGradient sky(0, 0, 0, 260);
  sky.setColorAt(0, QColor(18, 52, 96));
  sky.setColorAt(1, QColor(64, 140, 190));
  p.fillRect(picture.rect(), sky);
  p.setPen(Qt::white);
  for (int i = 0; i < 4; ++i) p.drawRoundedRect(20, 150 - i * 28, 80, 22, 6, 6);
  p.setFont(QFont("Sans", 12, QFont::Bold));
  p.drawText(QRect(0, 190, 120, 40), Qt::AlignCenter, "Norvane");
  return picture;
}

}  // namespace

QLabel* NamedLabel(const char* name, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setWordWrap(true);
  return label;
}

QPushButton* NamedButton(const char* name, const QString& text) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  return button;
}

WizardPage::WizardPage(PageFlow& flow, PageId id, const char* objectName, const char* title)
    : flow_(flow), settings_(flow.settings()), dialogs_(flow.dialogs()), id_(id) {
  setObjectName(objectName);
  setWindowTitle(title);
  auto* outer = new QHBoxLayout;
  auto* picture = new QLabel;
  picture->setObjectName("Picture1");
  picture->setPixmap(PagePicture());
  picture->setAlignment(Qt::AlignTop);
  outer->addWidget(picture);
  content_ = new QVBoxLayout;
  outer->addLayout(content_, 1);

  column_ = new QVBoxLayout(this);
  column_->addLayout(outer, 1);
  column_->addWidget(Rule());
  column_->addWidget(Rule());
  resize(560, 380);  // room for the tallest page, so that every page has the same size
}

void WizardPage::AddButtonRow(const char* helpName, const char* keyword,
                              std::array<const char*, 3> navigation) {
  auto* row = new QHBoxLayout;
  auto* help = NamedButton(helpName, "Help");
  helpKeyword_ = keyword;
  connect(help, &QPushButton::clicked, this,
          [this] { dialogs_.ShowHelp(HelpFilePath(settings_), helpKeyword_); });
  row->addWidget(help);
  row->addStretch(1);
  for (std::size_t i = 0; i < navigation.size(); ++i) {
    if (navigation[i] == nullptr) continue;
    const std::string name = "Command1(" + std::to_string(i) + ")";
    command1_[i] = NamedButton(name.c_str(), navigation[i]);
    row->addWidget(command1_[i]);
  }
  column_->addLayout(row);
  if (command1_[2] != nullptr) connect(command1_[2], &QPushButton::clicked, this, &QWidget::close);
}

QStatusBar* WizardPage::AddStatusBar() {
  auto* bar = new QStatusBar;
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  column_->addWidget(bar);
  return bar;
}

void WizardPage::Arrive() {
  Refresh();
  UpdateDefaultButton();
  if (QWidget* first = FirstControl()) first->setFocus(Qt::OtherFocusReason);
}

QPushButton* WizardPage::DefaultButton() const {
  QPushButton* next = command1_[1];
  if (next != nullptr && next->isEnabled()) return next;
  return action_ != nullptr ? action_ : next;
}

void WizardPage::UpdateDefaultButton() {
  QPushButton* chosen = DefaultButton();
  for (auto* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(button == chosen);
  }
  // Once the page's action has done its work, the focus moves on with it to ">>".
  if (action_ != nullptr && chosen != action_ && focusWidget() == action_) chosen->setFocus();
}

bool WizardPage::TargetDbExists() const {
  std::error_code ec;
  const std::string database =
      platform::paths::PosixFormOrMapped(settings_.WorkFolder + settings_.TargetDbFileName);
  return !settings_.TargetDbFileName.empty() && !database.empty() &&
         std::filesystem::exists(database, ec);
}

void WizardPage::keyPressEvent(QKeyEvent* event) {
  // Keys the focused control leaves alone reach the page: Enter presses the default button.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    auto* button = qobject_cast<QPushButton*>(focusWidget());  // a focused button presses itself
    if (button == nullptr) button = DefaultButton();
    if (button != nullptr && button->isEnabled() && button->isVisible()) {
      button->click();
      return;
    }
  }
  QWidget::keyPressEvent(event);
}

void WizardPage::GoTo(PageId next) {
  flow_.Show(next);
  flow_.Hide(id_);
}

void WizardPage::closeEvent(QCloseEvent* event) {
  if (flow_.Ending()) {
    event->accept();
    return;
  }
  if (!CanClose()) {
    event->ignore();
    return;
  }
  event->accept();
  flow_.CloseStep();
}

}  // namespace wizard
