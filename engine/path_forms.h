// Which form a path a user gave is in: Windows form ("Z:\data\x.mdb", "data\x.mdb") or POSIX.
#pragma once

#include <filesystem>
#include <string>

#include "platform/paths.h"

namespace engine {

inline bool IsWindowsForm(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.find('\\') != std::string::npos;
}

// The Windows form the pages show; a relative POSIX path is made absolute first.
inline std::string WindowsFormOf(const std::string& path) {
  return path.empty() || IsWindowsForm(path) ? path : platform::paths::ToWindows(path);
}

// The POSIX form of a path in either form; throws platform::Error for a Windows-form path that
// does not resolve.
inline std::filesystem::path PosixPathOf(const std::string& path) {
  return IsWindowsForm(path) ? platform::paths::ToPosix(path) : std::filesystem::path(path);
}

}  // namespace engine
