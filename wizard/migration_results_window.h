// The results window: what a finished migration run left behind, as norvane-migrate reports it
// (a headline, the check of every table, the failures and the tools' errors), with a button that
// saves it as a text file.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <string>

#include "platform/ui_services.h"
#include "report/migration_report.h"

namespace wizard {

class MigrationResultsWindow : public QWidget {
  Q_OBJECT
 public:
  explicit MigrationResultsWindow(platform::Dialogs& dialogs);

  // Shows the report in place of the one before, beside `page` (never over it) the first time;
  // `databaseFile` names the new database.
  void ShowReport(const reporting::MigrationReport& report, const std::string& databaseFile,
                  QWidget* page = nullptr);
  // Shows the last report again where it was.
  void ShowAgain();
  // A block of lines under the report, with a title of its own (kept until the next report).
  void AddSection(const QString& title, const QStringList& lines);
  // A button in the row beside "Save as text...", for an action on the finished run.
  void AddAction(QPushButton* button);

  QString Text() const;
  // Writes the headline and the report; why it could not be written, or "" when it was.
  std::string SaveTo(const QString& path) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Save();

  platform::Dialogs& dialogs_;
  QLabel* headline_;
  QLabel* findings_;
  bool placed_ = false;
  QPlainTextEdit* report_;
  QHBoxLayout* actions_;
  std::string databaseFile_;
};

}  // namespace wizard
