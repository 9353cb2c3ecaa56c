// The final page's step after reload.bat: the Access properties the transfer could not carry
// (required, zero-length text, rules, cascades) are given to the new database by properties.bat
// (engine/property_step.h), without blocking the page.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "engine/property_step.h"
#include "wizard/console/migration_report.h"
#include "wizard/page_flow.h"

namespace wizard {

class PropertyWatch : public QObject {
  Q_OBJECT
 public:
  explicit PropertyWatch(PageFlow& flow);

  // Before the run: reads the properties from the Access file (only when the wizard can ask the
  // new database about its rows).
  void ReadBefore();
  // After reload.bat has ended: starts properties.bat against `targetConnect` and, once it has
  // ended, calls `done` with its task and exit status (at once, without a task, when there is
  // nothing to run).
  using Done = std::function<void(std::optional<int> task, int status)>;
  void Run(const std::string& targetConnect, Done done);
  // What was and was not carried, and the step's failures.
  void AddTo(console::MigrationReport& report) const;

 private:
  void Poll();
  void Finish(std::optional<int> task, int status);

  PageFlow& flow_;
  engine::PropertyStep step_;
  QTimer timer_;
  std::optional<int> task_;
  Done done_;
  bool active_ = false;
};

}  // namespace wizard
