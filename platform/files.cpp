#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform::files {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void ThrowErrno(int code, std::string_view windowsPath, const char* what) {
  if (code == ENOENT)
    throw Error(err::kFileNotFound, "File not found: " + std::string(windowsPath));
  throw Error(err::kPathFileAccess,
              std::string(what) + " " + std::string(windowsPath) + ": " + std::strerror(code));
}

// Closes a file descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

void WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw(n == 0 || errno == 0) ? ENOSPC : errno;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool FileExists(std::string_view windowsPath) {
  try {
    struct stat st {};
    return ::lstat(paths::ToPosix(windowsPath).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  } catch (const Error&) {
    return false;
  }
}

void DeleteFile(std::string_view windowsPath) {
  const fs::path p = paths::ToPosix(windowsPath);
  if (::unlink(p.c_str()) != 0) ThrowErrno(errno, windowsPath, "Cannot delete");
}

void ClearAttributes(std::string_view windowsPath) {
  const fs::path p = paths::ToPosix(windowsPath);
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) ThrowErrno(errno, windowsPath, "Cannot read attributes of");
  // A link's mode is its target's, or that of a file under another name too: not ours to change.
  if (S_ISLNK(st.st_mode) || st.st_nlink > 1) return;
  const mode_t plain =
      (st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID | S_ISVTX)) | S_IRUSR | S_IWUSR;
  if (::chmod(p.c_str(), plain) != 0) ThrowErrno(errno, windowsPath, "Cannot clear attributes of");
}

namespace {

// A new file beside `posixPath` that nobody can have planted: ".<name>.XXXXXX", O_EXCL.
std::string MakeTempBeside(const std::string& posixPath, int& fd) {
  const fs::path target(posixPath);
  std::string temp = target.parent_path().string();
  if (temp.empty()) temp = ".";
  temp += "/.";
  temp += target.filename().string();
  temp += ".XXXXXX";
  fd = ::mkostemp(temp.data(), O_CLOEXEC);
  return temp;
}

[[noreturn]] void ThrowCode(int code, const std::string& shownPath, const char* what) {
  // A short write reports no errno of its own: a full disk is the usual cause.
  if (code == 0) code = ENOSPC;
  throw Error(err::kPathFileAccess,
              std::string(what) + " " + shownPath + ": " + std::strerror(code));
}

// Fills a new file beside `posixPath` and renames it over the path; `durable` flushes the file
// first and the folder after. A failure removes the new file and goes to `fail(code, what)`.
template <class Fill, class Fail>
void ReplaceWith(const std::string& posixPath, bool durable, Fill fill, Fail fail) {
  int raw = -1;
  const std::string temp = MakeTempBeside(posixPath, raw);
  if (raw < 0) fail(errno, "Cannot create");
  Fd fd(raw);
  try {
    fill(fd.get());
    if (durable && ::fsync(fd.get()) != 0) throw errno;
    if (::close(fd.release()) != 0) throw errno;
    if (::rename(temp.c_str(), posixPath.c_str()) != 0) throw errno;
  } catch (int code) {
    ::unlink(temp.c_str());
    fail(code, "Cannot write");
  }
}

}  // namespace

void WriteTextLines(std::string_view windowsPath, const std::vector<std::string>& lines) {
  std::string data;
  for (const auto& line : lines) {
    data += line;
    data += "\r\n";
  }
  ReplaceWith(
      paths::ToPosix(windowsPath).string(), false,
      [&](int fd) {
        WriteAll(fd, data);
        if (::fchmod(fd, 0644) != 0) throw errno;
      },
      [&](int code, const char* what) { ThrowErrno(code, windowsPath, what); });
}

void SyncFolderOf(const std::string& posixPath, const std::string& shownPath) {
  std::string dir = fs::path(posixPath).parent_path().string();
  if (dir.empty()) dir = ".";
  Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.get() < 0 || ::fsync(d.get()) != 0)
    ThrowCode(errno, shownPath, "Cannot flush the folder of");
}

void SyncFileAndFolder(const std::string& posixPath, const std::string& shownPath) {
  Fd f(::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.get() < 0 || ::fsync(f.get()) != 0) ThrowCode(errno, shownPath, "Cannot flush");
  SyncFolderOf(posixPath, shownPath);
}

void StartWriteBack(const std::string& posixPath) noexcept {
  Fd f(::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.get() >= 0) ::sync_file_range(f.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void ReplaceDurably(const std::string& posixPath, std::string_view data,
                    const std::string& shownPath) {
  ReplaceWith(
      posixPath, true,
      [&](int fd) {
        if (::fchmod(fd, 0644) != 0) throw errno;
        WriteAll(fd, data);
      },
      [&](int code, const char* what) { ThrowCode(code, shownPath, what); });
  SyncFolderOf(posixPath, shownPath);
}

void ReplaceDurablyWithCopyOf(const std::string& posixPath, const std::string& fromPosix,
                              const std::string& shownPath) {
  Fd from(::open(fromPosix.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (from.get() < 0) ThrowCode(errno, fromPosix, "Cannot read");
  struct stat st {};
  if (::fstat(from.get(), &st) != 0) ThrowCode(errno, fromPosix, "Cannot read");
  ReplaceWith(
      posixPath, true,
      [&](int fd) {
        if (::fchmod(fd, st.st_mode & 0777) != 0) throw errno;
        std::string buffer(1 << 16, '\0');
        for (;;) {
          const ssize_t n = ::read(from.get(), buffer.data(), buffer.size());
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) throw errno;
          if (n == 0) break;
          WriteAll(fd, std::string_view(buffer).substr(0, static_cast<std::size_t>(n)));
        }
      },
      [&](int code, const char* what) { ThrowCode(code, shownPath, what); });
  SyncFolderOf(posixPath, shownPath);
}

std::string CurrentDirectory() {
  return paths::ToWindows(fs::current_path());
}

LineFileWriter::~LineFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void LineFileWriter::Open(std::string_view windowsPath) {
  if (fd_ >= 0) throw Error(err::kFileAlreadyOpen, "File already open: " + path_);
  const fs::path p = paths::ToPosix(windowsPath);
  // The old file goes first, whatever it is: a link planted under the name is removed, never
  // followed, and a file that appears in between is refused rather than written into.
  if (::unlink(p.c_str()) != 0 && errno != ENOENT) ThrowErrno(errno, windowsPath, "Cannot replace");
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) ThrowErrno(errno, windowsPath, "Cannot create");
  fd_ = fd;
  path_ = windowsPath;
}

void LineFileWriter::WriteLine(std::string_view line) {
  if (fd_ < 0) throw Error(err::kBadFileName, "Bad file name or number: the file is not open");
  std::string data(line);
  data += "\r\n";
  try {
    WriteAll(fd_, data);
  } catch (int code) {
    ThrowErrno(code, path_, "Cannot write");
  }
}

void LineFileWriter::Close() {
  if (fd_ < 0) throw Error(err::kBadFileName, "Bad file name or number: the file is not open");
  if (::close(std::exchange(fd_, -1)) != 0) ThrowErrno(errno, path_, "Cannot write");
}

}  // namespace platform::files
