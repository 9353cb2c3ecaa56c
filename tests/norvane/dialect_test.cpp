// vorlin and ivex as processes: creating files, refusing connections, and the dialect's table
// changes, each refusal leaving the database exactly as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "support/locking_process.h"
#include "support/tool_process.h"

using namespace tools_test;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

// A database with two related tables, loaded as the transfer leaves them: no keys yet.
std::filesystem::path SalesDatabase(const TempDir& dir) {
  const auto db = NewDatabase(dir);
  const Outcome o = IvexText(
      db,
      "create table \"Customers\" (\"CustomerID\" varchar(10), \"Name\" varchar(50));\n"
      "insert into \"Customers\" values ('ALFKI', 'Alfreds'), ('BONAP', 'Bon app'), (NULL, "
      "'Nobody');\n"
      "create table \"Orders\" (\"OrderID\" integer, \"CustomerID\" varchar(10), \"Shipped\" "
      "timestamp);\n"
      "insert into \"Orders\" values (1, 'ALFKI', '1899-12-30 10:00:00'), (2, 'BONAP', "
      "'2001-02-03 00:00:00'), (2, NULL, NULL);\n"
      "create index \"OrdersByCustomer\" on \"Orders\" (\"CustomerID\");\n");
  EXPECT_EQ(o.status, 0) << o.output;
  return db;
}

// Runs a statement that must be refused and checks that nothing changed.
void ExpectRefused(const std::filesystem::path& db, const std::string& statement,
                   const std::string& reason) {
  const std::string before = Dump(db);
  const Outcome o = IvexText(db, "\n" + statement + ";\n");
  EXPECT_EQ(o.status, 1) << statement;
  EXPECT_THAT(o.output, HasSubstr("ivex: error: statement at line 2")) << statement;
  EXPECT_THAT(o.output, HasSubstr(reason)) << statement;
  EXPECT_EQ(Dump(db), before) << statement;
}

std::vector<std::string> PrimaryKey(const std::filesystem::path& db, const std::string& table) {
  norvane::Connection c(db.string(), false);
  std::vector<std::string> out;
  for (const auto& r : c.Rows("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                              {norvane::Value::Text(table)}))
    out.push_back(r[0].AsText());
  return out;
}

// Executes one statement through the Norvane ODBC driver; returns the driver's message or "".
std::string ExecuteThroughOdbc(const std::filesystem::path& db, const std::string& sql) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string connect = "Driver=Norvane;Database=" + db.string();
  std::string result = "not connected";
  if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    if (SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
      result.clear();
    } else {
      SQLCHAR state[6] = {}, text[512] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, state, &native, text, sizeof text, &length);
      result = reinterpret_cast<char*>(text);
      if (result.empty()) result = "failed";
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

}  // namespace

TEST(Vorlin, creates_the_file_with_its_catalog_and_log_and_never_overwrites) {
  TempDir dir;
  const auto db = dir.path() / "Sales.db";
  for (const char* tool : {"vorlin.exe", "vorlinw.exe"}) {
    const auto file = dir.path() / (std::string(tool) == "vorlin.exe" ? "Sales.db" : "Other.db");
    const Outcome made = RunProgram(kToolsDir / tool, {platform::paths::ToWindows(file)});
    ASSERT_EQ(made.status, 0) << made.output;
  }
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "Sales.log"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "Other.log"));
  EXPECT_EQ(Query(db, "SELECT password FROM \"SYS.SYSUSER\" WHERE user_name = 'dba'"), "KWZ");
  EXPECT_EQ(Query(db, "SELECT group_concat(DISTINCT creator) FROM \"SYS.SYSCOLUMNS\""), "sys");
  EXPECT_EQ(Query(db,
                  "SELECT count(*) FROM \"SYS.SYSCOLUMNS\" WHERE tname = 'SYS.SYSPROCEDURE' "
                  "AND cname IN ('proc_name', 'proc_defn')"),
            "2");

  const std::string bytes = ReadBytes(db);
  const Outcome again = RunProgram(kToolsDir / "vorlin.exe", {db.string()});
  EXPECT_NE(again.status, 0);
  EXPECT_THAT(again.output, HasSubstr("already exists"));
  EXPECT_EQ(ReadBytes(db), bytes);

  const Outcome noFolder =
      RunProgram(kToolsDir / "vorlin.exe", {(dir.path() / "none" / "x.db").string()});
  EXPECT_NE(noFolder.status, 0);
  EXPECT_THAT(noFolder.output, HasSubstr("Path not found"));
  const Outcome otherDrive = RunProgram(kToolsDir / "vorlin.exe", {"C:\\DATA\\Sales.db"});
  EXPECT_NE(otherDrive.status, 0);
  EXPECT_THAT(otherDrive.output, HasSubstr("No such drive"));
}

