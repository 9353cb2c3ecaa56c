// After a whole migration, the new database behaves for an application as the Access file did:
// column types as a linked table sees them, AutoNumber, defaults, required fields, validation
// rules and cascades, all through the Norvane ODBC driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <filesystem>
#include <map>

#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing_support::TempDir;
using tools_test::Query;
using tools_test::RunProgram;

namespace {

// A connection through the driver, as a linked table's application has it.
class Odbc {
 public:
  explicit Odbc(const fs::path& db) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    const std::string in = "Driver=Norvane;Database=" + db.string();
    connected_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS,
                                                nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
  }
  ~Odbc() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool connected() const { return connected_; }

  // The driver's message, or "" when the statement succeeded.
  std::string Execute(const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
    std::string result;
    if (!SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
      SQLCHAR state[6] = {}, text[512] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, state, &native, text, sizeof text, &length);
      result = reinterpret_cast<char*>(text);
      if (result.empty()) result = "failed";
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return result;
  }

  // The first column of the first row, read as text ("NULL" for none).
  std::string Text(const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
    std::string out = "(failed)";
    if (SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS)) &&
        SQL_SUCCEEDED(SQLFetch(st))) {
      char buffer[256] = {};
      SQLLEN indicator = 0;
      SQLGetData(st, 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      out = indicator == SQL_NULL_DATA ? "NULL" : buffer;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return out;
  }

  // Column name -> (DATA_TYPE, TYPE_NAME) of SQLColumns.
  std::map<std::string, std::pair<int, std::string>> Columns(const std::string& table) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
    std::map<std::string, std::pair<int, std::string>> out;
    SQLColumns(st, nullptr, 0, nullptr, 0, (SQLCHAR*)table.c_str(), SQL_NTS, nullptr, 0);
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      char name[256] = {}, type[256] = {};
      SQLSMALLINT dataType = 0;
      SQLLEN indicator = 0;
      SQLGetData(st, 4, SQL_C_CHAR, name, sizeof name, &indicator);
      SQLGetData(st, 5, SQL_C_SSHORT, &dataType, 0, &indicator);
      SQLGetData(st, 6, SQL_C_CHAR, type, sizeof type, &indicator);
      out[name] = {dataType, type};
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return out;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

class ApplicationKeepsWorking : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir("norvane-app");
    const fs::path access = dir_->path() / "modern-dev-V2000.mdb";
    fs::copy_file(fs::path(NORVANE_TEST_DATA) / "modern-dev-V2000.mdb", access);
    run_ = new tools_test::Outcome(
        RunProgram(NORVANE_MIGRATE, {"--access", access.string()}, dir_->path()));
  }
  static void TearDownTestSuite() {
    delete run_;
    delete dir_;
  }
  // Each test works on its own copy of the migrated database.
  void SetUp() override {
    ASSERT_EQ(run_->status, 0) << run_->output;
    db_ = copy_.path() / "modern.db";
    fs::copy_file(dir_->path() / "modern-dev-V2000.db", db_);
  }

  static TempDir* dir_;
  static tools_test::Outcome* run_;
  TempDir copy_{"norvane-app-copy"};
  fs::path db_;
};

TempDir* ApplicationKeepsWorking::dir_ = nullptr;
tools_test::Outcome* ApplicationKeepsWorking::run_ = nullptr;

