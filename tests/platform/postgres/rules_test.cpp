// What the migration adds to a PostgreSQL database after the rows, run against tables copied from
// the Access fixtures into a private server: the time-column procedure, the properties step's
// statements (defaults, Required, AllowZeroLength, validation rules, AutoNumber as identity).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>

#include "engine/names.h"
#include "engine/property_step.h"
#include "engine/script_lines.h"
#include "engine/time_fix_procedure.h"
#include "fakes/fake_dao.h"
#include "fakes/recording_view.h"
#include "options/settings.h"
#include "platform/access/access_engine.h"
#include "platform/access/catalog.h"
#include "platform/access_expressions.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/postgres/connection.h"
#include "platform/postgres/table_copy.h"
#include "platform/verify/rows_breaking.h"
#include "support/private_postgres.h"
#include "support/temp_dir.h"

namespace {

using platform::postgres::Connection;
using ::testing::HasSubstr;

const std::string kData = NORVANE_TEST_DATA;

testing_support::PrivateServer& Server() {
  auto& server = testing_support::SharedServer();
  server.ExportPassword();
  return server;
}

// A new, empty database on the shared server for one test: the procedure looks at every table.
std::string NewDatabase() {
  static std::atomic<int> next{0};
  const std::string name = "rules_" + std::to_string(getpid()) + "_" + std::to_string(++next);
  Connection c(Server().Address());
  c.Execute("CREATE DATABASE " + name);
  return name;
}

std::string One(Connection& c, const std::string& sql) {
  const auto rows = c.Query(sql);
  if (rows.size() != 1 || rows[0].size() != 1) return "<" + std::to_string(rows.size()) + " rows>";
  return rows[0][0].value_or("NULL");
}

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("''") : std::string(1, ch);
  return out + "'";
}

std::string TypeOf(Connection& c, const std::string& table, const std::string& column) {
  return One(c, "SELECT data_type FROM information_schema.columns WHERE table_name = " +
                    Literal(table) + " AND column_name = " + Literal(column));
}

// The server's message when it refuses `sql`; "" when it runs it.
std::string Refusal(Connection& c, const std::string& sql) {
  try {
    c.Execute(sql);
  } catch (const platform::Error& e) {
    return e.Description();
  }
  return "";
}

// Copies table `source` of fixture `file` into a table of the same name.
void Copy(Connection& c, const std::string& file, const std::string& source) {
  const std::string path = kData + "/" + file;
  const int jet = platform::access::ReadCatalog(path, std::chrono::seconds(60)).jetVersion;
  platform::postgres::CopyAccessTable(path, jet, source, c, source, std::chrono::seconds(60));
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

// sp.sql loaded, then the script tail that calls and drops the procedure, as reload.sql runs it.
void LoadAndCall(Connection& c) {
  c.Execute(Joined(engine::TimeFixProcedureLines(TargetKind::PostgreSql)));
  c.Execute(Joined(engine::ReloadTail()));
}

// psql's exit status running the script file `posixPath` on `database`, stopping at an error.
int Psql(const std::string& database, const std::string& posixPath) {
  const auto& server = Server();
  const std::string command = "psql -X -q -v ON_ERROR_STOP=1 -h '" + server.Get("PGHOST") +
                              "' -p " + server.Get("PGPORT") + " -U " + server.Get("PGUSER") +
                              " -d " + database + " -f '" + posixPath + "'";
  return std::system(command.c_str());
}

}  // namespace