TEST(Ivex, refuses_wrong_logins_missing_files_and_foreign_files_without_changing_anything) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const auto script = dir.path() / "drop.sql";
  testing_support::WriteBytes(script, "drop table \"SYS.SYSUSER\";");
  const std::string before = Dump(db);

  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const std::string good = "uid=dba;pwd=KWZ;dbf=" + db.string();
  const std::vector<Case> cases = {
      {{"-c", "uid=dba;pwd=kwz;dbf=" + db.string(), "read", script.string()},
       "Invalid user ID or password"},
      {{"-c", "uid=sa;pwd=KWZ;dbf=" + db.string(), "read", script.string()},
       "Invalid user ID or password"},
      {{"-c", "uid=dba;dbf=" + db.string(), "read", script.string()}, "has no pwd="},
      {{"-c", "uid=dba;pwd=KWZ;dbf=" + (dir.path() / "none.db").string(), "read", script.string()},
       "not found"},
      {{"-c", good, "read", (dir.path() / "none.sql").string()}, "Script file"},
      {{"-c", good, "-q"}, "no script"},
      {{"read", script.string()}, "no connection string"},
      {{"-c", good, "-x", "read", script.string()}, "unknown argument '-x'"},
  };
  for (const auto& c : cases) {
    const Outcome o = RunProgram(kToolsDir / "ivex.exe", c.args);
    EXPECT_EQ(o.status, 2) << c.reason;
    EXPECT_THAT(o.output, HasSubstr("refused")) << c.reason;
    EXPECT_THAT(o.output, HasSubstr(c.reason));
  }
  EXPECT_EQ(Dump(db), before);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "none.db"));

  const auto foreign = dir.path() / "plain.db";
  {
    norvane::Connection c(foreign.string(), true);
    c.Exec("CREATE TABLE t (x)");
  }
  const Outcome o = Ivex(foreign, script);
  EXPECT_EQ(o.status, 2);
  EXPECT_THAT(o.output, HasSubstr("Not a Norvane database file"));
}

TEST(Ivex, reports_each_failure_with_its_line_and_goes_on) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const Outcome o = IvexText(db,
                             "create table t (x integer);\n"
                             "insert into t\n  values ('a', 'b');\n"
                             "insert into t values (1);\n"
                             "bogus statement;\n"
                             "insert into t values (2)");
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.output, HasSubstr("line 1: create table t (x integer)"));
  EXPECT_THAT(o.output, HasSubstr("ivex: error: statement at line 2 (insert into t ...)"));
  EXPECT_THAT(o.output, HasSubstr("ivex: error: statement at line 5 (bogus statement)"));
  EXPECT_THAT(o.output, HasSubstr("2 of the script's statements failed"));
  EXPECT_EQ(Query(db, "SELECT group_concat(x) FROM t"), "1,2");

  testing_support::WriteBytes(dir.path() / "q.sql", "insert into t values (3);\nselect 1;");
  const Outcome quiet = RunProgram(
      kToolsDir / "ivexw.exe",
      {"-c", "uid=DBA;pwd=KWZ;dbf=" + db.string(), "-q", "read", (dir.path() / "q.sql").string()});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.output, "1\n1\n");
}

