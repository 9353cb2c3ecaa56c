// norvane-migrate end to end: the real command files, tools, engine, catalog writer and ODBC
// driver, on real Access files copied into folders whose names hold blanks.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "engine/names.h"
#include "engine/work_files.h"
#include "norvane/sqlite.h"
#include "platform/access/catalog.h"
#include "platform/error.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/paths.h"
#include "platform/verify/migration_check.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using tools_test::Query;
using tools_test::RunProgram;

namespace {

const fs::path kMigrate = NORVANE_MIGRATE;

class EndToEnd : public ::testing::Test {
 protected:
  // Copies a test file into "<temp>/My Data/" and names the database beside it.
  fs::path Copy(const std::string& name) {
    fs::create_directories(dir.path() / "My Data");
    const fs::path access = dir.path() / "My Data" / name;
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / name, access);
    db = access;
    db.replace_extension(".db");
    return access;
  }
  tools_test::Outcome Migrate(std::vector<std::string> args) {
    return RunProgram(kMigrate, args, dir.path());
  }
  // A split database: nwind.mdb as back-end in "My Data/Back End/", and "My Data/Sales.mdb" (an
  // empty Jet 4 file) as front-end whose tables link into it, as `links` (name -> back-end
  // table) says, or with every user table of the back-end under its own name.
  fs::path SplitNwind(std::vector<std::pair<std::string, std::string>> links = {}) {
    fs::create_directories(dir.path() / "My Data" / "Back End");
    backEnd = dir.path() / "My Data" / "Back End" / "nwind.mdb";
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / "nwind.mdb", backEnd);
    const fs::path front = Copy("emptyJet4.mdb");
    fs::rename(front, dir.path() / "My Data" / "Sales.mdb");
    db = dir.path() / "My Data" / "Sales.db";
    if (links.empty()) {
      for (const auto& t : platform::access::ReadCatalog(backEnd, std::chrono::seconds(60)).tables)
        if (t.objectType == dao::ObjectType::kTable && !t.name.starts_with("MSys"))
          links.push_back({t.name, t.name});
    }
    auto writer = jetwriter::OpenJetCatalogWriterLocked((dir.path() / "My Data" / "Sales.mdb"));
    for (const auto& [name, table] : links)
      writer->AppendLinkedTable(name, ";DATABASE=" + platform::paths::ToWindows(backEnd), table);
    return dir.path() / "My Data" / "Sales.mdb";
  }
  std::string Q(const std::string& sql) { return Query(db, sql); }
  const platform::access::TableInfo* Find(const platform::access::Catalog& c,
                                          const std::string& name) {
    for (const auto& t : c.tables)
      if (t.name == name) return &t;
    return nullptr;
  }
  // The indexes of link `name` as its definition holds them: the columns of each, and whether
  // it is unique; the key first.
  std::vector<std::pair<std::vector<std::string>, bool>> LinkIndexes(const fs::path& mdb,
                                                                     const std::string& name) {
    jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kHeldByCaller);
    const jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
    std::vector<std::pair<std::vector<std::string>, bool>> out;
    for (const auto& r : cat.rows) {
      if (r.name != name || !dao::IsObjectType(r.type, dao::ObjectType::kOdbcLink)) continue;
      const jetwriter::TableDef def =
          jetwriter::ReadTableDef(file, cat.f, static_cast<std::uint32_t>(r.objectId) & 0xFFFFFF);
      for (const auto& index : def.indexes) {
        std::vector<std::string> columns;
        for (int c : index.columns) columns.push_back(def.columns.at(c).name);
        out.push_back({columns, (index.flags & 0x01) != 0});
      }
    }
    return out;
  }

  TempDir dir{"norvane-e2e"};  // the blank is in "My Data": sibling runs share /tmp
  fs::path db;
  fs::path backEnd;
};

}  // namespace

