// The check before a run on the in-memory engine: each finding from a file made for it, the
// keys it lists.
#include "engine/preflight.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_dao.h"

namespace {

using engine::FindingKind;
using testing::ElementsAre;
using testing::HasSubstr;
using Row = std::vector<std::optional<std::string>>;

constexpr const char* kFile = "Z:\\data\\Sales.mdb";
constexpr const char* kTarget = "Z:\\data\\Sales.db";

class PreflightTest : public ::testing::Test {
 protected:
  engine::PreflightResult Check(bool link = false) {
    return engine::RunPreflight(engine, {kFile, kTarget, link, "Old_", ""});
  }
  std::vector<const engine::Finding*> Of(const engine::PreflightResult& result, FindingKind kind) {
    std::vector<const engine::Finding*> found;
    for (const auto& f : result.findings)
      if (f.kind == kind) found.push_back(&f);
    return found;
  }
  dao::Index Key(const std::string& fields) { return {"PrimaryKey", fields, true, true}; }

  fakes::FakeEngine engine;
  fakes::AccessFile& file = engine.AddAccessFile(kFile);
};

TEST_F(PreflightTest, a_sound_file_is_clean_and_nothing_is_changed) {
  file.AddTable("MSysObjects");
  file.AddTable("Customers", {"ID"}, {Key("+ID")}, 5);
  file.AddTable("Orders", {"ID", "CustomerID"}, {Key("+ID")}, 5);
  file.relations = {{"Customers", "Orders", {{"ID", "CustomerID"}}}};
  const auto result = Check(true);
  EXPECT_TRUE(result.Clean()) << result.Text();
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Go);
  for (const std::string& change : engine.Changes()) EXPECT_TRUE(change.ends_with(".Close()"));
  EXPECT_THAT(engine.CallsStartingWith("Workspace"),
              testing::Contains(HasSubstr("OpenDatabase(Z:\\data\\Sales.mdb,shared,read-only")));
  EXPECT_EQ(engine.OpenObjects(), 0);
}

TEST_F(PreflightTest, key_columns_with_nulls_and_duplicates_list_the_first_ten_keys) {
  auto& t = file.AddTable("Lines", {"OrderID", "Line", "Note"}, {Key("+OrderID;-Line")});
  t.values.push_back({"1", std::nullopt, "x"});
  for (int i = 0; i < 14; ++i) {  // 12 keys each twice, one of them three times
    t.values.push_back({std::to_string(100 + i % 12), "1", "x"});
  }
  t.values.push_back({"100", "1", "x"});
  t.values.push_back({"7", "1", "x"});
  const auto result = Check();
  const auto nulls = Of(result, FindingKind::KeyNulls);
  ASSERT_EQ(nulls.size(), 1u);
  EXPECT_THAT(nulls[0]->keys, ElementsAre("1, NULL"));
  EXPECT_THAT(nulls[0]->text, HasSubstr("1 rows have NULL in the primary key (+OrderID;-Line)"));
  const auto dups = Of(result, FindingKind::KeyDuplicates);
  ASSERT_EQ(dups.size(), 1u);
  EXPECT_THAT(dups[0]->text, HasSubstr("3 rows repeat a value"));
  EXPECT_THAT(dups[0]->keys, ElementsAre("100, 1", "101, 1"));
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Confirm);

  auto& many = file.AddTable("Many", {"ID"}, {Key("+ID")});
  for (int i = 0; i < 30; ++i) many.values.push_back({std::to_string(i % 15)});
  const auto again = Check();
  const auto manyDups = Of(again, FindingKind::KeyDuplicates);
  ASSERT_EQ(manyDups.size(), 2u);
  EXPECT_EQ(manyDups[1]->keys.size(), engine::kListedKeys);
  EXPECT_EQ(manyDups[1]->keys.front(), "0");
}

