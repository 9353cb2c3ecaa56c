// What the console shows of a run and of "Create DB": a progress bar on a terminal, plain
// status lines otherwise, messages as text, and the failures at the end. A long table's rows
// (done, rows/s, time left) go on the bar, redrawn at most four times a second, or as a plain
// line every ten seconds when the output is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "engine/run_view.h"
#include "platform/ui_services.h"
#include "target/create_db.h"

namespace console {

class ConsoleView : public engine::RunView, public target::CreateDbView {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  ConsoleView(std::ostream& out, bool terminal, Clock clock = std::chrono::steady_clock::now)
      : out_(out), terminal_(terminal), clock_(std::move(clock)) {}

  // engine::RunView and target::CreateDbView
  void SetStatusText(const std::string& text) override;
  void SetProgress(float value) override;
  void SetProgressVisible(bool visible) override;
  void SetRowProgress(const std::string& what, std::uint64_t done, std::uint64_t total) override;
  void SetOdbcSourceText(const std::string& text) override;
  // The whole connect string, only "ODBC;" left off: the console has no box to fill.
  void ShowTargetConnect(const std::string& connect) override;
  void EnableFinish() override {}
  void Repaint() override {}
  void YieldToEventLoop() override {}
  void ShowMessage(const std::string& text) override;
  void SetPointer(engine::Pointer) override {}
  void ShowRunFailures(const platform::FailureLog& failures) override;
  void EnableNext() override {}

 private:
  void DrawBar();
  void EndBar();

  std::ostream& out_;
  bool terminal_;
  bool barVisible_ = false;
  bool barDrawn_ = false;
  float progress_ = 0;
  std::string status_;
  Clock clock_;
  // The rows of the current long step.
  std::string rows_;
  std::uint64_t rowsDone_ = 0, rowsFrom_ = 0;
  std::chrono::steady_clock::time_point rowsStart_, rowsShown_;
};

// The dialogs of the pages, answered from the command line: messages are printed, the question
// before a database is replaced is answered Yes only with --overwrite, the one before a database
// the Access file's links use is replaced only with --replace-linked-database.
class ConsoleDialogs : public platform::Dialogs {
 public:
  ConsoleDialogs(std::ostream& out, bool answerYes, bool replaceLinked = false)
      : out_(out), answerYes_(answerYes), replaceLinked_(replaceLinked) {}
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;
  std::optional<platform::FileChoice> OpenFile(const std::string&) override { return {}; }
  void ShowHelp(const std::string&, const std::string&) override {}
  void RegisterProgramHelp(const std::string&) override {}  // no keys to press
  void SetBusyPointer(bool) override {}

  bool Asked() const { return asked_; }

 private:
  std::ostream& out_;
  bool answerYes_;
  bool replaceLinked_;
  bool asked_ = false;
};

}  // namespace console
