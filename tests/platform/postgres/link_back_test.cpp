// Link-back into a PostgreSQL database through psqlODBC, and the check after the run against it:
// the tables of real Access files copied into a database of the private server, with their
// primary keys and indexes; the file's copy linked back through the engine; the links read back
// by mdb-reader and libmdb and read through with pyodbc; the check finding a changed value, a
// missing row and an extra row; restore's view of the database; a kill during the link-back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "../jetwriter/jet_test_support.h"
#include "engine/names.h"
#include "platform/access/access_engine.h"
#include "platform/access/catalog.h"
#include "platform/dao/dao.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/jetwriter/page_file.h"
#include "platform/linked_types.h"
#include "platform/postgres/table_copy.h"
#include "platform/text.h"
#include "platform/verify/migration_check.h"
#include "platform/verify/postgres_inspector.h"
#include "platform/verify/rows_breaking.h"
#include "support/private_postgres.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::postgres::Connection;
using testing_support::SharedServer;

constexpr auto kTimeout = std::chrono::seconds(60);

// An index as the test made it on the server.
struct MadeIndex {
  std::vector<std::string> columns;
  bool unique = false;
  bool primary = false;
};

// One Access file's tables in a new database of the shared server, as the migration leaves them
// before the link-back: each table copied through COPY, its primary key and its other indexes
// made with SQL.
struct Migration {
  std::string database;
  std::string connect;  // psqlODBC's connect string, without a password
  fs::path mdb;         // the copy of the Access file
  int jetVersion = 0;
  std::vector<std::string> tables;                          // Access names, in the file's order
  std::map<std::string, std::vector<MadeIndex>> indexes;    // by target name, the key first
  std::map<std::string, std::vector<std::string>> columns;  // by target name, in order
};

std::string NewDatabase() {
  static int made = 0;
  const std::string name = "Link Back " + std::to_string(getpid()) + "_" + std::to_string(++made);
  Connection(SharedServer().Address()).Execute("CREATE DATABASE \"" + name + "\"");
  return name;
}

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::vector<std::string> FieldNames(const std::string& fields) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at <= fields.size()) {
    std::size_t end = fields.find(';', at);
    if (end == std::string::npos) end = fields.size();
    std::string f = fields.substr(at, end - at);
    if (!f.empty() && (f[0] == '+' || f[0] == '-')) f.erase(0, 1);
    if (!f.empty()) names.push_back(f);
    at = end + 1;
  }
  return names;
}

std::string ColumnList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + Quoted(n);
  return out;
}

Migration Migrate(const std::string& file, const fs::path& dir) {
  SharedServer().ExportPassword();
  Migration m;
  m.database = NewDatabase();
  m.connect = SharedServer().OdbcConnect(m.database);
  m.mdb = jettest::CopyFixture(file, dir);
  const platform::access::Catalog catalog = platform::access::ReadCatalog(m.mdb, kTimeout);
  m.jetVersion = catalog.jetVersion;
  Connection db(SharedServer().Address(false, m.database));
  int made = 0;
  for (const auto& t : catalog.tables) {
    if (t.objectType != dao::ObjectType::kTable || dao::IsSystemTable(t.name, t.flags)) continue;
    const std::string target = engine::TargetNameOf(t.name);
    platform::postgres::CopyAccessTable(m.mdb, m.jetVersion, t.name, db, target, kTimeout);
    m.tables.push_back(t.name);
    std::vector<MadeIndex>& made_here = m.indexes[target];
    for (const dao::Index& i : t.indexes) {
      MadeIndex index{FieldNames(i.Fields), i.Unique || i.Primary, i.Primary};
      if (index.columns.empty()) continue;
      if (i.Primary) {
        db.Execute("ALTER TABLE " + Quoted(target) + " ADD CONSTRAINT " +
                   Quoted("pk" + std::to_string(++made)) + " PRIMARY KEY (" +
                   ColumnList(index.columns) + ")");
        made_here.insert(made_here.begin(), index);
      } else {
        db.Execute(std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                   Quoted("ix" + std::to_string(++made)) + " ON " + Quoted(target) + " (" +
                   ColumnList(index.columns) + ")");
        made_here.push_back(index);
      }
    }
    for (const auto& row :
         db.Query("SELECT attname FROM pg_attribute WHERE attrelid = '" + Quoted(target) +
                  "'::regclass AND attnum > 0 AND NOT attisdropped "
                  "ORDER BY attnum"))
      m.columns[target].push_back(*row[0]);
  }
  return m;
}

