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
  // The check after the run of `access` against the database beside it, as the run asks it.
  platform::verify::CheckRequest CheckOf(const fs::path& access) const {
    return {access.string(),
            "Driver=Norvane;Database=" + db.string(),
            false,
            "",
            [](const std::string& n) { return engine::TargetNameOf(n); },
            std::chrono::seconds(60)};
  }
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

// What a link cannot take is named under its table: a lookup whose rows come from a table the
// run does not migrate (nwind's Order Details.ProductID made to list MSysACEs), and table
// properties links do not hold (ColIsGuid, in a Jet 3 and a Jet 4 file).
TEST_F(EndToEnd, what_a_link_cannot_take_is_reported_under_its_table) {
  const fs::path access = Copy("nwind.mdb");
  std::string bytes = ReadBytes(access);
  const std::string from = "[ProductID],[ProductName] FROM Products ORDER";
  const std::size_t at = bytes.find(std::string("R") + '\0' + "SELECT DISTINCTROW " + from);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(std::string("R") + '\0' + "SELECT DISTINCTROW " + from, at + 1),
            std::string::npos);
  const std::size_t products = bytes.find("Products", at);
  bytes.replace(products, 8, "MSysACEs");  // as long as "Products": the record keeps its layout
  WriteBytes(access, bytes);
  auto run = Migrate({"--access", access.string(), "--link"});
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string lookup =
      "    the link: the lookup of ProductID lists the rows of MSysACEs, a table not migrated: it "
      "stays the Access table\n";
  const std::size_t reported = run.output.find(lookup);
  ASSERT_NE(reported, std::string::npos) << run.output;
  EXPECT_EQ(run.output.rfind(lookup), reported) << "under one table only";
  // The report's table line above the line at `at`.
  const auto tableAbove = [](const std::string& out, std::size_t at) {
    for (std::size_t end = out.rfind('\n', at - 1); end != std::string::npos && end > 0;) {
      const std::size_t start = out.rfind('\n', end - 1);
      const std::string line = out.substr(start + 1, end - start - 1);
      if (!line.starts_with(" ")) return line;
      end = start;
    }
    return std::string();
  };
  EXPECT_TRUE(tableAbove(run.output, reported).starts_with("Order Details -> Order_Details"))
      << run.output;
  // The link holds the lookup all the same: nothing is dropped.
  const auto catalog = platform::access::ReadCatalog(access.string(), std::chrono::seconds(60));
  const auto* link = Find(catalog, "Order Details");
  ASSERT_NE(link, nullptr);
  bool rowSource = false;
  for (const auto& [column, names] : link->linkProperties)
    rowSource = rowSource || (column == "ProductID" &&
                              std::find(names.begin(), names.end(), "RowSource") != names.end());
  EXPECT_TRUE(rowSource);

  for (const char* file : {"testV1997.mdb", "testV2000.mdb"}) {
    const fs::path other = Copy(file);
    run = Migrate({"--access", other.string(), "--link"});
    ASSERT_EQ(run.status, 0) << file << run.output;
    const std::string leftOff =
        "    the link: properties a link does not hold (Access keeps none of them on a link it "
        "makes), kept on the renamed table: ColIsGuid (the table)\n";
    const std::size_t shown = run.output.find(leftOff);
    ASSERT_NE(shown, std::string::npos) << file << run.output;
    EXPECT_EQ(run.output.rfind(leftOff), shown) << file;
    EXPECT_TRUE(tableAbove(run.output, shown).starts_with("Table4 ")) << file << run.output;
    EXPECT_EQ(run.output.find("not carried onto the link"), std::string::npos) << file;
  }
}