TEST(PostgresTimeProcedure, turns_only_time_only_columns_into_time_and_is_dropped_after) {
  const std::string db = NewDatabase();
  Connection c(Server().Address(false, db));
  Copy(c, "modern-dev-V2000.mdb", "Aufträge");  // Lieferzeit: times only; Datum: dates
  c.Execute(
      "CREATE TABLE \"Shift's Plan\" (id integer, \"Start Zeit\" timestamp, \"Old\" timestamp, "
      "\"Never\" timestamp, \"Late\" timestamp(3), note varchar(10));"
      "INSERT INTO \"Shift's Plan\" VALUES "
      "(1, '1899-12-30 08:30:00', '1899-12-30 07:00', NULL, '1899-12-30 23:59:59.250', 'a'),"
      "(2, NULL, '1850-06-01 12:00', NULL, NULL, 'b');"
      "CREATE INDEX shift_start ON \"Shift's Plan\" (\"Start Zeit\");"
      "CREATE TABLE \"Empty\" (\"When\" timestamp);");
  ASSERT_EQ(TypeOf(c, "Aufträge", "Lieferzeit"), "timestamp without time zone");

  // sp.sql as "Create DB" writes it, loaded by psql.
  testing_support::TempDir dir;
  MigrationSettings settings;
  settings.Target = TargetKind::PostgreSql;
  settings.WorkFolder = dir.windows();
  engine::WriteTimeFixProcedure(settings);
  ASSERT_EQ(Psql(db, (dir.path() / "sp.sql").string()), 0);
  EXPECT_EQ(One(c, "SELECT count(*) FROM pg_proc WHERE proname = 'sp_ts_time'"), "1");
  c.Execute(Joined(engine::ReloadTail()));

  EXPECT_EQ(TypeOf(c, "Aufträge", "Lieferzeit"), "time without time zone");
  EXPECT_EQ(TypeOf(c, "Aufträge", "Datum"), "timestamp without time zone");
  EXPECT_EQ(One(c, "SELECT \"Lieferzeit\"::text FROM \"Aufträge\" WHERE \"AuftragNr\" = 2"),
            "05:11:00");
  EXPECT_EQ(TypeOf(c, "Shift's Plan", "Start Zeit"), "time without time zone");
  EXPECT_EQ(One(c, "SELECT \"Start Zeit\"::text FROM \"Shift's Plan\" WHERE id = 1"), "08:30:00");
  EXPECT_EQ(TypeOf(c, "Shift's Plan", "Late"), "time without time zone");
  EXPECT_EQ(One(c, "SELECT \"Late\"::text FROM \"Shift's Plan\" WHERE id = 1"), "23:59:59.25");
  // A date before 1899-12-30 is a date too; a column without values says nothing.
  EXPECT_EQ(TypeOf(c, "Shift's Plan", "Old"), "timestamp without time zone");
  EXPECT_EQ(TypeOf(c, "Shift's Plan", "Never"), "timestamp without time zone");
  EXPECT_EQ(TypeOf(c, "Empty", "When"), "timestamp without time zone");
  EXPECT_EQ(One(c, "SELECT count(*) FROM pg_proc WHERE proname = 'sp_ts_time'"), "0");
}

TEST(PostgresTimeProcedure, leaves_columns_holding_dates_as_they_are_and_norvane_keeps_its_own) {
  const std::string db = NewDatabase();
  Connection c(Server().Address(false, db));
  Copy(c, "nwind.mdb", "Shippers");
  // Dates from before 1000 to 9999, a time column that also holds dates: all stay timestamp.
  Copy(c, "DateTestDatabase.mdb", "DateTest");
  const std::string all =
      "SELECT string_agg(concat_ws(' ', \"DateTimeCol\", \"DateCol\", "
      "\"TimeCol\"), '; ' ORDER BY \"IDCol\") FROM \"DateTest\"";
  const std::string before = One(c, all);
  LoadAndCall(c);
  EXPECT_EQ(One(c, "SELECT count(*) FROM \"Shippers\""), "3");
  for (const char* column : {"DateTimeCol", "DateCol", "TimeCol"})
    EXPECT_EQ(TypeOf(c, "DateTest", column), "timestamp without time zone") << column;
  EXPECT_EQ(One(c, all), before);
  EXPECT_EQ(engine::TimeFixProcedureLines(TargetKind::Norvane), engine::TimeFixProcedureLines());
  EXPECT_EQ(engine::TimeFixProcedureLines(TargetKind::Norvane).size(), 25u);
}

namespace {

// An Access fixture whose every table was copied into a new database (keys as reload1.sql
// makes them added by the test), and the properties step planned against it.
struct Migrated {
  explicit Migrated(const std::string& file, const std::vector<std::string>& keys = {})
      : database(NewDatabase()), pg(Server().Address(false, database)) {
    path = kData + "/" + file;
    const auto catalog = platform::access::ReadCatalog(path, std::chrono::seconds(60));
    for (const auto& t : catalog.tables) {
      if (t.objectType != dao::ObjectType::kTable || dao::IsSystemTable(t.name, t.flags)) continue;
      platform::postgres::CopyAccessTable(path, catalog.jetVersion, t.name, pg,
                                          engine::TargetNameOf(t.name), std::chrono::seconds(60));
    }
    for (const auto& key : keys) pg.Execute(key);
    settings.Target = TargetKind::PostgreSql;
    settings.AccessDbPath = path;
    settings.WorkFolder = dir.windows();
    settings.ServerDatabase = database;
  }

