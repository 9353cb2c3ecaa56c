// Windows-form paths inside, POSIX paths outside.
//
// Owns: the mapping between the two forms. Drive Z: is the POSIX root (as Wine maps it); a path
// without a drive is taken relative to the current directory.
// Resolving a Windows path matches each folder segment against the disk: exactly, then without
// regard to letter case, then as a short alias "XXXXXX~1" (the one entry that begins with those
// characters and contains a blank). The last segment may name a file that does not exist yet.
// Failures: throws platform::Error: kNoSuchDrive for any other drive or a network path,
// kPathNotFound for a missing folder, kAmbiguousName when several entries fit one segment.
// Command files: UnsafeInCommandFile says why a path cannot be written into one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::paths {

std::filesystem::path ToPosix(std::string_view windowsPath);

// The Windows form of a POSIX path; a relative path is made absolute first.
std::string ToWindows(const std::filesystem::path& posixPath);

// Why the Windows-form path cannot stand in a line of a command file, or "" when it can: a
// control character (a line break would start a new command), '"', a character Windows does not
// allow in names (< > | ? *, ':' other than after the drive letter), or one the command shell
// acts on outside quotes (% ^ &).
std::string UnsafeInCommandFile(std::string_view windowsPath);

}  // namespace platform::paths