TEST(Ivex, a_database_another_program_holds_ends_the_script_after_the_limit_naming_the_holder) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const std::string script = "create table a (x);\ncreate table b (x);\ncreate table c (x);";
  {
    // Held for writing: nothing is read, and the refusal says why (not "Not a Norvane file").
    testing_support::LockingProcess holder(db);
    ASSERT_TRUE(holder.locked());
    const Outcome o = IvexText(db, script);
    EXPECT_EQ(o.status, 2) << o.output;
    EXPECT_THAT(o.output, HasSubstr("ivex: error: refused: the database " + db.string() +
                                    " is locked by another program (process " +
                                    std::to_string(holder.pid()) + "); gave up after 5 s"));
  }
  {
    // Readable but held for writing: the first change waits its limit, the rest are not tried.
    testing_support::LockingProcess holder(db, false);
    ASSERT_TRUE(holder.locked());
    const Outcome o = IvexText(db, script);
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_THAT(o.output, HasSubstr("ivex: error: statement at line 1 (create table a (x)): the "
                                    "database " +
                                    db.string() +
                                    " is locked by another program "
                                    "(process " +
                                    std::to_string(holder.pid()) + "); gave up after 5 s"));
    EXPECT_THAT(o.output,
                HasSubstr("ivex: error: the script's last 2 statements were not executed"));
    EXPECT_THAT(o.output, Not(HasSubstr("line 2:")));
  }
  EXPECT_EQ(Query(db, "SELECT count(*) FROM sqlite_master WHERE name IN ('a', 'b', 'c', 'held')"),
            "0");
}

TEST(Dialect, not_null_is_refused_while_a_null_is_present) {
  TempDir dir;
  const auto db = SalesDatabase(dir);
  ExpectRefused(db, "alter table \"Customers\" modify \"customerid\" not null", "1 row(s) hold");
  ASSERT_EQ(IvexText(db,
                     "delete from \"Orders\" where \"CustomerID\" is null;\n"
                     "alter table \"Orders\" modify \"customerid\" not null;\n")
                .status,
            0);
  EXPECT_EQ(Query(db,
                  "SELECT \"notnull\" FROM pragma_table_info('Orders') WHERE name = "
                  "'CustomerID'"),
            "1");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'OrdersByCustomer'"), "1");
  EXPECT_EQ(Query(db, "SELECT group_concat(\"OrderID\" || \"CustomerID\") FROM \"Orders\""),
            "1ALFKI,2BONAP");
}

TEST(Dialect, primary_key_is_refused_on_duplicates_and_nulls_and_kept_otherwise) {
  TempDir dir;
  const auto db = SalesDatabase(dir);
  ExpectRefused(db, "alter table \"Orders\" add primary key (\"orderid\")",
                "the key (2) is held by more than one row");
  ExpectRefused(db, "alter table \"Customers\" add primary key (\"CustomerID\")",
                "holds rows without a value");
  ExpectRefused(db, "alter table \"Orders\" add primary key (\"nope\")", "Column 'nope' not found");
  ExpectRefused(db, "alter table \"SYS.SYSUSER\" modify \"password\" time", "Catalog table");

  ASSERT_EQ(IvexText(db,
                     "delete from \"Orders\" where \"CustomerID\" is null;\n"
                     "alter table \"Orders\" add primary key (\"OrderID\", \"CustomerID\");")
                .status,
            0);
  EXPECT_EQ(PrimaryKey(db, "Orders"), (std::vector<std::string>{"OrderID", "CustomerID"}));
  ExpectRefused(db, "alter table \"Orders\" add primary key (\"OrderID\")",
                "already has a primary key");
  ExpectRefused(db, "insert into \"Orders\" values (1, 'ALFKI', NULL)", "UNIQUE constraint");
}

TEST(Dialect, foreign_key_is_refused_for_orphans_and_enforced_afterwards_everywhere) {
  TempDir dir;
  const auto db = SalesDatabase(dir);
  const std::string fk =
      "alter table \"Orders\" add foreign key (\"customerid\") references \"Customers\" "
      "(\"customerid\")";
  ExpectRefused(db, fk, "not its primary key or a unique index");
  ASSERT_EQ(IvexText(db,
                     "delete from \"Customers\" where \"CustomerID\" is null;\n"
                     "alter table \"Customers\" modify \"customerid\" not null;\n"
                     "alter table \"Customers\" add primary key (\"customerid\");\n"
                     "insert into \"Orders\" values (3, 'GHOST', NULL);\n")
                .status,
            0);
  ExpectRefused(db, fk, "(GHOST) has no matching row in 'Customers'");

  ASSERT_EQ(IvexText(db, "delete from \"Orders\" where \"OrderID\" = 3;\n" + fk + ";").status, 0);
  EXPECT_EQ(Query(db, "SELECT \"table\" || '.' || \"to\" FROM pragma_foreign_key_list('Orders')"),
            "Customers.CustomerID");

  // Through ivex, through a plain SQLite connection and through the ODBC driver.
  ExpectRefused(db, "insert into \"Orders\" values (4, 'GHOST', NULL)", "violated");
  ExpectRefused(db, "delete from \"Customers\" where \"CustomerID\" = 'ALFKI'", "violated");
  ExpectRefused(db, "update \"Customers\" set \"CustomerID\" = 'X' where \"CustomerID\" = 'BONAP'",
                "violated");
  EXPECT_EQ(IvexText(db, "insert into \"Orders\" values (5, NULL, NULL);").status, 0);
  {
    norvane::Connection c(db.string(), false);
    EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (6, 'GHOST', NULL)"), norvane::DbError);
  }
  const std::string before = Dump(db);
  EXPECT_THAT(ExecuteThroughOdbc(db, "INSERT INTO \"Orders\" VALUES (7, 'GHOST', NULL)"),
              HasSubstr("violated"));
  EXPECT_THAT(ExecuteThroughOdbc(db, "DELETE FROM \"Customers\""), HasSubstr("violated"));
  EXPECT_EQ(Dump(db), before);
  EXPECT_EQ(ExecuteThroughOdbc(db, "INSERT INTO \"Orders\" VALUES (8, 'ALFKI', NULL)"), "");
}