TEST_F(PreflightTest, orphans_per_relationship_are_counted_and_listed_once_each) {
  auto& parents = file.AddTable("Parents", {"ID"}, {Key("+ID")});
  parents.values = {{"1"}, {"2"}};
  auto& children = file.AddTable("Children", {"ID", "ParentID"}, {Key("+ID")});
  children.values = {{"1", "1"}, {"2", "555"}, {"3", "555"}, {"4", std::nullopt}, {"5", "556"}};
  file.relations = {{"Parents", "Children", {{"ID", "ParentID"}}}};
  const auto result = Check();
  const auto orphans = Of(result, FindingKind::OrphanRows);
  ASSERT_EQ(orphans.size(), 1u);
  EXPECT_THAT(orphans[0]->keys, ElementsAre("555", "556"));
  EXPECT_THAT(orphans[0]->text, HasSubstr("3 rows of \"Children\" (ParentID) have no parent"));
}

// Tables far bigger than the memory for keys: the same findings, with keys far apart.
TEST_F(PreflightTest, keys_beyond_the_memory_budget_find_the_same_duplicates_and_orphans) {
  auto& parents = file.AddTable("Parents", {"ID", "Region"}, {Key("+ID;+Region")});
  for (int i = 0; i < 3000; ++i)
    parents.values.push_back({std::to_string(i), "R" + std::to_string(i % 7)});
  parents.values.push_back({"2999", "R3"});  // repeats the row just before it
  parents.values.push_back({"5", "R5"});     // repeats row 5, far from it
  auto& children = file.AddTable("Children", {"ID", "ParentID", "Region"}, {Key("+ID")});
  for (int i = 0; i < 3000; ++i) {
    std::string parent = std::to_string(i), region = "R" + std::to_string(i % 7);
    if (i == 2 || i == 2990) parent = "99999", region = "R2";  // one orphan key at both ends
    if (i == 1500) region = "R9";                              // its parent has another region
    children.values.push_back({std::to_string(i), parent, region});
  }
  children.values.push_back({"3000", "2999", std::nullopt});  // NULL: no orphan
  file.relations = {{"Parents", "Children", {{"ID", "ParentID"}, {"Region", "Region"}}}};

  const auto small = engine::RunPreflight(engine, {kFile, kTarget, false, "Old_", ""}, 256);
  const auto dups = Of(small, FindingKind::KeyDuplicates);
  ASSERT_EQ(dups.size(), 1u);
  EXPECT_THAT(dups[0]->text, HasSubstr("2 rows repeat a value of the primary key (+ID;+Region)"));
  EXPECT_THAT(dups[0]->keys, ElementsAre("2999, R3", "5, R5"));
  const auto orphans = Of(small, FindingKind::OrphanRows);
  ASSERT_EQ(orphans.size(), 1u);
  EXPECT_THAT(orphans[0]->text,
              HasSubstr("3 rows of \"Children\" (ParentID, Region) have no parent in \"Parents\""));
  EXPECT_THAT(orphans[0]->keys, ElementsAre("99999, R2", "1500, R9"));
  EXPECT_EQ(small.Text(), Check().Text());
}

// Keys as tables usually hold them (counting up, child rows in their parents' order, a child
// table in random order) with what the check must still find: a NULL, repeats next to each other
// and far apart, a key out of order late in the table, orphans at the start, middle and end, and
// a composite key. Every budget, with and without keys taken as they come, finds the same.
class KeysAsTheyCome : public PreflightTest {
 protected:
  engine::PreflightResult CheckEveryWay() {
    const engine::PreflightRequest request{kFile, kTarget, false, "Old_", ""};
    const auto result = engine::RunPreflight(engine, request);
    for (const std::size_t memory : {engine::kPreflightKeyMemory, std::size_t(256), std::size_t(1)})
      for (const bool stream : {true, false})
        EXPECT_EQ(engine::RunPreflight(engine, request, memory, stream).Text(), result.Text())
            << "memory " << memory << (stream ? " streamed" : " sorted");
    return result;
  }
};

