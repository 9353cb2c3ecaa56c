// The catalog writer on real Access files: link-back of every table (rename, then an ODBC link
// in its place), checked with libmdb, mdb-reader and the catalog index check.
#include <gtest/gtest.h>

#include "support/error_number.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <set>

#include "engine/names.h"
#include "jet_test_support.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/catalog_index.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/jetwriter/jet_text.h"
#include "platform/jetwriter/page_file.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace {

using jettest::Link;
namespace fs = std::filesystem;

// The link-back step as the run does it: rename, then a link under the old (trimmed) name;
// when the link cannot be added, the table gets its name back.
void LinkBack(platform::AccessCatalogWriter& w, const std::string& name, const std::string& prefix,
              const std::string& connect) {
  w.RenameTable(name, prefix + name);
  try {
    w.AppendLinkedTable(platform::Trim(name), connect, engine::TargetNameOf(name));
  } catch (const platform::Error&) {
    w.RenameTable(prefix + name, name);
    throw;
  }
}

using testing_support::ErrorNumberOf;

struct LinkRun {
  testing_support::TempDir dir{"jetwriter"};
  fs::path mdb;
  std::string connect;
  std::string stored;  // the connect string as the catalog holds it
  std::vector<std::string> tables;
  std::map<std::string, std::string> exports;
};

// A copy of `file`, its tables and their rows as libmdb reads them, and a remote SQLite file
// holding a table for each of them. The remote file's long name makes the connect string too
// long to be stored inside the catalog row.
void Prepare(LinkRun& r, const std::string& file) {
  r.mdb = jettest::CopyFixture(file, r.dir.path());
  fs::path remote = r.dir.path() / "remote_database_of_the_linked_tables.db";
  r.connect = "ODBC;Driver=Norvane;Database=" + remote.string();
  r.stored = r.connect.substr(5);
  r.tables = jettest::LibmdbTables(r.mdb);
  std::vector<std::pair<std::string, std::string>> remoteTables;
  for (const std::string& t : r.tables) {
    r.exports[t] = jettest::LibmdbExport(r.mdb, t);
    remoteTables.push_back({engine::TargetNameOf(t),
                            "id integer primary key, name varchar(40), notes text, "
                            "amount numeric(10,2), at timestamp, flag bit, big bigint"});
  }
  jettest::MakeRemote(remote, remoteTables);
}

void LinkAll(LinkRun& r, const std::string& prefix) {
  auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
  for (const std::string& t : r.tables) LinkBack(*w, t, prefix, r.connect);
  EXPECT_EQ(jetwriter::BackupPathOf(*w), r.mdb.string() + ".bak");
}

struct Case {
  const char* file;
  const char* prefix;
  friend std::ostream& operator<<(std::ostream& o, const Case& c) {
    return o << c.file << " with prefix " << c.prefix;
  }
};

class LinkBackRun : public testing::TestWithParam<Case> {};

TEST_P(LinkBackRun, renames_every_table_keeps_its_rows_and_links_the_old_name) {
  LinkRun r;
  Prepare(r, GetParam().file);
  ASSERT_FALSE(r.tables.empty());
  std::string prefix = GetParam().prefix;
  LinkAll(r, prefix);

  std::vector<std::string> after = jettest::LibmdbTables(r.mdb);
  std::set<std::string> want;
  for (const std::string& t : r.tables) want.insert(prefix + t);
  EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), want);
  for (const std::string& t : r.tables) {
    EXPECT_EQ(jettest::LibmdbExport(r.mdb, prefix + t), r.exports[t]) << t;
  }
  std::map<std::string, Link> links = jettest::LibmdbLinks(r.mdb);
  ASSERT_EQ(links.size(), r.tables.size());
  for (const std::string& t : r.tables) {
    EXPECT_EQ(links[platform::Trim(t)], (Link{r.stored, engine::TargetNameOf(t)})) << t;
  }
  EXPECT_EQ(jetwriter::CheckCatalog(r.mdb.string()), std::vector<std::string>{});
  EXPECT_EQ(testing_support::ReadBytes(r.mdb.string() + ".bak"),
            testing_support::ReadBytes(fs::path(NORVANE_TEST_DATA) / GetParam().file));
}

