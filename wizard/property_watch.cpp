#include "wizard/property_watch.h"

#include "platform/text.h"

namespace wizard {

PropertyWatch::PropertyWatch(PageFlow& flow) : flow_(flow) {
  timer_.setInterval(250);
  connect(&timer_, &QTimer::timeout, this, &PropertyWatch::Poll);
}

void PropertyWatch::ReadBefore() {
  step_ = {};
  active_ = static_cast<bool>(flow_.services().rowsBreaking);
  if (!active_) return;
  if (const auto engine = flow_.services().makeEngine())
    step_.ReadBefore(*engine, flow_.settings());
}

void PropertyWatch::Run(const std::string& targetConnect, Done done) {
  done_ = std::move(done);
  task_.reset();
  if (active_) {
    const std::string connection = platform::StartsWithNoCase(targetConnect, "ODBC;")
                                       ? targetConnect.substr(5)
                                       : targetConnect;
    const auto rowsBreaking = [this, connection](const std::string& table,
                                                 const std::string& condition) {
      return flow_.services().rowsBreaking(connection, table, condition);
    };
    task_ = step_.Start(flow_.settings(), rowsBreaking, flow_);
  }
  if (task_) {
    timer_.start();
  } else {
    Finish(std::nullopt, 0);
  }
}

void PropertyWatch::Poll() {
  if (flow_.Ending()) {
    timer_.stop();
    return;
  }
  if (task_ && flow_.IsRunning(*task_)) return;
  timer_.stop();
  const std::optional<int> task = std::exchange(task_, std::nullopt);
  Finish(task, task ? flow_.Wait(*task) : 0);
}

void PropertyWatch::Finish(std::optional<int> task, int status) {
  if (active_) step_.RemoveFiles(flow_.settings());
  if (auto done = std::exchange(done_, nullptr)) done(task, status);
}

void PropertyWatch::AddTo(console::MigrationReport& report) const {
  report.properties = step_.Lines();
  for (const auto& f : step_.Failures()) report.runFailures.push_back(f);
}

}  // namespace wizard
