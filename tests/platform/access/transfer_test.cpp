// Whole tables of real Access files into a fresh SQLite file through the Norvane ODBC driver.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "engine_support.h"
#include "platform/access/rows.h"
#include "platform/error.h"

namespace {

using engine_test::CopyFixture;
using engine_test::MdbTable;
using engine_test::NorvaneSource;
using engine_test::ReadWithLibmdb;
using engine_test::ScriptedChooser;
using engine_test::SqliteRows;

struct Migrated {
  std::vector<std::string> tables;  // user tables in catalog order
  std::filesystem::path target;
};

// Transfers every user table of `fixture` with the statement the run writes.
Migrated MigrateAll(const testing_support::TempDir& dir, const std::string& fixture) {
  const std::string mdb = CopyFixture(fixture, dir);
  Migrated result;
  result.target = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  ScriptedChooser chooser(NorvaneSource(result.target));
  auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(60)});
  auto access = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                    ->OpenDatabase(mdb, {true, false}, "");
  auto target = engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet)
                    ->OpenDatabase("", {false, false}, "ODBC;dsn=");
  const std::string connect = target->Connect();
  auto& tables = access->TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    const std::string name = tables.Item(i)->Name();
    if (name.rfind("MSys", 0) == 0) continue;
    result.tables.push_back(name);
    access->Execute("select * into [" + connect + "].[" + name + "] from [" + name + "]");
  }
  access->Close();
  target->Close();
  return result;
}

// Compares what libmdb reads with what arrived, value by value, on every row.
void ExpectSameValues(const std::string& mdb, const std::filesystem::path& db,
                      const std::string& table) {
  const MdbTable source = ReadWithLibmdb(mdb, table);
  ASSERT_FALSE(source.columns.empty()) << table;
  std::string select = "SELECT ";
  for (std::size_t c = 0; c < source.columns.size(); ++c)
    select += (c ? ", \"" : "\"") + source.columns[c] + "\"";
  select += " FROM \"" + table + "\" ORDER BY rowid";
  const auto rows = SqliteRows(db, select);
  ASSERT_EQ(rows.size(), source.rows.size()) << table;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < source.columns.size(); ++c) {
      const auto& expected = source.rows[r][c];
      const auto& actual = rows[r][c];
      const std::string where =
          table + " row " + std::to_string(r) + " column " + source.columns[c];
      const int type = source.types[c];
      if (!expected) {
        EXPECT_FALSE(actual) << where;
        continue;
      }
      if ((type == MDB_TEXT || type == MDB_MEMO) && expected->empty()) {
        // libmdb reads NULL text and empty text alike.
        EXPECT_TRUE(!actual || actual->empty()) << where;
        continue;
      }
      ASSERT_TRUE(actual) << where;
      if (type == MDB_FLOAT) {
        EXPECT_EQ(std::strtof(expected->c_str(), nullptr), std::strtof(actual->c_str(), nullptr))
            << where;
      } else if (type == MDB_DOUBLE) {
        const double e = std::strtod(expected->c_str(), nullptr);
        const double a = std::strtod(actual->c_str(), nullptr);
        EXPECT_NEAR(e, a, std::fabs(e) * 1e-12) << where;
      } else if (type == MDB_MONEY || type == MDB_NUMERIC) {
        // Every digit: stored as a double where one holds the value, else as decimal text.
        EXPECT_EQ(platform::access::CanonicalDecimal(*expected),
                  platform::access::CanonicalDecimal(*actual))
            << where;
      } else if (type == MDB_REPID) {
        EXPECT_EQ("{" + *expected + "}", *actual) << where;
      } else {
        EXPECT_EQ(*expected, *actual) << where;
      }
    }
  }
}

class TransferOfFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(TransferOfFixture, copies_every_user_table_with_equal_rows_and_values) {
  testing_support::TempDir dir("engine");
  const Migrated migrated = MigrateAll(dir, GetParam());
  ASSERT_FALSE(migrated.tables.empty());
  const std::string mdb = (dir.path() / GetParam()).string();
  for (const std::string& table : migrated.tables) ExpectSameValues(mdb, migrated.target, table);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, TransferOfFixture,
                         ::testing::Values("nwind.mdb", "edge-jet4.mdb", "testV1997.mdb",
                                           "testV2000.mdb"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
