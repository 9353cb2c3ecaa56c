// Whether this process may change a file, or make files in a folder, as the system decides at
// the write itself: permissions and ACLs for the effective user, read-only mounts, immutable
// files.
// Failures: none thrown; a refusal is returned as the system's reason.
#pragma once

#include <string>

namespace platform {

// "" when the entry at `posixPath` can be written (for a folder: entries made in and removed
// from it) or does not exist; otherwise the system's reason ("Permission denied").
std::string WriteRefusal(const std::string& posixPath);

}  // namespace platform
