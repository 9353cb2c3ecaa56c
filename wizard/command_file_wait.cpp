#include "wizard/command_file_wait.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "options/page_rules.h"
#include "platform/ui/window_placement.h"

namespace wizard {

bool WaitVisibly(const std::string& text, const std::function<bool()>& ended) {
  if (ended()) return true;
  QWidget notice;
  notice.setObjectName("WaitForCommandFiles");
  notice.setWindowTitle(QApplication::applicationDisplayName());
  auto* column = new QVBoxLayout(&notice);
  auto* label = new QLabel(QString::fromStdString(text));
  label->setObjectName("WaitText");
  column->addWidget(label);
  auto* stop = new QPushButton("Stop waiting");
  stop->setObjectName("StopWaiting");
  stop->setDefault(true);
  column->addWidget(stop, 0, Qt::AlignRight);
  notice.adjustSize();
  notice.move(
      platform::ui::CentredOn(notice.size(), platform::ui::AvailableScreenArea(nullptr)).topLeft());

  QEventLoop loop;
  bool stopped = false;
  QObject::connect(stop, &QPushButton::clicked, &loop, [&] {
    stopped = true;
    loop.quit();
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (ended()) loop.quit();
  });
  poll.start(50);
  notice.show();
  loop.exec();
  return !stopped;
}

bool WaitForCommandFiles(platform::CommandStarter& commands,
                         const std::vector<std::pair<int, std::string>>& tasks) {
  for (const auto& [task, file] : tasks) {
    const std::string text = "Waiting for " + ShownPath(file) +
                             " to finish before the work files are removed ...\n"
                             "Stop waiting to leave the work files where they are.";
    if (!WaitVisibly(text, [&commands, task = task] { return !commands.IsRunning(task); }))
      return false;
  }
  return true;
}

}  // namespace wizard
