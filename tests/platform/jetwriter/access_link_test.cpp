// Links to tables of another Access file, as a split database has them (the front-end holds the
// links, the back-end the tables): the writer's type-6 entry as libmdb and mdb-reader read it,
// and the engine reading such a link through to its back-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "jet_test_support.h"
#include "norvane/catalog.h"
#include "platform/access/access_engine.h"
#include "platform/access/catalog.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/paths.h"
#include "support/error_number.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::ErrorNumberOf;
using testing_support::ReadBytes;

namespace {

constexpr std::chrono::seconds kTimeout(60);
constexpr char kBackEnd[] = "Back End of the Northwind database, kept apart from its forms";

std::string AccessConnect(const fs::path& backEnd) {
  return ";DATABASE=" + platform::paths::ToWindows(backEnd);
}

// A split database: nwind.mdb (Jet 3) as back-end in a folder whose name holds blanks and is long
// enough that the path does not fit inside a catalog row, and an empty Jet 4 file as front-end.
struct Split {
  testing_support::TempDir dir{"access-link"};
  fs::path back;
  fs::path front;

  Split() {
    fs::create_directories(dir.path() / kBackEnd);
    back = jettest::CopyFixture("nwind.mdb", dir.path() / kBackEnd);
    front = jettest::CopyFixture("emptyJet4.mdb", dir.path());
  }
  // Appends links name -> (connect, table) with the writer alone, as Access stores them.
  void Link(const std::vector<std::pair<std::string, std::pair<std::string, std::string>>>& links) {
    auto w = jetwriter::OpenJetCatalogWriterLocked(front.string());
    for (const auto& [name, source] : links)
      w->AppendLinkedTable(name, source.first, source.second);
  }
  std::shared_ptr<dao::Database> Open() {
    auto engine = platform::access::CreateEngine(
        {.writerFactory = jetwriter::OpenJetCatalogWriter,
         .recoverInterruptedChange = jetwriter::RecoverInterruptedChange});
    return engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
        ->OpenDatabase(front.string(), {.exclusive = true, .readOnly = false}, "");
  }
};

const std::map<std::string, std::string>* Row(
    const std::vector<std::map<std::string, std::string>>& rows, const std::string& name) {
  for (const auto& row : rows)
    if (row.at("Name") == name) return &row;
  return nullptr;
}

const platform::access::TableInfo* Find(const platform::access::Catalog& c,
                                        const std::string& name) {
  for (const auto& t : c.tables)
    if (t.name == name) return &t;
  return nullptr;
}

std::string IndexList(const std::vector<dao::Index>& indexes) {
  std::string out;
  for (const dao::Index& i : indexes)
    out += i.Name + "(" + i.Fields + (i.Unique ? " unique" : "") + (i.Primary ? " primary" : "") +
           ") ";
  return out;
}

}  // namespace

TEST(AccessLinkWriter, appends_a_type_6_entry_that_libmdb_and_mdb_reader_read_and_renames_it) {
  Split s;
  const std::string path = platform::paths::ToWindows(s.back);
  s.Link({{"Kunden", {AccessConnect(s.back), "Customers"}},
          {"Order Details", {AccessConnect(s.back), "Order Details"}}});
  EXPECT_EQ(jetwriter::CheckCatalog(s.front.string()), std::vector<std::string>{});

  auto rows = jettest::LibmdbObjects(s.front);
  const auto* kunden = Row(rows, "Kunden");
  const auto* details = Row(rows, "Order Details");
  ASSERT_NE(kunden, nullptr);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(kunden->at("Type"), "6");
  EXPECT_EQ(kunden->at("Database"), path);
  EXPECT_EQ(kunden->at("ForeignName"), "Customers");
  EXPECT_EQ(kunden->at("Connect"), "");
  // No table definition of their own: ids count up from the smallest integer.
  EXPECT_EQ(kunden->at("Id"), "-2147483647");
  EXPECT_EQ(details->at("Id"), "-2147483646");

  const jettest::NodeView node = jettest::ReadWithMdbReader(s.front);
  if (node.available) {
    EXPECT_EQ(node.accessLinks.at("Kunden"),
              (jettest::AccessLink{-2147483647, path, "Customers", ""}));
    EXPECT_EQ(node.accessLinks.at("Order Details").foreignName, "Order Details");
    EXPECT_TRUE(node.rowCounts.empty());  // a link is no table of the front-end
  } else {
    ADD_FAILURE() << node.why;
  }

  {  // what link-back does with it first
    auto w = jetwriter::OpenJetCatalogWriterLocked(s.front.string());
    w->RenameTable("Kunden", "Old_Kunden");
  }
  EXPECT_EQ(jetwriter::CheckCatalog(s.front.string()), std::vector<std::string>{});
  rows = jettest::LibmdbObjects(s.front);
  EXPECT_EQ(Row(rows, "Kunden"), nullptr);
  const auto* renamed = Row(rows, "Old_Kunden");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->at("Type"), "6");
  EXPECT_EQ(renamed->at("Id"), "-2147483647");
  EXPECT_EQ(renamed->at("Database"), path);
  EXPECT_EQ(renamed->at("ForeignName"), "Customers");
}