std::shared_ptr<dao::Database> OpenExclusive(const fs::path& mdb) {
  auto engine = platform::access::CreateEngine(
      {.writerFactory = jetwriter::OpenJetCatalogWriterForRun,
       .recoverInterruptedChange = jetwriter::RecoverInterruptedChange});
  return engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
      ->OpenDatabase(mdb.string(), {.exclusive = true, .readOnly = false}, "");
}

// The run's link-back of `tables`: each renamed with "Old_" and replaced by a link through
// `connect` to its table on the server, the file replaced when the database closes.
void LinkBack(const fs::path& mdb, const std::vector<std::string>& tables,
              const std::string& connect) {
  auto db = OpenExclusive(mdb);
  db->PrepareChanges();
  for (const std::string& name : tables) {
    db->TableDefs().Item(name)->SetName("Old_" + name);
    const auto link = db->CreateTableDef(platform::Trim(name));
    link->SetSourceTableName(engine::TargetNameOf(name));
    link->SetConnect("ODBC;" + connect);
    link->SetDisplayPropertiesOf("Old_" + name);
    db->TableDefs().Append(link);
  }
  db->Close();
}

// The table definition of the ODBC link `name` (forms and reports may share its name).
jetwriter::TableDef LinkDefinition(const fs::path& mdb, const std::string& name) {
  jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kHeldByCaller);
  const jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
  for (const jetwriter::CatalogRow& r : cat.rows)
    if (r.name == name && dao::IsObjectType(r.type, dao::ObjectType::kOdbcLink))
      return jetwriter::ReadTableDef(file, cat.f,
                                     static_cast<std::uint32_t>(r.objectId) & 0xFFFFFF);
  throw std::runtime_error("no link " + name);
}

platform::verify::CheckRequest RequestFor(const Migration& m) {
  platform::verify::CheckRequest request;
  request.accessPath = m.mdb.string();
  request.targetConnection = m.connect;
  request.linked = true;
  request.prefix = "Old_";
  request.targetNameOf = [](const std::string& n) { return engine::TargetNameOf(n); };
  return request;
}

const platform::verify::TableCheck& CheckOf(const std::vector<platform::verify::TableCheck>& all,
                                            const std::string& name) {
  const auto it =
      std::find_if(all.begin(), all.end(), [&](const auto& c) { return c.accessName == name; });
  if (it == all.end()) throw std::runtime_error("no check of " + name);
  return *it;
}

class PostgresLinkBack : public testing::TestWithParam<const char*> {
 protected:
  testing_support::TempDir dir{"pg-link"};
};

