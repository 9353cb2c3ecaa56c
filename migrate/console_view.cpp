#include "migrate/console_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

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
  out_ << Shown(text) << '\n' << std::flush;
}

bool ConsoleDialogs::Question(const std::string& text) {
  asked_ = true;
  const std::string database = database_ ? database_() : std::string("The database file");
  if (text.rfind(target::kLinkedDatabaseQuestionStart, 0) == 0) {
    // The page's question without its last sentence, then what the options decided.
    std::string told = text;
    if (told.ends_with(target::kLinkedDatabaseQuestionEnd))
      told.resize(told.size() - std::string_view(target::kLinkedDatabaseQuestionEnd).size());
    out_ << Shown(told) << '\n'
         << (replaceLinked_ ? "It is replaced (--replace-linked-database)."
                            : "It is kept: give --replace-linked-database to replace it.")
         << '\n'
         << std::flush;
    return replaceLinked_;
  }
  if (text.ends_with(target::kServerOverwriteQuestionEnd)) {
    // "The PostgreSQL database '...' on server ..." without the page's question.
    const std::string database =
        text.substr(0, text.size() - std::string_view(target::kServerOverwriteQuestionEnd).size());
    out_ << database
         << (answerYes_ ? " already exists and is replaced (--overwrite)."
                        : " already exists and is kept: give --overwrite to replace it.")
         << '\n'
         << std::flush;
    return answerYes_;
  }
  if (text == target::kOverwriteQuestion) {
    out_ << "The Norvane file " << database
         << (answerYes_ ? " already exists and is replaced (--overwrite)."
                        : " already exists and is kept: give --overwrite to replace it, or move "
                          "or rename it.")
         << '\n'
         << std::flush;
    return answerYes_;
  }
  out_ << Shown(text) << '\n'
       << (answerYes_ ? "Yes (--overwrite)" : "No (no --overwrite given)") << '\n'
       << std::flush;
  return answerYes_;
}

CommandLog::~CommandLog() {
  End();
}

void CommandLog::Begin(const std::string& posixPath) {
  End();
  path_ = posixPath;
  failed_ = false;
}

void CommandLog::Take(std::string_view chunk) {
  if (verbose_) echo_ << chunk << std::flush;
  if (path_.empty() || failed_ || chunk.empty()) return;
  if (fd_ < 0)
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  while (fd_ >= 0 && !chunk.empty()) {
    const ssize_t written = ::write(fd_, chunk.data(), chunk.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    chunk.remove_prefix(static_cast<std::size_t>(written));
  }
  if (fd_ >= 0 && chunk.empty()) return;
  failed_ = true;
  echo_ << "The output of the command files cannot be written to " << path_ << ": "
        << std::strerror(errno) << '\n'
        << std::flush;
}

std::string CommandLog::End() {
  std::string written;
  if (fd_ >= 0) {
    if (::close(fd_) == 0 && !failed_) written = path_;
    fd_ = -1;
  }
  path_.clear();
  return written;
}

}  // namespace console
