// The display and lookup properties a link takes from the table it replaces, read back by
// libmdb (its own reading of LvProp, across pages where a value spans several), and the long
// values the writer stores over a chain of pages.
#include <gtest/gtest.h>
#include <mdbtools.h>

#include <map>

#include "jet_test_support.h"
#include "platform/dao/dao.h"
#include "platform/display_properties.h"
#include "platform/error.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/jetwriter/jet_text.h"
#include "platform/jetwriter/long_value.h"
#include "platform/jetwriter/property_record.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Block name ("" for the table) -> property name -> value, as libmdb prints it.
using Properties = std::map<std::string, std::map<std::string, std::string>>;

// libmdb's reading of the properties of the catalog entry `name` whose id is `id`.
Properties LibmdbProperties(const fs::path& file, const std::string& name, std::int32_t id) {
  Properties out;
  MdbHandle* mdb = mdb_open(file.c_str(), MDB_NOFLAGS);
  if (mdb == nullptr) ADD_FAILURE() << "libmdb cannot open " << file;
  if (mdb == nullptr) return out;
  if (mdb_read_catalog(mdb, MDB_ANY) == nullptr) ADD_FAILURE() << "libmdb reads no catalog";
  bool found = false;
  for (unsigned i = 0; mdb->catalog != nullptr && i < mdb->catalog->len; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (name != e->object_name || e->table_pg != (static_cast<std::uint32_t>(id) & 0xFFFFFF))
      continue;
    found = true;
    for (unsigned b = 0; e->props != nullptr && b < e->props->len; ++b) {
      auto* p = static_cast<MdbProperties*>(g_ptr_array_index(e->props, b));
      auto& block = out[p->name != nullptr ? p->name : ""];
      GHashTableIter it;
      gpointer key, value;
      g_hash_table_iter_init(&it, p->hash);
      while (g_hash_table_iter_next(&it, &key, &value))
        block[static_cast<const char*>(key)] =
            value != nullptr ? static_cast<const char*>(value) : "";
    }
  }
  EXPECT_TRUE(found) << name;
  mdb_close(mdb);
  return out;
}

std::int32_t IdOf(const fs::path& file, const std::string& name) {
  jetwriter::PageFile pf(file.string(), jetwriter::LockMode::kReadOnly);
  for (const jetwriter::CatalogRow& r : jetwriter::ReadCatalog(pf).rows)
    if (r.name == name && r.parentId == 0x0F000001) return r.objectId;
  ADD_FAILURE() << "no table " << name;
  return 0;
}

// The LvProp field (12-byte head and what follows inline) of catalog entry `name`.
jetwriter::Bytes PropertyFieldOf(const fs::path& file, const std::string& name) {
  jetwriter::PageFile pf(file.string(), jetwriter::LockMode::kReadOnly);
  for (const jetwriter::CatalogRow& r : jetwriter::ReadCatalog(pf).rows)
    if (r.name == name && r.parentId == 0x0F000001 && r.values.values.at(jetwriter::col::kLvProp))
      return *r.values.values[jetwriter::col::kLvProp];
  return {};
}

// A copy of fixture `file` in `dir` whose `table` was renamed to "Old_<table>" and linked, with
// the renamed table's properties, to a remote table of `remoteColumns`.
fs::path LinkInPlace(const fs::path& dir, const std::string& file, const std::string& table,
                     const std::string& remoteColumns) {
  const fs::path mdb = jettest::CopyFixture(file, dir);
  const fs::path remote = dir / "remote.db";
  jettest::MakeRemote(remote, {{table, remoteColumns}});
  auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
  w->RenameTable(table, "Old_" + table);
  w->AppendLinkedTable(table, "ODBC;Driver=Norvane;Database=" + remote.string(), table,
                       "Old_" + table);
  return mdb;
}

struct Case {
  const char* file;
  const char* table;
  const char* remote;  // the remote table's columns
};

class LinkProperties : public testing::TestWithParam<Case> {
 protected:
  // Renames the case's table to "Old_<table>" and links the remote table in its place, with
  // the renamed table's properties.
  void Link() {
    mdb = LinkInPlace(dir.path(), GetParam().file, GetParam().table, GetParam().remote);
    EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
  }
  testing_support::TempDir dir{"link-props"};
  fs::path mdb;
};

