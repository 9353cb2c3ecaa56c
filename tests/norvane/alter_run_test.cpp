// Consecutive alter-table statements on one table, applied together: the same database, the same
// errors (with their line numbers) and the same all-or-nothing behaviour as one statement at a
// time; and a change made in place leaves what a rebuild of the table leaves.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "norvane/table_edit.h"
#include "support/tool_process.h"

using namespace tools_test;
using ::testing::HasSubstr;
using testing_support::TempDir;

namespace {

const char* kTables =
    "create table \"Customers\" (\"CustomerID\" varchar(10), \"Name\" varchar(50));\n"
    "insert into \"Customers\" values ('ALFKI', 'Alfreds'), ('BONAP', 'Bon app');\n"
    "create table \"Orders\" (\"OrderID\" integer, \"Line\" smallint, \"CustomerID\" "
    "varchar(10), \"Shipped\" timestamp, \"Note\" varchar(10));\n"
    "insert into \"Orders\" values (1, 1, 'ALFKI', '1899-12-30 10:00:00', 'x'), (1, 2, 'BONAP', "
    "'1899-12-30 11:00:00.500', 'y'), (2, 1, NULL, NULL, 'z'), (2, 1, 'GHOST', '2001-01-01 "
    "00:00:00', NULL);\n"
    "create index \"OrdersByCustomer\" on \"Orders\" (\"CustomerID\");\n";

// One statement a line; runs of one table mix changes that hold with changes that are refused.
const std::vector<std::string> kAlters = {
    "alter table \"Customers\" modify \"customerid\" not null",
    "alter table \"Customers\" add primary key (\"customerid\")",
    "alter table \"Customers\" add primary key (\"name\")",  // a second key
    "alter table \"Orders\" modify \"orderid\" not null",
    "alter table \"Orders\" add primary key (\"orderid\", \"line\")",  // (2, 1) twice
    "alter table \"Orders\" modify \"note\" not null",                 // a NULL
    "alter table \"Orders\" modify \"shipped\" time",                  // a later date
    "alter table \"Orders\" add foreign key (\"customerid\") references \"Customers\" "
    "(\"customerid\")",  // GHOST
    "alter table \"Orders\" modify \"line\" not null",
    "alter table \"Orders\" modify \"nope\" not null",
    "alter table \"Orders\" modify \"line\" time",
    "delete from \"Orders\" where \"CustomerID\" = 'GHOST'",
    "alter table \"Orders\" modify \"shipped\" time",
    "alter table \"Orders\" modify \"shipped\" time",
    // checked on the converted values: (2, NULL)
    "alter table \"Orders\" add primary key (\"orderid\", \"shipped\")",
    "alter table \"Orders\" add foreign key (\"customerid\") references \"Customers\" "
    "(\"customerid\")",
    "alter table \"Orders\" add primary key (\"orderid\", \"line\")",
    // refers to its own table, whose key is two columns
    "alter table \"Orders\" add foreign key (\"orderid\") references \"Orders\" (\"orderid\")",
};

std::vector<std::string> ErrorLines(const std::string& output) {
  std::vector<std::string> out;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("ivex: error")) out.push_back(line);
  return out;
}

std::string Script(const std::string& afterEach) {
  std::string s;
  for (const auto& a : kAlters) s += a + ";" + afterEach + "\n";
  return s;
}

}  // namespace

