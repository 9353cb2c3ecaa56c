// Damaged copies of real files: every open and every table read ends in a correct read or a
// clear error, never a crash or a hang of this program; a failed transfer leaves no table.
#include <gtest/gtest.h>

#include <random>

#include "engine_support.h"
#include "platform/error.h"

namespace {

using engine_test::NorvaneSource;
using engine_test::ScriptedChooser;
using engine_test::SqliteRows;

struct Outcome {
  int opened = 0, refused = 0, tablesCopied = 0, tablesFailed = 0;
};

// Opens the damaged file and transfers every table of it; any failure must be a platform::Error
// with a description, and a table whose transfer failed must not exist on the target.
void ReadAll(const std::string& path, const std::filesystem::path& target, Outcome& outcome) {
  ScriptedChooser chooser(NorvaneSource(target));
  auto engine =
      platform::access::CreateEngine({&chooser, nullptr, std::chrono::milliseconds(3000)});
  std::shared_ptr<dao::Database> db;
  try {
    db = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
             ->OpenDatabase(path, {true, false}, "");
  } catch (const platform::Error& e) {
    EXPECT_FALSE(e.Description().empty());
    ++outcome.refused;
    return;
  }
  ++outcome.opened;
  const std::string connect = "ODBC;" + NorvaneSource(target);
  for (int i = 0; i < db->TableDefs().Count(); ++i) {
    auto table = db->TableDefs().Item(i);
    (void)table->Indexes();
    const std::string name = "t" + std::to_string(i);
    try {
      db->Execute("select * into [" + connect + "].[" + name + "] from [" + table->Name() + "]");
      ++outcome.tablesCopied;
    } catch (const platform::Error& e) {
      EXPECT_FALSE(e.Description().empty());
      ++outcome.tablesFailed;
      EXPECT_TRUE(
          SqliteRows(target, "SELECT 1 FROM sqlite_master WHERE name = '" + name + "'").empty())
          << "a failed transfer left table " << name << ": " << e.Description();
    }
  }
  (void)db->Relations();
}

// Damages a copy: flipped bytes in the catalog pages, in table-definition or data pages, or a
// truncation (sometimes at a page boundary, which the header check cannot see).
std::string Damage(const std::string& original, std::mt19937& random, std::size_t pageSize) {
  std::string bytes = original;
  const std::size_t pages = bytes.size() / pageSize;
  std::uniform_int_distribution<int> kind(0, 3);
  switch (kind(random)) {
    case 0: {  // truncation
      const std::size_t page = std::uniform_int_distribution<std::size_t>(1, pages - 1)(random);
      bytes.resize(random() % 2 ? page * pageSize : page * pageSize + random() % pageSize);
      break;
    }
    case 1:    // the catalog: MSysObjects' definition and its first data pages
    case 2:    // any early page: table definitions, index and data pages of the small tables
    case 3: {  // anywhere
      const std::size_t first = kind(random) == 1 ? 2 : 1;
      const std::size_t last = std::min(pages, first + 40);
      const int flips = 1 + static_cast<int>(random() % 16);
      const std::size_t page = std::uniform_int_distribution<std::size_t>(first, last - 1)(random);
      for (int f = 0; f < flips; ++f) {
        const std::size_t at =
            random() % 3 == 0 ? random() % bytes.size() : page * pageSize + random() % pageSize;
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
      }
      break;
    }
  }
  return bytes;
}

class DamagedCopies : public ::testing::TestWithParam<std::tuple<const char*, std::size_t, int>> {};

TEST_P(DamagedCopies, never_crash_or_hang_and_fail_clearly) {
  const auto [fixture, pageSize, copies] = GetParam();
  const std::string original = testing_support::ReadBytes(engine_test::Fixture(fixture));
  std::mt19937 random(20240611u + static_cast<unsigned>(pageSize));
  testing_support::TempDir dir("damaged");
  Outcome outcome;
  for (int n = 0; n < copies; ++n) {
    const auto path = dir.path() / ("copy" + std::to_string(n) + ".mdb");
    testing_support::WriteBytes(path, Damage(original, random, pageSize));
    const auto target = dir.path() / ("out" + std::to_string(n) + ".db");
    ReadAll(path.string(), target, outcome);
    std::filesystem::remove(path);
    std::filesystem::remove(target);
  }
  EXPECT_EQ(outcome.opened + outcome.refused, copies);
  // The damage must reach the reader, not only the header check.
  EXPECT_GT(outcome.opened, copies / 4);
  EXPECT_GT(outcome.refused, 0);
  std::cout << fixture << ": opened " << outcome.opened << ", refused " << outcome.refused
            << ", tables copied " << outcome.tablesCopied << ", failed " << outcome.tablesFailed
            << "\n";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedCopies,
                         ::testing::Values(std::make_tuple("nwind.mdb", 2048, 350),
                                           std::make_tuple("edge-jet4.mdb", 4096, 300),
                                           std::make_tuple("testV2000.mdb", 4096, 200),
                                           std::make_tuple("testV1997.mdb", 2048, 150)));

}  // namespace
