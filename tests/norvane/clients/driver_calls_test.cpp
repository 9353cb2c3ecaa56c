// The Norvane ODBC driver called as an application calls it, through unixODBC's driver manager:
// parameter arrays with status arrays, exact decimals in and out (text, SQL_C_NUMERIC,
// SQL_C_DOUBLE), long values in pieces, cursors across commit and rollback, diagnostics, row
// arrays fetched into bound columns.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

using testing_support::TempDir;

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::string out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {}, message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, message, sizeof message, &length)))
      break;
    out += std::string("[") + reinterpret_cast<char*>(state) + "] " +
           reinterpret_cast<char*>(message) + "\n";
  }
  return out;
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = tools_test::NewDatabase(dir_, "calls.db");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)));
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_)));
    const std::string in = "Driver=Norvane;Database=" + path_.string();
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())),
                         SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
        << Diagnostics(SQL_HANDLE_DBC, dbc_);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_)));
    Exec(
        "CREATE TABLE k (id integer NOT NULL PRIMARY KEY, v numeric_blob(19,4) CHECK (v IS NULL OR "
        "v <> 5000))");
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  void Exec(const std::string& sql) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s);
    const SQLRETURN rc =
        SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << Diagnostics(SQL_HANDLE_STMT, s);
    SQLFreeHandle(SQL_HANDLE_STMT, s);
  }
  std::string Scalar(const std::string& sql) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s);
    SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    char value[256] = {};
    SQLLEN length = 0;
    std::string out = "<none>";
    if (SQL_SUCCEEDED(SQLFetch(s)) &&
        SQL_SUCCEEDED(SQLGetData(s, 1, SQL_C_CHAR, value, sizeof value, &length)))
      out = length == SQL_NULL_DATA ? "NULL" : value;
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    return out;
  }
  void Manual() { SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, 0); }
  SQLRETURN Prepare(const std::string& sql) {
    return SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  }

  TempDir dir_{"norvane-odbc"};
  std::filesystem::path path_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// Five rows bound column-wise, the third with a key that the first already has.
struct Rows {
  SQLINTEGER id[5] = {1, 2, 1, 4, 5};
  char v[5][32] = {"1.5", "2.25", "3", "12345678901234.1001", "-0.0001"};
  SQLLEN idInd[5] = {0, 0, 0, 0, 0};
  SQLLEN vInd[5] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS};
  SQLUSMALLINT status[5] = {};
  SQLULEN processed = 0;
};

void BindRows(SQLHSTMT s, Rows& r) {
  SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(5), 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, r.status, 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, &r.processed, 0);
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, r.id, 0, r.idInd);
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 19, 4, r.v, 32, r.vInd);
}

TEST_F(Driver, ParameterArrayWithAFailingSetLeavesTheTransactionToTheApplication) {
  Manual();
  Rows r;
  ASSERT_EQ(Prepare("INSERT INTO k VALUES (?, ?)"), SQL_SUCCESS);
  BindRows(stmt_, r);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  const std::string diag = Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_NE(diag.find("[23000]"), std::string::npos) << diag;
  EXPECT_NE(diag.find("Parameter set 3"), std::string::npos) << diag;
  EXPECT_EQ(r.processed, 5u);
  const SQLUSMALLINT want[5] = {SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_ERROR,
                                SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r.status[i], want[i]) << i;
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), "4");
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), "0");
  // Run again, the failing set marked to be ignored: the same prepared statement.
  SQLUSMALLINT operations[5] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE,
                                SQL_PARAM_PROCEED, SQL_PARAM_PROCEED};
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_OPERATION_PTR, operations, 0);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(r.status[2], SQL_PARAM_UNUSED);
  SQLLEN count = 0;
  SQLRowCount(stmt_, &count);
  EXPECT_EQ(count, 4);
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 4"), "12345678901234.1001");
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 5"), "-0.0001");
}

TEST_F(Driver, LongArraysRunManySetsPerStepAndStillFindTheFailingSet) {
  Manual();
  constexpr int kSets = 200;  // three steps of 64 sets, then 8 one by one
  std::vector<SQLINTEGER> ids(kSets);
  std::vector<SQLLEN> idInd(kSets, 0);
  std::vector<SQLUSMALLINT> status(kSets);
  for (int i = 0; i < kSets; ++i) ids[i] = i + 1;
  ids[129] = 1;  // the key of the first set again
  ids[197] = 2;  // and one among the last sets
  ASSERT_EQ(Prepare("INSERT INTO k (id) VALUES (?)"), SQL_SUCCESS);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kSets), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids.data(), 0,
                   idInd.data());
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  for (int i = 0; i < kSets; ++i)
    EXPECT_EQ(status[i], i == 129 || i == 197 ? SQL_PARAM_ERROR : SQL_PARAM_SUCCESS) << i;
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), std::to_string(kSets - 2));
  EXPECT_EQ(Scalar("SELECT count(*) FROM k WHERE id IN (130, 198)"), "0");
}