TEST_P(LinkProperties, the_link_holds_every_display_property_of_its_columns_and_no_enforced_one) {
  Link();
  const std::string table = GetParam().table;
  const Properties original = LibmdbProperties(mdb, "Old_" + table, IdOf(mdb, "Old_" + table));
  Properties link = LibmdbProperties(mdb, table, IdOf(mdb, table));
  // Jet 4 and ACE links have GUIDs of their own: the table and every column.
  jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kReadOnly);
  const bool jet4 = jetwriter::ReadCatalog(file).f.jet4;
  // A name map only where the file keeps them (the original has one).
  const bool names = original.count("") != 0 && original.at("").count("NameMap") != 0;
  EXPECT_EQ(link.count("") != 0 && link.at("").count("NameMap") != 0, names && jet4);
  for (auto it = link.begin(); it != link.end();) {
    EXPECT_EQ(it->second.count("GUID"), jet4 ? 1u : 0u) << it->first;
    it->second.erase("GUID");
    it->second.erase("NameMap");
    it = it->second.empty() ? link.erase(it) : std::next(it);
  }
  // The link's columns, as the remote table has them.
  jetwriter::PageFile pf(mdb.string(), jetwriter::LockMode::kReadOnly);
  const jetwriter::TableDef def = jetwriter::ReadTableDef(
      pf, jetwriter::ReadCatalog(pf).f, static_cast<std::uint32_t>(IdOf(mdb, table)));
  Properties expected;
  for (const auto& [block, props] : original) {
    const bool isTable = block.empty();
    std::string column;
    for (const jetwriter::Column& c : def.columns)
      if (platform::EqualsNoCase(c.name, block)) column = c.name;
    if (!isTable && column.empty()) continue;
    for (const auto& [name, value] : props) {
      const bool shown = isTable
                             ? platform::IsListedProperty(platform::kTableDisplayProperties, name)
                             : platform::IsListedProperty(platform::kColumnDisplayProperties, name);
      if (shown) expected[column][name] = value;
    }
  }
  EXPECT_EQ(link, expected);
  for (const auto& [block, props] : link)
    for (const char* enforced :
         {"DefaultValue", "ValidationRule", "ValidationText", "Required", "AllowZeroLength"})
      EXPECT_EQ(props.count(enforced), 0u) << block << " " << enforced;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, LinkProperties,
    testing::Values(
        // Jet 3: combo-box lookups, captions, formats and decimal places; a record longer than
        // a page, read across its chain.
        Case{"nwind.mdb", "Orders",
             "OrderID integer primary key, CustomerID text, EmployeeID integer, "
             "orderdate text, Freight real, ShipName text, ShipCity text, Extra text"},
        Case{"nwind.mdb", "Products",
             "ProductID integer primary key, ProductName text, SupplierID integer, "
             "CategoryID integer, UnitPrice real, Discontinued integer"},
        // Jet 4: formats and display controls, the table's own properties.
        Case{"testV2000.mdb", "Table1", "A text, B text, C text, H real, I integer, Z text"},
        // ACE: only enforced properties, so the link has none.
        Case{"modern-dev-V2010.accdb", "Kunden",
             "KundenNr integer primary key, Firma text, Land text, Rabatt real, Angelegt text"}),
    [](const testing::TestParamInfo<Case>& i) {
      return jettest::FormatNameOf(i.param.file) + std::string(i.param.table);
    });