  // Plans, then runs each statement as psql runs properties.sql: one by one, each on its own;
  // or runs the written properties.sql through psql, which must take all of it.
  void RunStep(bool throughPsql = false) {
    const auto engine = platform::access::CreateEngine({});
    step.ReadBefore(*engine, settings);
    platform::odbc::Connection odbc(Server().OdbcConnect(database));
    task = step.Start(
        settings,
        [&odbc](const std::string& table, const std::string& condition) {
          return platform::verify::KeysOfRowsBreaking(odbc, table, condition);
        },
        starter);
    if (throughPsql) {
      if (Psql(database, (dir.path() / "properties.sql").string()) != 0)
        refused.push_back("psql stopped at an error");
      return;
    }
    for (const std::string& statement : step.Statements()) {
      try {
        pg.Execute(statement);
      } catch (const platform::Error& e) {
        refused.push_back(statement + ": " + e.Description());
      }
    }
  }

  const reporting::PropertyLines& Lines(const std::string& table) const {
    for (const auto& l : step.Lines())
      if (l.targetTable == table) return l;
    static const reporting::PropertyLines none;
    return none;
  }

  std::string Refusal(const std::string& sql) { return ::Refusal(pg, sql); }

  testing_support::TempDir dir;
  std::string database;
  Connection pg;
  std::string path;
  MigrationSettings settings;
  engine::PropertyStep step;
  fakes::RecordingStarter starter;
  std::optional<int> task;
  std::vector<std::string> refused;  // statements the server refused, with its message
};

}  // namespace

// nwind.mdb's "Umsätze" has Access's counter 11159 above its highest OrderID 11077; its other
// tables' counters are their highest numbers.
TEST(PostgresPropertyStep, inserts_take_the_defaults_and_number_after_access_counter) {
  Migrated nwind("nwind.mdb", {"ALTER TABLE \"Umsätze\" ADD PRIMARY KEY (\"OrderID\")"});
  nwind.RunStep();
  EXPECT_THAT(nwind.refused, ::testing::IsEmpty());
  EXPECT_TRUE(nwind.step.Failures().empty());
  EXPECT_EQ(One(nwind.pg, "SELECT max(\"OrderID\") FROM \"Umsätze\""), "11077");
  EXPECT_EQ(One(nwind.pg,
                "INSERT INTO \"Umsätze\" (\"CustomerID\") VALUES ('ALFKI') "
                "RETURNING \"OrderID\" || ' ' || \"Freight\""),
            "11160 0.0000");
  EXPECT_EQ(One(nwind.pg,
                "INSERT INTO \"Umsätze\" (\"CustomerID\") VALUES ('ALFKI') "
                "RETURNING \"OrderID\""),
            "11161");
  EXPECT_THAT(nwind.Lines("Umsätze").carried,
              ::testing::Contains("OrderID continues at 11160 after Access's counter 11159, above "
                                  "the highest number in the table"));
  // Products: the counter is the highest number; Yes/No and number defaults.
  EXPECT_EQ(One(nwind.pg,
                "INSERT INTO \"Products\" (\"ProductName\") VALUES ('Tee') RETURNING "
                "concat_ws(' ', \"ProductID\", \"UnitPrice\", \"UnitsInStock\", "
                "\"Discontinued\")"),
            "78 0.0000 0 f");
  // A number given is kept (identity BY DEFAULT), as Access keeps an appended AutoNumber.
  EXPECT_EQ(One(nwind.pg,
                "INSERT INTO \"Shippers\" (\"ShipperID\", \"CompanyName\") VALUES (40, "
                "'Post') RETURNING \"ShipperID\""),
            "40");

  for (const char* file : {"modern-dev-V2000.mdb", "modern-dev-V2010.accdb"}) {
    SCOPED_TRACE(file);
    Migrated m(file);
    m.RunStep(std::string(file).ends_with(".accdb"));
    EXPECT_THAT(m.refused, ::testing::IsEmpty());
    EXPECT_EQ(One(m.pg,
                  "INSERT INTO \"Kunden\" (\"Firma\") VALUES ('Neu AG') RETURNING "
                  "concat_ws(' ', \"KundenNr\", \"Land\", \"Rabatt\", \"Angelegt\" > "
                  "localtimestamp - interval '1 hour', \"Angelegt\" = "
                  "date_trunc('second', \"Angelegt\"))"),
              "31 Deutschland 0 t t");
    EXPECT_EQ(One(m.pg,
                  "INSERT INTO \"Aufträge\" (\"KundenNr\", \"Eilig\") VALUES (1, false) "
                  "RETURNING concat_ws(' ', \"AuftragNr\", \"Datum\" = current_date, "
                  "\"Betrag\", \"Status\")"),
              "181 t 0.0000 neu");
    EXPECT_THAT(m.Lines("Kunden").carried,
                ::testing::ElementsAre("defaults (Land, Rabatt, Angelegt)", "AutoNumber (KundenNr)",
                                       "required (Firma)", "no zero-length text (Firma)",
                                       "validation rules (Rabatt)"));
    // psql runs the script; it is written and started as for Norvane.
    EXPECT_TRUE(m.task.has_value());
    EXPECT_THAT(m.starter.started, ::testing::ElementsAre(m.dir.windows() + "properties.bat"));
  }
}

