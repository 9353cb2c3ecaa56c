// File operations on Windows-form paths (see platform/paths.h for how they reach the disk).
//
// Owns: test for a file, delete, clear attributes, write a text file whole, write a text file
// line by line (LineFileWriter, which owns its open file), current directory.
// Failures: throws platform::Error. A file that does not exist is err::kFileNotFound (53); a
// missing folder is err::kPathNotFound; anything else that stops the operation is
// err::kPathFileAccess with the system's own reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::files {

// True when the path names an existing entry that is not a folder; a symbolic link counts as
// itself, whatever it points at. Never throws.
bool FileExists(std::string_view windowsPath);

void DeleteFile(std::string_view windowsPath);

// Makes the file a plain, writable file again. A symbolic link, or a file that has other names
// too, is left as it is: its mode belongs to a file elsewhere.
void ClearAttributes(std::string_view windowsPath);

// Writes every line followed by CR LF, as the bytes of the strings (no conversion), replacing
// an existing file. The new content replaces the old in one step: a reader never sees half a file.
void WriteTextLines(std::string_view windowsPath, const std::vector<std::string>& lines);

// Safe, durable replacement of a file given by its POSIX path: the content goes to a new file of
// an unpredictable name in the same folder (created with O_EXCL, never through a link), is flushed
// to disk, and is renamed over `posixPath` (a symbolic link standing there is replaced, never
// followed); the folder is flushed too. A reader sees the old file or the new one, never half.
// Throws err::kPathFileAccess naming `shownPath` with the system's reason; nothing is left behind.
void ReplaceDurably(const std::string& posixPath, std::string_view data,
                    const std::string& shownPath);
// The same with the bytes of the file `fromPosix` (read, not moved).
void ReplaceDurablyWithCopyOf(const std::string& posixPath, const std::string& fromPosix,
                              const std::string& shownPath);
// Flushes the folder of `posixPath` to disk (after a rename or an unlink in it).
void SyncFolderOf(const std::string& posixPath, const std::string& shownPath);
// Flushes the file `posixPath` (whatever any process wrote to it) and its folder to disk.
void SyncFileAndFolder(const std::string& posixPath, const std::string& shownPath);
// Starts writing what was written to the file `posixPath` to disk and returns without waiting:
// a later SyncFileAndFolder finds little left to write. Failures are left to that call to report.
void StartWriteBack(const std::string& posixPath) noexcept;

// The current directory in Windows form.
std::string CurrentDirectory();

// A text file opened for output and written one line at a time, each line followed by CR LF,
// as the bytes of the strings. Open deletes what stands under the name (a file, or a link, which
// is never followed) and creates a new file, refused when one appears in between; the file is
// closed by Close or at the latest by the destructor.
// WriteLine or Close on a writer that is not open throws err::kBadFileName; Open on one that is
// open throws err::kFileAlreadyOpen; a failing write is err::kPathFileAccess.
class LineFileWriter {
 public:
  LineFileWriter() = default;
  LineFileWriter(const LineFileWriter&) = delete;
  LineFileWriter& operator=(const LineFileWriter&) = delete;
  ~LineFileWriter();

  void Open(std::string_view windowsPath);
  void WriteLine(std::string_view line);
  // Throws when the last bytes cannot be written; the file is closed in any case.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform::files