TEST(AlterRun, gives_the_database_and_errors_of_one_statement_at_a_time) {
  TempDir dir;
  const auto together = NewDatabase(dir, "together.db");
  const auto alone = NewDatabase(dir, "alone.db");
  for (const auto& db : {together, alone}) ASSERT_EQ(IvexText(db, kTables).status, 0);

  const Outcome t = IvexText(together, Script(""));
  // A statement between two alters, on the same line, ends every run.
  const Outcome a = IvexText(alone, Script(" select 1 where 0;"));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(a.status, 1);
  const auto errors = ErrorLines(t.output);
  EXPECT_EQ(errors, ErrorLines(a.output));
  EXPECT_EQ(Dump(together), Dump(alone));

  ASSERT_EQ(errors.size(), 9u) << t.output;
  EXPECT_THAT(errors[0], HasSubstr("line 3 "));
  EXPECT_THAT(errors[0], HasSubstr("already has a primary key"));
  EXPECT_THAT(errors[1], HasSubstr("line 5 "));
  EXPECT_THAT(errors[1], HasSubstr("the key (2, 1) is held by more than one row"));
  EXPECT_THAT(errors[4], HasSubstr("(GHOST) has no matching row"));
  EXPECT_THAT(errors[7], HasSubstr("line 15 "));
  EXPECT_THAT(errors[7], HasSubstr("column \"Shipped\" holds rows without a value"));
  EXPECT_THAT(errors[8], HasSubstr("not its primary key or a unique index"));
  EXPECT_THAT(t.output, HasSubstr("line 18: alter table \"Orders\" add foreign key (\"orderid\")"));

  norvane::Connection c(together.string(), false);
  EXPECT_EQ(c.Scalar("SELECT group_concat(name) FROM pragma_table_info('Orders') WHERE pk > 0 "
                     "ORDER BY pk")
                .AsText(),
            "OrderID,Line");
  EXPECT_EQ(
      c.Scalar("SELECT group_concat(coalesce(\"Shipped\", '-'), '|') FROM \"Orders\"").AsText(),
      "10:00:00|11:00:00.500|-");
  EXPECT_EQ(
      c.Scalar("SELECT type FROM pragma_table_info('Orders') WHERE name = 'Shipped'").AsText(),
      "time");
  EXPECT_EQ(c.Scalar("SELECT count(*) FROM pragma_foreign_key_list('Orders')").AsText(), "1");
  EXPECT_EQ(c.Scalar("PRAGMA integrity_check").AsText(), "ok");
  EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (1, 1, 'ALFKI', NULL, 'w')"),
               norvane::DbError);
  EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (3, 1, 'GHOST', NULL, 'w')"),
               norvane::DbError);
  EXPECT_THROW(c.Exec("INSERT INTO \"Customers\" VALUES ('ALFKI', 'again')"), norvane::DbError);
}

TEST(AlterRun, executed_immediately_stops_at_the_first_failure_and_names_its_statement) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  ASSERT_EQ(IvexText(db, kTables).status, 0);
  const std::string before = Dump(db);
  const Outcome failed =
      IvexText(db,
               "begin execute immediate 'alter table \"Orders\" modify "
               "\"OrderID\" not null; alter table \"Orders\" modify \"Note\" not "
               "null; alter table \"Orders\" modify \"Line\" not null' end;\n");
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.output, HasSubstr("(in: alter table \"Orders\" modify \"Note\" not null)"));
  EXPECT_EQ(Dump(db), before);

  const Outcome done = IvexText(db,
                                "delete from \"Orders\" where \"Note\" is null;\n"
                                "begin execute immediate 'alter table \"Orders\" modify "
                                "\"OrderID\" not null; alter table \"Orders\" modify \"Shipped\" "
                                "time; alter table \"Customers\" modify \"Name\" not null' end;\n");
  ASSERT_EQ(done.status, 0) << done.output;
  EXPECT_EQ(Query(db,
                  "SELECT group_concat(name) FROM pragma_table_info('Orders') WHERE "
                  "\"notnull\""),
            "OrderID");
  EXPECT_EQ(Query(db, "SELECT group_concat(\"Shipped\", '|') FROM \"Orders\""),
            "10:00:00|11:00:00.500");
  EXPECT_EQ(Query(db,
                  "SELECT \"notnull\" FROM pragma_table_info('Customers') WHERE name = "
                  "'Name'"),
            "1");
}

TEST(TableEdit, a_change_made_in_place_leaves_what_a_rebuild_leaves) {
  TempDir dir;
  const auto inPlace = NewDatabase(dir, "in_place.db");
  const auto rebuilt = NewDatabase(dir, "rebuilt.db");
  for (const auto& db : {inPlace, rebuilt}) {
    ASSERT_EQ(IvexText(db, std::string(kTables) +
                               "delete from \"Orders\" where \"CustomerID\" = 'GHOST';\n"
                               "alter table \"Customers\" add primary key (\"CustomerID\");\n")
                  .status,
              0);
    norvane::Connection c(db.string(), false);
    norvane::Savepoint unit(c, "test");
    auto edit = norvane::TableEdit::Read(c, "orders");
    if (db == rebuilt) edit.EditDefinition();
    edit.SetNotNull("Note");
    ASSERT_TRUE(edit.AddPrimaryKey(c, {"OrderID", "Line"}));
    edit.SetType("Shipped", "time", "substr(\"Shipped\", 12)");
    edit.AddConstraint("FOREIGN KEY (\"CustomerID\") REFERENCES \"Customers\" (\"CustomerID\")");
    edit.Apply(c);
    unit.Release();
  }
  EXPECT_EQ(Dump(inPlace), Dump(rebuilt));
  EXPECT_THAT(Dump(inPlace), HasSubstr("index sqlite_autoindex_Orders_1"));

  // Every connection sees the new definition and its key at once.
  norvane::Connection c(inPlace.string(), false);
  EXPECT_EQ(c.Scalar("PRAGMA integrity_check").AsText(), "ok");
  EXPECT_EQ(
      c.Scalar("SELECT type FROM pragma_table_info('Orders') WHERE name = 'Shipped'").AsText(),
      "time");
  EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (1, 2, NULL, NULL, 'w')"), norvane::DbError);
  EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (5, 1, NULL, NULL, NULL)"), norvane::DbError);
  EXPECT_THROW(c.Exec("INSERT INTO \"Orders\" VALUES (5, 1, 'GHOST', NULL, 'w')"),
               norvane::DbError);
  c.Exec("INSERT INTO \"Orders\" VALUES (5, 1, 'ALFKI', NULL, 'w')");
}

