#include "platform/jetwriter/page_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {
namespace {

int killBeforeWrite = 0;
int pageWrites = 0;

void CountPageWrite() {
  ++pageWrites;
  if (killBeforeWrite > 0 && pageWrites >= killBeforeWrite) raise(SIGKILL);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw platform::Error(platform::err::kPathFileAccess,
                        what + " '" + path + "': " + std::strerror(errno));
}

// Closes a descriptor on every path out of a scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t at,
              const std::string& path) {
  while (size > 0) {
    ssize_t n = pwrite(fd, data, size, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write", path);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pread(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

void SyncDirOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  if (dir.empty()) dir = ".";
  Fd d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.fd >= 0) fsync(d.fd);
}

constexpr char kMagic[8] = {'N', 'V', 'J', 'R', 'N', 'L', '0', '1'};

std::uint64_t Fnv(const Bytes& b, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  return h;
}

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint64_t Get(const Bytes& b, std::size_t at, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
  return v;
}

}  // namespace

void SetKillBeforePageWrite(int n) {
  killBeforeWrite = n;
  pageWrites = 0;
}

PageFile::PageFile(const std::string& path, LockMode mode) : path_(path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    throw platform::Error(dao::err::kFileNotFound, "Could not find file '" + path + "'.");
  }
  Recover(path);
  fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) Fail("Cannot open", path);
  if (mode == LockMode::kExclusive) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
      close(fd_);
      fd_ = -1;
      throw platform::Error(dao::err::kCouldNotLock, "The file '" + path + "' is already in use.");
    }
  }
  if (fstat(fd_, &st) != 0) Fail("Cannot read", path);
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
}

PageFile::~PageFile() {
  if (fd_ >= 0) close(fd_);
}

void PageFile::SetPageSize(int pageSize) {
  pageSize_ = pageSize;
  if (fileSize_ % static_cast<std::uint64_t>(pageSize) != 0 ||
      fileSize_ < 4 * static_cast<std::uint64_t>(pageSize)) {
    throw platform::Error(dao::err::kUnrecognizedFormat,
                          "The file '" + path_ + "' is not a whole number of pages.");
  }
}

std::uint32_t PageFile::PageCount() const {
  return static_cast<std::uint32_t>(fileSize_ / static_cast<std::uint64_t>(pageSize_)) + allocated_;
}

Bytes PageFile::Read(std::uint32_t page) const {
  auto it = staged_.find(page);
  if (it != staged_.end()) return it->second;
  if (page >= PageCount()) {
    throw platform::Error(dao::err::kUnrecognizedFormat,
                          "Page " + std::to_string(page) + " lies beyond the end of the file.");
  }
  Bytes image(static_cast<std::size_t>(pageSize_), 0);
  if (page * static_cast<std::uint64_t>(pageSize_) >= fileSize_) return image;
  if (!ReadAll(fd_, image.data(), image.size(), static_cast<off_t>(page) * pageSize_)) {
    Fail("Cannot read", path_);
  }
  return image;
}

void PageFile::Write(std::uint32_t page, Bytes image) {
  if (image.size() != static_cast<std::size_t>(pageSize_) || page >= PageCount()) {
    throw platform::Error(platform::err::kInternal, "Bad page write");
  }
  staged_[page] = std::move(image);
}

std::uint32_t PageFile::Allocate() {
  std::uint32_t page = PageCount();
  ++allocated_;
  staged_[page] = Bytes(static_cast<std::size_t>(pageSize_), 0);
  return page;
}

void PageFile::Discard() {
  staged_.clear();
  allocated_ = 0;
}

void PageFile::MakeBackup() {
  std::string tmp = path_ + ".bak-tmp-" + std::to_string(getpid());
  {
    Fd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.fd < 0) Fail("Cannot create the backup", tmp);
    Bytes buf(1 << 16);
    off_t at = 0;
    for (;;) {
      ssize_t n = pread(fd_, buf.data(), buf.size(), at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("Cannot read", path_);
      if (n == 0) break;
      WriteAll(out.fd, buf.data(), static_cast<std::size_t>(n), at, tmp);
      at += n;
    }
    if (fsync(out.fd) != 0) Fail("Cannot write the backup", tmp);
  }
  for (int i = 1; i < 1000; ++i) {
    std::string name = path_ + ".bak" + (i == 1 ? std::string() : std::to_string(i));
    if (link(tmp.c_str(), name.c_str()) == 0) {
      unlink(tmp.c_str());
      SyncDirOf(path_);
      backupPath_ = name;
      return;
    }
    if (errno != EEXIST) {
      unlink(tmp.c_str());
      Fail("Cannot create the backup", name);
    }
  }
  unlink(tmp.c_str());
  throw platform::Error(platform::err::kPathFileAccess,
                        "Too many backup copies beside '" + path_ + "'.");
}