TEST(PostgresPropertyStep, the_server_refuses_rows_that_break_what_was_carried) {
  Migrated nwind("nwind.mdb");
  nwind.RunStep();
  ASSERT_THAT(nwind.refused, ::testing::IsEmpty());
  const std::string check = "violates check constraint";
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Order_Details\" VALUES (10248, 11, 14, 0, 0)"),
              HasSubstr(check));  // Quantity > 0
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Order_Details\" VALUES (10248, 11, 14, 1, 1.5)"),
              HasSubstr(check));  // Discount Between 0 And 1
  EXPECT_EQ(nwind.Refusal("INSERT INTO \"Order_Details\" VALUES (10248, 11, 14, 1, 1)"), "");
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Products\" (\"ProductName\", \"UnitPrice\") VALUES "
                            "('Tee', -1)"),
              HasSubstr(check));
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Products\" (\"UnitPrice\") VALUES (1)"),
              HasSubstr("violates not-null constraint"));  // Required
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Customers\" (\"CustomerID\", \"CompanyName\") VALUES "
                            "('ZZZZZ', '')"),
              HasSubstr(check));  // AllowZeroLength No
  EXPECT_THAT(nwind.Refusal("INSERT INTO \"Employees\" (\"LastName\", \"FirstName\", "
                            "\"BirthDate\") VALUES ('A', 'B', current_date + 1)"),
              HasSubstr(check));  // < Date()

  Migrated m("modern-dev-V2010.accdb");
  m.RunStep();
  ASSERT_THAT(m.refused, ::testing::IsEmpty());
  EXPECT_THAT(m.Refusal("INSERT INTO \"Kunden\" (\"Firma\", \"Rabatt\") VALUES ('X', 0.6)"),
              HasSubstr(check));
  // Access compares text without letter case: "NEU" is one of In ("neu", ...).
  EXPECT_EQ(m.Refusal("INSERT INTO \"Aufträge\" (\"KundenNr\", \"Eilig\", \"Status\") VALUES "
                      "(1, true, 'NEU')"),
            "");
  EXPECT_THAT(m.Refusal("INSERT INTO \"Aufträge\" (\"KundenNr\", \"Eilig\", \"Status\") VALUES "
                        "(1, true, 'storniert')"),
              HasSubstr(check));
  EXPECT_THAT(m.Refusal("INSERT INTO \"Auftragspositionen\" (\"AuftragNr\", \"Pos\", \"Menge\") "
                        "VALUES (1, 99, 0)"),
              HasSubstr(check));
}