TEST(TableEdit, a_key_on_one_integer_column_rebuilds_the_table_around_it_as_row_id) {
  TempDir dir;
  const auto db = NewDatabase(dir);
  ASSERT_EQ(IvexText(db,
                     "create table \"T\" (\"A\" integer, \"B\" varchar(5));\n"
                     "insert into \"T\" values (20, 'x'), (10, 'y');\n"
                     "alter table \"T\" modify \"a\" not null;\n"
                     "alter table \"T\" add primary key (\"a\");\n")
                .status,
            0);
  EXPECT_EQ(Query(db, "SELECT group_concat(rowid || A || B, ' ') FROM \"T\""), "1010y 2020x");
}

// Rows stored in key order from 1 on (as a transfer leaves an AutoNumber table): the key becomes
// the row id without storing the rows anew, and the result is what the rebuild gives.
TEST(TableEdit, a_row_id_key_over_rows_already_in_key_order_is_made_in_place) {
  const std::string table =
      "create table \"T\" (\"A\" integer, \"B\" varchar(5), \"C\" timestamp);\n"
      "insert into \"T\" values (1, 'x', '1899-12-30 10:00:00'), (2, NULL, NULL), (3, 'z', "
      "'1899-12-30 11:30:00');\n"
      "create index \"TB\" on \"T\" (\"B\");\n";
  TempDir dir;
  const auto inPlace = NewDatabase(dir, "in_place.db");
  const auto rebuilt = NewDatabase(dir, "rebuilt.db");
  for (const auto& db : {inPlace, rebuilt}) {
    ASSERT_EQ(IvexText(db, table).status, 0);
    norvane::Connection c(db.string(), false);
    const std::string root =
        c.Scalar("SELECT rootpage FROM sqlite_schema WHERE name = 'T'").AsText();
    norvane::Savepoint unit(c, "test");
    auto edit = norvane::TableEdit::Read(c, "t");
    if (db == rebuilt) edit.EditDefinition();
    edit.SetNotNull("a");
    ASSERT_TRUE(edit.AddPrimaryKey(c, {"a"}));
    edit.Apply(c);
    unit.Release();
    const bool samePages =
        c.Scalar("SELECT rootpage FROM sqlite_schema WHERE name = 'T'").AsText() == root;
    EXPECT_EQ(samePages, db == inPlace);
  }
  EXPECT_EQ(Dump(inPlace), Dump(rebuilt));
  norvane::Connection c(inPlace.string(), false);
  EXPECT_EQ(c.Scalar("PRAGMA integrity_check").AsText(), "ok");
  EXPECT_EQ(c.Scalar("SELECT group_concat(rowid || A, ' ') FROM \"T\" WHERE B = 'z'").AsText(),
            "33");
  EXPECT_THROW(c.Exec("INSERT INTO \"T\" VALUES (2, 'again', NULL)"), norvane::DbError);
  c.Exec("INSERT INTO \"T\" (\"B\") VALUES ('new')");  // the row id gives the key
  EXPECT_EQ(c.Scalar("SELECT A FROM \"T\" WHERE B = 'new'").AsText(), "4");

  // In a run with a refused statement in its middle: the same errors and database as one
  // statement at a time, and a key over rows out of order still rebuilds.
  const std::string run =
      "alter table \"T\" modify \"a\" not null;%\n"
      "alter table \"T\" add primary key (\"a\");%\n"
      "alter table \"T\" modify \"b\" not null;%\n"  // a NULL
      "alter table \"T\" modify \"c\" time;%\n"
      "alter table \"U\" modify \"a\" not null;%\n"
      "alter table \"U\" add primary key (\"a\");%\n";
  const auto together = NewDatabase(dir, "together.db");
  const auto alone = NewDatabase(dir, "alone.db");
  std::vector<Outcome> outcomes;
  for (const auto& db : {together, alone}) {
    ASSERT_EQ(IvexText(db, table + "create table \"U\" (\"A\" integer, \"B\" varchar(5));\n"
                                   "insert into \"U\" values (5, 'x'), (4, 'y');\n")
                  .status,
              0);
    std::string script = run;
    for (std::size_t at; (at = script.find('%')) != std::string::npos;)
      script.replace(at, 1, db == together ? "" : " select 1 where 0;");
    outcomes.push_back(IvexText(db, script));
  }
  EXPECT_EQ(outcomes[0].status, 1);
  EXPECT_EQ(ErrorLines(outcomes[0].output), ErrorLines(outcomes[1].output));
  ASSERT_EQ(ErrorLines(outcomes[0].output).size(), 1u) << outcomes[0].output;
  EXPECT_THAT(ErrorLines(outcomes[0].output)[0], HasSubstr("line 3 "));
  EXPECT_EQ(Dump(together), Dump(alone));
  EXPECT_EQ(Query(together, "SELECT group_concat(name) FROM pragma_table_info('T') WHERE pk > 0"),
            "A");
  EXPECT_EQ(Query(together, "SELECT group_concat(C, '|') FROM \"T\""), "10:00:00|11:30:00");
  EXPECT_EQ(Query(together, "SELECT group_concat(rowid || A, ' ') FROM \"U\""), "44 55");
  EXPECT_EQ(Query(together, "PRAGMA integrity_check"), "ok");
}

