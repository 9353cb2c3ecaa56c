#include "platform/short_path.h"

#include <filesystem>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::paths {
namespace {

// The number of the short alias of `segment` inside the folder `folder` (Windows form): its
// place among the siblings that share its six-character prefix, in the order platform/paths
// resolves them. 1 when the folder is not on this disk or the segment is not among them.
std::size_t AliasNumber(const std::string& folder, const std::string& segment,
                        const std::string& prefix) {
  try {
    const std::filesystem::path dir = platform::paths::ToPosix(folder);
    const std::vector<std::string> siblings = platform::paths::ShortAliasSiblings(dir, prefix);
    for (std::size_t i = 0; i < siblings.size(); ++i)
      if (platform::EqualsNoCase(siblings[i], segment)) return i + 1;
  } catch (const platform::Error&) {
    // A drive or folder this platform cannot reach: the alias keeps the plain form.
  }
  return 1;
}

}  // namespace

std::string ShortPathOf(std::string_view path) {
  std::size_t p = path.find('\\');
  if (p == std::string_view::npos) return {};
  std::string result(path.substr(0, p + 1));
  for (std::size_t q = path.find('\\', p + 1); q != std::string_view::npos;
       p = q, q = path.find('\\', p + 1)) {
    std::string segment(path.substr(p + 1, q - p - 1));
    if (segment.find(' ') != std::string::npos) {
      const std::string prefix = platform::LeftChars(segment, 6);
      const std::string folder(path.substr(0, p + 1));
      segment = prefix + "~" + std::to_string(AliasNumber(folder, segment, prefix));
    }
    result += segment + '\\';
  }
  return result;
}

}  // namespace platform::paths