// Every table of the file linked: the links' connect strings name psqlODBC, the server, port,
// database and user and no password; each link's first index is the table's primary key, then
// the unique indexes, then the others, as the server holds them; libmdb and mdb-reader read the
// file and its links; pyodbc reads each table through the link's own connect string; the check
// after the run finds every value equal.
TEST_P(PostgresLinkBack, links_every_table_keyed_and_the_check_finds_every_value_equal) {
  Migration m = Migrate(GetParam(), dir.path());
  ASSERT_GE(m.tables.size(), 5u);
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(m.mdb.string(), kTimeout);
  // A password in the connect string the run was given never reaches a link.
  LinkBack(m.mdb, m.tables, m.connect + "PWD=" + SharedServer().Password() + ";");
  EXPECT_EQ(jetwriter::CheckCatalog(m.mdb.string()), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(m.mdb.string() + ".bak"));

  const std::map<std::string, jettest::Link> libmdb = jettest::LibmdbLinks(m.mdb);
  const jettest::NodeView view = jettest::ReadWithMdbReader(m.mdb);
  ASSERT_TRUE(view.available) << view.why;
  for (const std::string& name : m.tables) {
    SCOPED_TRACE(name);
    const std::string target = engine::TargetNameOf(name);
    ASSERT_EQ(view.links.count(name), 1u);
    EXPECT_EQ(view.links.at(name), (jettest::Link{m.connect, target}));
    EXPECT_EQ(libmdb.at(name), view.links.at(name));
    EXPECT_EQ(platform::LowerAscii(view.links.at(name).connect).find("pwd"), std::string::npos);
    EXPECT_EQ(view.links.at(name).connect.find(SharedServer().Password()), std::string::npos);
    EXPECT_TRUE(view.links.at(name).connect.starts_with("Driver={PostgreSQL Unicode};Server="));
    ASSERT_EQ(view.rowCounts.count("Old_" + name), 1u);

    // The link's indexes: what was made on the server, the key first.
    const jetwriter::TableDef def = LinkDefinition(m.mdb, name);
    const std::vector<std::string>& columns = m.columns.at(target);
    ASSERT_EQ(def.columns.size(), columns.size());
    const auto positions = [&](const std::vector<std::string>& names) {
      std::vector<int> out;
      for (const std::string& n : names)
        out.push_back(
            static_cast<int>(std::find(columns.begin(), columns.end(), n) - columns.begin()));
      std::sort(out.begin(), out.end());
      return out;
    };
    std::set<std::pair<std::vector<int>, int>> expected, linked;
    for (const MadeIndex& i : m.indexes.at(target)) {
      const std::vector<int> at = positions(i.columns);
      const bool twice = std::any_of(expected.begin(), expected.end(),
                                     [&](const auto& e) { return e.first == at; });
      if (!twice) expected.insert({at, i.primary ? 0x89 : i.unique ? 0x81 : 0x80});
    }
    for (const jetwriter::RealIndex& i : def.indexes) {
      std::vector<int> at = i.columns;
      std::sort(at.begin(), at.end());
      linked.insert({at, i.flags});
    }
    EXPECT_EQ(linked, expected);
    const auto& made = m.indexes.at(target);
    if (!made.empty() && made.front().primary) {
      ASSERT_FALSE(def.indexes.empty());
      EXPECT_EQ(def.indexes[0].columns, positions(made.front().columns));
      EXPECT_EQ(def.indexes[0].flags, 0x89);
    }
  }

  // Through each link, as Access reads it: its own connect string and remote name, the
  // password only from the environment.
  std::string script =
      "import pyodbc, sys\n"
      "for line in sys.stdin.read().splitlines():\n"
      "    connect, table = line.split('\\t')\n"
      "    c = pyodbc.connect(connect, autocommit=True)\n"
      "    n = c.execute('SELECT count(*) FROM \"%s\"' % table.replace('\"', "
      "'\"\"')).fetchone()[0]\n"
      "    print('%s\\t%d' % (table, n))\n";
  std::string input;
  for (const auto& [name, link] : view.links)
    input += link.connect + "\t" + link.foreignName + "\n";
  const fs::path in = dir.path() / "links.txt", py = dir.path() / "read.py";
  testing_support::WriteBytes(in, input);
  testing_support::WriteBytes(py, script);
  bool ok = false;
  const std::string out = jettest::Run("/usr/bin/python3 " + jettest::Quote(py.string()) + " < " +
                                           jettest::Quote(in.string()) + " 2>&1",
                                       &ok);
  ASSERT_TRUE(ok) << out;
  for (const std::string& name : m.tables)
    EXPECT_NE(out.find(engine::TargetNameOf(name) + "\t" +
                       std::to_string(view.rowCounts.at("Old_" + name)) + "\n"),
              std::string::npos)
        << name << ": " << out;

  const auto checks = checker.Check(RequestFor(m));
  ASSERT_EQ(checks.size(), m.tables.size());
  for (const auto& c : checks) {
    SCOPED_TRACE(c.accessName);
    EXPECT_TRUE(c.linked);
    EXPECT_TRUE(c.checksumsEqual) << c.checksumNote;
    EXPECT_EQ(c.accessRows, c.targetRows);
    EXPECT_EQ(c.accessRows, view.rowCounts.at("Old_" + c.accessName));
    EXPECT_TRUE(c.primaryKeyPresent == c.primaryKeyExpected);
    EXPECT_EQ(c.indexesCreated, c.indexesExpected);  // psqlODBC's SQLStatistics, counted
    EXPECT_FALSE(c.linkColumns.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PostgresLinkBack,
                         testing::Values("nwind.mdb", "modern-dev-V2000.mdb",
                                         "modern-dev-V2010.accdb"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param[0] == 'n'                        ? "Jet3"
                                              : std::string(i.param).ends_with(".mdb") ? "Jet4"
                                                                                       : "Ace2010");
                         });

// The check after the run reads every value through psqlODBC exactly: one changed value of each
// kind (a Currency's last digit, a Single's last bit, a Yes/No, a date's second, a text's letter
// case, a byte of an OLE object), a missing row and an extra row are each found, and only in
// their table.
TEST(PostgresCheckAfter, finds_a_changed_value_of_each_kind_a_missing_row_and_an_extra_row) {
  testing_support::TempDir dir("pg-link");
  Migration m = Migrate("nwind.mdb", dir.path());
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(m.mdb.string(), kTimeout);
  LinkBack(m.mdb, m.tables, m.connect);
  Connection db(SharedServer().Address(false, m.database));
  const auto allEqual = [&] {
    for (const auto& c : checker.Check(RequestFor(m)))
      if (!c.checksumsEqual) return c.accessName + ": " + c.checksumNote;
    return std::string();
  };
  // A table whose name the pattern "Order_Details" also matches: not read as that table's.
  db.Execute("CREATE TABLE \"OrderXDetails\" (x integer)");
  ASSERT_EQ(allEqual(), "");

  struct Change {
    std::string table, change, undo;
  };
  const std::vector<Change> changes = {
      {"Products",
       "UPDATE \"Products\" SET \"UnitPrice\" = \"UnitPrice\" + 0.0001 WHERE \"ProductID\" = 7",
       "UPDATE \"Products\" SET \"UnitPrice\" = \"UnitPrice\" - 0.0001 WHERE \"ProductID\" = 7"},
      {"Products",
       "UPDATE \"Products\" SET \"Discontinued\" = NOT \"Discontinued\" WHERE \"ProductID\" = 1",
       "UPDATE \"Products\" SET \"Discontinued\" = NOT \"Discontinued\" WHERE \"ProductID\" = 1"},
      {"Orders",
       "UPDATE \"Orders\" SET \"OrderDate\" = \"OrderDate\" + interval '1 second' WHERE "
       "\"OrderID\" = 10248",
       "UPDATE \"Orders\" SET \"OrderDate\" = \"OrderDate\" - interval '1 second' WHERE "
       "\"OrderID\" = 10248"},
      {"Customers",
       "UPDATE \"Customers\" SET \"CompanyName\" = \"CompanyName\" || 'ä' WHERE \"CustomerID\" = "
       "'ALFKI'",
       "UPDATE \"Customers\" SET \"CompanyName\" = left(\"CompanyName\", -1) WHERE "
       "\"CustomerID\" = 'ALFKI'"},
      {"Categories",
       "UPDATE \"Categories\" SET \"Picture\" = set_byte(\"Picture\", 99, (get_byte(\"Picture\", "
       "99) + 1) % 256) WHERE \"CategoryID\" = 1",
       "UPDATE \"Categories\" SET \"Picture\" = set_byte(\"Picture\", 99, (get_byte(\"Picture\", "
       "99) + 255) % 256) WHERE \"CategoryID\" = 1"},
      // A Single one bit away: 0.05 and the next float up.
      {"Order Details",
       "UPDATE \"Order_Details\" SET \"Discount\" = '0.050000004'::real WHERE ctid = (SELECT "
       "min(ctid) FROM \"Order_Details\" WHERE \"Discount\" = '0.05'::real)",
       "UPDATE \"Order_Details\" SET \"Discount\" = '0.05'::real WHERE \"Discount\" = "
       "'0.050000004'::real"},
      {"Shippers", "INSERT INTO \"Shippers\" VALUES (4, 'Extra', NULL)",
       "DELETE FROM \"Shippers\" WHERE \"ShipperID\" = 4"},
      {"Order Details",
       "DELETE FROM \"Order_Details\" WHERE \"OrderID\" = 10248 AND \"ProductID\" = 11", ""},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.change);
    db.Execute(change.change);
    const auto checks = checker.Check(RequestFor(m));
    for (const auto& c : checks) {
      if (c.accessName == change.table) {
        EXPECT_FALSE(c.checksumsEqual);
        EXPECT_NE(c.checksumNote.find("of the Access rows have no equal row"), std::string::npos)
            << c.checksumNote;
      } else {
        EXPECT_TRUE(c.checksumsEqual) << c.accessName << ": " << c.checksumNote;
      }
    }
    const auto& changed = CheckOf(checks, change.table);
    const long long extra = change.change.starts_with("DELETE")   ? -1
                            : change.change.starts_with("INSERT") ? 1
                                                                  : 0;
    EXPECT_EQ(changed.targetRows, changed.accessRows + extra);
    if (!change.undo.empty()) {
      db.Execute(change.undo);
      EXPECT_EQ(allEqual(), "") << "after undoing it";
    }
  }
}

