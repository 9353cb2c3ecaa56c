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

void WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw errno;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool FileExists(std::string_view windowsPath) {
  try {
    struct stat st {};
    return ::stat(paths::ToPosix(windowsPath).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
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
  if (::stat(p.c_str(), &st) != 0) ThrowErrno(errno, windowsPath, "Cannot read attributes of");
  const mode_t plain =
      (st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID | S_ISVTX)) | S_IRUSR | S_IWUSR;
  if (::chmod(p.c_str(), plain) != 0) ThrowErrno(errno, windowsPath, "Cannot clear attributes of");
}

void WriteTextLines(std::string_view windowsPath, const std::vector<std::string>& lines) {
  const fs::path target = paths::ToPosix(windowsPath);
  std::string data;
  for (const auto& line : lines) {
    data += line;
    data += "\r\n";
  }
  // A hidden temporary file beside the target: ".<name>.XXXXXX".
  std::string temp = target.parent_path().string();
  temp += "/.";
  temp += target.filename().string();
  temp += ".XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) ThrowErrno(errno, windowsPath, "Cannot create");
  try {
    WriteAll(fd.get(), data);
    if (::fchmod(fd.get(), 0644) != 0) throw errno;
    if (::close(fd.release()) != 0) throw errno;
    if (::rename(temp.c_str(), target.c_str()) != 0) throw errno;
  } catch (int code) {
    ::unlink(temp.c_str());
    ThrowErrno(code, windowsPath, "Cannot write");
  }
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
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