// A time conversion rewrites the values in place unless an update trigger of the table would
// fire; insert and delete triggers do not stop it.
TEST(TableEdit, values_are_rewritten_in_place_unless_an_update_trigger_would_fire) {
  const std::string tables =
      "create table \"T\" (\"A\" integer, \"S\" timestamp);\n"
      "insert into \"T\" values (1, '1899-12-30 10:00:00'), (2, NULL);\n"
      "create table \"Log\" (\"What\" varchar(20));\n"
      "create trigger \"T_update\" after insert on \"T\" for each row begin insert into \"Log\" "
      "values ('insert'); end;\n"
      "create trigger \"T insert\" before delete on \"T\" begin select 1; end;\n"
      "create table \"V\" (\"S\" timestamp);\n"
      "insert into \"V\" values ('1899-12-30 08:15:00');\n"
      "create trigger \"V_log\" after update of \"S\" on \"V\" begin insert into \"Log\" values "
      "('update'); end;\n";
  TempDir dir;
  const auto inPlace = NewDatabase(dir, "in_place.db");
  const auto rebuilt = NewDatabase(dir, "rebuilt.db");
  for (const auto& db : {inPlace, rebuilt}) {
    ASSERT_EQ(IvexText(db, tables).status, 0);
    norvane::Connection c(db.string(), false);
    const auto root = [&](const char* table) {
      return c
          .Scalar("SELECT rootpage FROM sqlite_schema WHERE name = ?",
                  {norvane::Value::Text(table)})
          .AsText();
    };
    const std::string t = root("T"), v = root("V");
    for (const char* table : {"T", "V"}) {
      norvane::Savepoint unit(c, "test");
      auto edit = norvane::TableEdit::Read(c, table);
      if (db == rebuilt) edit.EditDefinition();
      edit.SetType("S", "time", "substr(\"S\", 12)");
      edit.Apply(c);
      unit.Release();
    }
    EXPECT_EQ(root("T") == t, db == inPlace);
    EXPECT_NE(root("V"), v);
  }
  EXPECT_EQ(Dump(inPlace), Dump(rebuilt));
  EXPECT_EQ(Query(inPlace, "SELECT group_concat(coalesce(S, '-')) FROM \"T\""), "10:00:00,-");
  EXPECT_EQ(Query(inPlace, "SELECT S FROM \"V\""), "08:15:00");
  EXPECT_EQ(Query(inPlace, "SELECT count(*) FROM \"Log\""), "0");
  EXPECT_EQ(Query(inPlace, "PRAGMA integrity_check"), "ok");
}