// The extremes of edge-jet4.mdb (Currency 0.0001, a Decimal of 18 digits, texts, dates) compare
// exactly; columns turned into time columns on the server, as the time procedure turns them,
// compare as the Access times of day and are named as time columns, and the forecast says the
// link shows them as Text.
TEST(PostgresCheckAfter, compares_exact_extremes_and_time_columns) {
  testing_support::TempDir dir("pg-link");
  Migration m = Migrate("edge-jet4.mdb", dir.path());
  Connection db(SharedServer().Address(false, m.database));
  db.Execute(
      "ALTER TABLE \"Orders\" ALTER COLUMN \"ShipTime\" TYPE time USING "
      "\"ShipTime\"::time; ALTER TABLE \"Shifts\" ALTER COLUMN \"StartTime\" TYPE time "
      "USING \"StartTime\"::time");
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(m.mdb.string(), kTimeout);
  LinkBack(m.mdb, {"Orders", "Shifts"}, m.connect);
  auto request = RequestFor(m);
  const auto checks = checker.Check(request);
  for (const auto& c : checks) {
    SCOPED_TRACE(c.accessName);
    EXPECT_TRUE(c.checksumsEqual) << c.checksumNote;
    EXPECT_EQ(c.accessRows, c.targetRows);
  }
  const auto& orders = CheckOf(checks, "Orders");
  EXPECT_EQ(orders.timeColumns, std::vector<std::string>{"ShipTime"});
  EXPECT_EQ(CheckOf(checks, "Shifts").timeColumns, std::vector<std::string>{"StartTime"});
  EXPECT_NE(std::find(orders.linkTypesDiffer.begin(), orders.linkTypesDiffer.end(),
                      "ShipTime: Date/Time in Access, time on PostgreSQL, the link shows Text"),
            orders.linkTypesDiffer.end())
      << testing::PrintToString(orders.linkTypesDiffer);
  // The smallest Currency step and a time of day one second off are each found.
  for (const char* change :
       {"UPDATE \"Orders\" SET \"Freight\" = \"Freight\" + 0.0001 WHERE \"OrderID\" = 1",
        "UPDATE \"Orders\" SET \"ShipTime\" = \"ShipTime\" + interval '1 second' WHERE "
        "\"OrderID\" = 2"}) {
    SCOPED_TRACE(change);
    db.Execute(change);
    EXPECT_FALSE(CheckOf(checker.Check(request), "Orders").checksumsEqual);
    db.Execute(std::string(change).replace(std::string(change).find(" + "), 3, " - "));
    EXPECT_TRUE(CheckOf(checker.Check(request), "Orders").checksumsEqual);
  }
}

