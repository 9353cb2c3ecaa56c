#include "platform/quoting.h"

#include "platform/error.h"

namespace platform {

std::string QuoteName(std::string_view name, QuotedIn in) {
  std::string quoted = "\"";
  for (char c : name) {
    const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    if (in == QuotedIn::kScriptLine && control)
      throw Error(err::kBadFileName,
                  "The name \"" + std::string(name) +
                      "\" holds a control character and cannot be written to a script");
    if (c == '\0')
      throw Error(err::kBadFileName,
                  "The name \"" + std::string(name.substr(0, name.find('\0'))) +
                      "...\" holds a NUL character and cannot be quoted in a statement");
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace platform
