// The step after reload.bat on the fake engine: which statements it writes, which properties it
// leaves out and why, and its command file.
#include "engine/property_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "fakes/fake_dao.h"
#include "fakes/recording_view.h"
#include "options/settings.h"
#include "platform/database_lock.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr int kText = 0x0a, kLong = 0x04, kCurrency = 0x05, kDate = 0x08;

struct StepWorld {
  StepWorld() {
    settings.WorkFolder = dir.windows();
    settings.AccessDbPath = dir.windows() + "sales.mdb";
    settings.TargetDbFileName = "sales.db";
    settings.QueryToolPath = "Z:\\opt\\norvane\\";
    settings.QueryToolFileName = "ivex.exe";
    file = &engine.AddAccessFile(settings.AccessDbPath);
    file->AddTable("MSysObjects");
    auto& customers = file->AddTable("Customers");
    customers.fields = {{"ID", kLong, 4, true, false, true, "", ""},
                        {"Name", kText, 100, false, true, false, "\"?\"", ""},
                        {"Since", kDate, 8, false, false, true, "Date()+1", "<Date()"},
                        {"Credit", kCurrency, 8, false, false, true, "0", ">=0"}};
    customers.validationRule = "[Credit] < 1000 Or [Name] = \"VIP\"";
    auto& orders = file->AddTable("Order Lines");
    orders.fields = {{"CustomerID", kLong, 4, false, true, true, "", ""}};
    auto& link = file->AddTable("Remote");
    link.connect = "ODBC;DSN=x";
    link.fields = {{"X", kLong, 4, false, true, true, "", ""}};
    file->relations.push_back({"Customers",
                               "Order Lines",
                               {{"ID", "CustomerID"}},
                               dao::kRelationUpdateCascade | dao::kRelationDeleteCascade});
    file->relations.push_back({"Customers", "Order Lines", {{"ID", "CustomerID"}}, 0});
  }

  std::optional<int> Run() {
    step.ReadBefore(engine, settings);
    return step.Start(
        settings,
        [this](const std::string& table, const std::string& condition) {
          asked.push_back(table + ": " + condition);
          const auto it = breaking.find(condition);
          return it == breaking.end() ? std::string() : it->second;
        },
        commands);
  }
  const reporting::PropertyLines& Lines(const std::string& table) {
    for (const auto& l : step.Lines())
      if (l.targetTable == table) return l;
    static const reporting::PropertyLines none;
    return none;
  }

  testing_support::TempDir dir;
  MigrationSettings settings;
  fakes::FakeEngine engine;
  fakes::AccessFile* file = nullptr;
  fakes::RecordingStarter commands;
  engine::PropertyStep step;
  std::map<std::string, std::string> breaking;  // condition -> keys of the rows breaking it
  std::vector<std::string> asked;
};

