#include "platform/access/isolated_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace platform::access {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      _exit(3);  // the parent went away
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void WireWriter::Spill(const void* data, std::size_t size) {
  Flush();
  if (size >= kBufferBytes) return WriteAll(fd_, static_cast<const char*>(data), size);
  Raw(data, size);
}

void WireWriter::EndRow() {
  inRow_ = false;
  if (fd_ >= 0 && used_ >= kBufferBytes) Flush();
}

void WireWriter::U32(std::uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  Raw(b, 4);
}

void WireWriter::I64(std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  U32(static_cast<std::uint32_t>(u));
  U32(static_cast<std::uint32_t>(u >> 32));
}

void WireWriter::Bytes(const void* data, std::size_t size) {
  U32(static_cast<std::uint32_t>(size));
  Raw(data, size);
}

void WireWriter::Flush() {
  if (fd_ < 0) return;
  WriteAll(fd_, buffer_.data(), used_);
  used_ = 0;
}

IsolatedReader::IsolatedReader(std::string what, std::chrono::milliseconds timeout,
                               const std::function<void(WireWriter&)>& work)
    : what_(std::move(what)), timeout_(timeout), buffer_(kBufferSize) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw Error(err::kInternal, std::string("Cannot start the Access reader: ") + strerror(errno));
  pid_ = fork();
  if (pid_ < 0) {
    const int e = errno;
    close(fds[0]);
    close(fds[1]);
    throw Error(err::kInternal, std::string("Cannot start the Access reader: ") + strerror(e));
  }
  if (pid_ == 0) {
    close(fds[0]);
    // libmdb writes warnings about damaged data to the console; the parent reports errors.
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
    }
    WireWriter writer(fds[1]);
    try {
      work(writer);
      writer.U8(kTagEnd);
    } catch (const Error& e) {
      writer.U8(kTagError);
      writer.U32(static_cast<std::uint32_t>(e.Number()));
      writer.String(e.Description());
    } catch (const std::exception& e) {
      writer.U8(kTagError);
      writer.U32(static_cast<std::uint32_t>(dao::err::kUnrecognizedFormat));
      writer.String(e.what());
    }
    writer.Flush();
    _exit(0);
  }
  close(fds[1]);
  fd_ = fds[0];
}

IsolatedReader::~IsolatedReader() {
  if (fd_ >= 0) close(fd_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void IsolatedReader::Fail(const std::string& why) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  std::string detail = why;
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (why.empty() && WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
      detail = "the reader stopped with signal " + std::to_string(WTERMSIG(status));
  }
  if (detail.empty()) detail = "the data ends too early";
  throw Error(dao::err::kUnrecognizedFormat,
              "The database '" + what_ + "' is damaged and cannot be read (" + detail + ").");
}

void IsolatedReader::Fill() {
  if (fd_ < 0) Fail("");
  if (pos_ < end_) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
  }
  end_ -= pos_;
  pos_ = 0;
  while (true) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(timeout_.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0)
      Fail("reading did not finish within " + std::to_string(timeout_.count()) + " ms");
    const ssize_t n = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("");
    end_ += static_cast<std::size_t>(n);
    return;
  }
}

void IsolatedReader::Raw(void* data, std::size_t size) {
  char* out = static_cast<char*>(data);
  while (size > 0) {
    if (pos_ == end_) Fill();
    const std::size_t n = std::min(size, end_ - pos_);
    std::memcpy(out, buffer_.data() + pos_, n);
    pos_ += n;
    out += n;
    size -= n;
  }
}

std::uint8_t IsolatedReader::U8() {
  if (pos_ == end_) Fill();
  return static_cast<std::uint8_t>(buffer_[pos_++]);
}

std::uint32_t IsolatedReader::U32() {
  unsigned char b[4];
  if (end_ - pos_ >= 4) {
    std::memcpy(b, buffer_.data() + pos_, 4);
    pos_ += 4;
  } else {
    Raw(b, 4);
  }
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::int64_t IsolatedReader::I64() {
  const std::uint64_t low = U32();
  const std::uint64_t high = U32();
  return static_cast<std::int64_t>(low | high << 32);
}

std::size_t IsolatedReader::BytesInto(std::vector<char>& out) {
  const std::uint32_t size = U32();
  if (size > kMaxValueBytes) Fail("a value of " + std::to_string(size) + " bytes");
  out.resize(size);
  if (size > 0) Raw(out.data(), size);
  return size;
}

std::string IsolatedReader::String() {
  const std::uint32_t size = U32();
  if (size > kMaxValueBytes) Fail("a text of " + std::to_string(size) + " bytes");
  std::string s(size, '\0');
  if (size > 0) Raw(s.data(), size);
  return s;
}

void IsolatedReader::Finish() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

}  // namespace platform::access
