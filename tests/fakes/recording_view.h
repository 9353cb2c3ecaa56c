// Test doubles of the run's view and of the command starter: they record what they are told.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_view.h"
#include "platform/error.h"
#include "platform/shell_start.h"

namespace fakes {

class RecordingView : public engine::RunView {
 public:
  void SetStatusText(const std::string& text) override {
    status = text;
    statuses.push_back(text);
    events.push_back("status:" + text);
  }
  void SetProgress(float value) override {
    progress = value;
    progressValues.push_back(value);
    char text[32];
    std::snprintf(text, sizeof text, "progress:%g", static_cast<double>(value));
    events.push_back(text);
  }
  void SetProgressVisible(bool visible) override {
    progressVisible = visible;
    events.push_back(visible ? "bar:shown" : "bar:hidden");
  }
  void SetOdbcSourceText(const std::string& text) override {
    odbcSource = text;
    events.push_back("odbc:" + text);
  }
  void EnableFinish() override {
    finishEnabled = true;
    events.push_back("finish:enabled");
  }
  void Repaint() override { events.push_back("repaint"); }
  void YieldToEventLoop() override {
    events.push_back("yield");
    if (onYield) onYield();
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    events.push_back("message:" + text);
  }
  void SetPointer(engine::Pointer shape) override {
    pointer = shape;
    events.push_back(shape == engine::Pointer::Default ? "pointer:default" : "pointer:hourglass");
  }
  void ShowRunFailures(const platform::FailureLog& failures) override {
    reports.push_back(failures);
    events.push_back("failures:" + std::to_string(failures.size()));
  }

  std::vector<std::string> events;
  std::vector<std::string> statuses;
  std::vector<float> progressValues;
  std::vector<std::string> messages;
  std::vector<platform::FailureLog> reports;
  std::string status;
  float progress = 0;
  bool progressVisible = false;
  std::string odbcSource;
  bool finishEnabled = false;
  std::optional<engine::Pointer> pointer;
  std::function<void()> onYield;
};

class RecordingStarter : public platform::CommandStarter {
 public:
  int StartCommandFile(const std::string& windowsPath) override {
    started.push_back(windowsPath);
    if (onStart) onStart();
    if (failure) throw *failure;
    return nextTask++;
  }
  bool IsRunning(int) override { return false; }
  int Wait(int) override { return 0; }

  std::vector<std::string> started;
  std::optional<platform::Error> failure;
  std::function<void()> onStart;
  int nextTask = 7;
};

}  // namespace fakes
