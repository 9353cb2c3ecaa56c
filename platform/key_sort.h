// Sorting any number of keys in bounded memory.
//
// Owns: the keys added to a KeySorter (byte strings, each with a number the caller gives, such
// as its row's position), kept in memory up to a budget; past it, each full batch is sorted and
// written as one sorted run to an unnamed temporary file the sorter owns and that disappears with
// it. Reading merges the runs, with a read buffer per run (together about the budget, at least
// 4 KiB each). Keys that come in order (by key, then number) are not sorted at all: they are
// kept as spans of consecutive keys (a key packed by PackKey whose last value is a decimal number
// one above the one before, its number the same or one above), in memory up to the budget and
// on file beyond it, where they are read back only when needed; the first key out of order moves
// them into the sorting path. The entries come out the same either way.
// Failures: a temporary file that cannot be made, written or read again throws platform::Error
// (err::kPathFileAccess with the system's reason). Nothing else fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A key of several values as bytes: each value's length (7 bits a byte, the high bit set on all
// but the last), then the value. Equal tuples, and only they, give equal bytes.
void PackKey(std::string& out, std::string_view value);  // appends one value
std::vector<std::string> UnpackKey(std::string_view packed);

class KeySorter {
 public:
  // `memoryBytes`: the most the keys in memory (with their bookkeeping) may take. Without
  // `spans`, keys in order are sorted like any others.
  explicit KeySorter(std::size_t memoryBytes, bool spans = true);
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;
  ~KeySorter();

  void Add(std::string_view key, std::uint64_t number);

  // Ends the adding; the entries then come out of Next ordered by key (bytes compared as
  // unsigned), equal keys by number.
  void Finish();
  struct Entry {
    std::string key;
    std::uint64_t number = 0;
  };
  // False after the last entry.
  bool Next(Entry& entry);

  // Finish, with the keys still in memory moved to the temporary file: a sorter that waits to be
  // read holds no memory beyond its read buffers.
  void Release();

  // Sorted runs written to the temporary file so far (a batch that continues the order of the
  // last run extends it).
  std::size_t Runs() const { return runs_.size(); }

  // True while every entry came in order: Next gives them back as they came.
  bool InOrder() const { return ordered_; }
  // In order with every span in memory: Holds can answer.
  bool Whole() const { return ordered_ && spanBytes_ == 0; }
  // Whether `key` was added (any number); only for a Whole() sorter.
  bool Holds(std::string_view key) const;
  // The bytes the sorter holds in memory (its read buffers not counted).
  std::size_t MemoryUsed() const;
  // While InOrder(): the key added last equals the one added before it.
  bool Repeats() const { return repeats_; }

 private:
  struct Item {
    std::uint64_t head;  // the key's first 8 bytes, most significant first, zeros after its end
    std::uint64_t number;
    std::size_t offset;
    std::uint32_t size;
  };
  // Keys in order: `count` entries from the key at `offset`, each key one above the one before
  // in its last value, each number `step` (0 or 1) above the one before.
  struct Span {
    std::uint64_t number;
    std::uint64_t count;
    std::uint64_t value;  // with more than one key: the last value of the first, and where its
    std::size_t offset;   // length stands (see LastNumber in key_sort.cpp)
    std::uint32_t size;
    std::uint32_t step;
    std::uint32_t at;
  };
  class Run;
  class SpanReader;

  std::string_view KeyOf(const Item& item) const { return {keys_.data() + item.offset, item.size}; }
  std::string_view KeyOf(const Span& span) const { return {keys_.data() + span.offset, span.size}; }
  void AddSorting(std::string_view key, std::uint64_t number);
  void AddInOrder(std::string_view key, std::uint64_t number);
  void SpillSpans();
  void WriteChunk(std::string& chunk, std::uint64_t& written);
  void EndOrder();
  bool NextInOrder(Entry& entry);
  void SortBatch();
  void Spill();
  void OpenFile();
  void FreeMemory();

  std::size_t memoryBytes_;
  std::string keys_;  // the keys of the batch in memory, one after the other
  std::vector<Item> items_;
  std::size_t next_ = 0;  // reading the batch in memory when nothing was spilled
  bool finished_ = false;
  bool merging_ = false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  std::uint64_t fileSize_ = 0;
  std::vector<std::unique_ptr<Run>> runs_;
  std::vector<Run*> heap_;  // runs with an entry left, smallest first
  std::string lastKey_;     // the last entry written to file
  std::uint64_t lastNumber_ = 0;

  bool ordered_;
  std::vector<Span> spans_;      // their keys in keys_
  std::uint64_t spanBytes_ = 0;  // spans on file, from its start
  bool added_ = false;
  bool repeats_ = false;
  std::string last_;  // the last key added while in order
  std::uint64_t lastAdded_ = 0;
  std::unique_ptr<SpanReader> spanReader_;  // reading the spans on file, then those in memory
  std::size_t spanAt_ = 0;
  Span reading_{};
  std::uint64_t member_ = 0;
  std::string readingKey_;
  std::size_t readingAt_ = 0;
  bool spanFileRead_ = false;
  std::string spilledKey_;  // the last span key written to file (keys are written front-coded)
  // What LastNumber found in last_.
  bool lastNumeric_ = false;
  std::size_t lastAt_ = 0;
  std::uint64_t lastValue_ = 0;
};

}  // namespace platform