void PageFile::WritePageAt(std::uint32_t page, const Bytes& image) {
  CountPageWrite();
  WriteAll(fd_, image.data(), image.size(), static_cast<off_t>(page) * pageSize_, path_);
}

void PageFile::Commit() {
  if (staged_.empty()) return;
  if (backupPath_.empty()) MakeBackup();
  pageWrites = 0;

  // Journal: magic, page size, original size, count, then (page, original image)..., checksum.
  std::uint32_t oldPages = static_cast<std::uint32_t>(fileSize_ / pageSize_);
  Bytes header(kMagic, kMagic + 8);
  Put32(header, static_cast<std::uint32_t>(pageSize_));
  Put64(header, fileSize_);
  std::uint32_t count = 0;
  for (auto& [page, image] : staged_) count += page < oldPages ? 1 : 0;
  Put32(header, count);
  std::string jpath = JournalPath(path_);
  {
    Fd j(open(jpath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (j.fd < 0) Fail("Cannot create the journal", jpath);
    Bytes all = header;
    WriteAll(j.fd, header.data(), header.size(), 0, jpath);
    off_t at = static_cast<off_t>(header.size());
    for (auto& [page, image] : staged_) {
      if (page >= oldPages) continue;
      Bytes entry;
      Put32(entry, page);
      Bytes original(static_cast<std::size_t>(pageSize_), 0);
      if (!ReadAll(fd_, original.data(), original.size(), static_cast<off_t>(page) * pageSize_)) {
        Fail("Cannot read", path_);
      }
      entry.insert(entry.end(), original.begin(), original.end());
      CountPageWrite();
      WriteAll(j.fd, entry.data(), entry.size(), at, jpath);
      at += static_cast<off_t>(entry.size());
      all.insert(all.end(), entry.begin(), entry.end());
    }
    Bytes sum;
    Put64(sum, Fnv(all, all.size()));
    WriteAll(j.fd, sum.data(), sum.size(), at, jpath);
    if (fsync(j.fd) != 0) Fail("Cannot write the journal", jpath);
  }
  SyncDirOf(path_);

  try {
    for (auto& [page, image] : staged_) WritePageAt(page, image);
    if (fsync(fd_) != 0) Fail("Cannot write", path_);
  } catch (...) {
    // Put the original pages back at once, so this object goes on reading a whole file.
    Discard();
    try {
      Recover(path_);
    } catch (...) {
    }
    throw;
  }
  if (unlink(jpath.c_str()) != 0) Fail("Cannot remove the journal", jpath);
  SyncDirOf(path_);
  fileSize_ += static_cast<std::uint64_t>(allocated_) * pageSize_;
  Discard();
}

bool PageFile::Recover(const std::string& path) {
  std::string jpath = JournalPath(path);
  Fd j(open(jpath.c_str(), O_RDONLY | O_CLOEXEC));
  if (j.fd < 0) return false;
  struct stat st {};
  if (fstat(j.fd, &st) != 0) Fail("Cannot read the journal", jpath);
  Bytes all(static_cast<std::size_t>(st.st_size));
  bool complete = ReadAll(j.fd, all.data(), all.size(), 0) && all.size() >= 32 &&
                  std::memcmp(all.data(), kMagic, 8) == 0;
  std::uint32_t pageSize = 0;
  std::uint64_t origSize = 0;
  std::uint32_t count = 0;
  if (complete) {
    pageSize = static_cast<std::uint32_t>(Get(all, 8, 4));
    origSize = Get(all, 12, 8);
    count = static_cast<std::uint32_t>(Get(all, 20, 4));
    complete = (pageSize == 2048 || pageSize == 4096) &&
               all.size() == 24 + static_cast<std::uint64_t>(count) * (4 + pageSize) + 8 &&
               Get(all, all.size() - 8, 8) == Fnv(all, all.size() - 8);
  }
  if (complete) {
    // The change may have reached the file: put every original page back.
    Fd f(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (f.fd < 0) Fail("Cannot open", path);
    std::size_t at = 24;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t page = static_cast<std::uint32_t>(Get(all, at, 4));
      WriteAll(f.fd, all.data() + at + 4, pageSize, static_cast<off_t>(page) * pageSize, path);
      at += 4 + pageSize;
    }
    if (ftruncate(f.fd, static_cast<off_t>(origSize)) != 0) Fail("Cannot restore", path);
    if (fsync(f.fd) != 0) Fail("Cannot restore", path);
  }
  // An incomplete journal means the file was not touched yet.
  if (unlink(jpath.c_str()) != 0) Fail("Cannot remove the journal", jpath);
  SyncDirOf(path);
  return complete;
}

}  // namespace jetwriter