TEST(LinkPropertiesDetail, a_lookup_and_a_caption_format_and_decimal_places_arrive_as_stored) {
  testing_support::TempDir dir("link-props");
  const fs::path mdb = LinkInPlace(dir.path(), "nwind.mdb", "Orders",
                                   "OrderID integer primary key, EmployeeID integer, "
                                   "Freight real, OrderDate text");
  jetwriter::PageFile pf(mdb.string(), jetwriter::LockMode::kReadOnly);
  const jetwriter::Catalog cat = jetwriter::ReadCatalog(pf);
  const jetwriter::Bytes field = PropertyFieldOf(mdb, "Orders");
  ASSERT_FALSE(field.empty());
  const jetwriter::PropertyRecord record =
      jetwriter::ParsePropertyRecord(jetwriter::ReadLongValue(pf, cat.f, field), cat.f);
  std::map<std::string, std::map<std::string, std::string>> text;
  for (const auto& block : record)
    for (const auto& p : block.properties)
      if (p.type == jetwriter::kTypeText || p.type == jetwriter::kTypeMemo)
        text[block.name][p.name] = jetwriter::DecodeText(p.value, cat.f);
  EXPECT_EQ(text["EmployeeID"]["RowSourceType"], "Table/Query");
  EXPECT_EQ(text["EmployeeID"]["RowSource"].rfind("SELECT DISTINCTROW Employees.EmployeeID", 0),
            0u);
  EXPECT_EQ(text["Freight"]["Format"], "Currency");
  EXPECT_EQ(text["OrderDate"]["Caption"], "Order Date");
  // The blocks: the table's first, then the columns in the link's order; no DefaultValue of
  // Freight, no Required of EmployeeID.
  ASSERT_GE(record.size(), 4u);
  EXPECT_FALSE(record[0].column);
  EXPECT_EQ(record[1].name, "OrderID");
  EXPECT_EQ(record[2].name, "EmployeeID");
  EXPECT_EQ(record[3].name, "Freight");
  for (const auto& block : record)
    for (const auto& p : block.properties) {
      EXPECT_NE(p.name, "DefaultValue");
      EXPECT_NE(p.name, "Required");
    }
  const auto value = [&](const std::string& column, const std::string& name) {
    for (const auto& block : record)
      for (const auto& p : block.properties)
        if (block.name == column && p.name == name) return p;
    return jetwriter::Property{};
  };
  EXPECT_EQ(value("Freight", "DecimalPlaces").value, (jetwriter::Bytes{0xFF}));        // Auto (-1)
  EXPECT_EQ(value("EmployeeID", "DisplayControl").value, (jetwriter::Bytes{111, 0}));  // combo
  EXPECT_EQ(value("EmployeeID", "BoundColumn").value, (jetwriter::Bytes{1, 0}));
}

TEST(LinkPropertiesDetail, a_record_longer_than_a_page_is_stored_on_a_chain_libmdb_reads) {
  testing_support::TempDir dir("link-props");
  const fs::path mdb = LinkInPlace(
      dir.path(), "nwind.mdb", "Orders",
      "OrderID integer primary key, CustomerID text, EmployeeID integer, OrderDate text, "
      "RequiredDate text, ShippedDate text, ShipVia integer, Freight real, ShipName text, "
      "ShipAddress text, ShipCity text, ShipRegion text, ShipPostalCode text, ShipCountry text");
  EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
  jetwriter::PageFile pf(mdb.string(), jetwriter::LockMode::kReadOnly);
  const jetwriter::Catalog cat = jetwriter::ReadCatalog(pf);
  const jetwriter::Bytes field = PropertyFieldOf(mdb, "Orders");
  ASSERT_GE(field.size(), 12u);
  const std::uint32_t head = jetwriter::Le32(field, 0);
  ASSERT_GT(head & 0x3FFFFFFF, jetwriter::LongValueRowMax(cat.f));
  EXPECT_EQ(head & 0xC0000000u, 0u);  // a chain
  // libmdb reads the whole record: a lookup beyond the first page is there.
  const Properties link = LibmdbProperties(mdb, "Orders", IdOf(mdb, "Orders"));
  ASSERT_EQ(link.count("ShipVia"), 1u);
  EXPECT_EQ(link.at("ShipVia").count("RowSource"), 1u);
  EXPECT_EQ(link.at("ShipCountry").at("Caption"), "Ship Country");
}

