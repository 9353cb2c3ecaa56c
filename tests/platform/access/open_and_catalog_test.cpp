// Opening Access files: the lock, bad input, the catalog (tables, indexes, relationships).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine_support.h"
#include "platform/access/rows.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "support/error_number.h"

namespace {

using engine_test::CopyFixture;
using testing_support::TempDir;

std::shared_ptr<dao::Workspace> Jet(const std::shared_ptr<dao::Engine>& engine) {
  return engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
}

std::shared_ptr<dao::Engine> Engine() {
  return platform::access::CreateEngine({nullptr, nullptr, std::chrono::seconds(20)});
}

int OpenError(const std::string& path, std::string* description = nullptr) {
  return testing_support::ErrorNumberOf(
      [&] {
        Jet(Engine())->OpenDatabase(path, {true, false}, "");
      },
      description);
}

TEST(AccessOpen, exclusive_open_is_refused_while_another_open_holds_the_file) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  auto first = Jet(Engine())->OpenDatabase(path, {true, false}, "");
  std::string description;
  EXPECT_EQ(OpenError(path, &description), dao::err::kCouldNotLock);
  EXPECT_NE(description.find(path), std::string::npos) << description;
  first->Close();
  EXPECT_EQ(OpenError(path), 0);  // released by Close
}

TEST(AccessOpen, lock_file_is_created_beside_the_file_and_removed_on_close) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  auto db = Jet(Engine())->OpenDatabase(path, {true, false}, "");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "nwind.ldb"));
  db->Close();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "nwind.ldb"));
}

