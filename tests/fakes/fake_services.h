// Test doubles of the wizard's services: dialogs answered from a script, command files recorded.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/program.h"
#include "platform/shell_start.h"
#include "platform/ui_services.h"

namespace testing_support {

class FakeDialogs : public platform::Dialogs {
 public:
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Question(const std::string& text) override {
    questions.push_back(text);
    return answerYes && (noAfter < 0 || static_cast<int>(questions.size()) <= noAfter);
  }
  std::optional<platform::FileChoice> OpenFile(const std::string& filter) override {
    filters.push_back(filter);
    if (choices.empty()) return std::nullopt;
    auto next = choices.front();
    choices.pop_front();
    return next;
  }
  void ShowHelp(const std::string& file, const std::string& keyword) override {
    help.emplace_back(file, keyword);
  }
  void RegisterProgramHelp(const std::string& file) override { programHelp = file; }
  void SetBusyPointer(bool busy) override {
    this->busy = busy;
    pointerChanges.push_back(busy);
  }

  // A chosen file, or nothing for a cancelled dialog.
  void Choose(std::optional<platform::FileChoice> choice) { choices.push_back(std::move(choice)); }

  std::deque<std::optional<platform::FileChoice>> choices;
  bool answerYes = false;
  int noAfter = -1;  // with answerYes: questions after this many are answered no
  bool busy = false;
  std::vector<bool> pointerChanges;
  std::vector<std::string> messages, questions, filters;
  std::vector<std::pair<std::string, std::string>> help;
  std::string programHelp;
};

class FakeCommands : public platform::CommandStarter {
 public:
  int StartCommandFile(const std::string& path) override {
    if (failStart) throw platform::Error(platform::err::kFileNotFound, "cmdshell is missing");
    started.push_back(path);
    if (onStart) onStart(path);
    const int id = static_cast<int>(started.size());
    running.insert(id);
    return id;
  }
  bool IsRunning(int id) override {
    if (running.count(id) == 0) return false;
    if (--pollsUntilDone <= 0) running.erase(id);
    return true;
  }
  int Wait(int id) override {
    running.erase(id);
    return exitStatus;
  }

  bool failStart = false;
  int exitStatus = 0;                               // what every command file ends with (Wait)
  std::function<void(const std::string&)> onStart;  // what the command file would do
  int pollsUntilDone = 0;  // IsRunning answers true this many times, then the task has ended
  std::vector<std::string> started;
  std::set<int> running;
};

class RecordingEnd : public platform::ProgramEnd {
 public:
  void EndProgram() override { ++calls; }
  int calls = 0;
};

}  // namespace testing_support
