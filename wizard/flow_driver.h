// Drives a migration flow from the event loop: at once up to its first wait, then on a timer,
// until the plan has ended or the program ends.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

#include "engine/migration_flow.h"

namespace wizard {

class FlowDriver : public QObject {
  Q_OBJECT
 public:
  // `ending`: true once the program closes; the flow is then left where it is.
  FlowDriver(engine::MigrationFlow& flow, std::function<bool()> ending);

  // False (nothing done) while the flow's last plan has not ended.
  bool Start(engine::FlowPlan plan, engine::FlowFrontEnd& frontEnd);

 private:
  void Drive();

  engine::MigrationFlow& flow_;
  std::function<bool()> ending_;
  QTimer timer_;
};

}  // namespace wizard