TEST_F(KeysAsTheyCome, repeats_nulls_and_orphans_in_keys_that_mostly_come_in_order) {
  // Parents in order with gaps (1000 and 1500 missing), a repeat next to its first row, a NULL
  // and keys one apart from none: held in memory, their children looked up row by row.
  auto& customers = file.AddTable("Customers", {"ID"}, {Key("+ID")});
  for (int i = 1; i <= 2000; ++i) {
    if (i == 1000 || i == 1500) continue;
    customers.values.push_back({std::to_string(i)});
    if (i == 500) customers.values.push_back({"500"});
  }
  customers.values.push_back({std::nullopt});
  for (const char* id : {"5000", "5002", "5004"}) customers.values.push_back({id});
  // Children in random order: orphans in the first row and again later, in a parent's gap,
  // between two parents, in the middle and in the last row.
  auto& orders = file.AddTable("Orders", {"ID", "CustomerID"}, {Key("+ID")});
  for (int i = 1; i <= 3000; ++i) {
    std::optional<std::string> customer = std::to_string(i * 7919 % 2000 + 1);
    if (i == 1 || i == 11) customer = "99999";
    if (i == 1500) customer = "0";
    if (i == 1600) customer = std::nullopt;
    if (i == 2000) customer = "5001";
    if (i == 2500) customer = "5002";
    if (i == 3000) customer = "2001";
    orders.values.push_back({std::to_string(i), customer});
  }
  // A key in order until a row repeats one far back, then one just before it.
  auto& returns = file.AddTable("Returns", {"ID"}, {Key("+ID")});
  for (int i = 1; i <= 300; ++i) returns.values.push_back({std::to_string(i)});
  returns.values.push_back({"7"});
  returns.values.push_back({"300"});
  // A composite key in order with one repeat; its child side looked up against Orders.
  auto& lines = file.AddTable("Order Lines", {"OrderID", "LineNo"}, {Key("+OrderID;+LineNo")});
  for (int order = 1; order <= 3000; ++order)
    for (int line = 1; line <= order % 3 + 1; ++line) {
      lines.values.push_back({std::to_string(order), std::to_string(line)});
      if (order == 5 && line == 1) lines.values.push_back({"5", "1"});
    }
  lines.values.push_back({"3001", "1"});
  file.relations = {{"Customers", "Orders", {{"ID", "CustomerID"}}},
                    {"Orders", "Order Lines", {{"ID", "OrderID"}}}};

  const auto result = CheckEveryWay();
  ASSERT_EQ(result.findings.size(), 6u) << result.Text();
  EXPECT_EQ(result.findings[0].kind, FindingKind::KeyNulls);
  EXPECT_THAT(result.findings[0].keys, ElementsAre("NULL"));
  EXPECT_EQ(result.findings[1].kind, FindingKind::KeyDuplicates);
  EXPECT_THAT(result.findings[1].text, HasSubstr("1 rows repeat a value of the primary key (+ID)"));
  EXPECT_THAT(result.findings[1].keys, ElementsAre("500"));
  EXPECT_EQ(result.findings[2].kind, FindingKind::KeyDuplicates);
  EXPECT_THAT(result.findings[2].text, HasSubstr("2 rows repeat a value of the primary key (+ID) "
                                                 "of \"Returns\""));
  EXPECT_THAT(result.findings[2].keys, ElementsAre("7", "300"));
  EXPECT_EQ(result.findings[3].kind, FindingKind::KeyDuplicates);
  EXPECT_THAT(result.findings[3].text, HasSubstr("1 rows repeat a value of the primary key"));
  EXPECT_THAT(result.findings[3].keys, ElementsAre("5, 1"));
  EXPECT_EQ(result.findings[4].kind, FindingKind::OrphanRows);
  EXPECT_THAT(result.findings[4].text,
              HasSubstr("8 rows of \"Orders\" (CustomerID) have no parent"));
  EXPECT_THAT(result.findings[4].keys, ElementsAre("99999", "1500", "1000", "0", "5001", "2001"));
  EXPECT_EQ(result.findings[5].kind, FindingKind::OrphanRows);
  EXPECT_THAT(result.findings[5].text, HasSubstr("1 rows of \"Order Lines\" (OrderID)"));
  EXPECT_THAT(result.findings[5].keys, ElementsAre("3001"));
}

