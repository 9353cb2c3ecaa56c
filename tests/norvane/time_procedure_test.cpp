// The time-column procedure exactly as the wizard writes it, loaded and called through ivex, and
// the procedure interpreter's limits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/time_fix_procedure.h"
#include "options/settings.h"
#include "support/tool_process.h"

using namespace tools_test;
using ::testing::HasSubstr;
using testing_support::TempDir;

namespace {

// A database holding sp_ts_time, loaded from the sp.sql the wizard writes.
std::filesystem::path DatabaseWithProcedure(const TempDir& dir) {
  const auto db = NewDatabase(dir);
  MigrationSettings s;
  s.WorkFolder = dir.windows();
  engine::WriteTimeFixProcedure(s);
  const Outcome load = RunProgram(
      kToolsDir / "ivex.exe",
      {"-c", "uid=dba;pwd=KWZ;dbf=" + db.string(), "-q", "read", dir.windows() + "sp.SQL"});
  EXPECT_EQ(load.status, 0) << load.output;
  EXPECT_EQ(load.output, "");
  return db;
}

const char* kCallAndDrop =
    "commit; \r\ncall sp_ts_time(); \r\ncommit; \r\ndrop procedure sp_ts_time; \r\ncommit; \r\n";

std::string TypeOf(const std::filesystem::path& db, const std::string& table,
                   const std::string& column) {
  return Query(db, "SELECT coltype FROM \"SYS.SYSCOLUMNS\" WHERE tname = '" + table +
                       "' AND cname = '" + column + "'");
}

}  // namespace

TEST(TimeProcedure, converts_time_only_columns_and_keeps_later_dates_empty_columns_and_catalog) {
  TempDir dir;
  const auto db = DatabaseWithProcedure(dir);
  ASSERT_EQ(Query(db, "SELECT count(*) FROM \"SYS.SYSPROCEDURE\" WHERE proc_name = 'sp_ts_time'"),
            "1");
  ASSERT_EQ(IvexText(db,
                     "create table \"Shifts\" (\"id\" integer, \"Start\" timestamp, \"Mixed\" "
                     "timestamp, \"Never\" timestamp, \"note\" varchar(10));\n"
                     "insert into \"Shifts\" values (1, '1899-12-30 08:30:00', '1899-12-30 "
                     "07:00:00', NULL, 'a'), (2, '1899-12-30 17:45:10.250', '2024-05-01 "
                     "00:00:00', NULL, 'b'), (3, NULL, '1899-12-30 12:00:00', NULL, 'c');\n"
                     "create index \"ShiftNote\" on \"Shifts\" (\"note\");\n"
                     "create table \"Empty\" (\"When\" timestamp);\n"
                     "create view \"ShiftStarts\" as select \"Start\" from \"Shifts\";\n"
                     "create table \"Plain\" (\"id\" integer, \"name\" varchar(20));\n"
                     "insert into \"Plain\" values (1, '1899-12-30');\n"
                     "create table \"SYS.SYSTIMES\" (\"t\" timestamp);\n"
                     "insert into \"SYS.SYSTIMES\" values ('1899-12-30 10:00:00');\n")
                .status,
            0);
  const std::string plainBefore = Query(db, "SELECT group_concat(id || name) FROM Plain");

  const Outcome call = IvexText(db, kCallAndDrop);
  ASSERT_EQ(call.status, 0) << call.output;

  EXPECT_EQ(TypeOf(db, "Shifts", "Start"), "time");
  EXPECT_EQ(Query(db, "SELECT group_concat(coalesce(\"Start\", 'NULL'), '|') FROM Shifts"),
            "08:30:00|17:45:10.250|NULL");
  EXPECT_EQ(TypeOf(db, "Shifts", "Mixed"), "timestamp");
  EXPECT_EQ(Query(db, "SELECT group_concat(\"Mixed\", '|') FROM Shifts"),
            "1899-12-30 07:00:00|2024-05-01 00:00:00|1899-12-30 12:00:00");
  EXPECT_EQ(TypeOf(db, "Shifts", "Never"), "timestamp");
  EXPECT_EQ(TypeOf(db, "Empty", "When"), "timestamp");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'ShiftNote'"), "1");
  EXPECT_EQ(Query(db, "SELECT group_concat(id || name) FROM Plain"), plainBefore);
  EXPECT_EQ(TypeOf(db, "SYS.SYSTIMES", "t"), "timestamp");
  EXPECT_EQ(Query(db, "SELECT t FROM \"SYS.SYSTIMES\""), "1899-12-30 10:00:00");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"SYS.SYSPROCEDURE\""), "0");
}

