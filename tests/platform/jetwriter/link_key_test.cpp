// The key and the other indexes of an ODBC link, on every format: the remote primary key first,
// whatever index names sort before it, then the other unique indexes, then the non-unique ones.
#include <gtest/gtest.h>

#include "jet_test_support.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class LinkKey : public testing::TestWithParam<const char*> {
 protected:
  // Links `table` of a remote file made by `statements` as "Link" and reads its definition back.
  jetwriter::TableDef Linked(const std::vector<std::pair<std::string, std::string>>& tables,
                             const std::vector<std::string>& statements, const std::string& table) {
    mdb = jettest::CopyFixture(GetParam(), dir.path());
    const fs::path remote = dir.path() / "remote.db";
    jettest::MakeRemote(remote, tables, statements);
    {
      auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
      w->AppendLinkedTable("Link", "ODBC;Driver=Norvane;Database=" + remote.string(), table);
    }
    EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
    int pages = 0;
    return jettest::DefinitionOf(mdb, "Link", &pages);
  }
  testing_support::TempDir dir{"link-key"};
  fs::path mdb;
};

TEST_P(LinkKey, the_primary_key_comes_first_then_unique_then_non_unique_indexes) {
  // As the migration names them: the key's index sorts after the unique index on Firma.
  const jetwriter::TableDef def =
      Linked({{"Kunden",
               "KundenNr integer not null, Firma varchar(60) not null, Ort text, "
               "PLZ text, Land text"}},
             {"create index \"Kunden_Land\" on \"Kunden\" (\"Land\")",
              "create unique index \"Firma\" on \"Kunden\" (\"Firma\")",
              "create index \"AOrt\" on \"Kunden\" (\"Ort\", \"PLZ\")",
              "create unique index \"Kunden_primarykey\" on \"Kunden\" (\"KundenNr\")"},
             "Kunden");
  ASSERT_EQ(def.indexes.size(), 4u);
  EXPECT_EQ(def.indexes[0].columns, std::vector<int>{0});  // KundenNr
  EXPECT_EQ(def.indexes[0].flags, 0x89);                   // unique and required: the key
  EXPECT_EQ(def.indexes[1].columns, std::vector<int>{1});  // Firma
  EXPECT_EQ(def.indexes[1].flags, 0x81);
  // The non-unique ones as the Access-made link holds them, in the driver's order.
  std::vector<std::vector<int>> rest{def.indexes[2].columns, def.indexes[3].columns};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::vector<int>>{{2, 3}, {4}}));
  EXPECT_EQ(def.indexes[2].flags, 0x80);
  EXPECT_EQ(def.indexes[3].flags, 0x80);
  // Each index has an empty root page of its own.
  for (std::size_t i = 0; i < def.indexes.size(); ++i)
    for (std::size_t j = i + 1; j < def.indexes.size(); ++j)
      EXPECT_NE(def.indexes[i].root, def.indexes[j].root);
  jettest::NodeView view = jettest::ReadWithMdbReader(mdb);
  if (!view.available) GTEST_SKIP() << view.why;
  EXPECT_EQ(view.links.count("Link"), 1u);
}

TEST_P(LinkKey, a_declared_composite_key_is_the_key_and_a_table_without_one_has_none) {
  const jetwriter::TableDef keyed =
      Linked({{"Positionen", "Nr integer, Pos integer, Artikel text, primary key (Nr, Pos)"},
              {"Notizen", "Text text, Wann text"}},
             {"create unique index \"AAA\" on \"Positionen\" (\"Artikel\")",
              "create index \"Wann\" on \"Notizen\" (\"Wann\")"},
             "Positionen");
  ASSERT_GE(keyed.indexes.size(), 2u);
  EXPECT_EQ(keyed.indexes[0].columns, (std::vector<int>{0, 1}));
  EXPECT_EQ(keyed.indexes[0].flags, 0x89);
  EXPECT_EQ(keyed.indexes[1].columns, std::vector<int>{2});
  EXPECT_EQ(keyed.indexes[1].flags, 0x81);

  // Only a non-unique index: the link holds it, and no key.
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    w->AppendLinkedTable(
        "Notes", "ODBC;Driver=Norvane;Database=" + (dir.path() / "remote.db").string(), "Notizen");
  }
  int pages = 0;
  const jetwriter::TableDef keyless = jettest::DefinitionOf(mdb, "Notes", &pages);
  ASSERT_EQ(keyless.indexes.size(), 1u);
  EXPECT_EQ(keyless.indexes[0].columns, std::vector<int>{1});
  EXPECT_EQ(keyless.indexes[0].flags, 0x80);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, LinkKey, testing::ValuesIn(jettest::kLinkFormats),
                         [](const testing::TestParamInfo<const char*>& i) {
                           return jettest::FormatNameOf(i.param);
                         });

}  // namespace