TEST_F(EndToEnd, nwind_with_link_migrates_every_table_key_and_link_and_cleans_up) {
  const fs::path access = Copy("nwind.mdb");
  const auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("everything checked out"), std::string::npos);

  EXPECT_EQ(Q("SELECT count(*) FROM \"Order_Details\""), "2155");
  EXPECT_EQ(Q("SELECT count(*) FROM Orders"), "830");
  int foreignKeys = 0;
  for (const char* t : {"Products", "Orders", "Order_Details"})
    foreignKeys += std::stoi(
        Q(std::string("SELECT count(*) FROM pragma_foreign_key_list('") + t + "') WHERE seq = 0"));
  EXPECT_EQ(foreignKeys, 7);
  EXPECT_EQ(Q("SELECT group_concat(name) FROM pragma_table_info('Order_Details') WHERE pk > 0"),
            "OrderID,ProductID");
  EXPECT_EQ(Q("SELECT lower(type) FROM pragma_table_info('Orders') WHERE name = 'OrderDate'"),
            "timestamp");
  EXPECT_EQ(Q("SELECT count(*) FROM sqlite_schema WHERE name = 'Umsätze'"), "1");
  // The index Jet keeps for the foreign side of a relationship.
  EXPECT_EQ(Q("SELECT group_concat(name) FROM pragma_index_info('Orders_customersorders')"),
            "CustomerID");
  EXPECT_EQ(Q("SELECT \"unique\" FROM pragma_index_list('Orders') "
              "WHERE name = 'Orders_customersorders'"),
            "0");

  const auto catalog = platform::access::ReadCatalog(access.string(), std::chrono::seconds(60));
  const auto* local = Find(catalog, "Old_Order Details");
  const auto* link = Find(catalog, "Order Details");
  ASSERT_NE(local, nullptr);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(local->objectType, dao::ObjectType::kTable);
  EXPECT_EQ(link->objectType, dao::ObjectType::kOdbcLink);
  EXPECT_EQ(link->sourceTableName, "Order_Details");
  EXPECT_NE(link->connect.find(db.string()), std::string::npos) << link->connect;
  EXPECT_TRUE(fs::exists(access.string() + ".bak"));
  // Each link's key is its table's primary key; the non-unique indexes follow it.
  const auto customers = LinkIndexes(access, "Customers");
  ASSERT_GE(customers.size(), 2u);
  EXPECT_EQ(customers[0], std::make_pair(std::vector<std::string>{"CustomerID"}, true));
  EXPECT_FALSE(customers.back().second);
  EXPECT_EQ(LinkIndexes(access, "Order Details")[0],
            std::make_pair(std::vector<std::string>{"OrderID", "ProductID"}, true));
  // Access's counter of "Umsätze" is above its highest number.
  EXPECT_NE(run.output.find("OrderID continues at 11160 after Access's counter 11159"),
            std::string::npos)
      << run.output;
  // What Access will show through the links; the links carry every display and lookup
  // property of their columns, so the report names none left behind.
  EXPECT_NE(run.output.find("    UnitPrice: Currency in Access, numeric_blob on Norvane, the link "
                            "shows Text\n"),
            std::string::npos);
  EXPECT_EQ(run.output.find("not carried onto the link"), std::string::npos) << run.output;
  const auto held = [&](const std::string& table, const std::string& column) {
    const auto* t = Find(catalog, table);
    std::vector<std::string> names;
    if (t != nullptr)
      for (const auto& [c, properties] : t->linkProperties)
        if (c == column) names = properties;
    return names;
  };
  const std::vector<std::string> lookup = held("Order Details", "ProductID");
  for (const char* p : {"Caption", "DisplayControl", "RowSourceType", "RowSource", "BoundColumn",
                        "ColumnCount", "LimitToList"})
    EXPECT_NE(std::find(lookup.begin(), lookup.end(), p), lookup.end()) << p;
  const std::vector<std::string> freight = held("Orders", "Freight");
  for (const char* p : {"Format", "DecimalPlaces"})
    EXPECT_NE(std::find(freight.begin(), freight.end(), p), freight.end()) << p;

  for (const char* name : engine::kWorkFileNames)
    EXPECT_FALSE(fs::exists(dir.path() / "My Data" / name)) << name;
}

