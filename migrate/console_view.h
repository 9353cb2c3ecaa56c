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
#include <string_view>

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
  // Ends a bar drawn on the terminal, before other output follows.
  void EndLine() { EndBar(); }

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

// The dialogs of the pages, answered from the command line in the console's words: messages are
// printed, the question before a database is replaced is answered Yes only with --overwrite, the
// one before a database the Access file's links use is replaced only with
// --replace-linked-database. `database` names the database file the questions are about; `shown`
// gives a message as the user's system writes its paths.
class ConsoleDialogs : public platform::Dialogs {
 public:
  ConsoleDialogs(std::ostream& out, bool answerYes, bool replaceLinked = false,
                 std::function<std::string()> database = {},
                 std::function<std::string(const std::string&)> shown = {})
      : out_(out),
        answerYes_(answerYes),
        replaceLinked_(replaceLinked),
        database_(std::move(database)),
        shown_(std::move(shown)) {}
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
  std::function<std::string()> database_;
  std::function<std::string(const std::string&)> shown_;
  bool asked_ = false;
  std::string Shown(const std::string& text) const { return shown_ ? shown_(text) : text; }
};

// What the command files print: written to a log file, made at the first output (replacing a
// file of that name, never following a link there), and shown on `echo` as well with --verbose.
class CommandLog {
 public:
  CommandLog(std::ostream& echo, bool verbose) : echo_(echo), verbose_(verbose) {}
  ~CommandLog();
  CommandLog(const CommandLog&) = delete;
  CommandLog& operator=(const CommandLog&) = delete;

  // The output from now on goes to `posixPath`.
  void Begin(const std::string& posixPath);
  void Take(std::string_view chunk);
  // Ends the file: its path when output was written to it; "" when none came, or when it could
  // not be written (said on `echo` at the first failure).
  std::string End();

 private:
  std::ostream& echo_;
  bool verbose_;
  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace console
