#include "wizard/migration_results_window.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/ui/window_placement.h"
#include "report/report_completion.h"

namespace wizard {

MigrationResultsWindow::MigrationResultsWindow(platform::Dialogs& dialogs) : dialogs_(dialogs) {
  setObjectName("MigrationResults");
  setWindowTitle("Migration results - " + QApplication::applicationDisplayName());
  auto* column = new QVBoxLayout(this);
  headline_ = new QLabel;
  headline_->setObjectName("Headline");
  QFont big = headline_->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  headline_->setFont(big);
  column->addWidget(headline_);
  findings_ = new QLabel;
  findings_->setObjectName("Findings");
  findings_->setWordWrap(true);
  column->addWidget(findings_);
  report_ = new QPlainTextEdit;
  report_->setObjectName("Report");
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);  // the columns stay; long lines scroll
  report_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  column->addWidget(report_, 1);
  actions_ = new QHBoxLayout;
  auto* save = new QPushButton("Save as text...");
  save->setObjectName("SaveReport");
  auto* close = new QPushButton("Close");
  close->setObjectName("CloseResults");
  close->setDefault(true);
  actions_->addWidget(save);
  actions_->addStretch(1);
  actions_->addWidget(close);
  column->addLayout(actions_);
  connect(save, &QPushButton::clicked, this, &MigrationResultsWindow::Save);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  // Wide enough for the report's columns.
  resize(report_->fontMetrics().horizontalAdvance(QString(108, 'x')), 440);
}

void MigrationResultsWindow::ShowReport(const reporting::MigrationReport& report,
                                        const std::string& databaseFile, QWidget* page) {
  databaseFile_ = databaseFile;
  headline_->setText(QString::fromStdString(reporting::Headline(report)));
  headline_->setStyleSheet(report.Ok() ? "color: #1a6e1a" : "color: #a01010");
  findings_->setText(QString::fromStdString(reporting::FindingsLine(report)));
  QString text = QString::fromStdString(reporting::ReportText(report)).trimmed();
  if (!databaseFile.empty())
    text = "Database: " + QString::fromStdString(databaseFile) + "\n\n" + text;
  report_->setPlainText(text);
  if (!placed_ && page != nullptr) {
    platform::ui::PlaceBeside(*this, *page);
    placed_ = true;
  }
  ShowAgain();
}

void MigrationResultsWindow::ShowAgain() {
  const QRect screen = platform::ui::AvailableScreenArea(this);
  move(platform::ui::KeepOnScreen(QRect(pos(), platform::ui::FrameSizeOf(this)), screen).topLeft());
  show();
  raise();
  activateWindow();
}

void MigrationResultsWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes the window, wherever in it the focus is (the report leaves the key alone).
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MigrationResultsWindow::AddSection(const QString& title, const QStringList& lines) {
  report_->appendPlainText("\n" + title);
  for (const auto& line : lines) report_->appendPlainText("  " + line);
}

void MigrationResultsWindow::AddAction(QPushButton* button) {
  actions_->insertWidget(1, button);
}

QString MigrationResultsWindow::Text() const {
  return headline_->text() + "\n" + findings_->text() + "\n\n" + report_->toPlainText() + "\n";
}

std::string MigrationResultsWindow::SaveTo(const QString& path) const {
  // Whole or not at all, and a link standing under the name is replaced, not followed.
  const QByteArray bytes = Text().toUtf8();
  try {
    platform::files::ReplaceDurably(
        path.toStdString(), std::string_view(bytes.constData(), bytes.size()), path.toStdString());
    return {};
  } catch (const platform::Error& e) {
    return e.Description().empty() ? std::string("it cannot be written") : e.Description();
  }
}

void MigrationResultsWindow::Save() {
  std::string name = "migration report.txt";
  const auto slash = databaseFile_.find_last_of("\\/");
  const std::string file =
      slash == std::string::npos ? databaseFile_ : databaseFile_.substr(slash + 1);
  if (const auto dot = file.rfind('.'); dot != std::string::npos && dot > 0)
    name = file.substr(0, dot) + " migration report.txt";
  const auto path = dialogs_.SaveFile("Text file (*.txt) | *.txt", name);
  if (!path) return;
  if (const std::string why = SaveTo(QString::fromStdString(*path)); !why.empty())
    dialogs_.Message("The report could not be saved: " + why);
}

}  // namespace wizard