TEST_F(EndToEnd, a_front_end_migrates_its_back_end_tables_through_the_links_and_links_back) {
  const fs::path front = SplitNwind();
  const auto run = Migrate({"--access", front.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  // The checker read every value from the back-end and found it in the new tables.
  EXPECT_NE(run.output.find("everything checked out"), std::string::npos) << run.output;
  EXPECT_EQ(Q("SELECT count(*) FROM \"Order_Details\""), "2155");
  EXPECT_EQ(Q("SELECT count(*) FROM Orders"), "830");
  EXPECT_EQ(Q("SELECT sum(Quantity) FROM Order_Details WHERE OrderID = 10248"), "27");
  EXPECT_EQ(Q("SELECT group_concat(name) FROM pragma_table_info('Order_Details') WHERE pk > 0"),
            "OrderID,ProductID");
  EXPECT_EQ(Q("SELECT count(*) FROM \"Umsätze\""), "830");
  // Text lengths as the back-end (Jet 3) counts them, not as the front-end (Jet 4) would.
  EXPECT_EQ(Q("SELECT lower(type) FROM pragma_table_info('Customers') WHERE name = 'CompanyName'"),
            "varchar(40)");
  // The back-end's indexes, its relationship index among them. Relationships belong to the
  // back-end: the front-end has none, so no foreign keys.
  EXPECT_EQ(Q("SELECT group_concat(name) FROM pragma_index_info('Orders_customersorders')"),
            "CustomerID");
  EXPECT_EQ(Q("SELECT count(*) FROM pragma_foreign_key_list('Orders')"), "0");

  const auto catalog = platform::access::ReadCatalog(front.string(), std::chrono::seconds(60));
  const auto* renamed = Find(catalog, "Old_Orders");
  const auto* link = Find(catalog, "Orders");
  ASSERT_NE(renamed, nullptr);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(renamed->objectType, dao::ObjectType::kAccessLink);
  EXPECT_EQ(renamed->backEnd.table, "Orders");
  EXPECT_EQ(link->objectType, dao::ObjectType::kOdbcLink);
  EXPECT_EQ(link->sourceTableName, "Orders");
  // The back-end is only read.
  EXPECT_EQ(ReadBytes(backEnd), ReadBytes(fs::path(NORVANE_TEST_DATA) / "nwind.mdb"));
  EXPECT_FALSE(fs::exists(backEnd.string() + ".bak"));
}

TEST_F(EndToEnd, a_link_whose_back_end_is_gone_fails_alone_and_the_run_goes_on) {
  const fs::path front =
      SplitNwind({{"Customers", "Customers"}, {"Lost", "Orders"}, {"Shippers", "Shippers"}});
  fs::copy_file(backEnd, backEnd.parent_path() / "moved.mdb");
  {  // the link to Lost points at a file that was moved away
    auto writer = jetwriter::OpenJetCatalogWriterLocked(front);
    writer->RenameTable("Lost", "Lost link");
  }
  {
    auto writer = jetwriter::OpenJetCatalogWriterLocked(front);
    writer->AppendLinkedTable(
        "Lost", ";DATABASE=" + platform::paths::ToWindows(backEnd.parent_path() / "old.mdb"),
        "Orders");
  }
  const auto run = Migrate({"--access", front.string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("Transferring Lost: The table 'Lost' is linked to the Access file 'Z:"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("old.mdb', which does not exist. (3024)"), std::string::npos)
      << run.output;
  EXPECT_EQ(Q("SELECT count(*) FROM Customers"), "91");
  EXPECT_EQ(Q("SELECT count(*) FROM Shippers"), "3");
  EXPECT_EQ(Q("SELECT count(*) FROM Lost_link"), "830");
  EXPECT_EQ(Q("SELECT count(*) FROM sqlite_schema WHERE name = 'Lost'"), "0");
}

TEST_F(EndToEnd, keep_work_files_leaves_all_six_as_written) {
  const fs::path access = Copy("nwind.mdb");
  const auto run = Migrate({"--access", access.string(), "--keep-work-files"});
  ASSERT_EQ(run.status, 0) << run.output;
  const fs::path work = dir.path() / "My Data";
  for (const char* name : engine::kWorkFileNames) EXPECT_TRUE(fs::exists(work / name)) << name;
  EXPECT_EQ(ReadBytes(work / "sp.sql"),
            ReadBytes(fs::path(NORVANE_TEST_DATA) / "golden" / "sp.sql"));
  EXPECT_EQ(ReadBytes(work / "reload.sql"),
            ReadBytes(work / "reload1.sql") + ReadBytes(work / "reload2.sql"));
  const std::string reload1 = ReadBytes(work / "reload1.sql");
  EXPECT_TRUE(
      reload1.ends_with("commit; \r\ncall sp_ts_time(); \r\ncommit; \r\n"
                        "drop procedure sp_ts_time; \r\ncommit; \r\n"));
  EXPECT_NE(reload1.find("alter table \"Order_Details\" add primary key (\"orderid\","
                         "\"productid\"); \r\n"),
            std::string::npos);
  EXPECT_NE(ReadBytes(work / "properties.sql")
                .find("alter table \"Products\" add check ((\"UnitsInStock\" >= 0));\r\n"),
            std::string::npos);
  const std::string migrate = ReadBytes(work / "migrate.bat");
  EXPECT_NE(migrate.find("\r\nvorlin.exe Z:"), std::string::npos);
  EXPECT_NE(migrate.find("My Dat~1\\nwind.db\" -q read Z:"), std::string::npos);
  EXPECT_TRUE(migrate.ends_with("My Dat~1\\sp.SQL\r\n"));
  // Without --link the Access file keeps its tables.
  const auto catalog = platform::access::ReadCatalog(access.string(), std::chrono::seconds(60));
  EXPECT_EQ(Find(catalog, "Old_Orders"), nullptr);
  EXPECT_FALSE(fs::exists(access.string() + ".bak"));
}

TEST_F(EndToEnd, edge_cases_time_columns_and_exact_values) {
  const fs::path access = Copy("edge-jet4.mdb");
  const auto run = Migrate({"--access", access.string()});
  ASSERT_EQ(run.status, 0) << run.output;
  const auto type = [&](const char* table, const char* column) {
    return Q(std::string("SELECT lower(type) FROM pragma_table_info('") + table +
             "') WHERE name = '" + column + "'");
  };
  EXPECT_EQ(type("Orders", "ShipTime"), "time");
  EXPECT_EQ(type("Shifts", "StartTime"), "time");
  EXPECT_EQ(type("Shifts", "EndTime"), "timestamp");
  EXPECT_EQ(type("Shifts", "NeverSet"), "timestamp");
  EXPECT_EQ(Q("SELECT ShipTime FROM Orders WHERE OrderID = 2"), "07:13:17");
  EXPECT_EQ(Q("SELECT Freight || ' ' || Rate FROM Orders WHERE OrderID = 1"),
            "0.0001 123456789012.123456");
  EXPECT_EQ(Q("SELECT count(*) FROM msysnotes") + Q("SELECT count(*) FROM USysSettings"), "11");
  EXPECT_EQ(Q("SELECT count(*) FROM pragma_foreign_key_list('Order_Details Shipments')"), "2");
}

TEST_F(EndToEnd, edge_links_keep_the_primary_key_and_the_report_forecasts_the_link_types) {
  const fs::path access = Copy("edge-jet4.mdb");
  const auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  const auto customers = LinkIndexes(access, "Customers");
  ASSERT_FALSE(customers.empty());
  EXPECT_EQ(customers[0], std::make_pair(std::vector<std::string>{"CustomerID"}, true));
  EXPECT_NE(run.output.find("    ShipTime: Date/Time in Access, time on Norvane, the link shows "
                            "Text\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("    through the link: OrderID Long Integer; "), std::string::npos)
      << run.output;
}

TEST_F(EndToEnd, bad_input_ends_with_a_message_and_leaves_the_access_file_alone) {
  const fs::path access = Copy("nwind.mdb");
  const std::string before = ReadBytes(access);

  auto run = Migrate({"--access", (dir.path() / "none.mdb").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("does not exist"), std::string::npos) << run.output;

  run = Migrate({"--access", access.string(), "--ivex", access.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("valid ivex/wivex path"), std::string::npos) << run.output;

  const fs::path text = dir.path() / "My Data" / "notes.mdb";
  WriteBytes(text, std::string(8192, 'x'));
  run = Migrate({"--access", text.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("is not an Access database"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "notes.db"));  // stopped before "Create DB"

  {  // another program holds the Access file
    const int fd = ::open(access.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    run = Migrate({"--access", access.string(), "--overwrite"});
    ::close(fd);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("nwind.mdb"), std::string::npos) << run.output;

  run = Migrate({"--access", access.string()});  // the database file exists now
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("The Norvane file already exists."), std::string::npos);

  run = Migrate({"--access", access.string(), "--overwrite", "--dsn", "NoSuchSource"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("There is an error opening the database in exclusive mode. Please"),
            std::string::npos)
      << run.output;

  EXPECT_EQ(ReadBytes(access), before);
}

TEST_F(EndToEnd, files_of_today_link_back_every_table_and_name_the_links_access_opens_read_only) {
  const std::pair<const char*, const char*> files[] = {
      {"modern-dev-V2000.mdb", "Jet 4 (Access 2000-2003)"},
      {"modern-dev-V2007.accdb", "ACE 12 (Access 2007)"},
      {"modern-dev-V2010.accdb", "ACE 14 (Access 2010)"}};
  for (const auto& [file, format] : files) {
    const fs::path access = Copy(file);
    const auto run = Migrate({"--access", access.string(), "--link"});
    ASSERT_EQ(run.status, 0) << file << run.output;
    EXPECT_NE(run.output.find("everything checked out"), std::string::npos) << file;
    EXPECT_NE(run.output.find(std::string("Access file format: ") + format +
                              ": read; link-back supported\n  (read: Access 97 to Access 2019;"),
              std::string::npos)
        << run.output;
    // Protokoll has no index at all: its link cannot hold a unique index.
    const std::string readOnly =
        "    the link opens read-only in Access: the table has no unique index\n";
    EXPECT_NE(run.output.find("Protokoll"), std::string::npos) << file;
    EXPECT_EQ(run.output.find(readOnly), run.output.rfind(readOnly)) << file << run.output;
    EXPECT_NE(run.output.find(readOnly), std::string::npos) << file << run.output;

    const auto catalog = platform::access::ReadCatalog(access.string(), std::chrono::seconds(60));
    for (const char* name :
         {"Kunden", "Aufträge", "Auftragspositionen", "Messwerte", "Protokoll"}) {
      const auto* link = Find(catalog, name);
      ASSERT_NE(link, nullptr) << file << " " << name;
      EXPECT_EQ(link->objectType, dao::ObjectType::kOdbcLink) << file << " " << name;
      EXPECT_NE(Find(catalog, std::string("Old_") + name), nullptr) << file << " " << name;
    }
    // Access's own tables stay as they were.
    for (const auto& t : catalog.tables) {
      if (dao::IsSystemTable(t.name, t.flags)) {
        EXPECT_EQ(t.objectType, dao::ObjectType::kTable) << file << " " << t.name;
      }
    }
    EXPECT_EQ(jetwriter::CheckCatalog(access.string()), std::vector<std::string>{}) << file;
    EXPECT_NE(run.output.find("    Preis: Decimal in Access, numeric_blob on Norvane, the link "
                              "shows Text\n"),
              std::string::npos)
        << file;
    // The key is KundenNr, though the unique index on Firma sorts before the key's index.
    const auto kunden = LinkIndexes(access, "Kunden");
    ASSERT_FALSE(kunden.empty()) << file;
    EXPECT_EQ(kunden[0], std::make_pair(std::vector<std::string>{"KundenNr"}, true)) << file;
  }
}

TEST_F(EndToEnd, the_access_side_read_ahead_pairs_each_table_with_its_own_target) {
  const fs::path access = Copy("nwind.mdb");
  ASSERT_EQ(Migrate({"--access", access.string()}).status, 0);
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(access.string(), std::chrono::seconds(60));
  const platform::verify::CheckRequest request{
      access.string(),
      "Driver=Norvane;Database=" + db.string(),
      false,
      "",
      [](const std::string& n) { return engine::TargetNameOf(n); },
      std::chrono::seconds(60)};
  norvane::Connection c(db.string(), false);
  c.Exec("UPDATE \"Products\" SET UnitsInStock = UnitsInStock + 1 WHERE rowid = 3");

  const auto flagged = [](const std::vector<platform::verify::TableCheck>& tables) {
    std::vector<std::string> names;
    for (const auto& t : tables) {
      EXPECT_EQ(t.accessRows, t.targetRows) << t.targetName;
      if (!t.checksumsEqual) names.push_back(t.targetName + ": " + t.checksumNote);
    }
    return names;
  };
  const std::vector<std::string> expected = {
      "Products: 1 of the Access rows have no equal row in the new table"};
  // Every table read ahead, then none left to read.
  checker.ReadAccessAhead(request);
  int readAhead = 0;
  while (checker.ReadNextAccessSide()) ++readAhead;
  EXPECT_EQ(readAhead, 9);
  const auto ahead = checker.Check(request);
  EXPECT_EQ(ahead.size(), 9u);
  EXPECT_EQ(flagged(ahead), expected);
  // Some tables read ahead, the check reads the rest; or the check reads them all anew. The
  // tables come in the same order each way.
  checker.ReadAccessAhead(request);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(checker.ReadNextAccessSide());
  const auto part = checker.Check(request);
  EXPECT_FALSE(checker.ReadNextAccessSide());  // the check took what was read
  const auto plain = checker.Check(request);
  for (const auto* other : {&part, &plain}) {
    ASSERT_EQ(other->size(), ahead.size());
    for (std::size_t i = 0; i < ahead.size(); ++i) {
      EXPECT_EQ((*other)[i].targetName, ahead[i].targetName);
      EXPECT_EQ((*other)[i].accessRows, ahead[i].accessRows) << ahead[i].targetName;
      EXPECT_EQ((*other)[i].indexesCreated, ahead[i].indexesCreated) << ahead[i].targetName;
    }
    EXPECT_EQ(flagged(*other), expected);
  }
  // A read ahead of a file that cannot be read leaves the check to read it and say why.
  checker.ReadAccessAhead({(dir.path() / "gone.mdb").string(), request.targetConnection, false, "",
                           request.targetNameOf, request.timeout});
  EXPECT_FALSE(checker.ReadNextAccessSide());
  EXPECT_THROW(checker.Check({(dir.path() / "gone.mdb").string(), request.targetConnection, false,
                              "", request.targetNameOf, request.timeout}),
               platform::Error);
  // A read ahead that no check takes ends with the checker.
  checker.ReadAccessAhead(request);
  EXPECT_TRUE(checker.ReadNextAccessSide());
}

TEST_F(EndToEnd, the_value_check_finds_a_changed_value_a_missing_row_and_an_extra_row) {
  const fs::path access = Copy("nwind.mdb");
  ASSERT_EQ(Migrate({"--access", access.string()}).status, 0);
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(access.string(), std::chrono::seconds(60));
  const auto orderDetails = [&] {
    const auto tables = checker.Check(
        {access.string(), "Driver=Norvane;Database=" + db.string(), false, "",
         [](const std::string& n) { return engine::TargetNameOf(n); }, std::chrono::seconds(60)});
    for (const auto& t : tables)
      if (t.targetName == "Order_Details") return t;
    ADD_FAILURE() << "no Order_Details";
    return platform::verify::TableCheck{};
  };
  const auto before = orderDetails();
  EXPECT_TRUE(before.checksumsEqual) << before.checksumNote;
  EXPECT_EQ(before.targetRows, 2155);

  norvane::Connection c(db.string(), false);
  const std::string first = "(SELECT min(rowid) FROM \"Order_Details\")";
  c.Exec("UPDATE \"Order_Details\" SET Quantity = Quantity + 1 WHERE rowid = " + first);
  auto changed = orderDetails();
  EXPECT_FALSE(changed.checksumsEqual);
  EXPECT_EQ(changed.targetRows, 2155);
  EXPECT_EQ(changed.checksumNote, "1 of the Access rows have no equal row in the new table");
  c.Exec("UPDATE \"Order_Details\" SET Quantity = Quantity - 1 WHERE rowid = " + first);
  EXPECT_TRUE(orderDetails().checksumsEqual);

  // A product the first order does not hold yet.
  c.Exec(
      "INSERT INTO \"Order_Details\" SELECT OrderID, (SELECT min(ProductID) FROM Products WHERE "
      "ProductID NOT IN (SELECT ProductID FROM \"Order_Details\" d WHERE d.OrderID = o.OrderID)), "
      "UnitPrice, Quantity, Discount FROM \"Order_Details\" o WHERE rowid = " +
      first);
  const auto extra = orderDetails();
  EXPECT_FALSE(extra.checksumsEqual);
  EXPECT_EQ(extra.targetRows, 2156);
  EXPECT_EQ(extra.accessRows, 2155);
  c.Exec("DELETE FROM \"Order_Details\" WHERE rowid = (SELECT max(rowid) FROM \"Order_Details\")");

  c.Exec("DELETE FROM \"Order_Details\" WHERE rowid = " + first);
  const auto missing = orderDetails();
  EXPECT_FALSE(missing.checksumsEqual);
  EXPECT_EQ(missing.targetRows, 2154);
  EXPECT_EQ(missing.checksumNote, "1 of the Access rows have no equal row in the new table");
}