TEST(PostgresPropertyStep, what_the_rows_break_is_reported_and_the_rows_stay) {
  // Data Access held against its rules (rules added later, or set aside by a bulk change).
  Migrated m("modern-dev-V2000.mdb", {"ALTER TABLE \"Kunden\" ADD PRIMARY KEY (\"KundenNr\")",
                                      "UPDATE \"Kunden\" SET \"Rabatt\" = 0.75 WHERE \"KundenNr\" "
                                      "IN (3, 7)",
                                      "UPDATE \"Kunden\" SET \"Firma\" = '' WHERE \"KundenNr\" = 5",
                                      "UPDATE \"Aufträge\" SET \"Status\" = 'storniert' WHERE "
                                      "\"AuftragNr\" = 2",
                                      "UPDATE \"Aufträge\" SET \"KundenNr\" = NULL WHERE "
                                      "\"AuftragNr\" = 4"});
  const std::string kunden = One(m.pg, "SELECT count(*) FROM \"Kunden\"");
  const std::string aufträge = One(m.pg, "SELECT count(*) FROM \"Aufträge\"");
  // Aufträge has no primary key here: its rows are named by their ctid.
  const std::string row2 = One(m.pg, "SELECT ctid FROM \"Aufträge\" WHERE \"AuftragNr\" = 2");
  const std::string row4 = One(m.pg, "SELECT ctid FROM \"Aufträge\" WHERE \"AuftragNr\" = 4");
  m.RunStep();
  EXPECT_THAT(m.refused, ::testing::IsEmpty());
  EXPECT_TRUE(m.step.Failures().empty());

  EXPECT_THAT(m.Lines("Kunden").notCarried,
              ::testing::UnorderedElementsAre(
                  "no zero-length text in Firma: the rows with the keys (5) break it",
                  "rule of Rabatt >=0 And <=0.5: the rows with the keys (3), (7) break it"));
  EXPECT_THAT(m.Lines("Kunden").carried,
              ::testing::ElementsAre("defaults (Land, Rabatt, Angelegt)", "AutoNumber (KundenNr)",
                                     "required (Firma)"));
  EXPECT_THAT(m.Lines("Aufträge").notCarried,
              ::testing::UnorderedElementsAre(
                  "required KundenNr: the rows with the keys (" + row4 + ") break it",
                  HasSubstr("the rows with the keys (" + row2 + ") break it")));
  // Every row stays as it was, and what was not carried does not refuse a row.
  EXPECT_EQ(One(m.pg, "SELECT count(*) FROM \"Kunden\""), kunden);
  EXPECT_EQ(One(m.pg, "SELECT count(*) FROM \"Aufträge\""), aufträge);
  EXPECT_EQ(One(m.pg, "SELECT \"Rabatt\" FROM \"Kunden\" WHERE \"KundenNr\" = 7"), "0.75");
  EXPECT_EQ(m.Refusal("INSERT INTO \"Kunden\" (\"Firma\", \"Rabatt\") VALUES ('', 0.9)"), "");
  EXPECT_EQ(m.Refusal("INSERT INTO \"Aufträge\" (\"Eilig\", \"Status\") VALUES (true, 'x')"), "");
  // What the rows keep is carried still.
  EXPECT_THAT(m.Refusal("INSERT INTO \"Kunden\" (\"Firma\") VALUES (NULL)"),
              HasSubstr("violates not-null constraint"));
}

