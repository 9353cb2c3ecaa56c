// Sorting any number of keys in bounded memory.
//
// Owns: the keys added to a KeySorter (byte strings, each with a number the caller gives, such
// as its row's position), kept in memory up to a budget; past it, each full batch is sorted and
// written as one sorted run to an unnamed temporary file the sorter owns and that disappears with
// it. Reading merges the runs, with a read buffer per run (together about the budget, at least
// 4 KiB each).
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

class KeySorter {
 public:
  // `memoryBytes`: the most the keys in memory (with their bookkeeping) may take.
  explicit KeySorter(std::size_t memoryBytes);
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

 private:
  struct Item {
    std::uint64_t head;  // the key's first 8 bytes, most significant first, zeros after its end
    std::uint64_t number;
    std::size_t offset;
    std::uint32_t size;
  };
  class Run;

  std::string_view KeyOf(const Item& item) const { return {keys_.data() + item.offset, item.size}; }
  void SortBatch();
  void Spill();

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
};

}  // namespace platform