TEST(AccessOpen, a_lock_file_held_by_another_program_refuses_the_open) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  const std::string lockFile = (dir.path() / "nwind.ldb").string();
  testing_support::WriteBytes(lockFile, "");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(lockFile.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    const bool ok = fcntl(fd, F_OFD_SETLK, &lock) == 0;
    if (write(ready[1], ok ? "y" : "n", 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y');
  EXPECT_EQ(OpenError(path), dao::err::kCouldNotLock);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(OpenError(path), 0);  // a stale lock file is no holder
}

TEST(AccessOpen, bad_files_give_clear_errors) {
  TempDir dir("engine");
  std::string description;
  EXPECT_EQ(OpenError((dir.path() / "missing.mdb").string(), &description),
            dao::err::kFileNotFound);
  EXPECT_NE(description.find("missing.mdb"), std::string::npos);

  const auto text = dir.path() / "notes.mdb";
  testing_support::WriteBytes(text, "This is a plain text file, not a database.\n");
  EXPECT_EQ(OpenError(text.string(), &description), dao::err::kUnrecognizedFormat);
  EXPECT_NE(description.find("not an Access database"), std::string::npos) << description;

  const std::string whole = testing_support::ReadBytes(engine_test::Fixture("nwind.mdb"));
  const auto truncated = dir.path() / "truncated.mdb";
  testing_support::WriteBytes(truncated, whole.substr(0, whole.size() / 3 + 100));
  EXPECT_EQ(OpenError(truncated.string(), &description), dao::err::kUnrecognizedFormat);
  EXPECT_NE(description.find("truncated"), std::string::npos) << description;

  const auto empty = dir.path() / "empty.mdb";
  testing_support::WriteBytes(empty, "");
  EXPECT_EQ(OpenError(empty.string()), dao::err::kUnrecognizedFormat);
}

TEST(AccessOpen, windows_form_paths_resolve_through_drive_z) {
  TempDir dir("engine");
  const std::string path = CopyFixture("nwind.mdb", dir);
  auto db = Jet(Engine())->OpenDatabase(platform::paths::ToWindows(path), {true, false}, "");
  EXPECT_GT(db->TableDefs().Count(), 9);
}

std::vector<std::string> TableNames(dao::Database& db) {
  std::vector<std::string> names;
  for (int i = 0; i < db.TableDefs().Count(); ++i) names.push_back(db.TableDefs().Item(i)->Name());
  return names;
}

TEST(AccessCatalog, nwind_lists_system_and_user_tables_in_catalog_order) {
  TempDir dir("engine");
  auto db = Jet(Engine())->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  std::vector<std::string> user;
  for (const std::string& name : TableNames(*db))
    if (name.rfind("MSys", 0) != 0) user.push_back(name);
  EXPECT_EQ(user, (std::vector<std::string>{"Order Details", "Orders", "Products", "Shippers",
                                            "Categories", "Customers", "Employees", "Suppliers",
                                            "Umsätze"}));
  EXPECT_EQ(TableNames(*db).front(), "MSysObjects");
  EXPECT_EQ(db->TableDefs().Item("order details")->Name(), "Order Details");
  EXPECT_EQ(db->TableDefs().Item("UMSäTZE")->Name(), "Umsätze");
  try {
    db->TableDefs().Item("No such table");
    ADD_FAILURE() << "look-up of a missing table succeeded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kItemNotFound);
  }
}

TEST(AccessCatalog, indexes_carry_fields_order_and_flags) {
  TempDir dir("engine");
  auto db = Jet(Engine())->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  bool sawPrimary = false;
  for (const dao::Index& index : db->TableDefs().Item("Order Details")->Indexes()) {
    if (!index.Primary) continue;
    sawPrimary = true;
    EXPECT_EQ(index.Fields, "+OrderID;+ProductID");
    EXPECT_TRUE(index.Unique);
  }
  EXPECT_TRUE(sawPrimary);

  auto edge = Jet(Engine())->OpenDatabase(CopyFixture("edge-jet4.mdb", dir), {true, false}, "");
  bool descending = false, uniqueNotPrimary = false;
  for (int i = 0; i < edge->TableDefs().Count(); ++i) {
    for (const dao::Index& index : edge->TableDefs().Item(i)->Indexes()) {
      if (index.Fields.find('-') != std::string::npos) descending = true;
      if (index.Unique && !index.Primary) uniqueNotPrimary = true;
    }
  }
  EXPECT_TRUE(descending);
  EXPECT_TRUE(uniqueNotPrimary);
}

// "name fields unique primary" for each index, in the engine's order.
std::vector<std::string> IndexLines(dao::Database& db, const std::string& table) {
  std::vector<std::string> lines;
  for (const dao::Index& index : db.TableDefs().Item(table)->Indexes())
    lines.push_back(index.Name + " " + index.Fields + " " + (index.Unique ? "U" : "-") +
                    (index.Primary ? "P" : "-"));
  return lines;
}

TEST(AccessCatalog, a_relationship_index_is_listed_on_its_foreign_table_only) {
  TempDir dir("engine");
  auto db = Jet(Engine())->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  // Orders is the foreign side of three relationships and the primary side of one (".rI").
  EXPECT_EQ(IndexLines(*db, "Orders"),
            (std::vector<std::string>{
                "CustomerID +CustomerID --", "CustomersOrders +CustomerID --",
                "EmployeeID +EmployeeID --", "EmployeesOrders +EmployeeID --",
                "OrderDate +OrderDate --", "PrimaryKey +OrderID UP", "ShippedDate +ShippedDate --",
                // the foreign column, not the referenced ShipperID
                "ShippersOrders +ShipVia --", "ShipPostalCode +ShipPostalCode --"}));
  // Primary side only: nothing of the relationship shows.
  EXPECT_EQ(IndexLines(*db, "Shippers"), (std::vector<std::string>{"PrimaryKey +ShipperID UP"}));

  // Jet 4: a two-field relationship, fields in column order.
  auto edge = Jet(Engine())->OpenDatabase(CopyFixture("edge-jet4.mdb", dir), {true, false}, "");
  EXPECT_EQ(
      IndexLines(*edge, "Order Details Shipments"),
      (std::vector<std::string>{"PrimaryKey +ShipmentID UP",
                                "Order DetailsOrder Details Shipments +OrderID;+ProductID --"}));
  EXPECT_EQ(IndexLines(*edge, "Customers").size(), 3u);  // ".rB" left out

  // Jet 3: Table1 is the foreign side of two relationships, Table2 the primary side of one.
  auto jet3 =
      Jet(Engine())->OpenDatabase(CopyFixture("indexTestV1997.mdb", dir), {true, false}, "");
  EXPECT_EQ(IndexLines(*jet3, "Table1"),
            (std::vector<std::string>{"id +id --", "PrimaryKey +id UP", "Table2Table1 +otherfk1 --",
                                      "Table3Table1 +otherfk2 --"}));
  EXPECT_EQ(IndexLines(*jet3, "Table2"),
            (std::vector<std::string>{"id +id --", "PrimaryKey +id UP"}));
}

TEST(AccessCatalog, relationships_come_with_ordered_field_pairs) {
  TempDir dir("engine");
  auto db = Jet(Engine())->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  const auto relations = db->Relations();
  ASSERT_EQ(relations.size(), 7u);
  bool shippers = false;
  for (const dao::Relation& r : relations) {
    if (r.Table != "Shippers") continue;
    shippers = true;
    EXPECT_EQ(r.ForeignTable, "Orders");
    ASSERT_EQ(r.Fields.size(), 1u);
    EXPECT_EQ(r.Fields[0].Name, "ShipperID");
    EXPECT_EQ(r.Fields[0].ForeignName, "ShipVia");
  }
  EXPECT_TRUE(shippers);

  auto edge = Jet(Engine())->OpenDatabase(CopyFixture("edge-jet4.mdb", dir), {true, false}, "");
  bool twoFields = false;
  for (const dao::Relation& r : edge->Relations()) {
    if (r.Fields.size() != 2) continue;
    twoFields = true;
    EXPECT_EQ(r.Table, "Order Details");
    EXPECT_EQ(r.ForeignTable, "Order Details Shipments");
    EXPECT_EQ(r.Fields[0].Name, "OrderID");
    EXPECT_EQ(r.Fields[1].Name, "ProductID");
  }
  EXPECT_TRUE(twoFields);
}

TEST(AccessCatalog, changes_without_a_catalog_writer_are_refused) {
  TempDir dir("engine");
  auto db = Jet(Engine())->OpenDatabase(CopyFixture("nwind.mdb", dir), {true, false}, "");
  try {
    db->TableDefs().Item("Orders")->SetName("Old_Orders");
    ADD_FAILURE() << "rename without writer succeeded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kUnsupported);
  }
  auto link = db->CreateTableDef("Orders2");
  link->SetConnect("ODBC;DSN=x");
  link->SetSourceTableName("Orders");
  try {
    db->TableDefs().Append(link);
    ADD_FAILURE() << "append without writer succeeded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kUnsupported);
  }
  EXPECT_EQ(db->TableDefs().Item("Orders")->Name(), "Orders");
}

}  // namespace

namespace {

TEST(AccessCheck, every_table_of_a_sound_file_reads_to_its_end) {
  const auto checks =
      platform::access::CheckAllTables(engine_test::Fixture("nwind.mdb"), std::chrono::seconds(30));
  ASSERT_GT(checks.size(), 9u);
  for (const auto& check : checks) EXPECT_EQ(check.errorNumber, 0) << check.table << check.error;
  bool orderDetails = false;
  for (const auto& check : checks)
    if (check.table == "Order Details") {
      orderDetails = true;
      EXPECT_EQ(check.rows, 2155u);
    }
  EXPECT_TRUE(orderDetails);
}

}  // namespace

namespace {

// A row flagged deleted on its data page (as Access leaves it until the file is compacted) is
// not read: its table has one row less, every other table all its rows.
TEST(AccessCheck, a_row_flagged_deleted_is_skipped_and_only_it) {
  TempDir dir;
  const std::string file = CopyFixture("nwind.mdb", dir);
  std::string bytes = testing_support::ReadBytes(file);
  const bool jet3 = bytes[0x14] == 0;
  const std::size_t page = jet3 ? 2048 : 4096, rowCount = jet3 ? 8 : 12, offsets = jet3 ? 10 : 14;
  const auto get16 = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  bool flagged = false;
  // The last data page of the file: the system tables' pages come first.
  for (std::size_t start = bytes.size() / page * page - page; start >= page && !flagged;
       start -= page) {
    if (bytes[start] != 0x01) continue;  // a data page
    for (unsigned row = 0; row < get16(start + rowCount) && !flagged; ++row) {
      const std::size_t at = start + offsets + 2 * row;
      if ((get16(at) & 0xC000) != 0) continue;
      bytes[at + 1] = static_cast<char>(bytes[at + 1] | 0x40);
      flagged = true;
    }
  }
  ASSERT_TRUE(flagged);
  const auto before =
      platform::access::CheckAllTables(engine_test::Fixture("nwind.mdb"), std::chrono::seconds(30));
  testing_support::WriteBytes(file, bytes);
  const auto after = platform::access::CheckAllTables(file, std::chrono::seconds(30));
  ASSERT_EQ(after.size(), before.size());
  std::uint64_t fewer = 0;
  for (std::size_t t = 0; t < after.size(); ++t) {
    EXPECT_EQ(after[t].errorNumber, 0) << after[t].table << after[t].error;
    EXPECT_LE(after[t].rows, before[t].rows) << after[t].table;
    fewer += before[t].rows - after[t].rows;
  }
  EXPECT_EQ(fewer, 1u);
}

}  // namespace