TEST_F(Driver, ParameterArrayInAutocommitIsAllOrNothing) {
  Rows r;
  ASSERT_EQ(Prepare("INSERT INTO k VALUES (?, ?)"), SQL_SUCCESS);
  BindRows(stmt_, r);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(r.status[2], SQL_PARAM_ERROR);
  EXPECT_EQ(r.status[0], SQL_PARAM_UNUSED);
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), "0");
}

TEST_F(Driver, RowWiseUpdateAndDeleteArraysReportEachSet) {
  Exec("INSERT INTO k VALUES (1, 1), (2, 2), (3, 3)");
  Exec(
      "CREATE TRIGGER keep3 BEFORE DELETE ON k WHEN OLD.id = 3 BEGIN SELECT RAISE(ABORT, 'kept'); "
      "END");
  Manual();
  struct Row {
    char v[24];
    SQLLEN vInd;
    SQLINTEGER id;
    SQLLEN idInd;
  } rows[3] = {{"10", SQL_NTS, 1, 0}, {"5000", SQL_NTS, 2, 0}, {"30", SQL_NTS, 3, 0}};
  SQLUSMALLINT status[3] = {};
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status, 0);
  ASSERT_EQ(Prepare("UPDATE k SET v = ? WHERE id = ?"), SQL_SUCCESS);
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 19, 4, rows[0].v, 24,
                   &rows[0].vInd);
  SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &rows[0].id, 0,
                   &rows[0].idInd);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(status[0], SQL_PARAM_SUCCESS);
  EXPECT_EQ(status[1], SQL_PARAM_ERROR);  // the CHECK
  EXPECT_EQ(status[2], SQL_PARAM_SUCCESS);
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 1"), "10.0000");
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 2"), "2.0000");
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 3"), "30.0000");

  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  ASSERT_EQ(Prepare("DELETE FROM k WHERE id = ?"), SQL_SUCCESS);
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &rows[0].id, 0,
                   &rows[0].idInd);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(status[2], SQL_PARAM_ERROR);  // the trigger keeps 3
  EXPECT_NE(Diagnostics(SQL_HANDLE_STMT, stmt_).find("kept"), std::string::npos);
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), "3");
}

TEST_F(Driver, DecimalsComeBackAsTextNumericAndDouble) {
  Exec("CREATE TABLE d (n integer, c numeric_blob(19,4), w numeric_blob(38,10))");
  Exec("INSERT INTO d VALUES (1, 922337203685477.5807, NULL)");  // a literal: SQL rounds it
  ASSERT_EQ(Prepare("INSERT INTO d VALUES (?, ?, ?)"), SQL_SUCCESS);
  const char* amounts[] = {"922337203685477.5807", "-922337203685477.5808", "0.0001", "12.5"};
  const char* wide = "-1234567890123456789012345678.0123456789";
  SQLINTEGER n = 0;
  char c[40], w[48];
  SQLLEN cInd = SQL_NTS, wInd = SQL_NTS;
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &n, 0, nullptr);
  SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 19, 4, c, 40, &cInd);
  SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 38, 10, w, 48, &wInd);
  for (int i = 0; i < 4; ++i) {
    n = i + 2;
    std::strcpy(c, amounts[i]);
    std::strcpy(w, wide);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  }
  EXPECT_EQ(Scalar("SELECT c FROM d WHERE n = 1"), "922337203685477.6000");
  for (int i = 0; i < 4; ++i) {
    const std::string where = " FROM d WHERE n = " + std::to_string(i + 2);
    EXPECT_EQ(Scalar("SELECT c" + where), i == 3 ? "12.5000" : amounts[i]);
    EXPECT_EQ(Scalar("SELECT w" + where), wide);
  }
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_,
                                          reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                                              "SELECT c, w FROM d WHERE n IN (3, 5) ORDER BY n")),
                                          SQL_NTS)));
  // -922337203685477.5808 as SQL_C_NUMERIC at the column's precision and scale.
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQL_NUMERIC_STRUCT numeric{};
  SQLLEN length = 0;
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_NUMERIC, &numeric, sizeof numeric, &length)));
  EXPECT_EQ(numeric.precision, 19);
  EXPECT_EQ(numeric.scale, 4);
  EXPECT_EQ(numeric.sign, 0);
  unsigned __int128 magnitude = 0;
  for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) magnitude = (magnitude << 8) | numeric.val[i];
  EXPECT_TRUE(magnitude == static_cast<unsigned __int128>(9223372036854775808ULL));
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLGetData(stmt_, 2, SQL_C_NUMERIC, &numeric, sizeof numeric, &length)));
  EXPECT_EQ(numeric.precision, 38);
  EXPECT_EQ(numeric.scale, 10);
  // 12.5 as a double: exact.
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  double d = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_DOUBLE, &d, 0, &length)));
  EXPECT_EQ(d, 12.5);
  SQLCHAR type[64];
  SQLSMALLINT sqlType = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  SQLDescribeCol(stmt_, 1, type, sizeof type, nullptr, &sqlType, &size, &digits, &nullable);
  EXPECT_EQ(sqlType, SQL_DECIMAL);
  EXPECT_EQ(size, 19u);
  EXPECT_EQ(digits, 4);
}