// Names with quotes, blanks and non-ASCII letters inside the identity's nested literal, and a
// counter of 0 (the file does not say): numbering goes on after the highest number.
TEST(PostgresPropertyStep, quoted_names_take_identity_defaults_and_checks) {
  const std::string db = NewDatabase();
  Connection c(Server().Address(false, db));
  c.Execute(
      "CREATE TABLE \"Kunde's_Liste\" (\"Nr's \"\"x\"\"\" integer, \"Größe\" varchar(10), "
      "\"Wann\" timestamp);"
      "INSERT INTO \"Kunde's_Liste\" VALUES (41, 'L', NULL), (7, 'S', NULL)");
  fakes::FakeEngine access;
  testing_support::TempDir dir;
  MigrationSettings settings;
  settings.Target = TargetKind::PostgreSql;
  settings.WorkFolder = dir.windows();
  settings.AccessDbPath = dir.windows() + "x.mdb";
  auto& table = access.AddAccessFile(settings.AccessDbPath).AddTable("Kunde's Liste");
  table.fields = {{"Nr's \"x\"", 0x04, 4, true, false, true, "", ""},
                  {"Größe", 0x0a, 10, false, true, false, "'M'", "In ('S', \"M\", \"L\")"},
                  {"Wann", 0x08, 8, false, false, true, "Now()", ">=#1/1/2000#"}};
  engine::PropertyStep step;
  step.ReadBefore(access, settings);
  platform::odbc::Connection odbc(Server().OdbcConnect(db));
  fakes::RecordingStarter starter;
  step.Start(
      settings,
      [&odbc](const std::string& t, const std::string& condition) {
        return platform::verify::KeysOfRowsBreaking(odbc, t, condition);
      },
      starter);
  ASSERT_EQ(step.Statements().size(), 8u);
  for (const std::string& statement : step.Statements()) c.Execute(statement);
  EXPECT_EQ(One(c,
                "INSERT INTO \"Kunde's_Liste\" DEFAULT VALUES RETURNING concat_ws(' ', "
                "\"Nr's \"\"x\"\"\", \"Größe\", \"Wann\" IS NOT NULL)"),
            "42 M t");
  EXPECT_THAT(Refusal(c, "INSERT INTO \"Kunde's_Liste\" (\"Größe\") VALUES ('XL')"),
              HasSubstr("violates check constraint"));
  EXPECT_THAT(Refusal(c, "INSERT INTO \"Kunde's_Liste\" (\"Größe\") VALUES (NULL)"),
              HasSubstr("violates not-null constraint"));
  EXPECT_EQ(Refusal(c, "INSERT INTO \"Kunde's_Liste\" (\"Größe\") VALUES ('s')"), "");
}

