#include "migrate/console_view.h"

#include <cmath>
#include <cstdio>

#include "platform/row_progress.h"
#include "platform/text.h"

namespace console {
namespace {

std::string Whole(double n) {
  return std::to_string(std::llround(n));
}

// 12345 -> "12k", 1234567 -> "1.2M": a bar line has no room for more.
std::string Short(double n) {
  char text[16];
  if (n >= 1e6)
    std::snprintf(text, sizeof text, "%.1fM", n / 1e6);
  else if (n >= 1e3)
    std::snprintf(text, sizeof text, "%.0fk", n / 1e3);
  else
    std::snprintf(text, sizeof text, "%.0f", n);
  return text;
}

// "120k/500k rows 310k/s 2s left": what fits beside the bar.
std::string ShortRowsText(std::uint64_t done, std::uint64_t total, double rate) {
  std::string text = Short(done) + (total > 0 ? "/" + Short(total) : "") + " rows";
  if (rate <= 0) return text;
  text += " " + Short(rate) + "/s";
  if (total > done) text += " " + Whole((total - done) / rate) + "s left";
  return text;
}

}  // namespace

void ConsoleView::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  rows_.clear();
  rowsDone_ = 0;
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

void ConsoleView::SetRowProgress(const std::string& what, std::uint64_t done, std::uint64_t total) {
  using namespace std::chrono;
  const auto now = clock_();
  if (rowsDone_ == 0 || done < rowsDone_) {  // a new step
    rowsStart_ = rowsShown_ = now;
    rowsFrom_ = done;
  }
  rowsDone_ = done;
  const bool last = total > 0 && done >= total;
  if (terminal_ && barVisible_) {
    if (now - rowsShown_ < milliseconds(250) && !last) return;
  } else if (now - rowsShown_ < seconds(10)) {
    return;
  }
  rowsShown_ = now;
  const double elapsed = duration<double>(now - rowsStart_).count();
  const double rate = elapsed > 0 ? static_cast<double>(done - rowsFrom_) / elapsed : 0;
  if (terminal_ && barVisible_) {
    rows_ = what.substr(0, 12) + " " + ShortRowsText(done, total, rate);
    DrawBar();
  } else {
    out_ << "  " << what << ": " << platform::RowsText(done, total, rate) << '\n' << std::flush;
  }
}

void ConsoleView::SetOdbcSourceText(const std::string& text) {
  EndBar();
  out_ << "ODBC source: " << text << '\n' << std::flush;
  if (terminal_ && barVisible_) DrawBar();
}

void ConsoleView::ShowTargetConnect(const std::string& connect) {
  SetOdbcSourceText(platform::WithoutOdbcPrefix(connect));
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
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " + percent +
                     " " + (rows_.empty() ? status_.substr(0, 60) : rows_);
  // One line of an 80-column terminal, or the carriage return no longer finds its start.
  out_ << '\r' << line.substr(0, 79) << "\x1b[K" << std::flush;
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
