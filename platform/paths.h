// Windows-form paths inside, POSIX paths outside.
//
// Owns: the mapping between the two forms. Drive Z: is the POSIX root (as Wine maps it); a path
// without a drive is taken relative to the current directory.
// Resolving a Windows path matches each folder segment against the disk: exactly, then without
// regard to letter case, then as a short alias "XXXXXX~N": the N-th of the entries that hold a
// blank and whose first six characters are XXXXXX (letter case ignored), in the order of
// ShortAliasSiblings. The last segment may name a file that does not exist yet.
// Failures: throws platform::Error: kNoSuchDrive for any other drive or a network path,
// kPathNotFound for a missing folder, kItemNotFound when several entries differ only in
// letter case from one segment.
// Command files: UnsafeInCommandFile says why a path cannot be written into one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform::paths {

std::filesystem::path ToPosix(std::string_view windowsPath);

// The entries of `folder` that share the short alias prefix `prefix` (the first six characters
// of a name holding a blank, compared without regard to letter case), in alias order: by name
// with ASCII letters lower-cased, then by the name's bytes. The first is "~1", the second "~2".
// A folder that cannot be read has none.
std::vector<std::string> ShortAliasSiblings(const std::filesystem::path& folder,
                                            std::string_view prefix);

// The Windows form of a POSIX path; a relative path is made absolute first.
std::string ToWindows(const std::filesystem::path& posixPath);

// Why the Windows-form path cannot stand in a line of a command file, or "" when it can: a
// control character (a line break would start a new command), '"', a character Windows does not
// allow in names (< > | ? *, ':' other than after the drive letter), or one the command shell
// acts on outside quotes (% ^ &).
std::string UnsafeInCommandFile(std::string_view windowsPath);

// Which form a path a user gave is in: Windows form ("Z:\data\x.mdb", "data\x.mdb") or POSIX.
bool IsWindowsForm(std::string_view path);
// The Windows form the pages show; a relative POSIX path is made absolute first, "" stays "".
std::string WindowsFormOf(const std::string& path);
// The POSIX form of a path in either form; throws platform::Error for a Windows-form path that
// does not resolve.
std::filesystem::path PosixPathOf(const std::string& path);
// The same, for a path that may not exist yet: one that does not resolve gets the form drive Z:
// maps to, or "" on another drive.
std::string PosixFormOrMapped(const std::string& path);

// The log file the Norvane tools write beside a database file (path in either form): the file's
// name without its last two characters, then "log" (Sales.db, Sales.log); a name of two
// characters or fewer keeps itself and gets ".log".
std::string DatabaseLogPathOf(std::string_view databasePath);

}  // namespace platform::paths
