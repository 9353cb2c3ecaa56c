// Sorting keys in bounded memory: the same order as sorting them all in memory, whether the
// keys fit the budget or go through many runs on file.
#include "platform/key_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::uint64_t>>;

Pairs RandomKeys(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  Pairs keys;
  for (std::size_t i = 0; i < count; ++i) {
    // Few distinct short keys (many repeats), bytes above 0x7f, an empty key and long keys.
    std::string key(random() % 4 == 0 ? random() % 300 : random() % 3, '\0');
    for (char& c : key) c = static_cast<char>(random() % 4 == 0 ? 0xe9 : 'a' + random() % 3);
    keys.emplace_back(std::move(key), i);
  }
  return keys;
}

Pairs SortedBy(platform::KeySorter& sorter) {
  Pairs out;
  platform::KeySorter::Entry entry;
  while (sorter.Next(entry)) out.emplace_back(entry.key, entry.number);
  return out;
}

bool Before(const std::pair<std::string, std::uint64_t>& a,
            const std::pair<std::string, std::uint64_t>& b) {
  const int order = std::string_view(a.first).compare(b.first);
  return order < 0 || (order == 0 && a.second < b.second);
}

Pairs Expected(Pairs keys) {
  std::sort(keys.begin(), keys.end(), Before);
  return keys;
}

TEST(KeySorterTest, gives_key_then_number_order_in_memory_and_through_runs_on_file) {
  const Pairs keys = RandomKeys(5000, 7);
  for (const std::size_t memory : {std::size_t(1) << 24, std::size_t(2048), std::size_t(1)}) {
    platform::KeySorter sorter(memory);
    for (const auto& [key, number] : keys) sorter.Add(key, number);
    sorter.Finish();
    EXPECT_EQ(SortedBy(sorter), Expected(keys)) << "memory " << memory;
    if (memory == 1) {
      // One key per batch: a key that does not come before the one added last continues its run.
      std::size_t descents = 0;
      for (std::size_t i = 1; i < keys.size(); ++i) descents += Before(keys[i], keys[i - 1]);
      EXPECT_EQ(sorter.Runs(), 1 + descents);
    } else if (memory == 2048) {
      EXPECT_GT(sorter.Runs(), 100u);
    } else {
      EXPECT_EQ(sorter.Runs(), 0u);
    }
  }
}

TEST(KeySorterTest, keys_added_in_order_make_one_run_however_many_batches_they_fill) {
  Pairs keys;
  for (std::uint64_t i = 0; i < 20000; ++i)
    keys.emplace_back("k" + std::to_string(100000 + i / 3), i);
  platform::KeySorter sorter(1024);
  for (const auto& [key, number] : keys) sorter.Add(key, number);
  // A key out of order after them starts a second run, and still comes out first.
  sorter.Add("a", 0);
  sorter.Finish();
  EXPECT_EQ(sorter.Runs(), 2u);
  Pairs all = keys;
  all.emplace_back("a", 0);
  EXPECT_EQ(SortedBy(sorter), Expected(all));
}

TEST(KeySorterTest, a_released_sorter_waits_on_file_and_reads_the_same) {
  const Pairs keys = RandomKeys(300, 3);
  platform::KeySorter sorter(std::size_t(1) << 20);
  for (const auto& [key, number] : keys) sorter.Add(key, number);
  sorter.Release();
  EXPECT_EQ(sorter.Runs(), 1u);
  EXPECT_EQ(SortedBy(sorter), Expected(keys));
}

TEST(KeySorterTest, numbers_added_out_of_order_and_an_empty_sorter) {
  platform::KeySorter sorter(64);
  const Pairs keys = {{"b", 9}, {"a", 5}, {"b", 1}, {"a", 5}, {"\xff", 0}, {"", 3}};
  for (const auto& [key, number] : keys) sorter.Add(key, number);
  EXPECT_EQ(SortedBy(sorter), Expected(keys));
  platform::KeySorter::Entry entry;
  EXPECT_FALSE(sorter.Next(entry));

  platform::KeySorter empty(64);
  EXPECT_FALSE(empty.Next(entry));
}

}  // namespace
