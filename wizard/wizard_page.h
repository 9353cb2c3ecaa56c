// The frame every wizard page shares: the picture on the left, the page's own controls, two
// rules, and a bottom row with "Help" at the left and the navigation buttons at the right.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWidget>

#include "wizard/page_flow.h"

namespace wizard {

class WizardPage : public QWidget {
  Q_OBJECT
 public:
  WizardPage(PageFlow& flow, PageId id, const char* objectName, const char* title);

  // Each time the flow shows the page: the page shows the current settings, the focus goes to
  // the control the user acts on first, and Enter presses the page's main button.
  void Arrive();
  // The button Enter presses: ">>" once it is enabled, else the page's own action.
  virtual QPushButton* DefaultButton() const;

 protected:
  // The column the page puts its own controls in.
  QVBoxLayout* content() { return content_; }
  // Bottom row: the help button, then `Command1` with index 0..2 where a text is given.
  void AddButtonRow(const char* helpName, const char* keyword,
                    std::array<const char*, 3> navigation);
  // The help topic "Help" opens from now on (a page whose topic follows the target).
  void SetHelpKeyword(const char* keyword) { helpKeyword_ = keyword; }
  QPushButton* Command1(int index) const { return command1_[static_cast<std::size_t>(index)]; }
  QStatusBar* AddStatusBar();
  // "<<" and ">>": hide this page, show the other.
  void GoTo(PageId next);
  // Whether the page may close now; a page busy with work refuses.
  virtual bool CanClose() { return true; }
  // Shows the current settings in the page's boxes and buttons.
  virtual void Refresh() {}
  // The control that takes the focus on arrival.
  virtual QWidget* FirstControl() const { return DefaultButton(); }
  // The button that does the page's work before ">>" is possible ("Browse ...", "Create DB").
  void SetActionButton(QPushButton* button) { action_ = button; }
  // Whether the database file of the settings is on the disk.
  bool TargetDbExists() const;
  // Marks DefaultButton() as the default; call after a button's enabled state changed.
  void UpdateDefaultButton();

  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  PageFlow& flow_;
  MigrationSettings& settings_;
  platform::Dialogs& dialogs_;

 private:
  PageId id_;
  QVBoxLayout* content_;
  QVBoxLayout* column_;
  std::array<QPushButton*, 3> command1_{};
  QPushButton* action_ = nullptr;
  const char* helpKeyword_ = nullptr;
};

// A label named by its designer name.
QLabel* NamedLabel(const char* name, const QString& text);
QPushButton* NamedButton(const char* name, const QString& text);

}  // namespace wizard