TEST(PropertyStep, writes_what_the_rows_keep_and_starts_its_command_file) {
  StepWorld w;
  const auto task = w.Run();
  ASSERT_TRUE(task);
  EXPECT_TRUE(w.step.Failures().empty());
  EXPECT_THAT(
      w.step.Statements(),
      ElementsAre("alter table \"Customers\" modify \"Name\" not null;",
                  "alter table \"Customers\" add check (\"Name\" <> '');",
                  "alter table \"Customers\" add check ((CAST(\"Credit\" AS REAL) >= 0));",
                  "alter table \"Customers\" add check (((CAST(\"Credit\" AS REAL) < 1000) OR "
                  "(\"Name\" COLLATE NOCASE = 'VIP')));",
                  "alter table \"Order_Lines\" modify \"CustomerID\" not null;",
                  "alter table \"Order_Lines\" modify foreign key (\"CustomerID\") references "
                  "\"Customers\" (\"ID\") on update cascade on delete cascade;"));
  EXPECT_THAT(w.commands.started, ElementsAre(w.dir.windows() + "properties.bat"));
  EXPECT_EQ(testing_support::ReadBytes(w.dir.path() / "properties.bat"),
            "cd Z:\\opt\\norvane\\\r\nZ:\r\nivex.exe -c \"uid=dba;pwd=KWZ;dbf=" + w.dir.windows() +
                "sales.db\" read " + w.dir.windows() + "properties.sql\r\n");
  EXPECT_THAT(testing_support::ReadBytes(w.dir.path() / "properties.sql"),
              HasSubstr("on delete cascade;\r\ncommit;\r\n"));
  // ODBC links are not migrated: nothing asked about them.
  for (const auto& a : w.asked) EXPECT_THAT(a, ::testing::Not(HasSubstr("Remote")));

  const auto& customers = w.Lines("Customers");
  EXPECT_THAT(customers.carried,
              ElementsAre("defaults (Name, Credit)", "AutoNumber (ID)", "required (Name)",
                          "no zero-length text (Name)", "validation rules (Credit, table)"));
  EXPECT_THAT(customers.notCarried,
              ElementsAre("default of Since Date()+1: an expression, not a value",
                          "rule of Since <Date(): it calls the function Date(), which the target "
                          "cannot check"));
  EXPECT_THAT(w.Lines("Order_Lines").carried,
              ElementsAre("required (CustomerID)",
                          "cascades to Customers (on update cascade on delete cascade)"));

  w.step.RemoveFiles(w.settings);
  EXPECT_FALSE(std::filesystem::exists(w.dir.path() / "properties.bat"));
  EXPECT_FALSE(std::filesystem::exists(w.dir.path() / "properties.sql"));
  EXPECT_TRUE(w.step.Failures().empty());
}

TEST(PropertyStep, says_when_the_autonumber_goes_on_after_access_counter_above_the_highest) {
  StepWorld w;
  w.file->Find("Customers")->fields[0].AutoNumberCounter = 11159;
  // No row holds 11159 or more: the highest number is below the counter.
  w.Run();
  EXPECT_THAT(w.asked, ::testing::Contains("Customers: \"ID\" < 11159"));
  EXPECT_THAT(w.Lines("Customers").carried,
              ::testing::Contains("ID continues at 11160 after Access's counter 11159, above the "
                                  "highest number in the table"));
  // A row holds the counter's number: counter and highest agree, nothing more is said.
  StepWorld same;
  same.file->Find("Customers")->fields[0].AutoNumberCounter = 11159;
  same.breaking["\"ID\" < 11159"] = "(11159)";
  same.Run();
  EXPECT_THAT(same.Lines("Customers").carried,
              ::testing::Not(::testing::Contains(HasSubstr("continues at"))));
  EXPECT_THAT(same.Lines("Customers").carried, ::testing::Contains("AutoNumber (ID)"));
}

TEST(PropertyStep, a_property_the_rows_break_is_left_out_with_their_keys) {
  StepWorld w;
  w.breaking["\"Name\" IS NOT NULL"] = "(3), (9)";
  w.breaking["(CAST(\"Credit\" AS REAL) >= 0)"] = "(4)";
  w.breaking["typeof(\"Credit\") <> 'text'"] = "(5)";
  w.Run();
  EXPECT_THAT(w.step.Statements(),
              ::testing::Not(::testing::Contains(HasSubstr("modify \"Name\" not null"))));
  EXPECT_THAT(w.step.Statements(), ::testing::Not(::testing::Contains(HasSubstr("\"Credit\" AS "
                                                                                "REAL) >= 0)"))));
  EXPECT_THAT(w.Lines("Customers").notCarried,
              ::testing::IsSupersetOf(
                  {"required Name: the rows with the keys (3), (9) break it",
                   "rule of Credit >=0: the rows with the keys (4) break it",
                   "Credit as a number in the rows with the keys (5): more than 15 digits, kept "
                   "as exact decimal text"}));
}