// What Access will show through each link, by psqlODBC's report: Currency's numeric(19,4) as
// Text, a time column as Text, Yes/No as Yes/No, a uuid as Replication ID; a table with a
// timestamp column still warned of write conflicts on its floating-point columns (PostgreSQL's
// timestamp is no row version).
TEST(PostgresLinkForecast, names_what_access_shows_through_psqlodbc) {
  testing_support::TempDir dir("pg-link");
  Migration m = Migrate("nwind.mdb", dir.path());
  Connection db(SharedServer().Address(false, m.database));
  db.Execute(
      "ALTER TABLE \"Orders\" ADD COLUMN \"ShipTime\" time, ADD COLUMN \"Stamp\" uuid, "
      "ADD COLUMN \"Weight\" real, ADD COLUMN \"Big\" bigint");
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(m.mdb.string(), kTimeout);
  LinkBack(m.mdb, {"Orders", "Products"}, m.connect);
  const auto checks = checker.Check(RequestFor(m));
  const auto& orders = CheckOf(checks, "Orders");
  const auto has = [](const std::vector<std::string>& all, const std::string& text) {
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& s) { return s.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has(orders.linkColumns, "OrderID Long Integer"))
      << testing::PrintToString(orders.linkColumns);
  EXPECT_TRUE(has(orders.linkColumns, "OrderDate Date/Time"));
  EXPECT_TRUE(has(orders.linkColumns, "ShipTime Text"));
  EXPECT_TRUE(has(orders.linkColumns, "Stamp Replication ID"));
  EXPECT_TRUE(has(orders.linkColumns, "Weight Single"));
  EXPECT_TRUE(has(orders.linkColumns, "Big Text (Large Number"));
  EXPECT_TRUE(has(orders.linkColumns, "ShipName Text"));
  EXPECT_TRUE(has(orders.linkTypesDiffer,
                  "Freight: Currency in Access, numeric on PostgreSQL, the link shows Text"))
      << testing::PrintToString(orders.linkTypesDiffer);
  EXPECT_TRUE(has(orders.linkWarnings, "write conflicts"))
      << testing::PrintToString(orders.linkWarnings);
  EXPECT_TRUE(has(orders.linkWarnings, "(Weight)"));
  const auto& products = CheckOf(checks, "Products");
  EXPECT_TRUE(has(products.linkColumns, "Discontinued Yes/No"));
  EXPECT_FALSE(has(products.linkTypesDiffer, "Discontinued"));
  EXPECT_FALSE(has(products.linkTypesDiffer, "ProductName"));
}