TEST(TimeProcedure, converts_tables_named_with_blanks_and_with_keywords) {
  TempDir dir;
  const auto db = DatabaseWithProcedure(dir);
  ASSERT_EQ(IvexText(db,
                     "create table \"Order_Details Extended\" (\"At\" timestamp);\n"
                     "insert into \"Order_Details Extended\" values ('1899-12-30 09:15:00');\n"
                     "create table \"Order\" (\"Due\" timestamp);\n"
                     "insert into \"Order\" values ('1899-12-30 18:00:00');\n")
                .status,
            0);
  const Outcome call = IvexText(db, kCallAndDrop);
  ASSERT_EQ(call.status, 0) << call.output;
  EXPECT_EQ(TypeOf(db, "Order_Details Extended", "At"), "time");
  EXPECT_EQ(TypeOf(db, "Order", "Due"), "time");
  EXPECT_EQ(Query(db, "SELECT \"Due\" FROM \"Order\""), "18:00:00");
}

TEST(TimeProcedure, changes_nothing_in_a_database_without_timestamp_columns) {
  TempDir dir;
  const auto db = DatabaseWithProcedure(dir);
  ASSERT_EQ(IvexText(db,
                     "create table \"Plain\" (\"id\" integer, \"d\" date);\n"
                     "insert into \"Plain\" values (1, '1899-12-30');\n")
                .status,
            0);
  const std::string before = Dump(db);
  const Outcome call = IvexText(db, "call sp_ts_time();");
  EXPECT_EQ(call.status, 0) << call.output;
  EXPECT_EQ(Dump(db), before);
}

TEST(TimeProcedure, a_conversion_that_fails_undoes_the_whole_call) {
  TempDir dir;
  const auto db = DatabaseWithProcedure(dir);
  // "Early" has its latest date on 1899-12-30 but also an earlier date, which a time cannot hold.
  ASSERT_EQ(IvexText(db,
                     "create table \"A\" (\"t\" timestamp, \"Early\" timestamp);\n"
                     "insert into \"A\" values ('1899-12-30 01:00:00', '1899-12-30 "
                     "02:00:00'), ('1899-12-30 03:00:00', '1850-01-01 00:00:00');\n")
                .status,
            0);
  const std::string before = Dump(db);
  const Outcome call = IvexText(db, "call sp_ts_time();");
  EXPECT_EQ(call.status, 1);
  EXPECT_THAT(call.output, HasSubstr("line 1"));
  EXPECT_THAT(call.output, HasSubstr("1850-01-01"));
  EXPECT_EQ(Dump(db), before);
}

TEST(ProcedureInterpreter, runs_loops_branches_and_several_immediate_statements) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const Outcome run = IvexText(
      db,
      "create table t (n integer, kind varchar(10));\n"
      "create procedure fill() begin\n"
      "  declare i integer; declare s long varchar;\n"
      "  set i = 0; set s = '';\n"
      "  Count: loop\n"
      "    set i = i + 1;\n"
      "    if i > 4 then leave Count\n"
      "    elseif i = 2 then set s = s || 'insert into t values (' || i || ', ''two''); '\n"
      "    else set s = s || 'insert into t values (' || i || ', ''other''); ' end if;\n"
      "  end loop Count;\n"
      "  execute immediate s\n"
      "end;\n"
      "call \"dba\".fill();\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Query(db, "SELECT group_concat(n || kind, ',') FROM t"), "1other,2two,3other,4other");
}

TEST(ProcedureInterpreter, refuses_what_is_outside_its_subset_when_the_procedure_is_created) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const Outcome run = IvexText(db,
                               "create procedure w() begin\n"
                               "  declare i integer;\n"
                               "  while i < 3 loop set i = i + 1; end loop;\n"
                               "end;\n"
                               "create procedure d() begin declare i integer default 1; end;\n"
                               "create procedure p(in x integer) begin end;\n"
                               "create procedure f() begin fetch prior c into x; end;\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.output, HasSubstr("line 1 (create procedure w() begin ...): line 3: 'while' is "
                                    "not supported in a procedure"));
  EXPECT_THAT(run.output, HasSubstr("initial values are not supported"));
  EXPECT_THAT(run.output, HasSubstr("procedures with parameters are not supported"));
  EXPECT_THAT(run.output, HasSubstr("only fetch next is supported"));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"SYS.SYSPROCEDURE\""), "0");
}

TEST(ProcedureInterpreter, a_failing_call_names_the_line_and_undoes_its_changes) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const Outcome run =
      IvexText(db,
               "create table t (n integer);\n"
               "create procedure bad() begin\n"
               "  insert into t values (1);\n"
               "  execute immediate 'insert into t values (2); insert into missing values (3)';\n"
               "end;\n"
               "create procedure unknown() begin\n  set nothing = 1;\nend;\n"
               "call bad();\ncall unknown();\ncall absent();\ndrop procedure absent;\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.output, HasSubstr("procedure bad, line 3: no such table: missing"));
  EXPECT_THAT(run.output, HasSubstr("procedure unknown, line 2: variable nothing is not declared"));
  EXPECT_THAT(run.output, HasSubstr("Procedure 'absent' not found"));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM t"), "0");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM temp.sqlite_schema"), "0");
}
