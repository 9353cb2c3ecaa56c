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

// The capacity a buffer of `size` and `capacity` has after `more` are added: it doubles.
std::size_t Grown(std::size_t size, std::size_t capacity, std::size_t more) {
  return size + more <= capacity ? capacity : std::max(2 * capacity, size + more);
}

void PutVarint(std::string& out, std::uint64_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
    return;
  }
  for (; value >= 0x80; value >>= 7) out += static_cast<char>((value & 0x7f) | 0x80);
  out += static_cast<char>(value);
}

// The last value of a packed key when it is a decimal number without leading zeros of at most
// 18 digits: where its length byte stands, and the number.
bool LastNumber(std::string_view key, std::size_t& at, std::uint64_t& value) {
  std::size_t pos = 0;
  while (true) {
    const std::size_t start = pos;
    std::uint64_t size = 0;
    for (int shift = 0;; shift += 7) {
      if (pos >= key.size() || shift > 56) return false;
      const auto byte = static_cast<unsigned char>(key[pos++]);
      size |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) break;
    }
    if (size > key.size() - pos) return false;
    if (pos + size < key.size()) {
      pos += size;
      continue;
    }
    if (pos != start + 1 || size == 0 || size > 18 || (key[pos] == '0' && size > 1)) return false;
    value = 0;
    for (; pos < key.size(); ++pos) {
      if (key[pos] < '0' || key[pos] > '9') return false;
      value = value * 10 + static_cast<std::uint64_t>(key[pos] - '0');
    }
    at = start;
    return true;
  }
}

// The key one above `key` in its last value, which LastNumber found at `at`.
void Increment(std::string& key, std::size_t at) {
  std::size_t digit = key.size();
  while (digit > at + 1 && key[digit - 1] == '9') key[--digit] = '0';
  if (digit > at + 1) {
    ++key[digit - 1];
    return;
  }
  key.insert(key.begin() + static_cast<std::ptrdiff_t>(at) + 1, '1');
  ++key[at];
}

}  // namespace

void PackKey(std::string& out, std::string_view value) {
  PutVarint(out, value.size());
  out.append(value);
}

std::vector<std::string> UnpackKey(std::string_view packed) {
  std::vector<std::string> values;
  std::size_t at = 0;
  while (at < packed.size()) {
    std::size_t size = 0;
    for (int shift = 0; at < packed.size(); shift += 7) {
      const auto byte = static_cast<unsigned char>(packed[at++]);
      size |= static_cast<std::size_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) break;
    }
    size = std::min(size, packed.size() - at);
    values.emplace_back(packed.substr(at, size));
    at += size;
  }
  return values;
}

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

  bool Byte(std::FILE* file, std::size_t bufferSize, unsigned char& byte) {
    if (!Have(file, 1, bufferSize)) return false;
    byte = static_cast<unsigned char>(buffer_[at_++]);
    return true;
  }
  void Append(std::FILE* file, std::size_t bufferSize, std::size_t bytes, std::string& out) {
    if (!Have(file, bytes, bufferSize)) FileFailed("read back (it is short)");
    out.append(buffer_, at_, bytes);
    at_ += bytes;
  }

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

// The spans on file: each key front-coded against the one before (bytes shared, the rest), then
// number, count and step, all as varints.
class KeySorter::SpanReader {
 public:
  explicit SpanReader(std::uint64_t end) : run_(0, end) {}
  bool Next(std::FILE* file, std::size_t bufferSize, Span& span, std::string& key) {
    std::uint64_t shared = 0;
    if (!Varint(file, bufferSize, shared, true)) return false;
    std::uint64_t rest = 0;
    Varint(file, bufferSize, rest, false);
    if (shared > key_.size() || rest > kMaxKey) FileFailed("read back (it is damaged)");
    key_.resize(shared);
    run_.Append(file, bufferSize, rest, key_);
    std::uint64_t step = 0;
    Varint(file, bufferSize, span.number, false);
    Varint(file, bufferSize, span.count, false);
    Varint(file, bufferSize, step, false);
    span.step = static_cast<std::uint32_t>(step);
    span.size = static_cast<std::uint32_t>(key_.size());
    key = key_;
    return true;
  }