TEST_F(ApplicationKeepsWorking, linked_tables_see_every_access_type_in_its_family) {
  Odbc odbc(db_);
  ASSERT_TRUE(odbc.connected());
  auto kunden = odbc.Columns("Kunden");
  auto orders = odbc.Columns("Aufträge");
  auto lines = odbc.Columns("Auftragspositionen");
  EXPECT_EQ(kunden["KundenNr"].first, SQL_INTEGER);         // Long
  EXPECT_EQ(kunden["Firma"].first, SQL_WVARCHAR);           // Text
  EXPECT_EQ(kunden["Rabatt"].first, SQL_DOUBLE);            // Double
  EXPECT_EQ(kunden["Angelegt"].first, SQL_TYPE_TIMESTAMP);  // Date/Time
  EXPECT_EQ(orders["Lieferzeit"].first, SQL_TYPE_TIME);     // times of day only
  EXPECT_EQ(orders["Eilig"].first, SQL_BIT);                // Yes/No
  EXPECT_EQ(lines["Menge"].first, SQL_SMALLINT);            // Integer
  // Currency and Decimal: the driver's DECIMAL.
  EXPECT_EQ(orders["Betrag"], std::make_pair(int{SQL_DECIMAL}, std::string("numeric_blob")));
  EXPECT_EQ(lines["Preis"], std::make_pair(int{SQL_DECIMAL}, std::string("numeric_blob")));
}

TEST_F(ApplicationKeepsWorking, exact_numbers_read_back_with_every_digit) {
  Odbc odbc(db_);
  // Decimal(18,4) values of 18 digits arrived as exact text; shorter ones as numbers.
  EXPECT_EQ(Query(db_,
                  "SELECT count(*) FROM \"Auftragspositionen\" WHERE typeof(\"Preis\") = "
                  "'text' AND length(replace(\"Preis\", '.', '')) = 18"),
            Query(db_, "SELECT count(*) FROM \"Auftragspositionen\""));
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM \"Aufträge\" WHERE typeof(\"Betrag\") <> 'real'"),
            "0");
  // Currency's extremes and a 28-digit value keep every digit through the driver.
  for (const char* value : {"922337203685477.5807", "-922337203685477.5808", "0.0001"}) {
    ASSERT_EQ(odbc.Execute("UPDATE \"Aufträge\" SET \"Betrag\" = '" + std::string(value) +
                           "' WHERE \"AuftragNr\" = 1"),
              "");
    EXPECT_EQ(odbc.Text("SELECT \"Betrag\" FROM \"Aufträge\" WHERE \"AuftragNr\" = 1"), value);
  }
  // Numbers compare as numbers on the target.
  EXPECT_EQ(odbc.Text("SELECT count(*) FROM \"Aufträge\" WHERE \"Betrag\" > 9 AND \"Betrag\" < 10 "
                      "AND \"AuftragNr\" > 1"),
            Query(db_,
                  "SELECT count(*) FROM \"Aufträge\" WHERE CAST(\"Betrag\" AS REAL) > 9 AND "
                  "CAST(\"Betrag\" AS REAL) < 10 AND \"AuftragNr\" > 1"));
}

TEST_F(ApplicationKeepsWorking, new_rows_get_the_next_number_and_the_defaults) {
  Odbc odbc(db_);
  const std::string next = Query(db_, "SELECT max(\"KundenNr\") + 1 FROM \"Kunden\"");
  ASSERT_EQ(odbc.Execute("INSERT INTO \"Kunden\" (\"Firma\") VALUES ('Neu GmbH')"), "");
  EXPECT_EQ(odbc.Text("SELECT \"KundenNr\" FROM \"Kunden\" WHERE \"Firma\" = 'Neu GmbH'"), next);
  EXPECT_EQ(odbc.Text("SELECT \"Land\" FROM \"Kunden\" WHERE \"Firma\" = 'Neu GmbH'"),
            "Deutschland");
  EXPECT_EQ(odbc.Text("SELECT \"Rabatt\" FROM \"Kunden\" WHERE \"Firma\" = 'Neu GmbH'"), "0");
  EXPECT_EQ(odbc.Text("SELECT \"Angelegt\" >= datetime('now', 'localtime', '-1 minute') FROM "
                      "\"Kunden\" WHERE \"Firma\" = 'Neu GmbH'"),
            "1");
  const std::string order = Query(db_, "SELECT max(\"AuftragNr\") + 1 FROM \"Aufträge\"");
  ASSERT_EQ(odbc.Execute("INSERT INTO \"Aufträge\" (\"KundenNr\") VALUES (" + next + ")"), "");
  EXPECT_EQ(odbc.Text("SELECT \"Status\" || '|' || \"Betrag\" || '|' || (\"Datum\" = "
                      "datetime('now', 'localtime', 'start of day')) FROM \"Aufträge\" WHERE "
                      "\"AuftragNr\" = " +
                      order),
            "neu|0|1");
}

