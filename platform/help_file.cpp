#include "platform/help_file.h"

#include <sstream>

#include "platform/text.h"

namespace platform {

std::optional<std::string> HelpTopic(const std::string& helpText, const std::string& keyword) {
  static constexpr std::string_view kMarker = "@topic ";
  std::istringstream in(helpText);
  std::optional<std::string> topic;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(kMarker)) {
      if (topic) break;
      if (EqualsNoCase(Trim(line.substr(kMarker.size())), Trim(keyword))) topic.emplace();
      continue;
    }
    if (topic) *topic += line + "\n";
  }
  return topic;
}

}  // namespace platform
