#include "wizard/console/console_view.h"

#include <cmath>
#include <cstdio>

namespace console {

void ConsoleView::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  if (terminal_ && barVisible_) {
    DrawBar();
  } else if (!text.empty()) {
    out_ << text << '\n' << std::flush;
  }
}

void ConsoleView::SetProgress(float value) {
  progress_ = value;
  if (terminal_ && barVisible_) DrawBar();
}

void ConsoleView::SetProgressVisible(bool visible) {
  barVisible_ = visible;
  if (!terminal_) return;
  if (visible)
    DrawBar();
  else
    EndBar();
}

void ConsoleView::SetOdbcSourceText(const std::string& text) {
  EndBar();
  out_ << "ODBC source: " << text << '\n' << std::flush;
  if (terminal_ && barVisible_) DrawBar();
}

void ConsoleView::ShowMessage(const std::string& text) {
  EndBar();
  out_ << text << '\n' << std::flush;
}

void ConsoleView::ShowRunFailures(const platform::FailureLog& failures) {
  EndBar();
  if (failures.empty()) return;
  out_ << "The migration went on past " << failures.size()
       << (failures.size() == 1 ? " failure" : " failures") << " (see the report).\n";
}

void ConsoleView::DrawBar() {
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(std::lround(progress_ / 100.0f * kWidth));
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(std::lround(progress_)));
  std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " + percent +
                     " " + status_.substr(0, 60);
  out_ << line << "\x1b[K" << std::flush;
  barDrawn_ = true;
}

void ConsoleView::EndBar() {
  if (!barDrawn_) return;
  out_ << '\n' << std::flush;
  barDrawn_ = false;
}

void ConsoleDialogs::Message(const std::string& text) {
  // The console waits for migrate.bat and shows its output instead of asking the user to wait.
  if (text == target::kWaitMessage) return;
  out_ << text << '\n' << std::flush;
}

bool ConsoleDialogs::Question(const std::string& text) {
  asked_ = true;
  if (text.rfind(target::kLinkedDatabaseQuestionStart, 0) == 0) {
    out_ << text << '\n'
         << (replaceLinked_ ? "Yes (--replace-linked-database)"
                            : "No (no --replace-linked-database given)")
         << '\n'
         << std::flush;
    return replaceLinked_;
  }
  out_ << text << '\n'
       << (answerYes_ ? "Yes (--overwrite)" : "No (no --overwrite given)") << '\n'
       << std::flush;
  return answerYes_;
}

}  // namespace console
