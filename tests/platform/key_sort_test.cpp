// Sorting keys in bounded memory: the same order as sorting them all in memory, whether the
// keys fit the budget or go through many runs on file.
#include "platform/key_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
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

std::string Packed(const std::vector<std::string>& values) {
  std::string packed;
  for (const std::string& value : values) platform::PackKey(packed, value);
  return packed;
}

// Keys in order as a table gives them: numbers counting up (across 9 -> 10 and 99 -> 100),
// composite keys whose last value counts up under a repeated first one, repeats, NULL-like gaps
// in the row numbers, values that only look like numbers ("007", 19 digits) and text.
Pairs OrderedKeys() {
  Pairs keys;
  std::uint64_t row = 0;
  for (int i = 1; i <= 1200; ++i) keys.emplace_back(Packed({std::to_string(i)}), row++);
  keys.emplace_back(Packed({"1200"}), row++);  // a repeat, right after its first row
  row += 3;                                    // rows without a key
  for (int order = 1300; order < 1500; ++order)
    for (int line = 1; line <= order % 4; ++line)
      keys.emplace_back(Packed({std::to_string(order), std::to_string(line)}), row++);
  keys.emplace_back(Packed({"1500", "007"}), row++);
  keys.emplace_back(Packed({"1500", "008"}), row++);
  keys.emplace_back(Packed({"1500", "9999999999999999999"}), row++);
  keys.emplace_back(Packed({"1500", std::string(20, 'x')}), row++);
  for (int i = 0; i < 50; ++i) keys.emplace_back(Packed({"1501", "y" + std::string(i, 'z')}), 0);
  return keys;
}

TEST(KeySorterTest, keys_in_order_are_kept_as_spans_and_come_back_as_they_came) {
  const Pairs keys = OrderedKeys();
  for (const std::size_t memory : {std::size_t(1) << 20, std::size_t(512), std::size_t(1)}) {
    platform::KeySorter sorter(memory);
    for (const auto& [key, number] : keys) sorter.Add(key, number);
    EXPECT_TRUE(sorter.InOrder());
    EXPECT_EQ(sorter.Whole(), memory == std::size_t(1) << 20);
    if (sorter.Whole()) {
      // 1200 counted keys take one span, each order's lines one more: far below a key each
      // (sorting takes 32 bytes and the key for each).
      EXPECT_LT(sorter.MemoryUsed(), keys.size() * 12);
      for (const auto& [key, number] : keys) EXPECT_TRUE(sorter.Holds(key));
      for (const std::string& absent :
           {Packed({"0"}), Packed({"1201"}), Packed({"01"}), Packed({"1300", "1"}),
            Packed({"1301", "2"}), Packed({"1303", "4"}), Packed({"1500", "7"}), Packed({"5", "1"}),
            Packed({"1500", "009"}), std::string(), std::string("\x85")})
        EXPECT_FALSE(sorter.Holds(absent)) << testing::PrintToString(absent);
    }
    EXPECT_EQ(sorter.Runs(), 0u);
    EXPECT_EQ(SortedBy(sorter), keys) << "memory " << memory;
  }
  platform::KeySorter released(1 << 20);
  for (const auto& [key, number] : keys) released.Add(key, number);
  released.Release();
  EXPECT_EQ(released.MemoryUsed(), 0u);
  EXPECT_FALSE(released.Whole());
  EXPECT_EQ(SortedBy(released), keys);
}

// From the first key out of order on, everything is sorted: early, late, at a repeat, with the
// keys so far in memory or on file, one or many of them.
TEST(KeySorterTest, a_key_out_of_order_sorts_every_key_the_same_as_without_spans) {
  const Pairs ordered = OrderedKeys();
  for (const std::size_t breakAt :
       {std::size_t(0), std::size_t(1), std::size_t(700), std::size_t(1200), ordered.size() - 1})
    for (const std::size_t memory : {std::size_t(1) << 20, std::size_t(4096), std::size_t(64)}) {
      Pairs keys(ordered.begin(), ordered.begin() + static_cast<std::ptrdiff_t>(breakAt) + 1);
      keys.emplace_back(Packed({"5"}), 2);  // repeats the fifth key, from an earlier row
      std::mt19937 random(static_cast<unsigned>(breakAt));
      for (int i = 0; i < 300; ++i)
        keys.emplace_back(Packed({std::to_string(random() % 2000)}), 5000 + i);
      platform::KeySorter spans(memory), plain(memory, false);
      for (const auto& [key, number] : keys) {
        spans.Add(key, number);
        plain.Add(key, number);
      }
      EXPECT_FALSE(spans.InOrder());
      EXPECT_FALSE(plain.InOrder());
      const Pairs sorted = SortedBy(spans);
      EXPECT_EQ(sorted, Expected(keys)) << "break " << breakAt << " memory " << memory;
      EXPECT_EQ(sorted, SortedBy(plain));
    }
}

TEST(KeySorterTest, memory_stays_within_the_budget_in_order_and_out_of_order) {
  constexpr std::size_t kBudget = 64 << 10;
  platform::KeySorter ordered(kBudget), shuffled(kBudget);
  std::mt19937 random(11);
  std::size_t most = 0;
  for (int i = 0; i < 200000; ++i) {
    // Each key its own span (steps of 2), then random keys that spill sorted runs.
    ordered.Add(Packed({std::to_string(2 * i)}), static_cast<std::uint64_t>(i));
    shuffled.Add(Packed({std::to_string(random())}), static_cast<std::uint64_t>(i));
    most = std::max({most, ordered.MemoryUsed(), shuffled.MemoryUsed()});
  }
  EXPECT_LE(most, kBudget);
  EXPECT_TRUE(ordered.InOrder());
  EXPECT_FALSE(ordered.Whole());
  EXPECT_FALSE(shuffled.InOrder());
  EXPECT_GT(shuffled.Runs(), 10u);
  std::size_t count = 0;
  platform::KeySorter::Entry entry, previous;
  while (shuffled.Next(entry)) {
    if (count++ > 0) {
      EXPECT_LE(previous.key, entry.key);
    }
    std::swap(previous, entry);
  }
  EXPECT_EQ(count, 200000u);
  count = 0;
  while (ordered.Next(entry)) EXPECT_EQ(entry.key, Packed({std::to_string(2 * count++)}));
  EXPECT_EQ(count, 200000u);
}

TEST(KeySorterTest, packed_keys_unpack_to_their_values) {
  const std::vector<std::string> values = {"", "a", std::string(300, 'x'),
                                           std::string("\0\xff", 2)};
  EXPECT_EQ(platform::UnpackKey(Packed(values)), values);
  EXPECT_NE(Packed({"ab", ""}), Packed({"a", "b"}));
}

}  // namespace