TEST_P(LinkBackRun, a_second_run_finds_the_names_taken_and_changes_nothing) {
  LinkRun r;
  Prepare(r, GetParam().file);
  std::string prefix = GetParam().prefix;
  LinkAll(r, prefix);
  std::string before = testing_support::ReadBytes(r.mdb);

  auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
  for (const std::string& t : r.tables) {
    EXPECT_EQ(ErrorNumberOf([&] { w->RenameTable(t, prefix + t); }), dao::err::kObjectExists) << t;
    EXPECT_EQ(ErrorNumberOf([&] {
                w->AppendLinkedTable(platform::Trim(t), r.connect, engine::TargetNameOf(t));
              }),
              dao::err::kObjectExists)
        << t;
  }
  EXPECT_EQ(testing_support::ReadBytes(r.mdb), before);
  EXPECT_FALSE(fs::exists(r.mdb.string() + ".bak2"));  // no change, so no second backup
}

TEST_P(LinkBackRun, a_link_that_cannot_be_made_leaves_the_table_under_its_old_name) {
  LinkRun r;
  Prepare(r, GetParam().file);
  std::string table = r.tables.front();
  std::string missing = "ODBC;Driver=Norvane;Database=" + (r.dir.path() / "empty.db").string();
  jettest::MakeRemote(r.dir.path() / "empty.db", {{"Other", "x integer"}});
  auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
  EXPECT_EQ(ErrorNumberOf([&] { LinkBack(*w, table, GetParam().prefix, missing); }),
            dao::err::kOdbcCallFailed);
  // A row that outgrew its page during the rename stays on the page it moved to, so a scan of
  // the catalog may list the table later.
  std::vector<std::string> after = jettest::LibmdbTables(r.mdb);
  EXPECT_EQ(std::set<std::string>(after.begin(), after.end()),
            std::set<std::string>(r.tables.begin(), r.tables.end()));
  EXPECT_EQ(jettest::LibmdbExport(r.mdb, table), r.exports[table]);
  EXPECT_TRUE(jettest::LibmdbLinks(r.mdb).empty());
  EXPECT_EQ(jetwriter::CheckCatalog(r.mdb.string()), std::vector<std::string>{});
}

// A test name for a sample file: its format.
std::string FormatOf(const std::string& file) {
  if (file == "nwind.mdb") return "Jet3";
  if (file == "testV2000.mdb") return "Jet4";
  if (file == "modern-dev-V2000.mdb") return "Jet4_NonAscii";
  return file.find("2007") != std::string::npos ? "Ace2007" : "Ace2010";
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, LinkBackRun,
    testing::Values(Case{"nwind.mdb", "Old_"}, Case{"nwind.mdb", "Alt-"},
                    Case{"testV2000.mdb", "Old_"}, Case{"testV2000.mdb", "Alt-"},
                    Case{"modern-dev-V2000.mdb", "Old_"}, Case{"modern-dev-V2007.accdb", "Old_"},
                    Case{"modern-dev-V2010.accdb", "Alt-"}),
    [](const testing::TestParamInfo<Case>& i) {
      return FormatOf(i.param.file) + (i.param.prefix[0] == 'O' ? "_Old" : "_UserPrefix");
    });

class IndependentReader : public testing::TestWithParam<const char*> {};