// Parents read after their children, parents out of order, a table that is its own parent, and
// more than ten orphan keys: none can be looked up as the rows come, the findings stay.
TEST_F(KeysAsTheyCome, parents_after_their_children_or_out_of_order_and_a_table_its_own_parent) {
  auto& employees = file.AddTable("Employees", {"ID", "Boss", "Team"}, {Key("+ID")});
  for (int i = 1; i <= 400; ++i)
    employees.values.push_back({std::to_string(i),
                                std::to_string(i == 1        ? 1
                                               : i % 50 == 0 ? 1000 + i
                                                             : i / 2),
                                std::to_string(i % 7)});
  auto& teams = file.AddTable("Teams", {"ID"}, {Key("+ID")});
  for (int i = 0; i < 7; i += 2) teams.values.push_back({std::to_string(6 - i)});
  auto& rooms = file.AddTable("Rooms", {"ID", "Team"}, {Key("+ID")});
  for (int i = 30; i > 0; --i) rooms.values.push_back({std::to_string(i), std::to_string(i % 9)});
  auto& visits = file.AddTable("Visits", {"ID", "Room"}, {Key("+ID")});
  for (int i = 1; i <= 300; ++i)
    visits.values.push_back({std::to_string(i), std::to_string(i % 45 + 1)});
  file.relations = {{"Employees", "Employees", {{"ID", "Boss"}}},
                    {"Teams", "Employees", {{"ID", "Team"}}},
                    {"Teams", "Rooms", {{"ID", "Team"}}},
                    {"Rooms", "Visits", {{"ID", "Room"}}}};

  const auto result = CheckEveryWay();
  const auto orphans = Of(result, FindingKind::OrphanRows);
  ASSERT_EQ(orphans.size(), 4u) << result.Text();
  EXPECT_THAT(orphans[0]->text, HasSubstr("8 rows of \"Employees\" (Boss)"));
  EXPECT_THAT(orphans[0]->keys,
              ElementsAre("1050", "1100", "1150", "1200", "1250", "1300", "1350", "1400"));
  EXPECT_THAT(orphans[1]->text, HasSubstr("172 rows of \"Employees\" (Team)"));
  EXPECT_THAT(orphans[1]->keys, ElementsAre("1", "3", "5"));
  EXPECT_THAT(orphans[2]->keys, ElementsAre("3", "1", "8", "7", "5"));
  EXPECT_THAT(orphans[3]->text, HasSubstr("91 rows of \"Visits\" (Room)"));
  EXPECT_EQ(orphans[3]->keys.size(), engine::kListedKeys);
  EXPECT_EQ(orphans[3]->keys.front(), "31");
}

// Each table is read once for its key and both sides of its relationships; a relationship that
// names a field the table lacks fails alone, as it would read on its own.
TEST_F(PreflightTest, each_table_is_read_once_and_a_bad_relationship_fails_alone) {
  auto& parents = file.AddTable("Parents", {"ID"}, {Key("+ID")});
  parents.values = {{"1"}, {"2"}, {"2"}};
  auto& children = file.AddTable("Children", {"ID", "ParentID"}, {Key("+ID")});
  children.values = {{"1", "1"}, {"2", "7"}, {"3", "2"}};
  file.relations = {{"Parents", "Children", {{"ID", "ParentID"}}},
                    {"parents", "Children", {{"Gone", "ID"}}}};
  const auto result = Check();
  EXPECT_EQ(engine.CallsStartingWith("Access.OpenRecordset(Children)").size(), 1u);
  ASSERT_EQ(result.findings.size(), 3u) << result.Text();
  EXPECT_EQ(result.findings[0].kind, FindingKind::KeyDuplicates);
  EXPECT_THAT(result.findings[0].keys, ElementsAre("2"));
  EXPECT_EQ(result.findings[1].kind, FindingKind::OrphanRows);
  EXPECT_THAT(result.findings[1].keys, ElementsAre("7"));
  EXPECT_EQ(result.findings[2].kind, FindingKind::RowsUnread);
  EXPECT_THAT(result.findings[2].text,
              HasSubstr("The rows of \"parents\" could not be read for the check: No field"));
}