TEST(PropertyStep, nothing_to_carry_starts_nothing_and_a_start_failure_is_recorded) {
  StepWorld w;
  for (auto& t : w.file->tables) t->fields.clear();
  for (auto& t : w.file->tables) t->validationRule.clear();
  w.file->relations.clear();
  EXPECT_FALSE(w.Run());
  EXPECT_TRUE(w.commands.started.empty());

  StepWorld failing;
  failing.commands.failure = platform::Error(53, "File not found");
  EXPECT_FALSE(failing.Run());
  ASSERT_EQ(failing.step.Failures().size(), 1u);
  EXPECT_EQ(failing.step.Failures()[0].context,
            "Starting " + failing.dir.windows() + "properties.bat");
}

// Starts the step with questions that throw `failure` from the `failAt`-th on.
std::optional<int> RunFailingAt(StepWorld& w, std::size_t failAt, const platform::Error& failure) {
  w.step.ReadBefore(w.engine, w.settings);
  return w.step.Start(
      w.settings,
      [&](const std::string& table, const std::string& condition) -> std::string {
        w.asked.push_back(table + ": " + condition);
        if (w.asked.size() < failAt) return "";
        if (const auto* locked = dynamic_cast<const platform::DatabaseLocked*>(&failure))
          throw *locked;
        throw failure;
      },
      w.commands);
}

TEST(PropertyStep, a_database_held_by_another_program_ends_the_step_as_a_failure) {
  // A question that cannot be answered otherwise leaves that property out; the step goes on.
  StepWorld odd;
  ASSERT_TRUE(RunFailingAt(odd, 1, platform::Error(3146, "no such column")));
  EXPECT_TRUE(odd.step.Failures().empty());
  EXPECT_THAT(
      odd.Lines("Customers").notCarried,
      ::testing::Contains("required Name: the new table could not be checked (no such column)"));

  // A held database: one failure, no further question, nothing written or started.
  StepWorld held;
  const std::string why =
      "the database /x/sales.db is locked by another program (process 7); gave up after 60 s";
  EXPECT_FALSE(RunFailingAt(held, 2, platform::DatabaseLocked(3146, why)));
  EXPECT_EQ(held.asked.size(), 2u);
  ASSERT_EQ(held.step.Failures().size(), 1u);
  EXPECT_EQ(held.step.Failures()[0].context, "Checking the properties against the new database");
  EXPECT_EQ(held.step.Failures()[0].description, why + "; the properties were not carried");
  EXPECT_TRUE(held.step.Statements().empty());
  EXPECT_TRUE(held.step.Lines().empty());
  EXPECT_TRUE(held.commands.started.empty());
  EXPECT_FALSE(std::filesystem::exists(held.dir.path() / "properties.sql"));
}