TEST_P(IndependentReader, mdb_reader_sees_the_renamed_tables_and_the_links) {
  LinkRun r;
  Prepare(r, GetParam());
  std::map<std::string, long> counts;
  jettest::NodeView before = jettest::ReadWithMdbReader(r.mdb);
  if (!before.available) GTEST_SKIP() << before.why;
  LinkAll(r, "Old_");
  jettest::NodeView after = jettest::ReadWithMdbReader(r.mdb);
  ASSERT_TRUE(after.available);
  std::map<std::string, long> want;
  std::map<std::string, Link> wantLinks;
  for (const auto& [t, n] : before.rowCounts) {
    want["Old_" + t] = n;
    wantLinks[platform::Trim(t)] = Link{r.stored, engine::TargetNameOf(t)};
  }
  EXPECT_EQ(after.rowCounts, want);
  EXPECT_EQ(after.links, wantLinks);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, IndependentReader,
                         testing::Values("nwind.mdb", "testV2000.mdb", "modern-dev-V2000.mdb",
                                         "modern-dev-V2007.accdb", "modern-dev-V2010.accdb"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           return FormatOf(i.param);
                         });

TEST(CatalogWriter, rows_that_outgrow_their_page_move_and_stay_indexed) {
  LinkRun r;
  Prepare(r, "nwind.mdb");
  std::string longPrefix(50, 'x');
  {
    auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
    for (const std::string& t : r.tables) w->RenameTable(t, longPrefix + t);
  }
  EXPECT_EQ(jetwriter::CheckCatalog(r.mdb.string()), std::vector<std::string>{});
  for (const std::string& t : r.tables) {
    EXPECT_EQ(jettest::LibmdbExport(r.mdb, longPrefix + t), r.exports[t]) << t;
  }
  // Back to the old names: the same file apart from where the rows now lie.
  auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
  for (const std::string& t : r.tables) w->RenameTable(longPrefix + t, t);
  std::vector<std::string> after = jettest::LibmdbTables(r.mdb);
  std::sort(after.begin(), after.end());
  std::vector<std::string> want = r.tables;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(after, want);
  EXPECT_EQ(jetwriter::CheckCatalog(r.mdb.string()), std::vector<std::string>{});
}

TEST(CatalogWriter, refuses_names_it_cannot_store_and_writes_nothing) {
  testing_support::TempDir dir("jetwriter");
  fs::path jet3 = jettest::CopyFixture("nwind.mdb", dir.path());
  fs::path jet4 = jettest::CopyFixture("testV2000.mdb", dir.path());
  auto w3 = jetwriter::OpenJetCatalogWriter(jet3.string());
  auto w4 = jetwriter::OpenJetCatalogWriter(jet4.string());
  // Characters whose index key is not known.
  EXPECT_EQ(ErrorNumberOf([&] { w4->RenameTable("Table1", "Таблица"); }), dao::err::kUnsupported);
  EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("Orders", "Bestellungen €"); }),
            dao::err::kUnsupported);
  EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("Orders", "注文"); }), dao::err::kUnsupported);
  // Names Access does not allow.
  for (const char* bad : {"", " Orders", "Ord.ers", "Ord[ers]", "Ord!ers", "Orders\t"}) {
    EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("Orders", bad); }), 3125) << bad;
  }
  EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("Orders", std::string(65, 'a')); }), 3125);
  // Unknown tables; names taken, compared as the index compares them (letter case folded).
  EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("No such table", "X"); }), dao::err::kItemNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { w3->RenameTable("Orders", "CUSTOMERS"); }),
            dao::err::kObjectExists);
  EXPECT_EQ(ErrorNumberOf([&] { w4->RenameTable("Table1", "table2"); }), dao::err::kObjectExists);
  EXPECT_EQ(ErrorNumberOf([&] { w3->AppendLinkedTable("umsätze", "ODBC;Driver=Norvane", "x"); }),
            dao::err::kObjectExists);
  EXPECT_EQ(testing_support::ReadBytes(jet3),
            testing_support::ReadBytes(fs::path(NORVANE_TEST_DATA) / "nwind.mdb"));
  EXPECT_EQ(testing_support::ReadBytes(jet4),
            testing_support::ReadBytes(fs::path(NORVANE_TEST_DATA) / "testV2000.mdb"));
  EXPECT_FALSE(fs::exists(jet3.string() + ".bak"));
}