TEST(LinkPropertiesDetail, a_record_that_does_not_decode_leaves_the_link_without_properties) {
  testing_support::TempDir dir("link-props");
  const fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  std::string record;
  {
    jetwriter::PageFile pf(mdb.string(), jetwriter::LockMode::kReadOnly);
    const jetwriter::Catalog cat = jetwriter::ReadCatalog(pf);
    for (const jetwriter::CatalogRow& r : cat.rows)
      if (r.name == "Shippers" && r.type == 1) {
        const jetwriter::Bytes b =
            jetwriter::ReadLongValue(pf, cat.f, *r.values.values.at(jetwriter::col::kLvProp));
        record.assign(b.begin(), b.end());
      }
  }
  // Shippers' record spoiled where it is stored: its first block claims more than there is.
  std::string bytes = testing_support::ReadBytes(mdb);
  ASSERT_GT(record.size(), 16u);
  const std::size_t at = bytes.find(record.substr(0, 16));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(record.substr(0, 16), at + 1), std::string::npos);
  bytes[at + 5] = '\x7F';
  testing_support::WriteBytes(mdb, bytes);
  const fs::path remote = dir.path() / "remote.db";
  jettest::MakeRemote(remote, {{"Shippers", "ShipperID integer primary key, CompanyName text"}});
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    w->RenameTable("Shippers", "Old_Shippers");
    w->AppendLinkedTable("Shippers", "ODBC;Driver=Norvane;Database=" + remote.string(), "Shippers",
                         "Old_Shippers");
  }
  EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
  EXPECT_TRUE(PropertyFieldOf(mdb, "Shippers").empty());
  EXPECT_NE(IdOf(mdb, "Shippers"), 0);
}

// Every property record of the fixtures' tables, decoded and encoded again, decodes to the same
// properties; where Access's name pool holds only names in use, it is the same bytes: the
// layout the writer gives a link is the one Access gave these tables.
TEST(PropertyRecords, each_table_record_of_the_fixtures_encodes_back_as_access_wrote_it) {
  int records = 0, same = 0;
  for (const char* file : jettest::kLinkFormats) {
    jetwriter::PageFile pf((fs::path(NORVANE_TEST_DATA) / file).string(),
                           jetwriter::LockMode::kReadOnly);
    const jetwriter::Catalog cat = jetwriter::ReadCatalog(pf);
    for (const jetwriter::CatalogRow& r : cat.rows) {
      const auto& field = r.values.values.at(jetwriter::col::kLvProp);
      if (r.type != 1 || !field) continue;
      const jetwriter::Bytes record = jetwriter::ReadLongValue(pf, cat.f, *field);
      const jetwriter::PropertyRecord decoded = jetwriter::ParsePropertyRecord(record, cat.f);
      const jetwriter::Bytes built = jetwriter::BuildPropertyRecord(decoded, cat.f);
      EXPECT_EQ(jetwriter::ParsePropertyRecord(built, cat.f), decoded) << file << " " << r.name;
      // Otherwise only names no property uses were left out of the pool.
      if (built == record)
        ++same;
      else
        EXPECT_LT(built.size(), record.size()) << file << " " << r.name;
      ++records;
    }
  }
  EXPECT_GT(records, 10);
  EXPECT_GE(same, 5);
}

TEST(PropertyRecords, a_cut_or_foreign_record_is_refused_as_damage) {
  jetwriter::PageFile pf((fs::path(NORVANE_TEST_DATA) / "nwind.mdb").string(),
                         jetwriter::LockMode::kReadOnly);
  const jetwriter::Catalog cat = jetwriter::ReadCatalog(pf);
  jetwriter::Bytes record;
  for (const jetwriter::CatalogRow& r : cat.rows)
    if (r.name == "Orders" && r.type == 1)
      record = jetwriter::ReadLongValue(pf, cat.f, *r.values.values.at(jetwriter::col::kLvProp));
  ASSERT_GT(record.size(), 100u);
  const auto refused = [&](const jetwriter::Bytes& b, const jetwriter::Format& f) {
    try {
      jetwriter::ParsePropertyRecord(b, f);
    } catch (const platform::Error& e) {
      return e.Number() == dao::err::kUnrecognizedFormat;
    }
    return false;
  };
  EXPECT_TRUE(refused(jetwriter::Bytes(record.begin(), record.end() - 3), cat.f));
  jetwriter::Format jet4 = cat.f;
  jet4.jet4 = true;
  EXPECT_TRUE(refused(record, jet4));  // "KKD" where a Jet 4 record says "MR2"
  jetwriter::Bytes badIndex = record;
  // The first property of the table block names an entry past the name pool.
  const std::size_t pool = jetwriter::Le32(record, 4);
  const std::size_t firstValue = 4 + pool + 6 + jetwriter::Le32(record, 4 + pool + 6);
  jetwriter::SetLe16(badIndex, firstValue + 4, 999);
  EXPECT_TRUE(refused(badIndex, cat.f));
}

}  // namespace
