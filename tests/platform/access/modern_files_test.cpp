// Files as applications write them today: system-flagged objects, index column maps after a
// deleted column, and Jet 3 text bytes the code page leaves undefined.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine_support.h"
#include "platform/access/rows.h"
#include "platform/text.h"

namespace {

using engine_test::CopyFixture;
using testing_support::TempDir;

std::shared_ptr<dao::Database> Open(const std::string& path) {
  return platform::access::CreateEngine({nullptr, nullptr, std::chrono::seconds(20)})
      ->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
      ->OpenDatabase(path, {true, false}, "");
}

std::string Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Store(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ModernFiles, system_flags_come_from_the_catalog_whatever_the_name) {
  TempDir dir("engine");
  auto db = Open(CopyFixture("modern-dev-V2007.accdb", dir));
  auto& defs = db->TableDefs();
  // Flags 10: Access's navigation-pane tables; -2147483648: the catalog itself.
  EXPECT_EQ(defs.Item("MSysNavPaneGroups")->Attributes(), 10u);
  EXPECT_NE(defs.Item("MSysObjects")->Attributes() & dao::kSystemObject, 0u);
  EXPECT_EQ(defs.Item("Aufträge")->Attributes() & dao::kSystemObject, 0u);
  EXPECT_EQ(defs.Item("Kunden")->Attributes(), 0u);
}

// "name fields unique" for each index of `table`.
std::vector<std::string> IndexLines(dao::Database& db, const std::string& table) {
  std::vector<std::string> lines;
  for (const dao::Index& index : db.TableDefs().Item(table)->Indexes())
    lines.push_back(index.Name + " " + index.Fields + (index.Unique ? " U" : " -"));
  return lines;
}

// Table1 lost a column and an index: its index "id2" has number 2 but its columns are in real
// index 1, which its logical entry names.
TEST(ModernFiles, index_fields_come_from_the_real_index_each_index_names) {
  TempDir dir("engine");
  for (const char* file : {"delColTestV2000.mdb", "delColTestV1997.mdb"}) {
    auto db = Open(CopyFixture(file, dir));
    EXPECT_EQ(IndexLines(*db, "Table1"), (std::vector<std::string>{"id +id -", "id2 +id2 -"}))
        << file;
  }
}

TEST(ModernFiles, jet3_bytes_undefined_in_code_page_1252_read_as_windows_reads_them) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  std::string bytes = Load(path);
  const std::string from = "Alfreds Futterkiste";
  const std::string to = std::string("\x81\x8D\x8F\x90\x9D\x80?") + from.substr(7);
  for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1))
    bytes.replace(at, from.size(), to);
  Store(path, bytes);

  platform::access::RowStream rows(path, "Customers", std::chrono::seconds(20));
  std::size_t nameColumn = 0;
  while (nameColumn < rows.Columns().size() && rows.Columns()[nameColumn].name != "CompanyName")
    ++nameColumn;
  ASSERT_LT(nameColumn, rows.Columns().size());
  std::vector<platform::access::Cell> cells;
  ASSERT_TRUE(rows.Next(cells));
  const std::string value(cells[nameColumn].bytes.begin(), cells[nameColumn].bytes.end());
  EXPECT_EQ(value, "\u0081\u008D\u008F\u0090\u009D\u20AC? Futterkiste");
}

// Reading only some columns (as the check before a run does) gives those columns' values,
// the same as reading every column.
TEST(ModernFiles, a_row_stream_of_named_columns_carries_only_those) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  platform::access::RowStream all(path, "Order Details", std::chrono::seconds(20));
  platform::access::RowStream some(path, "Order Details", std::chrono::seconds(20),
                                   {"productid", "OrderID", "NoSuchColumn"});
  ASSERT_EQ(some.Columns().size(), 2u);
  EXPECT_EQ(some.Columns()[0].name, "OrderID");
  EXPECT_EQ(some.Columns()[1].name, "ProductID");
  std::size_t order = 0, product = 0;
  for (std::size_t c = 0; c < all.Columns().size(); ++c) {
    if (all.Columns()[c].name == "OrderID") order = c;
    if (all.Columns()[c].name == "ProductID") product = c;
  }
  std::vector<platform::access::Cell> full, part;
  std::size_t rows = 0;
  while (all.Next(full)) {
    ASSERT_TRUE(some.Next(part));
    ASSERT_EQ(part.size(), 2u);
    EXPECT_EQ(part[0].integer, full[order].integer);
    EXPECT_EQ(part[1].integer, full[product].integer);
    ++rows;
  }
  EXPECT_FALSE(some.Next(part));
  EXPECT_GT(rows, 2000u);
}

TEST(ModernFiles, code_page_1252_round_trips_every_byte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = platform::Cp1252ToUtf8(all);
  EXPECT_EQ(utf8.substr(0, 127), all.substr(0, 127));
  EXPECT_NE(utf8.find("\u0081"), std::string::npos);
  EXPECT_NE(utf8.find("\u0178"), std::string::npos);  // 0x9F
  EXPECT_EQ(utf8.find("\uFFFD"), std::string::npos);
  std::string back;
  ASSERT_TRUE(platform::Utf8ToCp1252(utf8, back));
  EXPECT_EQ(back, all);
  std::string out;
  EXPECT_FALSE(platform::Utf8ToCp1252("\u0100", out));  // not in the code page
  EXPECT_FALSE(platform::Utf8ToCp1252("\xC3", out));    // cut short
}

}  // namespace