TEST_F(Driver, NumericParametersTakeTheDescriptorsScale) {
  ASSERT_EQ(Prepare("INSERT INTO k VALUES (7, ?)"), SQL_SUCCESS);
  SQL_NUMERIC_STRUCT value{};
  value.sign = 1;
  const unsigned long long scaled = 1234567;  // 123.4567 at scale 4
  std::memcpy(value.val, &scaled, sizeof scaled);
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_DECIMAL, 19, 4, &value, 0,
                   nullptr);
  SQLHDESC apd = nullptr;
  SQLGetStmtAttr(stmt_, SQL_ATTR_APP_PARAM_DESC, &apd, 0, nullptr);
  SQLSetDescField(apd, 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_NUMERIC), 0);
  SQLSetDescField(apd, 1, SQL_DESC_PRECISION, reinterpret_cast<SQLPOINTER>(19), 0);
  SQLSetDescField(apd, 1, SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(4), 0);
  SQLSetDescField(apd, 1, SQL_DESC_DATA_PTR, &value, 0);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(Scalar("SELECT v FROM k WHERE id = 7"), "123.4567");
}

TEST_F(Driver, LongValuesInPiecesBothWays) {
  Exec("CREATE TABLE m (t text, b longvarbinary)");
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "Grüße €" + std::to_string(i) + " ";
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  ASSERT_EQ(Prepare("INSERT INTO m VALUES (?, ?)"), SQL_SUCCESS);
  SQLLEN atExec1 = SQL_LEN_DATA_AT_EXEC(0), atExec2 = SQL_LEN_DATA_AT_EXEC(0);
  SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WLONGVARCHAR, 0, 0,
                   reinterpret_cast<SQLPOINTER>(1), 0, &atExec1);
  SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, 0, 0,
                   reinterpret_cast<SQLPOINTER>(2), 0, &atExec2);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER token = nullptr;
  int asked = 0;
  SQLRETURN rc;
  while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
    ++asked;
    const std::string& value = token == reinterpret_cast<SQLPOINTER>(1) ? text : bytes;
    for (std::size_t at = 0; at < value.size(); at += 4096)
      SQLPutData(stmt_, const_cast<char*>(value.data() + at),
                 static_cast<SQLLEN>(std::min<std::size_t>(4096, value.size() - at)));
  }
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(asked, 2);

  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
      stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT t, b FROM m")), SQL_NTS)));
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  std::u16string wide;
  char16_t piece[1000];
  SQLLEN length = 0;
  while ((rc = SQLGetData(stmt_, 1, SQL_C_WCHAR, piece, sizeof piece, &length)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    const std::size_t got =
        rc == SQL_SUCCESS_WITH_INFO ? sizeof piece / 2 - 1 : static_cast<std::size_t>(length) / 2;
    wide.append(piece, got);
  }
  std::string back;
  for (char16_t u : wide) {  // the text is in the Basic Multilingual Plane
    if (u < 0x80)
      back += static_cast<char>(u);
    else if (u < 0x800)
      back += {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
    else
      back += {static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
               static_cast<char>(0x80 | (u & 0x3F))};
  }
  EXPECT_TRUE(back == text);
  std::string binary;
  char chunk[7000];
  while ((rc = SQLGetData(stmt_, 2, SQL_C_BINARY, chunk, sizeof chunk, &length)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    binary.append(chunk,
                  rc == SQL_SUCCESS_WITH_INFO ? sizeof chunk : static_cast<std::size_t>(length));
  }
  EXPECT_TRUE(binary == bytes);
}

TEST_F(Driver, OpenCursorsOutliveCommitAndRollback) {
  Exec("INSERT INTO k VALUES (1, 1), (2, 2), (3, 3), (4, 4)");
  Manual();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
      stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT id FROM k ORDER BY id")),
      SQL_NTS)));
  SQLINTEGER id = 0;
  SQLLEN ind = 0;
  SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &ind);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 1);
  Exec("INSERT INTO k VALUES (9, 9)");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT)))
      << Diagnostics(SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(id, 2);
  Exec("UPDATE k SET v = 99 WHERE id = 1");  // a row the cursor has passed
  ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK)))
      << Diagnostics(SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(id, 3);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 4);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 9);  // committed before the rollback
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