// Rules in the dialect's harder forms, each made a CHECK on the server, then a row it lets
// through and a row it refuses, as Access would.
TEST(PostgresRules, translated_rules_let_through_and_refuse_what_access_does) {
  const std::string db = NewDatabase();
  Connection c(Server().Address(false, db));
  c.Execute(
      "CREATE TABLE r (\"Rabatt\" double precision, \"Status\" varchar(40), \"Betrag\" "
      "numeric(19,4), \"Datum\" timestamp, \"Eilig\" boolean, \"Ende\" timestamp)");
  using platform::access_sql::ColumnKind;
  using platform::access_sql::ValueKind;
  const std::vector<ColumnKind> columns = {
      {"Rabatt", ValueKind::kNumber},      {"Status", ValueKind::kText},
      {"Betrag", ValueKind::kExactNumber}, {"Datum", ValueKind::kDateTime},
      {"Eilig", ValueKind::kBoolean},      {"Ende", ValueKind::kDateTime}};
  struct RuleCase {
    const char* column;  // "" for a table's rule
    const char* rule;
    const char* kept;  // a row's values for the columns above
    const char* broken;
  };
  // A time column (sp_ts_time made it) and a timestamp one take the same time literals.
  c.Execute("CREATE TABLE z (\"Zeit\" time, \"Start\" timestamp)");
  for (const char* column : {"Zeit", "Start"}) {
    SCOPED_TRACE(column);
    const auto t = platform::access_sql::CheckExpression(
        "Between #8:00# And #6:30 PM#", column, {{column, ValueKind::kDateTime}},
        platform::access_sql::Dialect::kPostgreSql);
    ASSERT_TRUE(t.ok()) << t.why;
    c.Execute("ALTER TABLE z ADD CHECK (" + t.sql + ")");
  }
  c.Execute("INSERT INTO z VALUES ('18:30', '1899-12-30 08:00')");
  EXPECT_THAT(Refusal(c, "INSERT INTO z VALUES ('18:31', NULL)"), HasSubstr("z_Zeit_check"));
  EXPECT_THAT(Refusal(c, "INSERT INTO z VALUES (NULL, '1899-12-30 07:59')"),
              HasSubstr("z_Start_check"));

  for (const RuleCase& r : std::vector<RuleCase>{
           {"Status", "Like \"##-*\"", "0, '12-ab', 0, NULL, true, NULL",
            "0, '1a-x', 0, NULL, true, NULL"},
           {"Status", "Like \"[!a-c]*.txt\"", "0, 'D1.TXT', 0, NULL, true, NULL",
            "0, 'b1.txt', 0, NULL, true, NULL"},
           {"Status", "Like \"?b_%\\*\"", "0, 'xb_%\\zz', 0, NULL, true, NULL",
            "0, 'xbq%\\', 0, NULL, true, NULL"},
           {"Status", "Not Like \"*[*]\"", "0, 'a', 0, NULL, true, NULL",
            "0, 'a*', 0, NULL, true, NULL"},
           {"Status", "<>\"it's\"", "0, 'its', 0, NULL, true, NULL",
            "0, 'IT''S', 0, NULL, true, NULL"},
           {"", "[Rabatt] <= IIf([Eilig], 0.5, IIf([Status] = \"neu\", 0.2, 0))",
            "0.2, 'NEU', 0, NULL, false, NULL", "0.3, 'neu', 0, NULL, false, NULL"},
           {"", "[Ende] >= [Datum] + 7", "0, 'a', 0, '2024-01-01', true, '2024-01-08'",
            "0, 'a', 0, '2024-01-01', true, '2024-01-07 23:59'"},
           {"Datum", "Between #1/1/2000# And Date()", "0, 'a', 0, '2000-01-01', true, NULL",
            "0, 'a', 0, current_date + 1, true, NULL"},
           {"Datum", ">#1/1/2000# + 0.5", "0, 'a', 0, '2000-01-01 12:00:01', true, NULL",
            "0, 'a', 0, '2000-01-01 12:00', true, NULL"},
           {"", "Len(Trim([Status])) > 0 And Left([Status], 1) = \"a\"",
            "0, 'Abc ', 0, NULL, true, NULL", "0, '   ', 0, NULL, true, NULL"},
           {"", "[Status] & [Rabatt] <> \"x\"", "1, 'x', 0, NULL, true, NULL",
            "NULL, 'X', 0, NULL, true, NULL"},
           {"Betrag", "Between -0.0001 And 922337203685477.5807",
            "0, 'a', 922337203685477.5807, NULL, true, NULL", "0, 'a', -0.0002, NULL, true, NULL"},
           {"", "[Betrag] / 3 * 3 = [Betrag] And ([Betrag] / 4 >= 0.3 Or [Eilig] = False)",
            "0, 'a', 1.2, NULL, true, NULL", "0, 'a', 1, NULL, true, NULL"},
           {"", "Year([Datum]) >= 2000 And Weekday([Datum]) <> 1",
            "0, 'a', 0, '2024-01-01', true, NULL", "0, 'a', 0, '2024-01-07', true, NULL"},
           {"", "IsNull([Ende]) Or Nz([Rabatt]) < 1", "NULL, 'a', 0, NULL, true, '2024-01-01'",
            "2, 'a', 0, NULL, true, '2024-01-01'"},
           {"Status", "InStr([Status], \"X\") = 0", "0, 'abc', 0, NULL, true, NULL",
            "0, 'axb', 0, NULL, true, NULL"},
           {"Rabatt", "Int([Rabatt]) = Fix([Rabatt])", "1.5, 'a', 0, NULL, true, NULL",
            "-1.5, 'a', 0, NULL, true, NULL"},
           {"Eilig", "<>-1 Or Is Null", "0, 'a', 0, NULL, false, NULL",
            "0, 'a', 0, NULL, true, NULL"},
       }) {
    SCOPED_TRACE(r.rule);
    const auto t = platform::access_sql::CheckExpression(
        r.rule, r.column, columns, platform::access_sql::Dialect::kPostgreSql);
    ASSERT_TRUE(t.ok()) << t.why;
    c.Execute("DELETE FROM r; ALTER TABLE r DROP CONSTRAINT IF EXISTS rule");
    c.Execute("ALTER TABLE r ADD CONSTRAINT rule CHECK (" + t.sql + ")");
    c.Execute(std::string("INSERT INTO r VALUES (") + r.kept + ")");
    try {
      c.Execute(std::string("INSERT INTO r VALUES (") + r.broken + ")");
      ADD_FAILURE() << "let through: " << r.broken << " by " << t.sql;
    } catch (const platform::Error& e) {
      EXPECT_THAT(e.Description(), HasSubstr("violates check constraint \"rule\"")) << t.sql;
    }
  }
}
