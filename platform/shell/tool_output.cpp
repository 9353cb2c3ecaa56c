#include "platform/shell/tool_output.h"

#include <utility>

namespace platform::shell {
namespace {

constexpr std::string_view kMarker = ": error: ";
constexpr std::string_view kTools[] = {"ivex", "vorlin", "cmdshell", "createdb", "psql"};
// psql's failure in a script: "psql:<file>:<line>: ERROR:  <message>".
constexpr std::string_view kScriptError = ": ERROR:  ";

}  // namespace

std::string ToolErrorLine(std::string_view tool, std::string_view message) {
  std::string line(tool);
  line += kMarker;
  for (char c : message) line += c == '\r' || c == '\n' ? ' ' : c;
  return line;
}

std::string OrdinaryOutput(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    if (IsToolErrorLine(line)) out += ' ';
    out += line;
    start = end;
  }
  return out;
}

bool IsToolErrorLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.find_first_of("\r\n") != std::string_view::npos) return false;
  if (line.substr(0, 5) == "psql:" && line.find(kScriptError) != std::string_view::npos)
    return true;
  for (std::string_view tool : kTools) {
    if (line.size() > tool.size() + kMarker.size() && line.substr(0, tool.size()) == tool &&
        line.substr(tool.size(), kMarker.size()) == kMarker)
      return true;
  }
  return false;
}

void ToolErrorLines::Take(std::string_view chunk) {
  pending_.append(chunk);
  for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
    if (IsToolErrorLine(std::string_view(pending_).substr(0, nl))) {
      std::string line = pending_.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      errors_.push_back(std::move(line));
    }
    pending_.erase(0, nl + 1);
  }
}

std::vector<std::string> ToolErrorLines::TakeErrors() {
  return std::exchange(errors_, {});
}

}  // namespace platform::shell