TEST(AccessLinkWriter, refuses_a_taken_name_or_an_empty_path_and_writes_nothing) {
  Split s;
  s.Link({{"Kunden", {AccessConnect(s.back), "Customers"}}});
  const std::string before = ReadBytes(s.front);
  auto w = jetwriter::OpenJetCatalogWriterLocked(s.front.string());
  EXPECT_EQ(ErrorNumberOf([&] { w->AppendLinkedTable("kunden", AccessConnect(s.back), "Orders"); }),
            dao::err::kObjectExists);
  EXPECT_EQ(ErrorNumberOf([&] { w->AppendLinkedTable("Leer", ";DATABASE=", "Orders"); }),
            dao::err::kUnsupported);
  EXPECT_EQ(ErrorNumberOf([&] { w->AppendLinkedTable("Leer", AccessConnect(s.back), ""); }),
            dao::err::kUnsupported);
  w.reset();
  EXPECT_EQ(ReadBytes(s.front), before);
}

TEST(AccessLinkEngine, the_catalog_shows_a_link_with_its_back_end_tables_columns_and_indexes) {
  Split s;
  s.Link({{"Kunden", {AccessConnect(s.back), "customers"}},  // Jet finds names in any case
          {"Orders", {AccessConnect(s.back), "Orders"}}});
  const auto front = platform::access::ReadCatalog(s.front.string(), kTimeout);
  const auto back = platform::access::ReadCatalog(s.back.string(), kTimeout);

  const auto* kunden = Find(front, "Kunden");
  const auto* customers = Find(back, "Customers");
  ASSERT_NE(kunden, nullptr);
  ASSERT_NE(customers, nullptr);
  EXPECT_EQ(kunden->objectType, dao::ObjectType::kAccessLink);
  EXPECT_EQ(kunden->connect, AccessConnect(s.back));
  EXPECT_EQ(kunden->sourceTableName, "customers");
  EXPECT_EQ(kunden->backEnd.errorNumber, 0) << kunden->backEnd.error;
  EXPECT_EQ(kunden->backEnd.path, s.back.string());
  EXPECT_EQ(kunden->backEnd.table, "Customers");
  EXPECT_EQ(kunden->backEnd.jetVersion, 0);  // the back-end's own version, not the front-end's
  EXPECT_EQ(front.jetVersion, 1);
  ASSERT_EQ(kunden->columns.size(), customers->columns.size());
  for (std::size_t c = 0; c < kunden->columns.size(); ++c) {
    EXPECT_EQ(kunden->columns[c].name, customers->columns[c].name);
    EXPECT_EQ(kunden->columns[c].type, customers->columns[c].type);
    EXPECT_EQ(kunden->columns[c].size, customers->columns[c].size);
  }
  EXPECT_EQ(IndexList(kunden->indexes), IndexList(customers->indexes));
  EXPECT_NE(IndexList(kunden->indexes).find("primary"), std::string::npos);
  // The foreign side's relationship index comes from the back-end's relationships.
  const std::string orders = IndexList(Find(front, "Orders")->indexes);
  EXPECT_EQ(orders, IndexList(Find(back, "Orders")->indexes));
  EXPECT_NE(orders.find("CustomersOrders(+CustomerID)"), std::string::npos) << orders;
  EXPECT_TRUE(front.relations.empty());
}

TEST(AccessLinkEngine, transfer_copies_the_back_end_rows_and_an_unreachable_back_end_fails_alone) {
  Split s;
  const fs::path broken = s.dir.path() / kBackEnd / "broken.mdb";
  testing_support::WriteBytes(broken, std::string(3 * 4096, 'x'));
  s.Link({{"Kunden", {AccessConnect(s.back), "Customers"}},
          {"Moved", {AccessConnect(s.dir.path() / kBackEnd / "gone.mdb"), "Customers"}},
          {"Relative", {";DATABASE=nwind.mdb", "Customers"}},
          {"NoTable", {AccessConnect(s.back), "No Such Table"}},
          {"Damaged", {AccessConnect(broken), "Customers"}}});
  auto db = s.Open();  // broken links do not keep the front-end from opening
  const fs::path target = s.dir.path() / "target.db";
  norvane::CreateDatabase(target);  // the driver opens only Norvane files
  const auto copy = [&](const std::string& source, std::string* description = nullptr) {
    return ErrorNumberOf(
        [&] {
          db->Execute("select * into [ODBC;Driver=Norvane;Database=" + target.string() + "].[" +
                      source + "] from [" + source + "]");
        },
        description);
  };
  std::string why;
  EXPECT_EQ(copy("Kunden", &why), 0) << why;
  EXPECT_EQ(jettest::Run("sqlite3 " + jettest::Quote(target.string()) +
                         " 'select count(*), min(CustomerID) from Kunden'"),
            "91|ALFKI\n");

  EXPECT_EQ(copy("Moved", &why), dao::err::kFileNotFound);
  EXPECT_NE(why.find("gone.mdb', which does not exist"), std::string::npos) << why;
  EXPECT_EQ(copy("Relative", &why), dao::err::kFileNotFound);
  EXPECT_NE(why.find("'nwind.mdb', which is not a full path"), std::string::npos) << why;
  EXPECT_EQ(copy("NoTable", &why), dao::err::kItemNotFound);
  EXPECT_NE(why.find("table 'No Such Table' of the Access file"), std::string::npos) << why;
  EXPECT_EQ(copy("Damaged", &why), dao::err::kUnrecognizedFormat);
  EXPECT_NE(why.find("broken.mdb', which cannot be read"), std::string::npos) << why;
  EXPECT_TRUE(db->TableDefs().Item("Moved")->Indexes().empty());
  // Nothing of the failed copies is left in the target.
  EXPECT_EQ(
      jettest::Run("sqlite3 " + jettest::Quote(target.string()) +
                   " 'select group_concat(name) from sqlite_schema where type = \"table\" and "
                   "name not like \"SYS.%\"'"),
      "Kunden\n");
  db->Close();
}

