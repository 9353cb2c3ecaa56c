// Reading an Access file in a child process.
//
// Owns: the child process that runs libmdb and the pipe its results come through. libmdb reads
// damaged files without bounds on some paths (it can loop, exhaust memory or crash), so no
// libmdb call happens in our own process: the child reads and sends plain values, the parent
// decodes them. A child that crashes or stops sending for longer than the time limit is killed.
// Failures: the parent's reads throw platform::Error kUnrecognizedFormat ("... is damaged ...")
// when the child died, timed out or sent a malformed stream; an error the child reports itself
// arrives with its own number and text.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::access {

// Buffered writer on the child's side of the pipe.
class WireWriter {
 public:
  // With fd -1 everything stays in memory (see Buffered()); with kDiscard nothing is kept.
  static constexpr int kDiscard = -2;
  explicit WireWriter(int fd) : fd_(fd) {}
  std::string_view Buffered() const { return {buffer_.data(), used_}; }
  void Clear() { used_ = 0; }
  void U8(std::uint8_t v) { Raw(&v, 1); }
  void U32(std::uint32_t v);
  void I64(std::int64_t v);
  void Bytes(const void* data, std::size_t size);  // length, then the bytes
  void String(const std::string& s) { Bytes(s.data(), s.size()); }
  void Raw(const void* data, std::size_t size) {
    if (fd_ >= 0 && !inRow_ && used_ + size > kBufferBytes) return Spill(data, size);
    if (fd_ == kDiscard) return;
    if (buffer_.size() - used_ < size) buffer_.resize(std::max(2 * buffer_.size(), used_ + size));
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
  }
  void Flush();
  // What is written between BeginRow and EndRow reaches the pipe only whole; DropRow takes it
  // back.
  void BeginRow() {
    rowStart_ = used_;
    inRow_ = true;
  }
  void EndRow();
  void DropRow() {
    used_ = rowStart_;
    inRow_ = false;
  }

 private:
  static constexpr std::size_t kBufferBytes = 1 << 16;
  void Spill(const void* data, std::size_t size);  // flushes, then writes or keeps `data`

  int fd_;
  std::vector<char> buffer_;  // the first used_ bytes hold data
  std::size_t used_ = 0;
  std::size_t rowStart_ = 0;
  bool inRow_ = false;
};

// The parent's side: a running child and the stream it sends.
class IsolatedReader {
 public:
  // Starts `work` in a child process; it writes its results through the writer. `what` names
  // the file in error texts; `timeout` bounds the wait for each piece of data.
  IsolatedReader(std::string what, std::chrono::milliseconds timeout,
                 const std::function<void(WireWriter&)>& work);
  IsolatedReader(const IsolatedReader&) = delete;
  IsolatedReader& operator=(const IsolatedReader&) = delete;
  ~IsolatedReader();

  std::uint8_t U8();
  std::uint32_t U32();
  std::int64_t I64();
  std::string String();
  // Reads a length-prefixed value into `out` (replacing its content); returns its size.
  std::size_t BytesInto(std::vector<char>& out);
  void Raw(void* data, std::size_t size);
  // Waits for the child to end; throws when it did not end cleanly.
  void Finish();

 private:
  [[noreturn]] void Fail(const std::string& why);
  void Fill();

  std::string what_;
  std::chrono::milliseconds timeout_;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

// Limit on one value sent by the child (memo, OLE object), so a damaged length cannot make the
// parent allocate without bound.
inline constexpr std::uint32_t kMaxValueBytes = 1u << 30;

// Frame tags of the stream.
inline constexpr std::uint8_t kTagRow = 'R';
inline constexpr std::uint8_t kTagEnd = 'Z';
inline constexpr std::uint8_t kTagError = 'E';

}  // namespace platform::access
