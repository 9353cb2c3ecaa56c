// Damaged copies of real files (1,000 in all, or NORVANE_DAMAGED_COPIES): every open and every
// table read ends in a correct read or a clear error, never a crash or a hang of this program; a
// failed transfer leaves no table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <random>

#include "engine_support.h"
#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/error.h"
#include "support/error_number.h"
#include "support/lost_relationships.h"

namespace {

using engine_test::NorvaneSource;
using engine_test::ScriptedChooser;
using engine_test::SqliteRows;

struct Outcome {
  int opened = 0, refused = 0, tablesCopied = 0, tablesFailed = 0;
  int refusedByReader = 0;  // past the header check: the damage reached the reader
};

// Opens the damaged file and reads every table; with `transfer` each table goes into the
// target instead, and a table whose transfer failed must not exist there. Any failure must be
// a platform::Error with a description.
void ReadAll(const std::string& path, const std::filesystem::path& target, bool transfer,
             Outcome& outcome) {
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
    const std::string& d = e.Description();
    bool byHeaderCheck = false;
    for (const char* phrase : {"the file cannot be read", "it is not an Access database",
                               "unknown file version", "the file is truncated ("})
      byHeaderCheck = byHeaderCheck || d.find(phrase) != std::string::npos;
    if (!byHeaderCheck) ++outcome.refusedByReader;
    return;
  }
  ++outcome.opened;
  (void)db->Relations();
  for (int i = 0; i < db->TableDefs().Count(); ++i) (void)db->TableDefs().Item(i)->Indexes();
  if (!transfer) {
    // Every row of every table, decoded as a transfer decodes it, in one reader.
    try {
      for (const auto& check : platform::access::CheckAllTables(path, std::chrono::seconds(3))) {
        if (check.errorNumber == 0) {
          ++outcome.tablesCopied;
        } else {
          EXPECT_FALSE(check.error.empty());
          ++outcome.tablesFailed;
        }
      }
    } catch (const platform::Error& e) {
      EXPECT_FALSE(e.Description().empty());
      ++outcome.tablesFailed;
    }
    return;
  }
  const std::string connect = "ODBC;" + NorvaneSource(target);
  for (int i = 0; i < db->TableDefs().Count(); ++i) {
    auto table = db->TableDefs().Item(i);
    if (table->Name().rfind("MSys", 0) == 0) continue;
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

// NORVANE_DAMAGED_COPIES: how many damaged copies the four files get in all (default 1000),
// shared as the default's 300/300/250/150; at least 20 each, so that some damage reaches the
// reader. Nothing when the value is not a positive number.
std::optional<int> CopiesFor(int shareOfThousand) {
  const char* text = std::getenv("NORVANE_DAMAGED_COPIES");
  if (!text) return shareOfThousand;
  char* end = nullptr;
  const long total = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || total <= 0 || total > 1000000) return std::nullopt;
  return std::max(20, static_cast<int>(total * shareOfThousand / 1000));
}

// (file, page size, copies of the default 1000)
class DamagedCopies : public ::testing::TestWithParam<std::tuple<const char*, std::size_t, int>> {};

TEST_P(DamagedCopies, never_crash_or_hang_and_fail_clearly) {
  const auto [fixture, pageSize, share] = GetParam();
  const std::optional<int> wanted = CopiesFor(share);
  ASSERT_TRUE(wanted) << "NORVANE_DAMAGED_COPIES is not a positive number: "
                      << std::getenv("NORVANE_DAMAGED_COPIES");
  const int copies = *wanted;
  const std::string original = testing_support::ReadBytes(engine_test::Fixture(fixture));
  std::mt19937 random(20240611u + static_cast<unsigned>(pageSize));
  testing_support::TempDir dir("damaged");
  Outcome outcome;
  for (int n = 0; n < copies; ++n) {
    const auto path = dir.path() / ("copy" + std::to_string(n) + ".mdb");
    testing_support::WriteBytes(path, Damage(original, random, pageSize));
    const auto target = dir.path() / ("out" + std::to_string(n) + ".db");
    ReadAll(path.string(), target, n % 10 == 0, outcome);
    std::filesystem::remove(path);
    std::filesystem::remove(target);
  }
  EXPECT_EQ(outcome.opened + outcome.refused, copies);
  // The damage must reach the reader, not only the header check.
  EXPECT_GT(outcome.opened + outcome.refusedByReader, copies / 4);
  EXPECT_GT(outcome.refused, 0);
  std::cout << fixture << ": opened " << outcome.opened << ", refused " << outcome.refused << " ("
            << outcome.refusedByReader << " by the reader)"
            << ", tables copied " << outcome.tablesCopied << ", failed " << outcome.tablesFailed
            << " of " << copies << " copies\n";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedCopies,
                         ::testing::Values(std::make_tuple("nwind.mdb", 2048, 300),
                                           std::make_tuple("edge-jet4.mdb", 4096, 300),
                                           std::make_tuple("testV2000.mdb", 4096, 250),
                                           std::make_tuple("testV1997.mdb", 2048, 150)),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace

// A file cut short at a page boundary: the catalog's tables, indexes and relationships lying
// past the cut are reported, never silently missing.
TEST(TruncatedFile, is_refused_naming_what_lies_beyond_its_end) {
  const std::string whole = testing_support::ReadBytes(engine_test::Fixture("edge-jet4.mdb"));
  testing_support::TempDir dir("truncated");
  for (std::size_t pages : {216u, 220u, 200u}) {
    const auto path = dir.path() / ("cut" + std::to_string(pages) + ".mdb");
    testing_support::WriteBytes(path, whole.substr(0, pages * 4096));
    std::string description;
    const int number = testing_support::ErrorNumberOf(
        [&] { platform::access::ReadCatalog(path.string(), std::chrono::seconds(10)); },
        &description);
    EXPECT_EQ(number, dao::err::kUnrecognizedFormat) << pages << " pages";
    EXPECT_NE(description.find("beyond its end"), std::string::npos) << description;
  }
}

// Relationships whose catalog rows cannot be read are counted on their foreign tables (each
// declares a relationship index), never on the primary side, in every file format.
TEST(LostRelationships, are_counted_on_the_tables_that_declare_them) {
  for (const char* fixture :
       {"nwind.mdb", "indexTestV1997.mdb", "edge-jet4.mdb", "modern-dev-V2010.accdb"}) {
    testing_support::TempDir dir("lost");
    const std::string path = engine_test::CopyFixture(fixture, dir);
    const auto whole = platform::access::ReadCatalog(path, std::chrono::seconds(30));
    ASSERT_FALSE(whole.relations.empty()) << fixture;
    std::map<std::string, int> foreignSides;
    for (const dao::Relation& r : whole.relations) ++foreignSides[r.ForeignTable];
    for (const auto& t : whole.tables) EXPECT_EQ(t.unreadRelationships, 0) << fixture << t.name;

    ASSERT_GT(testing_support::LoseRelationshipRows(path), 0) << fixture;
    const auto damaged = platform::access::ReadCatalog(path, std::chrono::seconds(30));
    EXPECT_TRUE(damaged.relations.empty()) << fixture;
    for (const auto& t : damaged.tables) {
      if (dao::IsSystemTable(t.name, t.flags)) continue;
      const auto expected = foreignSides.find(t.name);
      EXPECT_EQ(t.unreadRelationships, expected == foreignSides.end() ? 0 : expected->second)
          << fixture << ": " << t.name;
    }
  }
}
