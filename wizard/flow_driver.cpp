#include "wizard/flow_driver.h"

#include <chrono>

namespace wizard {
namespace {

// How often a command file the flow waits for is looked at.
constexpr std::chrono::milliseconds kWatch{200};

}  // namespace

FlowDriver::FlowDriver(engine::MigrationFlow& flow, std::function<bool()> ending)
    : flow_(flow), ending_(std::move(ending)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &FlowDriver::Drive);
}

bool FlowDriver::Start(engine::FlowPlan plan, engine::FlowFrontEnd& frontEnd) {
  if (!flow_.Start(plan, frontEnd)) return false;
  Drive();
  return true;
}

void FlowDriver::Drive() {
  while (!ending_()) {
    switch (flow_.Advance()) {
      case engine::FlowNext::Now:
        continue;
      case engine::FlowNext::Soon:
        timer_.start(std::chrono::milliseconds(0));
        return;
      case engine::FlowNext::Later:
        timer_.start(kWatch);
        return;
      case engine::FlowNext::Done:
        return;
    }
  }
}

}  // namespace wizard
