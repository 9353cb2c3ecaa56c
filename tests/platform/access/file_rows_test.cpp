// The check reads the new database's values straight from the file: every value must come out
// as the SQLite ODBC driver hands it to an application, or the check would see differences that
// are not there, or miss ones that are.
#include "platform/verify/file_rows.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "support/temp_dir.h"

namespace {

using platform::verify::FileRows;
using testing_support::TempDir;

// The column types the transfer creates, and values of every storage class in each.
const char* const kColumns[] = {
    "integer",     "smallint", "bit",       "double", "float",         "numeric_blob(19,4)",
    "varchar(50)", "char(38)", "timestamp", "time",   "longvarbinary", "longvarchar",
    "varbinary(8)"};

// Values of every storage class, and text that is a number only in part.
const std::vector<std::string> kValues = {"NULL",
                                          "0",
                                          "-7",
                                          "9223372036854775807",
                                          "9007199254740993",
                                          "0.1",
                                          "-0.0",
                                          "1e20",
                                          "1e-05",
                                          "123.0",
                                          "1.0/3",
                                          "1e300",
                                          "-2.5e-300",
                                          "12345678901234567890",
                                          "'12.3400'",
                                          "''",
                                          "'Grüße, 東京'",
                                          "'1899-12-30 10:20:30'",
                                          "'10:20:30'",
                                          "'2024-02-29 23:59:59.5'",
                                          "'  42  '",
                                          "'+5'",
                                          "'0x1A'",
                                          "'abc'",
                                          "x''",
                                          "x'00ff41'",
                                          "x'414243'",
                                          "x'3432'",
                                          "'text with '' quote'",
                                          "'line\nbreak'"};

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error << sql;
}

// Three rows per value (one for each form it is read in), the value in every column.
std::filesystem::path TableOfValues(const TempDir& dir) {
  const auto path = dir.path() / "values.db";
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string create = "CREATE TABLE \"Odd Values\" (";
  for (std::size_t c = 0; c < std::size(kColumns); ++c)
    create += std::string(c ? ", " : "") + "c" + std::to_string(c) + " " + kColumns[c];
  Exec(db, create + ")");
  for (const std::string& v : kValues) {
    std::string insert = "INSERT INTO \"Odd Values\" VALUES (";
    for (std::size_t c = 0; c < std::size(kColumns); ++c) insert += (c ? ", " : "") + v;
    for (int form = 0; form < 3; ++form) Exec(db, insert + ")");
  }
  sqlite3_close(db);
  return path;
}

// The driver's form of one value.
struct DriverValue {
  bool present = false;
  std::string text;
};

DriverValue DriverText(platform::odbc::Statement& st, SQLUSMALLINT col, SQLSMALLINT cType) {
  DriverValue v;
  char buffer[4096];
  SQLLEN indicator = 0;
  st.Check(SQLGetData(st.get(), col, cType, buffer, sizeof buffer, &indicator), "reading");
  v.present = indicator != SQL_NULL_DATA;
  if (v.present) v.text.assign(buffer, static_cast<std::size_t>(indicator));
  return v;
}

TEST(FileRows, every_value_comes_out_as_the_odbc_driver_gives_it) {
  TempDir dir;
  const auto path = TableOfValues(dir);
  platform::odbc::Connection db("Driver=Norvane;Database=" + path.string() + ";StepAPI=1");
  platform::odbc::Statement st(db);
  std::string sql = "SELECT * FROM \"Odd Values\"";
  st.Check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "select");
  FileRows file(path.string(), "Odd Values", std::chrono::seconds(5));
  ASSERT_EQ(file.Columns(), static_cast<int>(std::size(kColumns)));

  int rows = 0;
  while (SQLFetch(st.get()) == SQL_SUCCESS) {
    ASSERT_TRUE(file.Next());
    ++rows;
    for (int c = 0; c < file.Columns(); ++c) {
      const auto col = static_cast<SQLUSMALLINT>(c + 1);
      const std::string where = std::string(kColumns[c]) + ", row " + std::to_string(rows);
      std::string mine;
      // A value is read once per row: the driver hands a column's value out only once.
      const int form = (rows - 1) % 3;
      if (form == 0) {
        const DriverValue text = DriverText(st, col, SQL_C_CHAR);
        ASSERT_EQ(file.Text(c, mine), text.present) << where;
        if (text.present) {
          EXPECT_EQ(mine, text.text) << where;
        }
      } else if (form == 1) {
        const DriverValue bytes = DriverText(st, col, SQL_C_BINARY);
        ASSERT_EQ(file.Bytes(c, mine), bytes.present) << where;
        if (bytes.present) {
          EXPECT_EQ(mine, bytes.text) << where;
        }
      } else {
        double theirs = 0, ours = 0;
        SQLLEN indicator = 0;
        st.Check(SQLGetData(st.get(), col, SQL_C_DOUBLE, &theirs, 0, &indicator), "reading");
        ASSERT_EQ(file.Real(c, ours), indicator != SQL_NULL_DATA) << where;
        if (indicator != SQL_NULL_DATA) {
          EXPECT_EQ(ours, theirs) << where;
        }
      }
    }
  }
  EXPECT_EQ(rows, static_cast<int>(kValues.size()) * 3);
  EXPECT_FALSE(file.Next());
}

TEST(FileRows, a_missing_table_or_file_is_an_error_naming_the_table) {
  TempDir dir;
  const auto path = TableOfValues(dir);
  for (const auto& [file, table] :
       {std::pair{path, std::string("No Such Table")},
        std::pair{dir.path() / "missing.db", std::string("Odd Values")}}) {
    try {
      FileRows rows(file.string(), table, std::chrono::seconds(1));
      ADD_FAILURE() << "no error for " << file << " " << table;
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.Number(), dao::err::kOdbcCallFailed);
      EXPECT_NE(e.Description().find(table), std::string::npos) << e.Description();
    }
  }
}

}  // namespace