TEST(CatalogWriter, a_letter_case_change_and_non_ascii_names_keep_the_index_consistent) {
  testing_support::TempDir dir("jetwriter");
  fs::path jet3 = jettest::CopyFixture("nwind.mdb", dir.path());
  std::string rows = jettest::LibmdbExport(jet3, "Umsätze");
  auto w = jetwriter::OpenJetCatalogWriter(jet3.string());
  w->RenameTable("umsätze", "UMSÄTZE");  // look-up without regard to case, same key
  w->RenameTable("UMSÄTZE", "Umsätze Öl-Übersicht ß");
  w->RenameTable("Shippers", "Versandfirmen ñ é");
  EXPECT_EQ(jetwriter::CheckCatalog(jet3.string()), std::vector<std::string>{});
  EXPECT_EQ(jettest::LibmdbExport(jet3, "Umsätze Öl-Übersicht ß"), rows);
  EXPECT_EQ(ErrorNumberOf([&] { w->RenameTable("Orders", "UMSÄTZE ÖL-ÜBERSICHT SS"); }),
            dao::err::kObjectExists);  // ß sorts as "ss"
}

TEST(CatalogWriter, refuses_files_it_cannot_change) {
  testing_support::TempDir dir("jetwriter");
  // A file header of a format after Access 2016.
  std::string accdb(4096 * 4, '\0');
  accdb.replace(4, 15, "Standard ACE DB");
  accdb[0x14] = 6;
  testing_support::WriteBytes(dir.path() / "new.accdb", accdb);
  EXPECT_EQ(
      ErrorNumberOf([&] { jetwriter::OpenJetCatalogWriter((dir.path() / "new.accdb").string()); }),
      dao::err::kUnsupported);
  testing_support::WriteBytes(dir.path() / "text.mdb", std::string(4096, 'x'));
  EXPECT_EQ(
      ErrorNumberOf([&] { jetwriter::OpenJetCatalogWriter((dir.path() / "text.mdb").string()); }),
      dao::err::kUnrecognizedFormat);
  EXPECT_EQ(
      ErrorNumberOf([&] { jetwriter::OpenJetCatalogWriter((dir.path() / "none.mdb").string()); }),
      dao::err::kFileNotFound);
}

}  // namespace

namespace {

jetwriter::Bytes Hex(const std::string& hex) {
  jetwriter::Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
    b.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return b;
}

// Keys as Access wrote them into the sample files' catalog indexes.
TEST(IndexKeys, match_the_keys_access_wrote) {
  EXPECT_EQ(jetwriter::LongKey(0x0F000001), Hex("7f 8f 00 00 01"));
  EXPECT_EQ(jetwriter::LongKey(2), Hex("7f 80 00 00 02"));
  EXPECT_EQ(jetwriter::LongKey(INT32_MIN), Hex("7f 00 00 00 00"));
  jetwriter::Format jet3 = jetwriter::Format::Of(false);
  jetwriter::Format jet4 = jetwriter::Format::Of(true);
  // nwind.mdb: the accented letter goes to the extra-code block after two significant letters.
  EXPECT_EQ(jetwriter::TextKey("Umsätze", jet3), Hex("7f 78 6f 76 60 77 7e 66 02 26 00"));
  EXPECT_EQ(jetwriter::TextKey("umsÄtze", jet3), jetwriter::TextKey("Umsätze", jet3));
  EXPECT_EQ(jetwriter::TextKey("Order Details", jet3),
            Hex("7f 72 75 64 66 75 11 64 66 77 60 6a 6d 76 00"));
  // Jet 4: a hyphen has no inline code; it is listed after the text with its position.
  jetwriter::Bytes key = jetwriter::TextKey("~sq_cAAAA-OrdrarOLD~sq_ccboGrafiker", jet4);
  jetwriter::Bytes tail = Hex("01 01 01 01 80 2b 06 82 00");
  ASSERT_GT(key.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), key.end() - tail.size()));
  EXPECT_EQ(jetwriter::TextKey("Ab_9", jet4), Hex("7f 4a 4c 2b 03 48 01 00"));
}