TEST_F(Driver, DiagnosticsCarrySqlStatesAndTheDatabasesMessage) {
  EXPECT_EQ(
      SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT * FROM nowhere")),
                    SQL_NTS),
      SQL_ERROR);
  const std::string diag = Diagnostics(SQL_HANDLE_STMT, stmt_);
  EXPECT_NE(diag.find("[42S02]"), std::string::npos) << diag;
  EXPECT_NE(diag.find("no such table: nowhere"), std::string::npos) << diag;
  SQLSMALLINT count = 0;
  ASSERT_EQ(Prepare("INSERT INTO k (v, id) VALUES (?, ?)"), SQL_SUCCESS);
  SQLNumParams(stmt_, &count);
  EXPECT_EQ(count, 2);
  SQLSMALLINT type = 0, digits = 0;
  SQLULEN size = 0;
  SQLDescribeParam(stmt_, 1, &type, &size, &digits, nullptr);
  EXPECT_EQ(type, SQL_DECIMAL);
  EXPECT_EQ(digits, 4);
  SQLDescribeParam(stmt_, 2, &type, &size, &digits, nullptr);
  EXPECT_EQ(type, SQL_INTEGER);
}

TEST_F(Driver, ABatchGivesEachResultInTurn) {
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_,
                                          reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                                              "INSERT INTO k VALUES (1, 1); SELECT count(*) FROM "
                                              "k; SELECT 'two'; INSERT INTO k VALUES (2, 2)")),
                                          SQL_NTS)))
      << Diagnostics(SQL_HANDLE_STMT, stmt_);
  char value[16] = {};
  SQLLEN length = 0;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof value, &length);
  EXPECT_STREQ(value, "1");
  ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof value, &length);
  EXPECT_STREQ(value, "two");
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS);  // the last insert ran
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(Scalar("SELECT count(*) FROM k"), "2");
}

}  // namespace

namespace {

// Seven rows to fetch in blocks: NULLs, values that just fit their buffers and values one byte
// over, a long text.
class RowArrays : public Driver {
 protected:
  void SetUp() override {
    Driver::SetUp();
    long_ = std::string(5000, 'L') + "end";
    Exec(
        "CREATE TABLE r (id integer, name varchar(20), price numeric_blob(19,4), w real, "
        "t text, b longvarbinary)");
    Exec("INSERT INTO r VALUES (1, 'abcdefg', 1.5, 0.25, 'short', x'01020304')");
    Exec("INSERT INTO r VALUES (2, 'abcdefgh', NULL, NULL, NULL, x'0102030405')");
    Exec("INSERT INTO r VALUES (3, NULL, '12345678901234567.1234', 1.5, '" + long_ + "', NULL)");
    for (int id = 4; id <= 7; ++id)
      Exec("INSERT INTO r VALUES (" + std::to_string(id) + ", 'n" + std::to_string(id) +
           "', -0.0001, 2, 't', x'')");
  }
  void Select() {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
        stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT * FROM r ORDER BY id")),
        SQL_NTS)));
  }
  std::string long_;
};

