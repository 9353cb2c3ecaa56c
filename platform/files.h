// File operations on Windows-form paths (see platform/paths.h for how they reach the disk).
//
// Owns: test for a file, delete, clear attributes, write a text file whole, current directory.
// Failures: throws platform::Error. A file that does not exist is err::kFileNotFound (53); a
// missing folder is err::kPathNotFound; anything else that stops the operation is
// err::kPathFileAccess with the system's own reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::files {

// True when the path names an existing entry that is not a folder. Never throws.
bool FileExists(std::string_view windowsPath);

void DeleteFile(std::string_view windowsPath);

// Makes the file a plain, writable file again.
void ClearAttributes(std::string_view windowsPath);

// Writes every line followed by CR LF, as the bytes of the strings (no conversion), replacing
// an existing file. The new content replaces the old in one step: a reader never sees half a file.
void WriteTextLines(std::string_view windowsPath, const std::vector<std::string>& lines);

// The current directory in Windows form.
std::string CurrentDirectory();

}  // namespace platform::files
