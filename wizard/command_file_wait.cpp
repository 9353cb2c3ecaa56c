#include "wizard/command_file_wait.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/ui/window_placement.h"

namespace wizard {

bool WaitForCommandFiles(platform::CommandStarter& commands,
                         const std::vector<std::pair<int, std::string>>& tasks) {
  for (const auto& [task, file] : tasks) {
    if (!commands.IsRunning(task)) continue;
    QWidget notice;
    notice.setObjectName("WaitForCommandFiles");
    notice.setWindowTitle(QApplication::applicationDisplayName());
    auto* column = new QVBoxLayout(&notice);
    auto* text =
        new QLabel(QString::fromStdString("Waiting for " + file +
                                          " to finish before the work files are removed ...\n"
                                          "Stop waiting to leave the work files where they are."));
    text->setObjectName("WaitText");
    column->addWidget(text);
    auto* stop = new QPushButton("Stop waiting");
    stop->setObjectName("StopWaiting");
    stop->setDefault(true);
    column->addWidget(stop, 0, Qt::AlignRight);
    notice.adjustSize();
    notice.move(platform::ui::CentredOn(notice.size(), platform::ui::AvailableScreenArea(nullptr))
                    .topLeft());

    QEventLoop loop;
    bool stopped = false;
    QObject::connect(stop, &QPushButton::clicked, &loop, [&] {
      stopped = true;
      loop.quit();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&, task = task] {
      if (!commands.IsRunning(task)) loop.quit();
    });
    poll.start(50);
    notice.show();
    loop.exec();
    if (stopped) return false;
  }
  return true;
}

}  // namespace wizard
