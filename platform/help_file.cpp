#include "platform/help_file.h"

#include <sstream>

#include "platform/text.h"

namespace platform {

namespace {
constexpr std::string_view kTopicMarker = "@topic ";
}  // namespace

std::optional<std::string> HelpTopic(const std::string& helpText, const std::string& keyword) {
  std::istringstream in(helpText);
  std::optional<std::string> topic;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(kTopicMarker)) {
      if (topic) break;
      if (EqualsNoCase(Trim(line.substr(kTopicMarker.size())), Trim(keyword))) topic.emplace();
      continue;
    }
    if (topic) *topic += line + "\n";
  }
  return topic;
}

std::string HelpContents(const std::string& helpText) {
  std::istringstream in(helpText);
  std::string contents;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.starts_with(kTopicMarker)) contents += line + "\n";
  }
  return contents;
}

}  // namespace platform