 private:
  static constexpr std::uint64_t kMaxKey = std::uint64_t(1) << 32;
  bool Varint(std::FILE* file, std::size_t bufferSize, std::uint64_t& value, bool mayEnd) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      unsigned char byte = 0;
      if (!run_.Byte(file, bufferSize, byte)) {
        if (mayEnd && shift == 0) return false;
        FileFailed("read back (it is short)");
      }
      value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return true;
    }
    FileFailed("read back (it is damaged)");
  }

  Run run_;
  std::string key_;
};

KeySorter::KeySorter(std::size_t memoryBytes, bool spans)
    : memoryBytes_(memoryBytes), file_(nullptr, &std::fclose), ordered_(spans) {}

KeySorter::~KeySorter() = default;

void KeySorter::OpenFile() {
  if (file_) return;
  errno = 0;
  file_.reset(std::tmpfile());
  if (!file_) FileFailed("made");
}

void KeySorter::Add(std::string_view key, std::uint64_t number) {
  if (ordered_) {
    const int order = added_ ? key.compare(last_) : 1;
    repeats_ = order == 0;
    if (order > 0 || (order == 0 && number >= lastAdded_)) return AddInOrder(key, number);
    EndOrder();
  }
  AddSorting(key, number);
}

void KeySorter::AddInOrder(std::string_view key, std::uint64_t number) {
  std::size_t at = 0;
  std::uint64_t value = 0;
  const bool numeric = LastNumber(key, at, value);
  bool extended = false;
  if (!spans_.empty() && numeric && lastNumeric_ && at == lastAt_ && value == lastValue_ + 1 &&
      key.substr(0, at) == std::string_view(last_).substr(0, at)) {
    Span& span = spans_.back();
    if (span.count == 1 && (number == span.number || number == span.number + 1)) {
      span.step = static_cast<std::uint32_t>(number - span.number);
      extended = true;
    } else if (span.count > 1 && number == span.number + span.count * span.step) {
      extended = true;
    }
    if (extended) {
      if (span.count == 1) {
        span.at = static_cast<std::uint32_t>(lastAt_);
        span.value = lastValue_;
      }
      ++span.count;
    }
  }
  if (!extended) {
    if (!spans_.empty() && Grown(keys_.size(), keys_.capacity(), key.size()) +
                                   Grown(spans_.size(), spans_.capacity(), 1) * sizeof(Span) >
                               memoryBytes_)
      SpillSpans();
    spans_.push_back({number, 1, 0, keys_.size(), static_cast<std::uint32_t>(key.size()), 0, 0});
    keys_.append(key);
  }
  last_.assign(key);
  lastAdded_ = number;
  added_ = true;
  lastNumeric_ = numeric;
  lastAt_ = at;
  lastValue_ = value;
}

// Appends `chunk` to the file at its position and empties it; `written` counts its bytes.
void KeySorter::WriteChunk(std::string& chunk, std::uint64_t& written) {
  if (std::fwrite(chunk.data(), 1, chunk.size(), file_.get()) != chunk.size())
    FileFailed("written");
  written += chunk.size();
  chunk.clear();
}

void KeySorter::SpillSpans() {
  if (spans_.empty()) return;
  OpenFile();
  if (fseeko(file_.get(), static_cast<off_t>(spanBytes_), SEEK_SET) != 0) FileFailed("written");
  std::string chunk;
  chunk.reserve(kWriteChunk);
  const auto write = [&] { WriteChunk(chunk, spanBytes_); };
  for (const Span& span : spans_) {
    const std::string_view key = KeyOf(span);
    std::size_t shared = 0;
    while (shared < key.size() && shared < spilledKey_.size() && key[shared] == spilledKey_[shared])
      ++shared;
    if (chunk.size() + key.size() + 64 > kWriteChunk) write();
    PutVarint(chunk, shared);
    PutVarint(chunk, key.size() - shared);
    chunk.append(key.substr(shared));
    PutVarint(chunk, span.number);
    PutVarint(chunk, span.count);
    PutVarint(chunk, span.step);
    spilledKey_.assign(key);
  }
  write();
  if (std::fflush(file_.get()) != 0) FileFailed("written");
  fileSize_ = spanBytes_;
  spans_.clear();
  keys_.clear();
}