// The check for rows without a parent reads both sides in key order where it can and looks each
// row up otherwise: the verdicts and the orphan named are what "=" between the columns gives,
// whatever the types, NULLs, indexes and affinities.
TEST(Dialect, foreign_key_orphans_are_found_as_equality_finds_them_in_every_shape) {
  const std::string parents =
      "create table \"P\" (\"K\" integer, \"Name\" varchar(10));\n"
      "insert into \"P\" values (-9223372036854775808, 'min'), (1, 'a'), (2, 'b'), (5, 'c'), "
      "(9223372036854775807, 'max');\n"
      "alter table \"P\" modify \"K\" not null;\n"
      "alter table \"P\" add primary key (\"K\");\n"
      // No declared type: values keep their own types; '8' stays text.
      "create table \"Q\" (\"K\", \"N\" integer);\n"
      "insert into \"Q\" values (7, 1), ('8', 2), (2.5, 3), (x'09', 4), ('abc', 5);\n"
      "create unique index \"QK\" on \"Q\" (\"K\");\n"
      "create table \"T\" (\"K\" varchar(5));\n"
      "insert into \"T\" values ('a'), ('B');\n"
      "create unique index \"TK\" on \"T\" (\"K\");\n";
  struct Case {
    const char* what;
    std::string child;    // creates table "C" with its rows
    const char* parent;   // "P" ("K"), ...
    std::string refused;  // "" when the key is added
  };
  const std::string indexed = "create index \"CK\" on \"C\" (\"K\");\n";
  const std::vector<Case> cases = {
      {"integers in order, all found, NULLs passed over",
       "create table \"C\" (\"K\" integer);\n"
       "insert into \"C\" values (1), (1), (NULL), (2), (9223372036854775807), "
       "(-9223372036854775808), (5);\n" +
           indexed,
       "\"P\" (\"K\")", ""},
      {"integers in order, two missing",
       "create table \"C\" (\"K\" integer);\n"
       "insert into \"C\" values (1), (3), (4), (5);\n" +
           indexed,
       "\"P\" (\"K\")", "(3) has no matching row in 'P'"},
      {"beyond the parent's last key",
       "create table \"C\" (\"K\" integer);\n"
       "insert into \"C\" values (9223372036854775807), (9223372036854775806);\n" +
           indexed,
       "\"P\" (\"K\")", "(9223372036854775806) has no matching row in 'P'"},
      {"no index on the child",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (5), (1), (2);\n",
       "\"P\" (\"K\")", ""},
      {"no index on the child, one missing",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (5), (6), (1);\n",
       "\"P\" (\"K\")", "(6) has no matching row in 'P'"},
      {"a fraction",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (1), (2.5);\n" + indexed,
       "\"P\" (\"K\")", "(2.5) has no matching row in 'P'"},
      {"text and a real in an untyped child column, equal as numbers",
       "create table \"C\" (\"K\");\ninsert into \"C\" values ('2'), (2.0), (5), (NULL);\n" +
           indexed,
       "\"P\" (\"K\")", ""},
      {"untyped child text that is no number",
       "create table \"C\" (\"K\");\ninsert into \"C\" values (1), ('1x');\n" + indexed,
       "\"P\" (\"K\")", "(1x) has no matching row in 'P'"},
      {"an integer that equals a parent's text",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (7), (8);\n" + indexed,
       "\"Q\" (\"K\")", ""},
      {"an integer missing among a parent's mixed types",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (7), (9);\n" + indexed,
       "\"Q\" (\"K\")", "(9) has no matching row in 'Q'"},
      {"text keys compared by their collation",
       "create table \"C\" (\"K\" varchar(5));\ninsert into \"C\" values ('a'), ('b');\n" + indexed,
       "\"T\" (\"K\")", "(b) has no matching row in 'T'"},
      {"only NULLs",
       "create table \"C\" (\"K\" integer);\ninsert into \"C\" values (NULL), (NULL);\n" + indexed,
       "\"P\" (\"K\")", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto db = NewDatabase(dir);
    const Outcome made = IvexText(db, parents + c.child);
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string fk =
        std::string("alter table \"C\" add foreign key (\"K\") references ") + c.parent;
    if (!c.refused.empty()) {
      ExpectRefused(db, fk,
                    "Foreign key from 'C' to '" + std::string(c.parent).substr(1, 1) +
                        "' refused: " + c.refused);
      continue;
    }
    const Outcome o = IvexText(db, fk + ";\n");
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(Query(db, "SELECT count(*) FROM pragma_foreign_key_list('C')"), "1");
  }
}

// A key that refers to its own table, checked in a run with the change that makes its parent key.
TEST(Dialect, foreign_key_to_its_own_table_is_checked_on_the_table_as_it_stands) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  ASSERT_EQ(IvexText(db,
                     "create table \"S\" (\"Id\" integer, \"Up\" integer);\n"
                     "insert into \"S\" values (1, NULL), (2, 1), (3, 2), (4, 9);\n"
                     "create index \"SUp\" on \"S\" (\"Up\");\n")
                .status,
            0);
  const std::string run =
      "alter table \"S\" modify \"Id\" not null;\n"
      "alter table \"S\" add primary key (\"Id\");\n"
      "alter table \"S\" add foreign key (\"Up\") references \"S\" (\"Id\");\n";
  const Outcome refused = IvexText(db, run);
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.output, HasSubstr("statement at line 3"));
  EXPECT_THAT(refused.output, HasSubstr("(9) has no matching row in 'S'"));
  EXPECT_EQ(Query(db, "SELECT group_concat(name) FROM pragma_table_info('S') WHERE pk > 0"), "Id");

  ASSERT_EQ(IvexText(db, "update \"S\" set \"Up\" = 3 where \"Id\" = 4;\n" +
                             run.substr(run.rfind("alter")))
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT \"from\" || '>' || \"to\" FROM pragma_foreign_key_list('S')"),
            "Up>Id");
}

