#include "platform/paths.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform::paths {
namespace fs = std::filesystem;
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::vector<std::string> SplitSegments(std::string_view path) {
  std::vector<std::string> segments;
  std::string current;
  for (char c : path) {
    if (IsSeparator(c)) {
      segments.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  segments.push_back(current);
  return segments;
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// A short alias "XXXXXX~N": its prefix and number; nothing when the segment is not one.
struct Alias {
  std::string prefix;
  std::size_t number = 0;
};
std::optional<Alias> AliasOf(const std::string& segment) {
  const auto tilde = segment.rfind('~');
  if (tilde == std::string::npos || tilde == 0 || tilde + 1 == segment.size()) return {};
  const std::string digits = segment.substr(tilde + 1);
  if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos ||
      digits[0] == '0')
    return {};
  std::string prefix = segment.substr(0, tilde);
  if (CharCount(prefix) > 6) return {};
  return Alias{std::move(prefix), static_cast<std::size_t>(std::stoul(digits))};
}

[[noreturn]] void Ambiguous(std::string_view whole, const std::string& segment) {
  throw Error(err::kItemNotFound,
              "Ambiguous short name '" + segment + "' in path: " + std::string(whole));
}

// The entry of folder `dir` that `segment` names, or an empty path when none does.
fs::path MatchSegment(const fs::path& dir, const std::string& segment, std::string_view whole) {
  if (Exists(dir / segment)) return dir / segment;

  std::vector<std::string> sameCase;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (EqualsNoCase(name, segment)) sameCase.push_back(name);
  }
  if (sameCase.size() > 1) Ambiguous(whole, segment);
  if (sameCase.size() == 1) return dir / sameCase.front();
  if (const auto alias = AliasOf(segment)) {
    const std::vector<std::string> siblings = ShortAliasSiblings(dir, alias->prefix);
    if (alias->number <= siblings.size()) return dir / siblings[alias->number - 1];
  }
  return {};
}

}  // namespace

std::vector<std::string> ShortAliasSiblings(const fs::path& folder, std::string_view prefix) {
  std::vector<std::string> siblings;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find(' ') != std::string::npos && EqualsNoCase(LeftChars(name, 6), prefix))
      siblings.push_back(name);
  }
  std::sort(siblings.begin(), siblings.end(), [](const std::string& a, const std::string& b) {
    const std::string la = LowerAscii(a), lb = LowerAscii(b);
    return la != lb ? la < lb : a < b;
  });
  return siblings;
}

fs::path ToPosix(std::string_view windowsPath) {
  std::string_view rest = windowsPath;
  fs::path resolved;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (rest[0] != 'Z' && rest[0] != 'z')
      throw Error(err::kNoSuchDrive, "No such drive: " + std::string(rest.substr(0, 2)) +
                                         " (only Z: is mapped, to the root folder)");
    rest.remove_prefix(2);
    resolved = "/";
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    throw Error(err::kNoSuchDrive, "Network paths are not supported: " + std::string(windowsPath));
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    resolved = "/";
  } else {
    resolved = fs::current_path();
  }

  const std::vector<std::string> segments = SplitSegments(rest);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::string& segment = segments[i];
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      resolved = resolved.parent_path();
      continue;
    }
    fs::path next = MatchSegment(resolved, segment, windowsPath);
    if (next.empty()) {
      if (i + 1 != segments.size())
        throw Error(err::kPathNotFound, "Path not found: " + std::string(windowsPath));
      next = resolved / segment;  // a file still to be created
    }
    resolved = std::move(next);
  }
  return resolved;
}

std::string ToWindows(const fs::path& posixPath) {
  const fs::path absolute = fs::absolute(posixPath).lexically_normal();
  std::string out = "Z:";
  for (char c : absolute.string()) out += (c == '/') ? '\\' : c;
  return out;
}

std::string UnsafeInCommandFile(std::string_view windowsPath) {
  for (std::size_t i = 0; i < windowsPath.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(windowsPath[i]);
    if (c < 0x20 || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "%02X", c);
      return std::string(c == '\n' || c == '\r' ? "a line break" : "a control character") + " (0x" +
             code + ")";
    }
    if (c == ':' && i == 1) continue;
    if (std::string_view("\"<>|?*:%^&").find(static_cast<char>(c)) != std::string_view::npos)
      return std::string("the character ") + static_cast<char>(c);
  }
  return "";
}

bool IsWindowsForm(std::string_view path) {
  return (path.size() >= 2 && path[1] == ':') || path.find('\\') != std::string_view::npos;
}

std::string WindowsFormOf(const std::string& path) {
  return path.empty() || IsWindowsForm(path) ? path : ToWindows(path);
}

fs::path PosixPathOf(const std::string& path) {
  return IsWindowsForm(path) ? ToPosix(path) : fs::path(path);
}

std::string PosixFormOrMapped(const std::string& path) {
  if (!IsWindowsForm(path)) return path;
  try {
    return ToPosix(path).string();
  } catch (const Error&) {
    if (!StartsWithNoCase(path, "Z:")) return {};
    std::string posix = path.substr(2);
    for (char& c : posix)
      if (c == '\\') c = '/';
    return posix;
  }
}

std::string DatabaseLogPathOf(std::string_view databasePath) {
  const std::size_t slash = databasePath.find_last_of("/\\");
  const std::string_view name =
      slash == std::string_view::npos ? databasePath : databasePath.substr(slash + 1);
  if (CharCount(name) <= 2) return std::string(databasePath) + ".log";
  return DropLastChars(databasePath, 2) + "log";
}

}  // namespace platform::paths