TEST_F(EndToEnd, bad_input_ends_with_a_message_on_standard_error_and_creates_nothing) {
  const fs::path access = Copy("nwind.mdb");
  const std::string before = ReadBytes(access);
  const auto Apart = [&](std::vector<std::string> args) {
    return tools_test::RunProgramApart(kMigrate, args, dir.path());
  };

  auto run = Apart({"--access", (dir.path() / "none.mdb").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find("does not exist"), std::string::npos) << run.errors;

  run = Apart({"--access", access.string(), "--ivex", access.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errors.find("--ivex names nwind.mdb, not the query tool ivex.exe or ivexw.exe."),
            std::string::npos)
      << run.errors;

  // A stop finding: exit status 1, nothing created.
  const fs::path text = dir.path() / "My Data" / "notes.mdb";
  WriteBytes(text, std::string(8192, 'x'));
  run = Apart({"--access", text.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find("- Stop: "), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("is not an Access database"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("Nothing was changed."), std::string::npos) << run.errors;
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "notes.db"));

  {  // another program holds the Access file: the run's open fails after "Create DB"
    const int fd = ::open(access.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    run = Migrate({"--access", access.string(), "--overwrite"});
    ::close(fd);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("nwind.mdb"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(db)) << "the database of a run that never started is removed";

  WriteBytes(db, "an earlier database");
  run = Apart({"--access", access.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find("The Norvane file " + db.string() +
                            " already exists and is kept: give --overwrite to replace it"),
            std::string::npos)
      << run.errors;
  EXPECT_EQ(run.errors.find("click"), std::string::npos) << run.errors;

  // A data source that does not exist is found before the old database is replaced.
  run = Apart({"--access", access.string(), "--overwrite", "--dsn", "NoSuchSource"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find("- Stop: The ODBC data source \"NoSuchSource\" does not exist"),
            std::string::npos)
      << run.errors;
  EXPECT_EQ(ReadBytes(db), "an earlier database");
  EXPECT_FALSE(fs::exists(dir.path() / "My Data" / "migrate.bat"));

  EXPECT_EQ(ReadBytes(access), before);
}

TEST_F(EndToEnd, an_accdb_from_a_folder_with_a_blank_migrates_to_its_name_and_restores_to_nothing) {
  const fs::path access = Copy("modern-dev-V2010.accdb");
  const std::string before = ReadBytes(access);
  const fs::path log = access.string() + ".norvane-migrate.log";

  auto run =
      tools_test::RunProgramApart(kMigrate, {"--access=" + access.string(), "--link"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_TRUE(fs::exists(dir.path() / "My Data" / "modern-dev-V2010.db"));
  EXPECT_TRUE(fs::exists(dir.path() / "My Data" / "modern-dev-V2010.log"));
  // The report alone on standard output, naming the log of the command files.
  EXPECT_EQ(run.output.rfind("\nReport\n", 0), 0u) << run.output;
  EXPECT_NE(run.output.find("Migration complete: everything checked out."), std::string::npos);
  EXPECT_NE(run.output.find("The command files' output is in " + log.string() + "."),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("finished migrate.bat"), std::string::npos) << run.output;
  EXPECT_EQ(run.errors.find("finished migrate.bat"), std::string::npos) << run.errors;
  EXPECT_NE(ReadBytes(log).find("finished migrate.bat"), std::string::npos);
  EXPECT_NE(ReadBytes(log).find("finished reload.bat"), std::string::npos);

  run = tools_test::RunProgramApart(kMigrate, {"--restore", access.string()}, dir.path());
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_EQ(ReadBytes(access), before);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path() / "My Data"))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"modern-dev-V2010.accdb"});
}

TEST_F(EndToEnd, version_verbose_and_check_on_two_files_follow_the_command_line_conventions) {
  auto run = tools_test::RunProgramApart(kMigrate, {"--version"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output.rfind("norvane-migrate ", 0), 0u) << run.output;
  EXPECT_EQ(run.errors, "");

  const fs::path first = Copy("testV2000.mdb");
  const fs::path second = Copy("modern-dev-V2010.accdb");
  run = tools_test::RunProgramApart(
      kMigrate, {"--access", first.string(), "--access", second.string(), "--check"}, dir.path());
  EXPECT_EQ(run.status, 1) << run.output;  // the .accdb has a table without a unique index
  EXPECT_NE(run.output.find("\n2 of 2 checked.\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("has no unique index"), std::string::npos) << run.output;
  // Paths as this system writes them, not in the command files' Windows form.
  EXPECT_NE(run.output.find("Check of " + second.string() + ":\n"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Z:\\"), std::string::npos) << run.output;
  EXPECT_EQ(run.errors, "");

  // --verbose shows the command files' echo as well, on standard error.
  run =
      tools_test::RunProgramApart(kMigrate, {"--access", first.string(), "--verbose"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_NE(run.errors.find("finished migrate.bat"), std::string::npos) << run.errors;
  EXPECT_EQ(run.output.find("finished migrate.bat"), std::string::npos);
  // Without --verbose no message shows the command files' Windows form of a path.
  run = tools_test::RunProgramApart(kMigrate, {"--access", second.string(), "--link"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_EQ((run.output + run.errors).find("Z:\\"), std::string::npos) << run.output << run.errors;
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
  const auto request = CheckOf(access);
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
  // Each table read whole on one connection, Order_Details (2,155 rows) in 22 ranges shared by
  // two, and in ranges of the check's own size.
  for (const long long rowsPerRange : {0LL, 100LL, platform::verify::CheckRequest{}.rowsPerRange}) {
    SCOPED_TRACE("rows per range " + std::to_string(rowsPerRange));
    const auto orderDetails = [&] {
      auto request = CheckOf(access);
      request.rowsPerRange = rowsPerRange;
      const auto tables = checker.Check(request);
      EXPECT_EQ(tables.size(), 9u);
      for (const auto& t : tables)
        if (t.targetName != "Order_Details") {
          EXPECT_TRUE(t.checksumsEqual) << t.targetName;
        }
      for (const auto& t : tables)
        if (t.targetName == "Order_Details") return t;
      ADD_FAILURE() << "no Order_Details";
      return platform::verify::TableCheck{};
    };
    const auto before = orderDetails();
    EXPECT_TRUE(before.checksumsEqual) << before.checksumNote;
    EXPECT_EQ(before.targetRows, 2155);
    EXPECT_EQ(before.indexesCreated, before.indexesExpected);

    norvane::Connection c(db.string(), false);
    const std::string first = "(SELECT min(rowid) FROM \"Order_Details\")";
    // A value changed in the first row, then in two rows of ranges in the middle.
    c.Exec("UPDATE \"Order_Details\" SET Quantity = Quantity + 1 WHERE rowid = " + first);
    auto changed = orderDetails();
    EXPECT_FALSE(changed.checksumsEqual);
    EXPECT_EQ(changed.targetRows, 2155);
    EXPECT_EQ(changed.checksumNote, "1 of the Access rows have no equal row in the new table");
    c.Exec("UPDATE \"Order_Details\" SET Quantity = Quantity - 1 WHERE rowid = " + first);
    EXPECT_TRUE(orderDetails().checksumsEqual);
    const std::string middle = "rowid IN (" + first + " + 1000, " + first + " + 1234)";
    c.Exec("UPDATE \"Order_Details\" SET Discount = Discount + 0.5 WHERE " + middle);
    changed = orderDetails();
    EXPECT_FALSE(changed.checksumsEqual);
    EXPECT_EQ(changed.targetRows, 2155);
    EXPECT_EQ(changed.checksumNote, "2 of the Access rows have no equal row in the new table");
    c.Exec("UPDATE \"Order_Details\" SET Discount = Discount - 0.5 WHERE " + middle);
    EXPECT_TRUE(orderDetails().checksumsEqual);

    // A product the first order does not hold yet, added as the last row.
    c.Exec(
        "INSERT INTO \"Order_Details\" SELECT OrderID, (SELECT min(ProductID) FROM Products WHERE "
        "ProductID NOT IN (SELECT ProductID FROM \"Order_Details\" d WHERE d.OrderID = "
        "o.OrderID)), UnitPrice, Quantity, Discount FROM \"Order_Details\" o WHERE rowid = " +
        first);
    const auto extra = orderDetails();
    EXPECT_FALSE(extra.checksumsEqual);
    EXPECT_EQ(extra.targetRows, 2156);
    EXPECT_EQ(extra.accessRows, 2155);
    c.Exec(
        "DELETE FROM \"Order_Details\" WHERE rowid = (SELECT max(rowid) FROM "
        "\"Order_Details\")");
    EXPECT_TRUE(orderDetails().checksumsEqual);

    // A row missing at the start, and one in the middle.
    c.Exec("CREATE TEMP TABLE kept2 AS SELECT rowid AS r, * FROM \"Order_Details\" WHERE rowid = " +
           first + " OR rowid = " + first + " + 1500");
    c.Exec("DELETE FROM \"Order_Details\" WHERE rowid IN (SELECT r FROM kept2)");
    const auto missing = orderDetails();
    EXPECT_FALSE(missing.checksumsEqual);
    EXPECT_EQ(missing.targetRows, 2153);
    EXPECT_EQ(missing.checksumNote, "2 of the Access rows have no equal row in the new table");
    c.Exec(
        "INSERT INTO \"Order_Details\" (rowid, OrderID, ProductID, UnitPrice, Quantity, "
        "Discount) SELECT * FROM kept2");
    c.Exec("DROP TABLE kept2");
    EXPECT_TRUE(orderDetails().checksumsEqual);
  }
}

TEST_F(EndToEnd, the_value_check_cuts_a_table_by_a_row_id_no_column_is_named_after) {
  const fs::path access = Copy("nwind.mdb");
  ASSERT_EQ(Migrate({"--access", access.string()}).status, 0);
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(access.string(), std::chrono::seconds(60));
  const auto orders = [&] {
    auto request = CheckOf(access);
    request.rowsPerRange = 2;  // Orders: 830 rows, in ranges of two row ids
    for (const auto& t : checker.Check(request))
      if (t.targetName == "Orders") return t;
    ADD_FAILURE() << "no Orders";
    return platform::verify::TableCheck{};
  };
  norvane::Connection c(db.string(), false);
  // Columns that take SQLite's names for the row id, one after the other: ranges by such a name
  // would cut by the column's values and leave out the rows where it is empty. One row's value
  // of the renamed column is emptied each time: the check must still see all 830 rows.
  const std::string row = " WHERE OrderID = 10248";
  int renamed = 0;
  for (const auto& [from, to] : {std::pair{"EmployeeID", "_rowid_"}, std::pair{"ShipVia", "rowid"},
                                 std::pair{"Freight", "oid"}}) {
    c.Exec(std::string("ALTER TABLE \"Orders\" RENAME COLUMN ") + from + " TO " + to);
    ++renamed;
    SCOPED_TRACE(std::to_string(renamed) + " names taken");
    const auto check = orders();
    EXPECT_TRUE(check.checksumsEqual) << check.checksumNote;
    EXPECT_EQ(check.targetRows, 830);
    c.Exec(std::string("CREATE TEMP TABLE kept AS SELECT ") + to + " AS value FROM Orders" + row);
    c.Exec(std::string("UPDATE \"Orders\" SET ") + to + " = NULL" + row);
    const auto emptied = orders();
    EXPECT_EQ(emptied.targetRows, 830);
    EXPECT_EQ(emptied.checksumNote, "1 of the Access rows have no equal row in the new table");
    c.Exec(std::string("UPDATE \"Orders\" SET ") + to + " = (SELECT value FROM kept)" + row);
    c.Exec("DROP TABLE kept");
  }
  EXPECT_TRUE(orders().checksumsEqual);
}

TEST_F(EndToEnd, the_value_check_in_row_id_ranges_says_what_it_says_reading_each_table_whole) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(NORVANE_TEST_DATA)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".mdb" && entry.path().extension() != ".accdb") continue;
    SCOPED_TRACE(name);
    const fs::path access = Copy(name);
    Migrate({"--access", access.string()});
    if (!fs::exists(db)) continue;  // a file the run refuses makes no database
    platform::verify::MigrationChecker checker;
    checker.BeforeRun(access.string(), std::chrono::seconds(60));
    auto request = CheckOf(access);
    request.rowsPerRange = 0;
    const auto whole = checker.Check(request);
    for (const long long rowsPerRange : {1LL, 7LL}) {
      request.rowsPerRange = rowsPerRange;
      const auto ranges = checker.Check(request);
      ASSERT_EQ(ranges.size(), whole.size());
      for (std::size_t i = 0; i < whole.size(); ++i) {
        const auto &a = whole[i], &b = ranges[i];
        EXPECT_EQ(b.targetName, a.targetName);
        EXPECT_EQ(b.accessRows, a.accessRows) << a.targetName;
        EXPECT_EQ(b.targetRows, a.targetRows) << a.targetName;
        EXPECT_EQ(b.checksumsEqual, a.checksumsEqual) << a.targetName;
        EXPECT_EQ(b.checksumNote, a.checksumNote) << a.targetName;
        EXPECT_EQ(b.indexesCreated, a.indexesCreated) << a.targetName;
        EXPECT_EQ(b.primaryKeyPresent, a.primaryKeyPresent) << a.targetName;
        EXPECT_EQ(b.foreignKeysPresent, a.foreignKeysPresent) << a.targetName;
        EXPECT_EQ(b.timeColumns, a.timeColumns) << a.targetName;
      }
    }
    ++compared;
    fs::remove_all(dir.path() / "My Data");
  }
  EXPECT_GE(compared, 15);
}