// Customers and Orders with keys, and lines of each order: the shape a migration leaves.
std::filesystem::path KeyedSales(const TempDir& dir) {
  const auto db = SalesDatabase(dir);
  const Outcome o =
      IvexText(db,
               "delete from \"Customers\" where \"CustomerID\" is null;\n"
               "delete from \"Orders\" where \"CustomerID\" is null;\n"
               "alter table \"Customers\" modify \"CustomerID\" not null;\n"
               "alter table \"Customers\" add primary key (\"CustomerID\");\n"
               "alter table \"Orders\" add primary key (\"OrderID\");\n"
               "create table \"Lines\" (\"OrderID\" integer, \"Pos\" integer, \"Qty\" integer);\n"
               "insert into \"Lines\" values (1, 1, 5), (1, 2, 0), (2, 1, 3);\n"
               "alter table \"Orders\" add foreign key (\"CustomerID\") references \"Customers\" "
               "(\"CustomerID\");\n"
               "alter table \"Lines\" add foreign key (\"OrderID\") references \"Orders\" "
               "(\"OrderID\");\n");
  EXPECT_EQ(o.status, 0) << o.output;
  return db;
}

TEST(Dialect, check_is_refused_while_rows_break_it_and_enforced_afterwards_everywhere) {
  TempDir dir;
  const auto db = KeyedSales(dir);
  ExpectRefused(db, "alter table \"Lines\" add check (\"Qty\" > 0)", "rows with the keys (2)");
  ExpectRefused(db, "alter table \"Lines\" add check \"Qty\" > 0", "expected (condition)");
  ExpectRefused(db, "alter table \"Lines\" add check (\"Qty\" > 0) (1)", "unexpected");
  ASSERT_EQ(IvexText(db,
                     "alter table \"Lines\" add check ((\"Qty\" >= 0) AND (\"Qty\" < 100));\n"
                     "alter table \"Customers\" add check (\"Name\" COLLATE NOCASE <> '');\n")
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"Lines\""), "3");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM pragma_foreign_key_list('Lines')"), "1");
  EXPECT_THAT(ExecuteThroughOdbc(db, "INSERT INTO \"Lines\" VALUES (2, 2, 100)"),
              HasSubstr("CHECK constraint failed"));
  EXPECT_THAT(ExecuteThroughOdbc(db, "UPDATE \"Customers\" SET \"Name\" = ''"),
              HasSubstr("CHECK constraint failed"));
  EXPECT_EQ(ExecuteThroughOdbc(db, "INSERT INTO \"Lines\" VALUES (2, 2, NULL)"), "");
}