TEST(AccessLinkEngine, append_checks_the_back_end_table_and_rename_keeps_the_link_readable) {
  Split s;
  auto db = s.Open();
  auto& defs = db->TableDefs();
  const int before = defs.Count();
  const std::string bytes = ReadBytes(s.front);
  auto missing = db->CreateTableDef("Lieferanten");
  missing->SetConnect(AccessConnect(s.back));
  missing->SetSourceTableName("Lieferanten");
  EXPECT_EQ(ErrorNumberOf([&] { defs.Append(missing); }), dao::err::kItemNotFound);
  EXPECT_EQ(defs.Count(), before);
  EXPECT_EQ(ReadBytes(s.front), bytes);

  auto link = db->CreateTableDef("Lieferanten");
  link->SetConnect(AccessConnect(s.back));
  link->SetSourceTableName("Suppliers");
  defs.Append(link);
  ASSERT_EQ(defs.Count(), before + 1);
  EXPECT_EQ(defs.Item("Lieferanten")->Connect(), AccessConnect(s.back));
  EXPECT_NE(IndexList(defs.Item("Lieferanten")->Indexes())
                .find("PrimaryKey(+SupplierID unique "
                      "primary)"),
            std::string::npos)
      << IndexList(defs.Item("Lieferanten")->Indexes());

  // Link-back renames the link; it still reads its back-end under the new name.
  defs.Item("Lieferanten")->SetName("Old_Lieferanten");
  EXPECT_EQ(defs.Item("Old_Lieferanten")->SourceTableName(), "Suppliers");
  EXPECT_FALSE(defs.Item("Old_Lieferanten")->Indexes().empty());
  const fs::path target = s.dir.path() / "target.db";
  norvane::CreateDatabase(target);  // the driver opens only Norvane files
  EXPECT_EQ(ErrorNumberOf([&] {
              db->Execute("select * into [ODBC;Driver=Norvane;Database=" + target.string() +
                          "].[Suppliers] from [Old_Lieferanten]");
            }),
            0);
  db->Close();
  EXPECT_EQ(jettest::Run("sqlite3 " + jettest::Quote(target.string()) +
                         " 'select count(*) from Suppliers'"),
            "29\n");
  EXPECT_EQ(jetwriter::CheckCatalog(s.front.string()), std::vector<std::string>{});
}

TEST(AccessLinkEngine, a_back_end_that_is_no_plain_access_file_path_is_refused_with_the_reason) {
  const auto reason = [](const std::string& connect, const std::string& database) {
    platform::access::TableInfo link;
    link.name = "Sheet";
    link.objectType = dao::ObjectType::kAccessLink;
    link.connect = connect;
    link.sourceTableName = "Sheet1$";
    link.database = database;
    std::string why;
    const int number =
        ErrorNumberOf([&] { platform::access::ResolveAccessLink(link, kTimeout); }, &why);
    return std::to_string(number) + " " + why;
  };
  EXPECT_EQ(reason("Excel 8.0;HDR=YES;DATABASE=C:\\data\\plan.xls", "C:\\data\\plan.xls"),
            "3251 The table 'Sheet' is linked to a file of type 'Excel 8.0' "
            "('C:\\data\\plan.xls'); only Access tables can be copied.");
  EXPECT_EQ(reason(";PWD=secret;DATABASE=Z:\\tmp\\b.mdb", "Z:\\tmp\\b.mdb"),
            "3251 The table 'Sheet' is linked to the password-protected Access file "
            "'Z:\\tmp\\b.mdb', which cannot be opened.");
  EXPECT_EQ(reason(";DATABASE=", ""),
            "3024 The table 'Sheet' is linked to another Access file, but its entry names none.");
  EXPECT_EQ(reason(";DATABASE=C:back.mdb", "C:back.mdb"),
            "3024 The table 'Sheet' is linked to the Access file 'C:back.mdb', which is not a full "
            "path; the file cannot be found.");
  EXPECT_NE(reason(";DATABASE=\\\\server\\share\\b.mdb", "\\\\server\\share\\b.mdb")
                .find("3024 The table 'Sheet' is linked to the Access file "
                      "'\\\\server\\share\\b.mdb', which cannot be found: "),
            std::string::npos);
}
