#include "platform/display_properties.h"

#include <cctype>

namespace platform {

bool LeftOffLinks(std::string_view name, bool column) {
  const bool carried = column ? IsListedProperty(kColumnDisplayProperties, name)
                              : IsListedProperty(kTableDisplayProperties, name);
  return !carried && !IsListedProperty(kOwnProperties, name) &&
         !IsListedProperty(kTargetProperties, name);
}

std::vector<std::string> RowSourceTables(const std::string& source) {
  const std::string text = Trim(source);
  const auto word = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  std::vector<std::string> names;
  if (!StartsWithNoCase(text, "select") && !StartsWithNoCase(text, "transform")) {
    if (!text.empty())
      names.push_back(text.front() == '[' && text.back() == ']' ? text.substr(1, text.size() - 2)
                                                                : text);
    return names;
  }
  std::size_t at = 0;
  const auto name = [&]() {
    while (at < text.size() && text[at] == ' ') ++at;
    std::string n;
    if (at < text.size() && text[at] == '[') {
      const std::size_t end = text.find(']', at);
      n = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
      at = end == std::string::npos ? text.size() : end + 1;
    } else {
      while (at < text.size() && word(text[at])) n += text[at++];
    }
    if (!n.empty()) names.push_back(n);
  };
  while (at < text.size()) {
    if (!word(text[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && word(text[end])) ++end;
    const std::string token = text.substr(at, end - at);
    at = end;
    if (EqualsNoCase(token, "join")) name();
    if (EqualsNoCase(token, "from")) {
      name();
      // A FROM list: "FROM a, b".
      while (true) {
        std::size_t p = at;
        while (p < text.size() && text[p] == ' ') ++p;
        if (p >= text.size() || text[p] != ',') break;
        at = p + 1;
        name();
      }
    }
  }
  return names;
}

}  // namespace platform