// Names outside ASCII under the Jet 4 / Access 2007 and the Access 2010 orders: the keys Jackcess
// wrote for "Aufträge" and the relationship names holding it are re-encoded and compared by the
// catalog check; letter case is folded, accents are not.
TEST(IndexKeys, non_ascii_names_match_the_keys_in_files_of_both_general_orders) {
  for (const char* file :
       {"modern-dev-V2000.mdb", "modern-dev-V2007.accdb", "modern-dev-V2010.accdb"}) {
    EXPECT_EQ(jetwriter::CheckCatalog((fs::path(NORVANE_TEST_DATA) / file).string()),
              std::vector<std::string>{})
        << file;
  }
  jetwriter::Format legacy = jetwriter::Format::Of(true);
  jetwriter::Format general = legacy;
  general.textSortVersion = 1;
  for (const jetwriter::Format& f : {legacy, general}) {
    EXPECT_EQ(jetwriter::TextKey("AUFTRÄGE", f), jetwriter::TextKey("aufträge", f));
    EXPECT_NE(jetwriter::TextKey("Auftrage", f), jetwriter::TextKey("Aufträge", f));
    EXPECT_EQ(jetwriter::TextKey("Commandes Reçues", f), jetwriter::TextKey("COMMANDES REÇUES", f));
    EXPECT_EQ(ErrorNumberOf([&] { jetwriter::TextKey("Таблица", f); }), dao::err::kUnsupported);
  }
  EXPECT_NE(jetwriter::TextKey("Aufträge", legacy), jetwriter::TextKey("Aufträge", general));
}

TEST(CatalogWriter, many_links_split_the_index_pages_and_stay_consistent) {
  LinkRun r;
  Prepare(r, "nwind.mdb");
  auto w = jetwriter::OpenJetCatalogWriter(r.mdb.string());
  std::string customers = engine::TargetNameOf(r.tables.front());
  constexpr int kLinks = 70;
  for (int i = 0; i < kLinks; ++i) {
    char name[80];
    std::snprintf(name, sizeof name, "Verknuepfung %03d mit einem recht langen Namen fuer Seiten",
                  i);
    w->AppendLinkedTable(name, r.connect, customers);
  }
  EXPECT_EQ(jetwriter::CheckCatalog(r.mdb.string()), std::vector<std::string>{});
  EXPECT_EQ(jettest::LibmdbLinks(r.mdb).size(), static_cast<std::size_t>(kLinks));
  EXPECT_EQ(jettest::LibmdbTables(r.mdb), r.tables);
  jetwriter::PageFile file(r.mdb.string(), jetwriter::LockMode::kHeldByCaller);
  jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
  const auto& idx = cat.tdef.indexes[static_cast<std::size_t>(cat.nameIndex)];
  jetwriter::IndexTree tree = jetwriter::ReadIndexTree(file, cat.f, 2, idx.root);
  EXPECT_GT(tree.pages.size(), 4u);         // the root and several leaves
  EXPECT_EQ(file.Read(idx.root)[0], 0x03);  // the root stayed where it was, now a node
}

}  // namespace

// A character a Jet 3 catalog cannot hold is named in the hexadecimal form people look up.
TEST(CatalogNames, a_jet3_name_outside_latin1_names_the_character_in_hex) {
  try {
    jetwriter::EncodeText("\xF0\xA8\x91\x90", jetwriter::Format::Of(false));  // U+28450
    ADD_FAILURE() << "the name was accepted";
  } catch (const platform::Error& e) {
    EXPECT_NE(e.Description().find("U+28450 cannot be stored"), std::string::npos)
        << e.Description();
  }
}