TEST(Dialect, foreign_key_actions_cascade_through_the_odbc_driver) {
  TempDir dir;
  const auto db = KeyedSales(dir);
  ExpectRefused(db,
                "alter table \"Lines\" modify foreign key (\"Pos\") references \"Orders\" "
                "(\"OrderID\") on delete cascade",
                "has no foreign key");
  ExpectRefused(db,
                "alter table \"Lines\" modify foreign key (\"OrderID\") references \"Orders\" "
                "(\"OrderID\") on delete explode",
                "expected cascade");
  ASSERT_EQ(IvexText(db,
                     "alter table \"Orders\" modify foreign key (\"customerid\") references "
                     "\"Customers\" (\"customerid\") on update cascade;\n"
                     "alter table \"Lines\" modify foreign key (\"OrderID\") references "
                     "\"Orders\" (\"OrderID\") on update cascade on delete cascade;\n")
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT on_update || ' ' || on_delete FROM pragma_foreign_key_list('Lines')"),
            "CASCADE CASCADE");
  // A customer's new number reaches its orders; a deleted order takes its lines along.
  EXPECT_EQ(
      ExecuteThroughOdbc(
          db, "UPDATE \"Customers\" SET \"CustomerID\" = 'ALFK2' WHERE \"CustomerID\" = 'ALFKI'"),
      "");
  EXPECT_EQ(Query(db, "SELECT \"CustomerID\" FROM \"Orders\" WHERE \"OrderID\" = 1"), "ALFK2");
  EXPECT_EQ(ExecuteThroughOdbc(db, "DELETE FROM \"Orders\" WHERE \"OrderID\" = 1"), "");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"Lines\""), "1");
  // Keys without actions still refuse: a customer with orders is not deleted.
  EXPECT_THAT(ExecuteThroughOdbc(db, "DELETE FROM \"Customers\" WHERE \"CustomerID\" = 'BONAP'"),
              HasSubstr("violated"));
  ASSERT_EQ(IvexText(db,
                     "alter table \"Lines\" modify foreign key (\"OrderID\") references "
                     "\"Orders\" (\"OrderID\") on delete set null;\n")
                .status,
            0);
  EXPECT_EQ(ExecuteThroughOdbc(db, "DELETE FROM \"Orders\" WHERE \"OrderID\" = 2"), "");
  EXPECT_EQ(Query(db, "SELECT count(*) || ' ' || count(\"OrderID\") FROM \"Lines\""), "1 0");
}

TEST(Dialect, rebuilding_a_parent_or_child_keeps_rows_indexes_and_keys) {
  TempDir dir;
  const auto db = SalesDatabase(dir);
  ASSERT_EQ(IvexText(db,
                     "delete from \"Customers\" where \"CustomerID\" is null;\n"
                     "alter table \"Customers\" add primary key (\"CustomerID\");\n"
                     "alter table \"Orders\" add foreign key (\"CustomerID\") references "
                     "\"Customers\" (\"CustomerID\");\n"
                     "alter table \"Customers\" modify \"Name\" not null;\n"
                     "alter table \"Orders\" modify \"OrderID\" not null;\n")
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'OrdersByCustomer'"), "1");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM pragma_foreign_key_list('Orders')"), "1");
  EXPECT_EQ(PrimaryKey(db, "Customers"), (std::vector<std::string>{"CustomerID"}));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM \"Orders\""), "3");
  EXPECT_EQ(Query(db, "SELECT count(*) FROM sqlite_schema WHERE name LIKE '%rebuild%'"), "0");
  ExpectRefused(db, "delete from \"Customers\"", "violated");
  ExpectRefused(db, "insert into \"Orders\" values (9, 'GHOST', NULL)", "violated");
}

