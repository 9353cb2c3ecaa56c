// Test doubles around a migration flow: command files that run for a few polls, a verifier that
// notes what it is asked, and a front end that records the steps.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/migration_flow.h"
#include "fakes/fake_services.h"
#include "fakes/recording_view.h"

namespace fakes {

// Command files that run for a few polls and end with the status set for their name.
class ScriptedCommands : public platform::CommandStarter {
 public:
  int StartCommandFile(const std::string& path) override {
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    started.push_back(name);
    if (onStart) onStart(name);
    tasks[++last] = {name, polls};
    return last;
  }
  bool IsRunning(int task) override {
    ++isRunningCalls;
    return tasks[task].pollsLeft-- > 0;
  }
  int Wait(int task) override {
    ++waits;
    tasks[task].pollsLeft = 0;
    return exitStatus[tasks[task].name];
  }

  struct Task {
    std::string name;
    int pollsLeft = 0;
  };
  std::map<int, Task> tasks;
  std::map<std::string, int> exitStatus;
  std::vector<std::string> started;
  std::function<void(const std::string& name)> onStart;  // what the command file makes
  int polls = 3;
  int last = 0;
  int isRunningCalls = 0;
  int waits = 0;
};

// Notes what the flow asks of the check after the run.
class NotingVerifier : public reporting::MigrationVerifier {
 public:
  void BeforeRun(const MigrationSettings&) override { calls.push_back("before"); }
  void ReadAccessAhead(const MigrationSettings&, const std::string& connection) override {
    calls.push_back("ahead " + connection);
    tablesAhead = 2;
  }
  bool ReadNextAccessSide() override {
    if (tablesAhead == 0) return false;
    calls.push_back("read");
    return --tablesAhead > 0;
  }
  std::vector<reporting::TableReport> Verify(const MigrationSettings&,
                                             const std::string& connection) override {
    calls.push_back("verify " + connection);
    return {};
  }
  std::string KeysOfRowsBreaking(const std::string&, const std::string&,
                                 const std::string&) override {
    return "";
  }

  std::vector<std::string> calls;
  int tablesAhead = 0;
};

class RecordingFrontEnd : public engine::FlowFrontEnd, public target::CreateDbView {
 public:
  void StepStarted(engine::FlowStep step) override { steps.push_back(engine::FlowStepName(step)); }
  bool AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                   engine::FlowPlan) override {
    gates.push_back(gate);
    found = result.Text();
    return accept;
  }
  void Tell(const std::string& line) override { told.push_back(line); }
  void ShowReport(const reporting::MigrationReport& report) override { reports.push_back(report); }
  platform::Dialogs& DialogsOfFlow() override { return dialogs; }
  target::CreateDbView* CreateView() override { return this; }
  engine::RunView* RunViewOfFlow() override { return &view; }
  void FlowEnded(bool succeeded) override { ended.push_back(succeeded); }
  // target::CreateDbView
  void SetStatusText(const std::string&) override {}
  void EnableNext() override {}
  void Repaint() override {}

  bool accept = true;
  std::vector<std::string> steps;
  std::vector<engine::Gate> gates;
  std::string found;
  std::vector<std::string> told;
  std::vector<reporting::MigrationReport> reports;
  std::vector<bool> ended;
  testing_support::FakeDialogs dialogs;
  fakes::RecordingView view;
};

}  // namespace fakes
