// Links whose definition needs several pages (wide remote tables), on every format.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet_test_support.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class WideLink : public testing::TestWithParam<const char*> {};

// The RmtInfoLong value of catalog entry `name` in hex, as mdb-export prints it.
std::string RemoteInfoAsLibmdbReadsIt(const fs::path& mdb, const std::string& name) {
  const std::string out =
      jettest::Run("mdb-export -b hex -Q -d '|' " + jettest::Quote(mdb.string()) + " MSysObjects");
  std::vector<std::vector<std::string>> rows;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string>& fields = rows.emplace_back();
    const std::string line = out.substr(start, end - start);
    for (std::size_t from = 0;;) {
      const std::size_t bar = line.find('|', from);
      fields.push_back(line.substr(from, bar == std::string::npos ? bar : bar - from));
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
  }
  if (rows.empty()) return {};
  const auto column = std::find(rows[0].begin(), rows[0].end(), "RmtInfoLong") - rows[0].begin();
  for (const auto& row : rows)
    if (row.size() == rows[0].size() && row[2] == name) return row[column];
  return {};
}

TEST_P(WideLink, a_link_to_a_table_of_255_columns_spans_several_definition_pages) {
  testing_support::TempDir dir("jetwriter");
  const fs::path mdb = jettest::CopyFixture(GetParam(), dir.path());
  const fs::path remote = dir.path() / "wide.db";
  std::string columns = "id integer primary key";
  for (int i = 1; i < 255; ++i) {
    char column[64];
    std::snprintf(column, sizeof column, ", %s_%03d %s", i % 3 == 0 ? "Bemerkung" : "Wert", i,
                  i % 3 == 0   ? "text"
                  : i % 3 == 1 ? "varchar(40)"
                               : "double");
    columns += column;
  }
  jettest::MakeRemote(remote, {{"Wide", columns}});
  const std::string connect = "ODBC;Driver=Norvane;Database=" + remote.string();
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    w->AppendLinkedTable("Breite Tabelle", connect, "Wide");
  }
  EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
  int pages = 0;
  const jetwriter::TableDef def = jettest::DefinitionOf(mdb, "Breite Tabelle", &pages);
  EXPECT_GT(pages, 1);
  ASSERT_EQ(def.columns.size(), 255u);
  EXPECT_EQ(def.columns.front().name, "id");
  EXPECT_EQ(def.columns.back().name, "Wert_254");
  // The remote primary key, as the link's unique index with an empty root page of its own.
  ASSERT_EQ(def.indexes.size(), 1u);
  EXPECT_EQ(def.indexes[0].columns, std::vector<int>{0});
  EXPECT_EQ(def.indexes[0].flags & 0x01, 0x01);
  EXPECT_EQ(jettest::LibmdbLinks(mdb).count("Breite Tabelle"), 1u);
  // The remote columns as Access describes them: SQL type, size, digits, 16 bits each.
  const std::string info = RemoteInfoAsLibmdbReadsIt(mdb, "Breite Tabelle");
  ASSERT_EQ(info.size(), 255u * 6 * 2) << info;
  EXPECT_EQ(info.substr(0, 4), "0400");   // id: SQL_INTEGER
  EXPECT_EQ(info.substr(12, 4), "F7FF");  // Wert_001: SQL_WVARCHAR
  EXPECT_EQ(info.substr(16, 4), "2800");  // of 40 characters
  EXPECT_EQ(info.substr(24, 4), "0800");  // Wert_002: SQL_DOUBLE
  jettest::NodeView view = jettest::ReadWithMdbReader(mdb);
  if (!view.available) GTEST_SKIP() << view.why;
  EXPECT_EQ(view.links.count("Breite Tabelle"), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, WideLink, testing::ValuesIn(jettest::kLinkFormats),
                         [](const testing::TestParamInfo<const char*>& i) {
                           return jettest::FormatNameOf(i.param);
                         });

}  // namespace
