// What the migration adds to a PostgreSQL database after the rows, run against tables copied from
// the Access fixtures into a private server: the time-column procedure, the properties step's
// statements (defaults, Required, AllowZeroLength, validation rules, AutoNumber as identity).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>

#include "engine/script_lines.h"
#include "engine/time_fix_procedure.h"
#include "options/settings.h"
#include "platform/access/catalog.h"
#include "platform/error.h"
#include "platform/postgres/connection.h"
#include "platform/postgres/table_copy.h"
#include "support/private_postgres.h"

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

  LoadAndCall(c);

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

TEST(PostgresTimeProcedure, changes_nothing_without_timestamp_columns_and_norvane_keeps_its_own) {
  const std::string db = NewDatabase();
  Connection c(Server().Address(false, db));
  Copy(c, "nwind.mdb", "Shippers");
  LoadAndCall(c);
  EXPECT_EQ(One(c, "SELECT count(*) FROM \"Shippers\""), "3");
  EXPECT_EQ(engine::TimeFixProcedureLines(TargetKind::Norvane), engine::TimeFixProcedureLines());
  EXPECT_EQ(engine::TimeFixProcedureLines(TargetKind::Norvane).size(), 25u);
}