// The first entry out of order: every entry so far goes into the sorting path, in order.
void KeySorter::EndOrder() {
  ordered_ = false;
  const auto replay = [this](const Span& span, std::string key) {
    std::size_t at = 0;
    std::uint64_t value = 0;
    if (span.count > 1) LastNumber(key, at, value);
    for (std::uint64_t i = 0; i < span.count; ++i) {
      if (i > 0) Increment(key, at);
      AddSorting(key, span.number + i * span.step);
    }
  };
  // A few spans in memory are replayed from there, more from file, so that they and the batch
  // they fill never take more than the budget together.
  if (spanBytes_ == 0 && keys_.size() + spans_.size() * sizeof(Span) <= kSmallestBuffer) {
    const std::string keys = keys_;
    const std::vector<Span> spans = spans_;
    FreeMemory();
    for (const Span& span : spans) replay(span, keys.substr(span.offset, span.size));
    return;
  }
  SpillSpans();
  FreeMemory();
  SpanReader reader(spanBytes_);
  const std::size_t buffer = std::clamp(memoryBytes_ / 4, kSmallestBuffer, kLargestBuffer);
  Span span{};
  std::string key;
  while (reader.Next(file_.get(), buffer, span, key)) replay(span, key);
}

void KeySorter::FreeMemory() {
  keys_.clear();
  keys_.shrink_to_fit();  // assigning an empty string would keep the buffer
  items_ = std::vector<Item>();
  spans_ = std::vector<Span>();
}

bool KeySorter::Holds(std::string_view key) const {
  const auto after =
      std::upper_bound(spans_.begin(), spans_.end(), key,
                       [this](std::string_view k, const Span& span) { return k < KeyOf(span); });
  if (after == spans_.begin()) return false;
  const Span& span = *(after - 1);
  const std::string_view start = KeyOf(span);
  if (span.count == 1) return key == start;
  // The spans' keys differ from their start in the last value's digits at most.
  std::size_t at = 0;
  std::uint64_t value = 0;
  return LastNumber(key, at, value) && at == span.at && value >= span.value &&
         value - span.value < span.count && key.substr(0, at) == start.substr(0, at);
}

std::size_t KeySorter::MemoryUsed() const {
  const std::size_t keys = keys_.capacity() > std::string().capacity() ? keys_.capacity() : 0;
  return keys + items_.capacity() * sizeof(Item) + spans_.capacity() * sizeof(Span);
}

bool KeySorter::NextInOrder(Entry& entry) {
  while (member_ == reading_.count) {
    member_ = 0;
    if (!spanFileRead_ && spanBytes_ > 0) {
      if (!spanReader_) spanReader_ = std::make_unique<SpanReader>(spanBytes_);
      const std::size_t buffer = std::clamp(memoryBytes_, kSmallestBuffer, kLargestBuffer);
      if (!spanReader_->Next(file_.get(), buffer, reading_, readingKey_)) {
        spanFileRead_ = true;
        spanReader_.reset();
        reading_.count = 0;
        continue;
      }
    } else {
      if (spanAt_ == spans_.size()) return false;
      reading_ = spans_[spanAt_++];
      readingKey_.assign(KeyOf(reading_));
    }
    std::uint64_t value = 0;
    if (reading_.count > 1) LastNumber(readingKey_, readingAt_, value);
  }
  if (member_ > 0) Increment(readingKey_, readingAt_);
  entry.key.assign(readingKey_);
  entry.number = reading_.number + member_ * reading_.step;
  ++member_;
  return true;
}

void KeySorter::AddSorting(std::string_view key, std::uint64_t number) {
  // A batch is spilled before its buffers would grow past the budget.
  if (!items_.empty() && Grown(keys_.size(), keys_.capacity(), key.size()) +
                                 Grown(items_.size(), items_.capacity(), 1) * sizeof(Item) >
                             memoryBytes_)
    Spill();
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i)
    head = head << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  items_.push_back({head, number, keys_.size(), static_cast<std::uint32_t>(key.size())});
  keys_.append(key);
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
  OpenFile();
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
  const auto write = [&] { WriteChunk(chunk, fileSize_); };
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
  if (ordered_) {
    spans_.shrink_to_fit();
    keys_.shrink_to_fit();
    return;
  }
  if (runs_.empty()) {
    SortBatch();
    return;
  }
  if (!items_.empty()) Spill();
  FreeMemory();
}

void KeySorter::Release() {
  if (ordered_) {
    SpillSpans();
    FreeMemory();
    finished_ = true;
    return;
  }
  if (!finished_ && !items_.empty()) Spill();
  Finish();
}

bool KeySorter::Next(Entry& entry) {
  Finish();
  if (ordered_) return NextInOrder(entry);
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