// Restore's view of a PostgreSQL target: its tables' digests change with a value and only in
// that table, another session holding it is named, the Access file's links into it are found,
// and it is dropped only while nobody else uses it.
TEST(PostgresTargetInspector, notes_tables_sees_sessions_and_links_and_drops_the_database) {
  testing_support::TempDir dir("pg-link");
  Migration m = Migrate("modern-dev-V2000.mdb", dir.path());
  LinkBack(m.mdb, m.tables, m.connect);
  // A table of another schema, off the search path, is none of the migration's.
  Connection(SharedServer().Address(false, m.database))
      .Execute("CREATE SCHEMA other; CREATE TABLE other.\"Kunden\" (x integer)");
  platform::verify::PostgresTargetInspector inspector;
  EXPECT_TRUE(inspector.IsNorvaneDatabase(m.connect));
  const auto before = inspector.Tables(m.connect);
  ASSERT_EQ(before.size(), m.tables.size());
  EXPECT_EQ(inspector.Tables(m.connect), before);  // read twice, the same
  {
    Connection db(SharedServer().Address(false, m.database));
    EXPECT_GT(inspector.ProgramHolding(m.connect), 0);
    db.Execute(
        "UPDATE \"Kunden\" SET \"Land\" = \"Land\" || 'x' WHERE \"KundenNr\" = "
        "(SELECT min(\"KundenNr\") FROM \"Kunden\")");
    const auto after = inspector.Tables(m.connect);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
      SCOPED_TRACE(after[i].name);
      EXPECT_EQ(after[i].rows, before[i].rows);
      EXPECT_EQ(after[i].digest == before[i].digest, after[i].name != "Kunden");
    }
    // The server refuses to drop a database in use.
    EXPECT_THROW(inspector.Remove(m.connect), platform::Error);
  }
  EXPECT_EQ(inspector.ProgramHolding(m.connect), 0);
  std::vector<std::string> linked = inspector.TablesLinkedTo(m.mdb.string(), m.connect);
  std::sort(linked.begin(), linked.end());
  std::vector<std::string> tables = m.tables;
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(linked, tables);
  EXPECT_TRUE(inspector.TablesLinkedTo(m.mdb.string(), SharedServer().OdbcConnect()).empty());
  using platform::verify::PostgresDatabase;
  EXPECT_EQ(platform::verify::PostgresDatabaseOf(m.connect), PostgresDatabase::kPresent);
  inspector.Remove(m.connect);
  EXPECT_FALSE(inspector.IsNorvaneDatabase(m.connect));
  EXPECT_EQ(platform::verify::PostgresDatabaseOf(m.connect), PostgresDatabase::kMissing);
  // A server that does not answer is not taken for a database that is gone.
  std::string elsewhere = m.connect;
  elsewhere.replace(elsewhere.find(";Port=") + 6, SharedServer().Get("PGPORT").size(), "1");
  EXPECT_EQ(platform::verify::PostgresDatabaseOf(elsewhere, {.login = std::chrono::seconds(5)}),
            PostgresDatabase::kUnreachable);
}