TEST_F(ApplicationKeepsWorking, rows_breaking_a_rule_are_refused) {
  Odbc odbc(db_);
  for (const char* refused : {
           "INSERT INTO \"Kunden\" (\"Firma\") VALUES (NULL)",                  // Required
           "INSERT INTO \"Kunden\" (\"Firma\") VALUES ('')",                    // zero length
           "INSERT INTO \"Kunden\" (\"Firma\", \"Rabatt\") VALUES ('x', 0.6)",  // >=0 And <=0.5
           "UPDATE \"Aufträge\" SET \"Status\" = 'kaputt'",                     // In (...)
           "UPDATE \"Auftragspositionen\" SET \"Menge\" = 0",                   // >0
           "INSERT INTO \"Aufträge\" (\"KundenNr\") VALUES (NULL)",             // Required
       })
    EXPECT_NE(odbc.Execute(refused), "") << refused;
  // What keeps the rules goes in; text compares without letter case, as in Access.
  EXPECT_EQ(odbc.Execute("INSERT INTO \"Kunden\" (\"Firma\", \"Rabatt\") VALUES ('y', 0.5)"), "");
  EXPECT_EQ(odbc.Execute("UPDATE \"Aufträge\" SET \"Status\" = 'OFFEN' WHERE \"AuftragNr\" = 1"),
            "");
}

TEST_F(ApplicationKeepsWorking, cascades_delete_lines_and_carry_a_new_customer_number) {
  Odbc odbc(db_);
  const std::string customer = Query(db_, "SELECT \"KundenNr\" FROM \"Aufträge\" LIMIT 1");
  const std::string orders =
      Query(db_, "SELECT count(*) FROM \"Aufträge\" WHERE \"KundenNr\" = " + customer);
  ASSERT_EQ(
      odbc.Execute("UPDATE \"Kunden\" SET \"KundenNr\" = 9999 WHERE \"KundenNr\" = " + customer),
      "");
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM \"Aufträge\" WHERE \"KundenNr\" = 9999"), orders);

  const std::string order =
      Query(db_, "SELECT \"AuftragNr\" FROM \"Auftragspositionen\" GROUP BY \"AuftragNr\" LIMIT 1");
  ASSERT_NE(
      Query(db_, "SELECT count(*) FROM \"Auftragspositionen\" WHERE \"AuftragNr\" = " + order),
      "0");
  ASSERT_EQ(odbc.Execute("DELETE FROM \"Aufträge\" WHERE \"AuftragNr\" = " + order), "");
  EXPECT_EQ(
      Query(db_, "SELECT count(*) FROM \"Auftragspositionen\" WHERE \"AuftragNr\" = " + order),
      "0");
  // Without a cascade the key still refuses: a customer with orders stays.
  EXPECT_THAT(odbc.Execute("DELETE FROM \"Kunden\" WHERE \"KundenNr\" = 9999"),
              HasSubstr("violated"));
}

TEST_F(ApplicationKeepsWorking, the_report_says_what_was_carried_and_what_not) {
  EXPECT_THAT(
      run_->output,
      HasSubstr("carried: defaults (Land, Rabatt, Angelegt); AutoNumber (KundenNr); "
                "required (Firma); no zero-length text (Firma); validation rules (Rabatt)"));
  EXPECT_THAT(run_->output, HasSubstr("cascades to Kunden (on update cascade)"));
  EXPECT_THAT(run_->output, HasSubstr("cascades to Aufträge (on delete cascade)"));
  EXPECT_THAT(run_->output,
              HasSubstr("not carried: Preis as a number in the rows with the keys (1, 1)"));
  EXPECT_FALSE(fs::exists(dir_->path() / "properties.sql"));
  EXPECT_FALSE(fs::exists(dir_->path() / "properties.bat"));
}

}  // namespace