TEST_F(PreflightTest, names_that_collide_or_that_the_target_cannot_take) {
  file.AddTable("Order Notes", {"ID"}, {Key("+ID")});
  file.AddTable("order_notes", {"ID"}, {Key("+ID")});
  file.AddTable("Shippers", {"ID"}, {Key("+ID")});
  file.AddTable("Old_Shippers", {"ID"}, {Key("+ID")});
  file.AddTable("sqlite_stat", {"ID"}, {Key("+ID")});
  file.AddTable("Odd", {"A\nB"}, {Key("+A\nB")});
  file.AddTable("Loose", {"ID"}, {});
  const auto result = Check(true);
  ASSERT_EQ(Of(result, FindingKind::TargetNameCollision).size(), 1u);
  EXPECT_THAT(Of(result, FindingKind::TargetNameCollision)[0]->text,
              HasSubstr("\"Order Notes\" and \"order_notes\" all become \"Order_Notes\""));
  ASSERT_EQ(Of(result, FindingKind::PrefixCollision).size(), 1u);
  EXPECT_THAT(Of(result, FindingKind::PrefixCollision)[0]->text,
              HasSubstr("\"Shippers\" cannot be renamed to \"Old_Shippers\""));
  const auto unwritable = Of(result, FindingKind::UnwritableName);
  ASSERT_EQ(unwritable.size(), 2u);
  EXPECT_THAT(unwritable[0]->text, HasSubstr("\"sqlite_stat\""));
  EXPECT_THAT(unwritable[1]->text, HasSubstr("of table \"Odd\""));
  ASSERT_EQ(Of(result, FindingKind::NoUniqueIndex).size(), 1u);
  EXPECT_THAT(Of(result, FindingKind::NoUniqueIndex)[0]->text,
              HasSubstr("\"Loose\" has no unique index: its link will be read-only"));
  EXPECT_FALSE(result.Stops());
}

TEST_F(PreflightTest, an_earlier_link_back_into_this_target_stops_the_run) {
  file.AddTable("Old_Customers", {"ID"}, {Key("+ID")});
  auto& link = file.AddTable("Customers", {"ID"}, {});
  link.connect = "ODBC;Driver=Norvane;Database=/data/Sales.db";
  link.sourceTableName = "Customers";
  const auto result = Check(true);
  const auto linked = Of(result, FindingKind::AlreadyLinked);
  ASSERT_EQ(linked.size(), 1u);
  EXPECT_TRUE(linked[0]->stops);
  EXPECT_THAT(linked[0]->text, HasSubstr("1 of its tables are links into Z:\\data\\Sales.db"));
  EXPECT_THAT(linked[0]->text, HasSubstr("Restore the backup first"));
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Stop);
  // The links themselves are not migrated: no finding about their missing unique index.
  EXPECT_TRUE(Of(result, FindingKind::NoUniqueIndex).empty());
}

TEST_F(PreflightTest, a_file_that_cannot_be_opened_or_read_as_access_stops_the_run) {
  engine.FailWhen("Workspace().OpenDatabase", dao::err::kUnrecognizedFormat,
                  "Unrecognized database format 'x': it is not an Access database");
  auto result = Check();
  ASSERT_EQ(result.findings.size(), 1u);
  EXPECT_EQ(result.findings[0].kind, FindingKind::NotAccessFile);
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Stop);

  fakes::FakeEngine other;
  other.AddAccessFile(kFile).openElsewhere = true;
  result = engine::RunPreflight(other, {kFile, kTarget, false, "Old_", ""});
  ASSERT_EQ(result.findings.size(), 1u);
  EXPECT_EQ(result.findings[0].kind, FindingKind::CannotOpen);
  EXPECT_EQ(engine::GateOf(result), engine::Gate::Stop);  // nothing is created for it
}

}  // namespace