// The catalog functions of psqlODBC as the link writer asks them: names in either letter case
// and with quotes are separate tables, a table of the same name in a schema off the search path
// is not read, and each link gets its own table's columns and key.
TEST(PostgresRemoteTable, reads_the_table_of_that_exact_name_on_the_search_path) {
  SharedServer().ExportPassword();
  const std::string database = NewDatabase();
  Connection db(SharedServer().Address(false, database));
  db.Execute(
      "CREATE TABLE \"Kunden\" (\"KundenNr\" integer, \"Firma\" varchar(40) NOT NULL, "
      "\"Land\" text); ALTER TABLE \"Kunden\" ADD CONSTRAINT \"Kunden_primarykey\" "
      "PRIMARY KEY (\"KundenNr\"); CREATE UNIQUE INDEX \"A_Firma\" ON \"Kunden\" "
      "(\"Firma\"); CREATE INDEX \"Land\" ON \"Kunden\" (\"Land\");"
      "CREATE TABLE kunden (x integer PRIMARY KEY);"
      "CREATE TABLE \"Say \"\"Hi\"\"\" (q integer, r integer, PRIMARY KEY (r, q));"
      "CREATE TABLE \"Kunden_\" (y integer);"
      "CREATE SCHEMA other; CREATE TABLE other.\"Kunden\" (a integer PRIMARY KEY, b text)");
  const std::string connect = SharedServer().OdbcConnect(database);
  const jetwriter::RemoteTable kunden = jetwriter::ReadRemoteTable(connect, "Kunden");
  ASSERT_EQ(kunden.columns.size(), 3u);
  EXPECT_EQ(kunden.columns[1].name, "Firma");
  // SQL_VARCHAR to this program's ANSI calls, SQL_WVARCHAR to Access's wide ones: Text(40).
  const platform::LinkedType text = platform::LinkedTypeOf(
      kunden.columns[1].sqlType, kunden.columns[1].size, kunden.columns[1].digits);
  EXPECT_EQ(text.type, platform::jet_type::kText);
  EXPECT_EQ(text.chars, 40);
  EXPECT_TRUE(kunden.hasPrimaryKey);
  ASSERT_EQ(kunden.indexes.size(), 3u);
  EXPECT_EQ(kunden.indexes[0].columns, std::vector<std::string>{"KundenNr"});
  EXPECT_EQ(kunden.indexes[1].columns, std::vector<std::string>{"Firma"});
  EXPECT_TRUE(kunden.indexes[1].unique);
  EXPECT_EQ(kunden.indexes[2].columns, std::vector<std::string>{"Land"});
  EXPECT_FALSE(kunden.indexes[2].unique);

  const jetwriter::RemoteTable lower = jetwriter::ReadRemoteTable(connect, "kunden");
  ASSERT_EQ(lower.columns.size(), 1u);
  EXPECT_EQ(lower.columns[0].name, "x");
  const jetwriter::RemoteTable quoted = jetwriter::ReadRemoteTable(connect, "Say \"Hi\"");
  ASSERT_EQ(quoted.columns.size(), 2u);
  ASSERT_FALSE(quoted.indexes.empty());
  EXPECT_EQ(quoted.indexes[0].columns, (std::vector<std::string>{"r", "q"}));  // in key order

  // Linked into an Access file, the link's connect string is psqlODBC's and its key the primary
  // key, though an index named earlier is unique too.
  testing_support::TempDir dir("pg-link");
  const fs::path mdb = jettest::CopyFixture("modern-dev-V2010.accdb", dir.path());
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    w->AppendLinkedTable("Kunden PG", "ODBC;" + connect, "Kunden");
    w->AppendLinkedTable("Hi", "ODBC;" + connect, "Say \"Hi\"");
  }
  const jetwriter::TableDef def = LinkDefinition(mdb, "Kunden PG");
  ASSERT_EQ(def.indexes.size(), 3u);
  EXPECT_EQ(def.indexes[0].columns, std::vector<int>{0});
  EXPECT_EQ(def.indexes[0].flags, 0x89);
  EXPECT_EQ(jettest::LibmdbLinks(mdb).at("Hi"), (jettest::Link{connect, "Say \"Hi\""}));
}

