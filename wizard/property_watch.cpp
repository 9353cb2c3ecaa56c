#include "wizard/property_watch.h"

#include "platform/text.h"

namespace wizard {

PropertyWatch::PropertyWatch(PageFlow& flow) : flow_(flow) {
  timer_.setInterval(250);
  connect(&timer_, &QTimer::timeout, this, &PropertyWatch::Poll);
}

void PropertyWatch::ReadBefore() {
  active_ = static_cast<bool>(flow_.services().rowsBreaking);
  if (!active_) return;
  if (const auto engine = flow_.services().makeEngine())
    step_.ReadBefore(*engine, flow_.settings());
}

void PropertyWatch::AfterReload(std::optional<int> task, const std::string& targetConnect) {
  if (!active_ || !task) return;
  reload_ = task;
  properties_.reset();
  connection_ =
      platform::StartsWithNoCase(targetConnect, "ODBC;") ? targetConnect.substr(5) : targetConnect;
  timer_.start();
}

void PropertyWatch::Poll() {
  if (reload_) {
    if (flow_.IsRunning(*reload_)) return;
    reload_.reset();
    const auto rowsBreaking = [this](const std::string& table, const std::string& condition) {
      return flow_.services().rowsBreaking(connection_, table, condition);
    };
    properties_ = step_.Start(flow_.settings(), rowsBreaking, flow_);
    if (properties_) return;
  } else if (properties_ && flow_.IsRunning(*properties_)) {
    return;
  }
  timer_.stop();
  step_.RemoveFiles(flow_.settings());
  std::string text;
  for (const auto& f : step_.Failures()) text += "\n- " + f.context + ": " + f.description;
  for (const auto& lines : step_.Lines())
    for (const auto& line : lines.notCarried) text += "\n- " + lines.targetTable + ": " + line;
  if (!text.empty())
    flow_.services().dialogs.Message("Not everything the Access file holds was carried:" + text);
}

}  // namespace wizard