TEST(PropertyStep, on_postgresql_writes_the_servers_statements_and_runs_them_with_psql) {
  StepWorld w;
  w.settings.Target = TargetKind::PostgreSql;
  w.settings.ServerHost = "db1";
  w.settings.ServerPort = "5433";
  w.settings.ServerUser = "ann";
  w.settings.ServerDatabase = "Sales Data";
  w.file->Find("Customers")->fields[2].ValidationRule = "Format([Since],\"yyyy\") > \"2000\"";
  w.file->Find("Customers")->fields[0].AutoNumberCounter = 11159;
  auto& tokens = w.file->AddTable("Tokens");
  tokens.fields = {{"Token", 0x0f, 16, true, false, true, "", ""}};
  const auto task = w.Run();
  ASSERT_TRUE(task);
  EXPECT_TRUE(w.step.Failures().empty());
  const std::string c = "alter table \"Customers\" ";
  EXPECT_THAT(
      w.step.Statements(),
      ElementsAre(c + "alter column \"ID\" set not null;",
                  "do $autonumber$ begin execute 'alter table \"Customers\" alter column \"ID\" "
                  "add generated by default as identity (start with ' || (select "
                  "greatest(coalesce(max(\"ID\"), 0), 11159) + 1 from \"Customers\") || ')'; end "
                  "$autonumber$;",
                  c + "alter column \"Name\" set default '?';",
                  c + "alter column \"Name\" set not null;", c + "add check (\"Name\" <> '');",
                  c + "alter column \"Since\" set default ((current_date + (1) * interval '1 "
                      "day'));",
                  c + "alter column \"Credit\" set default 0;",
                  c + "add check ((\"Credit\" >= 0));",
                  c + "add check (((\"Credit\" < 1000) OR (lower(\"Name\") = lower('VIP'))));",
                  "alter table \"Order_Lines\" alter column \"CustomerID\" set not null;",
                  "alter table \"Tokens\" alter column \"Token\" set default gen_random_uuid();"));
  // Asked in the server's dialect; Norvane's exact-decimal question is not asked.
  EXPECT_THAT(w.asked, ::testing::Contains("Customers: ((\"Credit\" < 1000) OR (lower(\"Name\") = "
                                           "lower('VIP')))"));
  EXPECT_THAT(w.asked, ::testing::Not(::testing::Contains(HasSubstr("typeof"))));
  // psql runs the script, naming the server; no commit (psql commits each statement).
  EXPECT_EQ(testing_support::ReadBytes(w.dir.path() / "properties.bat"),
            "cd " + w.dir.windows() + "\r\n" + w.dir.windows().substr(0, 2) +
                "\r\npsql -X -w -h db1 -p 5433 -U ann -d \"Sales Data\" -q -f properties.sql\r\n");
  EXPECT_THAT(testing_support::ReadBytes(w.dir.path() / "properties.sql"),
              ::testing::EndsWith("gen_random_uuid();\r\n"));

  const auto& customers = w.Lines("Customers");
  EXPECT_THAT(customers.carried,
              ElementsAre("defaults (Name, Since, Credit)", "AutoNumber (ID)",
                          "ID continues at 11160 after Access's counter 11159, above the highest "
                          "number in the table",
                          "required (Name)", "no zero-length text (Name)",
                          "validation rules (Credit, table)"));
  EXPECT_THAT(customers.notCarried,
              ElementsAre("rule of Since Format([Since],\"yyyy\") > \"2000\": it calls the "
                          "function Format(), which the target cannot check"));
  // The foreign key of reload2.sql carries the cascades (ForeignKeyLine).
  EXPECT_THAT(w.Lines("Order_Lines").carried,
              ElementsAre("required (CustomerID)",
                          "cascades to Customers (on update cascade on delete cascade)"));
  EXPECT_THAT(w.Lines("Tokens").carried, ElementsAre("AutoNumber (Token)"));
}

}  // namespace

TEST(PropertyStep, leaves_out_system_tables_and_their_relationships_as_the_run_does) {
  StepWorld w;
  auto& groups = w.file->AddTable("MSysNavPaneGroups");
  groups.fields = {{"GroupCategoryID", kLong, 4, false, true, true, "0", ">0"}};
  auto& attachments = w.file->AddTable("f_75A7_Data");
  attachments.attributes = dao::kSystemObject;
  attachments.fields = {{"ID", kLong, 4, true, true, true, "", ""}};
  w.file->relations.push_back({"MSysNavPaneGroupCategories",
                               "MSysNavPaneGroups",
                               {{"Id", "GroupCategoryID"}},
                               dao::kRelationUpdateCascade | dao::kRelationDeleteCascade});
  w.file->relations.push_back(
      {"f_75A7_Data", "Customers", {{"ID", "ID"}}, dao::kRelationDeleteCascade});
  w.Run();
  for (const std::string& s : w.step.Statements()) {
    EXPECT_THAT(s, ::testing::Not(HasSubstr("MSys"))) << s;
    EXPECT_THAT(s, ::testing::Not(HasSubstr("f_75A7_Data"))) << s;
  }
  EXPECT_TRUE(w.Lines("f_75A7_Data").carried.empty());
  EXPECT_TRUE(w.Lines("MSysNavPaneGroups").carried.empty());
  // The user tables' own cascade is still carried.
  EXPECT_THAT(w.step.Statements(), ::testing::Contains(HasSubstr("on delete cascade")));
}
