#include "target/short_path.h"

#include "platform/text.h"

namespace target {

std::string ShortPathOf(std::string_view path) {
  std::size_t p = path.find('\\');
  if (p == std::string_view::npos) return {};
  std::string result(path.substr(0, p + 1));
  for (std::size_t q = path.find('\\', p + 1); q != std::string_view::npos;
       p = q, q = path.find('\\', p + 1)) {
    std::string segment(path.substr(p + 1, q - p - 1));
    if (segment.find(' ') != std::string::npos) segment = platform::LeftChars(segment, 6) + "~1";
    result += segment + '\\';
  }
  return result;
}

}  // namespace target
