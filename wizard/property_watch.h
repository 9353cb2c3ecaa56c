// The final page's step after reload.bat: once the batch has ended, the Access properties the
// transfer could not carry (required, zero-length text, rules, cascades) are given to the new
// database by properties.bat (engine/property_step.h).
#pragma once

#include <QObject>
#include <QTimer>
#include <optional>
#include <string>

#include "engine/property_step.h"
#include "wizard/page_flow.h"

namespace wizard {

class PropertyWatch : public QObject {
  Q_OBJECT
 public:
  explicit PropertyWatch(PageFlow& flow);

  // Before the run: reads the properties from the Access file (only when the wizard can ask the
  // new database about its rows).
  void ReadBefore();
  // After the run: waits, without blocking, for reload.bat (`task`), then starts properties.bat;
  // its failures are shown as a message, what was not carried as another.
  void AfterReload(std::optional<int> task, const std::string& targetConnect);

 private:
  void Poll();

  PageFlow& flow_;
  engine::PropertyStep step_;
  QTimer timer_;
  std::optional<int> reload_, properties_;
  std::string connection_;
  bool active_ = false;
};

}  // namespace wizard