// A table without a primary key is asked for its rows breaking a rule by their place (ctid).
TEST(PostgresRowsBreaking, names_rows_by_key_or_by_place) {
  SharedServer().ExportPassword();
  const std::string database = NewDatabase();
  Connection db(SharedServer().Address(false, database));
  db.Execute(
      "CREATE TABLE \"Keyed\" (\"Id\" integer PRIMARY KEY, n integer); "
      "INSERT INTO \"Keyed\" VALUES (1, 5), (2, -1), (3, -2); "
      "CREATE TABLE \"Loose\" (n integer); INSERT INTO \"Loose\" VALUES (5), (-1)");
  platform::odbc::Connection odbc(SharedServer().OdbcConnect(database));
  EXPECT_EQ(platform::verify::KeysOfRowsBreaking(odbc, "Keyed", "n >= 0"), "(2), (3)");
  EXPECT_EQ(platform::verify::KeysOfRowsBreaking(odbc, "Loose", "n >= 0"), "((0,2))");
  EXPECT_EQ(platform::verify::KeysOfRowsBreaking(odbc, "Loose", "n > -5"), "");
}

// A kill at any write point of a link-back to PostgreSQL leaves the Access file exactly as it
// was, or with every table renamed and linked; the next open removes the work copy.
TEST(PostgresKilledLinkBack, leaves_the_file_before_or_after) {
  testing_support::TempDir dir("pg-link");
  Migration m = Migrate("nwind.mdb", dir.path());
  const std::vector<std::string> tables = {"Customers", "Order Details", "Shippers"};
  const std::string before = testing_support::ReadBytes(m.mdb);
  int killed = 0, killedAfter = 0;
  bool finished = false;
  for (int n = 1; n < 400 && !finished; ++n) {
    testing_support::WriteBytes(m.mdb, before);
    for (const char* side : {".bak", ".linking"}) fs::remove(m.mdb.string() + side);
    const pid_t pid = fork();
    if (pid == 0) {
      jetwriter::SetKillBeforePageWrite(n);
      int code = 0;
      try {
        LinkBack(m.mdb, tables, m.connect);
      } catch (...) {
        code = 3;
      }
      _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const bool wasKilled = WIFSIGNALED(status);
    if (!wasKilled) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the link-back failed";
      finished = true;
    }
    jetwriter::RecoverInterruptedChange(m.mdb.string());
    EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(m.mdb.string())));
    if (wasKilled) ++killed;
    if (testing_support::ReadBytes(m.mdb) == before) {
      ASSERT_TRUE(wasKilled) << "a finished link-back left the file unchanged";
      continue;
    }
    if (wasKilled) ++killedAfter;
    const auto links = jettest::LibmdbLinks(m.mdb);
    for (const std::string& name : tables) {
      ASSERT_EQ(links.count(name), 1u) << "write " << n << ": " << name;
      EXPECT_EQ(links.at(name), (jettest::Link{m.connect, engine::TargetNameOf(name)}));
    }
    EXPECT_EQ(jetwriter::CheckCatalog(m.mdb.string()), std::vector<std::string>{});
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(killed, 5);
  EXPECT_EQ(killedAfter, 1);  // only after the rename that replaces the file
  const jettest::NodeView view = jettest::ReadWithMdbReader(m.mdb);
  ASSERT_TRUE(view.available) << view.why;
  EXPECT_EQ(view.links.at("Shippers"), (jettest::Link{m.connect, "Shippers"}));
}

}  // namespace