TEST_F(RowArrays, BlocksFillEveryBoundColumnPerRowWithStatusAndCount) {
  constexpr SQLULEN kRows = 3;
  SQLINTEGER id[kRows] = {};
  char name[kRows][8] = {}, price[kRows][24] = {}, t[kRows][16] = {};
  float w[kRows] = {};
  unsigned char b[kRows][4] = {};
  SQLLEN idInd[kRows], nameInd[kRows], priceInd[kRows], wInd[kRows], tInd[kRows], bInd[kRows];
  SQLUSMALLINT status[kRows] = {};
  SQLULEN fetched = 99;
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  Select();
  SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, idInd);
  SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name[0], nameInd);
  SQLBindCol(stmt_, 3, SQL_C_CHAR, price, sizeof price[0], priceInd);
  SQLBindCol(stmt_, 4, SQL_C_FLOAT, w, 0, wInd);
  SQLBindCol(stmt_, 5, SQL_C_CHAR, t, sizeof t[0], tInd);
  SQLBindCol(stmt_, 6, SQL_C_BINARY, b, sizeof b[0], bInd);

  // Rows 1-3: "abcdefg" and four bytes just fit; "abcdefgh", five bytes and the long text are
  // cut, each with its full length and its row marked.
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_NE(Diagnostics(SQL_HANDLE_STMT, stmt_).find("[01004]"), std::string::npos);
  EXPECT_EQ(fetched, 3u);
  EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[1], SQL_ROW_SUCCESS_WITH_INFO);
  EXPECT_EQ(status[2], SQL_ROW_SUCCESS_WITH_INFO);
  EXPECT_EQ(id[0], 1);
  EXPECT_EQ(id[2], 3);
  EXPECT_STREQ(name[0], "abcdefg");
  EXPECT_EQ(nameInd[0], 7);
  EXPECT_STREQ(name[1], "abcdefg");
  EXPECT_EQ(nameInd[1], 8);
  EXPECT_EQ(nameInd[2], SQL_NULL_DATA);
  EXPECT_STREQ(price[0], "1.5000");
  EXPECT_EQ(priceInd[1], SQL_NULL_DATA);
  EXPECT_STREQ(price[2], "12345678901234567.1234");
  EXPECT_EQ(w[0], 0.25f);
  EXPECT_EQ(wInd[1], SQL_NULL_DATA);
  EXPECT_EQ(w[2], 1.5f);
  EXPECT_STREQ(t[0], "short");
  EXPECT_EQ(tInd[1], SQL_NULL_DATA);
  EXPECT_EQ(tInd[2], static_cast<SQLLEN>(long_.size()));
  EXPECT_EQ(std::string(t[2]), long_.substr(0, 15));
  EXPECT_EQ(bInd[0], 4);
  EXPECT_EQ(std::memcmp(b[0], "\x01\x02\x03\x04", 4), 0);
  EXPECT_EQ(bInd[1], 5);
  EXPECT_EQ(bInd[2], SQL_NULL_DATA);
  // No row of a block can be read with SQLGetData: the driver says so rather than give one.
  char piece[8];
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(stmt_, 5, SQL_C_CHAR, piece, sizeof piece, &length), SQL_ERROR);
  EXPECT_NE(Diagnostics(SQL_HANDLE_STMT, stmt_).find("[HYC00]"), std::string::npos);

  // Rows 4-6 whole; then the last row alone, the rest of the block marked empty.
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
  EXPECT_EQ(fetched, 3u);
  EXPECT_EQ(id[0], 4);
  EXPECT_STREQ(name[2], "n6");
  EXPECT_STREQ(price[1], "-0.0001");
  EXPECT_EQ(bInd[2], 0);
  status[1] = status[2] = SQL_ROW_SUCCESS;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(id[0], 7);
  EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[1], SQL_ROW_NOROW);
  EXPECT_EQ(status[2], SQL_ROW_NOROW);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(fetched, 0u);
}

// Rows bound as structures, and a long value read whole with SQLGetData once the row array is
// one row again.
TEST_F(RowArrays, RowWiseStructuresAndLongValuesThroughGetData) {
  struct Row {
    SQLINTEGER id;
    SQLLEN idInd;
    char t[16];
    SQLLEN tInd;
  } rows[4] = {};
  SQLULEN fetched = 0;
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(4), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  Select();
  SQLBindCol(stmt_, 1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].idInd);
  SQLBindCol(stmt_, 5, SQL_C_CHAR, rows[0].t, sizeof rows[0].t, &rows[0].tInd);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(fetched, 4u);
  EXPECT_EQ(rows[1].id, 2);
  EXPECT_EQ(rows[1].tInd, SQL_NULL_DATA);
  EXPECT_EQ(rows[2].tInd, static_cast<SQLLEN>(long_.size()));
  EXPECT_STREQ(rows[3].t, "t");
  SQLCloseCursor(stmt_);

  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  Select();
  for (int skip = 0; skip < 2; ++skip) ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_)));
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);  // the bound text is cut
  EXPECT_EQ(rows[0].id, 3);
  std::string whole;
  char piece[1000];
  SQLLEN length = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt_, 5, SQL_C_CHAR, piece, sizeof piece, &length)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diagnostics(SQL_HANDLE_STMT, stmt_);
    whole.append(piece,
                 rc == SQL_SUCCESS_WITH_INFO ? sizeof piece - 1 : static_cast<std::size_t>(length));
  }
  EXPECT_TRUE(whole == long_) << whole.size();
}

}  // namespace