TEST(Dialect, time_conversion_is_refused_while_a_value_holds_another_date) {
  TempDir dir;
  const auto db = SalesDatabase(dir);
  ExpectRefused(db, "alter table Orders modify \"Shipped\" time", "'2001-02-03 00:00:00'");
  ExpectRefused(db, "alter table Orders modify \"Shipped\" integer", "Unsupported column change");
  ASSERT_EQ(IvexText(db,
                     "update Orders set \"Shipped\" = NULL where \"OrderID\" = 2;\n"
                     "alter table Orders modify \"Shipped\" time;")
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT coltype FROM \"SYS.SYSCOLUMNS\" WHERE cname = 'Shipped'"), "time");
  EXPECT_EQ(Query(db, "SELECT \"Shipped\" FROM Orders WHERE \"OrderID\" = 1"), "10:00:00");
}

TEST(Dialect, time_conversion_gives_what_the_date_functions_give_for_every_form) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  // Text in the transfer's form, near it, with a fraction, a day number, and times past 23:59:59.
  const std::vector<std::string> values = {"'1899-12-30 00:00:00'",
                                           "'1899-12-30 23:59:59'",
                                           "'1899-12-30 10:00:00.500'",
                                           "'1899-12-30 9:05:00'",
                                           "'1899-12-30 10:00'",
                                           "'1899-12-30T10:20:30'",
                                           "'1899-12-30 10:20:30Z'",
                                           "'1899-12-30 24:00:00'",
                                           "'1899-12-30 12:60:00'",
                                           "'1899-12-30'",
                                           "2415018.9166666665",
                                           "' 1899-12-30 10:00:00'",
                                           "NULL"};
  std::string script = "create table \"T\" (\"id\" integer, \"t\" timestamp);\n";
  for (std::size_t i = 0; i < values.size(); ++i)
    script += "insert into \"T\" values (" + std::to_string(i) + ", " + values[i] + ");\n";
  ASSERT_EQ(IvexText(db, script).status, 0);
  // What SQLite's date functions make of each value that is a time on 1899-12-30.
  const std::string reference =
      "CASE WHEN t IS NULL THEN 'NULL' WHEN strftime('%f', t) GLOB '*.000' THEN time(t) "
      "ELSE strftime('%H:%M:%f', t) END";
  ASSERT_EQ(IvexText(db,
                     "delete from \"T\" where t is not null and (date(t) is null or date(t) <> "
                     "'1899-12-30');\n")
                .status,
            0);
  const std::string expected =
      Query(db, "SELECT group_concat(id || '=' || " + reference + ", ' ') FROM \"T\"");
  const Outcome o = IvexText(db, "alter table \"T\" modify \"t\" time;\n");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_EQ(Query(db, "SELECT group_concat(id || '=' || coalesce(t, 'NULL'), ' ') FROM \"T\""),
            expected);
  // Among them: the plain forms, a fraction, an hour 24 and a day number.
  EXPECT_THAT(expected, HasSubstr("0=00:00:00 1=23:59:59 2=10:00:00.500"));
  EXPECT_THAT(expected, HasSubstr("7=24:00:00"));
  EXPECT_THAT(expected, HasSubstr("10=10:00:00"));
}

TEST(Dialect, names_with_embedded_quotes_and_blanks_work_when_doubled) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  const Outcome o = IvexText(db,
                             "create table \"Order \"\"Lines\"\"\" (\"Qty \"\"x\"\"\" integer);\n"
                             "insert into \"Order \"\"Lines\"\"\" values (1);\n"
                             "alter table \"Order \"\"Lines\"\"\" modify \"qty \"\"X\"\"\" not "
                             "null;\n"
                             "alter table \"Order \"\"Lines\"\"\" add primary key (\"Qty "
                             "\"\"x\"\"\");\n");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_EQ(PrimaryKey(db, "Order \"Lines\""), (std::vector<std::string>{"Qty \"x\""}));
}
