#include "platform/key_sort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {
namespace {

// A run's entry on file: key size (4 bytes), number (8 bytes), the key.
constexpr std::size_t kHeader = sizeof(std::uint32_t) + sizeof(std::uint64_t);
constexpr std::size_t kSmallestBuffer = 4096;
constexpr std::size_t kLargestBuffer = 1 << 20;
constexpr std::size_t kWriteChunk = 64 << 10;

[[noreturn]] void FileFailed(const char* what) {
  const int code = errno;
  throw Error(err::kPathFileAccess,
              std::string("The temporary file for sorting keys could not be ") + what + ": " +
                  (code ? std::strerror(code) : "unknown"));
}

bool Less(std::string_view a, std::uint64_t an, std::string_view b, std::uint64_t bn) {
  const int order = a.compare(b);
  return order < 0 || (order == 0 && an < bn);
}

}  // namespace

// One sorted run on file, read through a buffer of its own.
class KeySorter::Run {
 public:
  Run(std::uint64_t begin, std::uint64_t end) : offset_(begin), end_(end) {}
  // Entries written right after the run's own that continue its order.
  void Extend(std::uint64_t end) { end_ = end; }

  // Loads the run's next entry into `current`; false at its end.
  bool Advance(std::FILE* file, std::size_t bufferSize) {
    if (!Have(file, kHeader, bufferSize)) return false;
    std::uint32_t size;
    std::memcpy(&size, buffer_.data() + at_, sizeof size);
    std::memcpy(&current.number, buffer_.data() + at_ + sizeof size, sizeof current.number);
    if (!Have(file, kHeader + size, bufferSize)) FileFailed("read back (it is short)");
    current.key.assign(buffer_.data() + at_ + kHeader, size);
    at_ += kHeader + size;
    return true;
  }

  Entry current;

 private:
  // Makes `bytes` bytes from at_ on available in the buffer; false when the run has ended.
  bool Have(std::FILE* file, std::size_t bytes, std::size_t bufferSize) {
    if (buffer_.size() - at_ >= bytes) return true;
    buffer_.erase(0, at_);
    at_ = 0;
    const std::uint64_t left = end_ - offset_;
    if (left == 0) return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, std::max(bufferSize, bytes)));
    const std::size_t kept = buffer_.size();
    buffer_.resize(kept + want);
    if (fseeko(file, static_cast<off_t>(offset_), SEEK_SET) != 0 ||
        std::fread(buffer_.data() + kept, 1, want, file) != want)
      FileFailed("read back");
    offset_ += want;
    return buffer_.size() >= bytes;
  }

  std::uint64_t offset_;
  std::uint64_t end_;
  std::string buffer_;
  std::size_t at_ = 0;
};

KeySorter::KeySorter(std::size_t memoryBytes)
    : memoryBytes_(memoryBytes), file_(nullptr, &std::fclose) {}

KeySorter::~KeySorter() = default;

void KeySorter::Add(std::string_view key, std::uint64_t number) {
  if (keys_.capacity() == 0) {
    keys_.reserve(memoryBytes_ / 4);
    items_.reserve(memoryBytes_ / (sizeof(Item) + 8));
  }
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i)
    head = head << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  items_.push_back({head, number, keys_.size(), static_cast<std::uint32_t>(key.size())});
  keys_.append(key);
  if (keys_.size() + items_.size() * sizeof(Item) > memoryBytes_) Spill();
}

void KeySorter::SortBatch() {
  // Heads that differ order their keys as the bytes do; equal heads need the whole keys.
  const auto before = [this](const Item& a, const Item& b) {
    if (a.head != b.head) return a.head < b.head;
    return Less(KeyOf(a), a.number, KeyOf(b), b.number);
  };
  if (!std::is_sorted(items_.begin(), items_.end(), before))
    std::sort(items_.begin(), items_.end(), before);
}

void KeySorter::Spill() {
  if (!file_) {
    errno = 0;
    file_.reset(std::tmpfile());
    if (!file_) FileFailed("made");
  }
  SortBatch();
  // A batch that starts at or after the end of the last run continues it (keys added in order
  // make a single run, read back without merging).
  const bool continues = !runs_.empty() && !items_.empty() &&
                         !Less(KeyOf(items_.front()), items_.front().number, lastKey_, lastNumber_);
  if (fseeko(file_.get(), static_cast<off_t>(fileSize_), SEEK_SET) != 0) FileFailed("written");
  const std::uint64_t begin = fileSize_;
  // Through a small buffer of its own: one write call per 64 KiB, not two per key.
  std::string chunk;
  chunk.reserve(kWriteChunk);
  const auto write = [&] {
    if (std::fwrite(chunk.data(), 1, chunk.size(), file_.get()) != chunk.size())
      FileFailed("written");
    fileSize_ += chunk.size();
    chunk.clear();
  };
  for (const Item& item : items_) {
    if (chunk.size() + kHeader + item.size > kWriteChunk) write();
    char header[kHeader];
    std::memcpy(header, &item.size, sizeof item.size);
    std::memcpy(header + sizeof item.size, &item.number, sizeof item.number);
    chunk.append(header, kHeader);
    chunk.append(keys_, item.offset, item.size);
  }
  write();
  if (std::fflush(file_.get()) != 0) FileFailed("written");
  if (continues)
    runs_.back()->Extend(fileSize_);
  else
    runs_.push_back(std::make_unique<Run>(begin, fileSize_));
  if (!items_.empty()) {
    lastKey_.assign(KeyOf(items_.back()));
    lastNumber_ = items_.back().number;
  }
  keys_.clear();
  items_.clear();
}

namespace {
// Orders a heap of runs so that the one with the smallest entry comes first.
struct LaterRun {
  template <typename R>
  bool operator()(const R* a, const R* b) const {
    return Less(b->current.key, b->current.number, a->current.key, a->current.number);
  }
};
}  // namespace

void KeySorter::Finish() {
  if (finished_) return;
  finished_ = true;
  if (runs_.empty()) {
    SortBatch();
    return;
  }
  if (!items_.empty()) Spill();
  keys_ = std::string();
  items_ = std::vector<Item>();
}

void KeySorter::Release() {
  if (!finished_ && !items_.empty()) Spill();
  Finish();
}

bool KeySorter::Next(Entry& entry) {
  Finish();
  if (runs_.empty()) {
    if (next_ == items_.size()) return false;
    const Item& item = items_[next_++];
    entry.key.assign(KeyOf(item));
    entry.number = item.number;
    return true;
  }
  const std::size_t buffer =
      std::clamp(memoryBytes_ / runs_.size(), kSmallestBuffer, kLargestBuffer);
  if (!merging_) {  // the runs' buffers are filled only once reading starts
    merging_ = true;
    for (const auto& run : runs_)
      if (run->Advance(file_.get(), buffer)) heap_.push_back(run.get());
    std::make_heap(heap_.begin(), heap_.end(), LaterRun{});
  }
  if (heap_.empty()) return false;
  std::pop_heap(heap_.begin(), heap_.end(), LaterRun{});
  Run* run = heap_.back();
  std::swap(entry, run->current);
  if (run->Advance(file_.get(), buffer))
    std::push_heap(heap_.begin(), heap_.end(), LaterRun{});
  else
    heap_.pop_back();
  return true;
}

}  // namespace platform
