#include "engine/names.h"

#include "platform/error.h"
#include "platform/text.h"

namespace engine {

std::string TargetNameOf(std::string_view name) {
  std::string trimmed = platform::Trim(name);
  if (trimmed.find(' ') == std::string::npos) return trimmed;
  std::string target(name);
  target[target.find(' ')] = '_';
  return target;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw platform::Error(platform::err::kBadFileName,
                            "The name \"" + std::string(name) +
                                "\" holds a control character and cannot be written to a script");
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace engine
