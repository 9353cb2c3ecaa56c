// Diagnostics as applications read them: records by number, fields, the old SQLError that
// consumes them, in ANSI and wide forms; reading never adds a record.
#include <gtest/gtest.h>

#include <cstring>

#include "norvane/odbc/diagnostics.h"
#include "norvane/odbc/unicode.h"

using namespace norvane::odbc;

namespace {

std::u16string FromBuffer(const SQLWCHAR* b) {
  return reinterpret_cast<const char16_t*>(b);
}

struct TwoRecords : ::testing::Test {
  void SetUp() override {
    env.diag = {{"42S02", 1, "[Norvane][ODBC] no such table: Größe"},
                {"01004", 0, "[Norvane][ODBC] String data, right truncated"}};
    env.lastReturn = SQL_SUCCESS_WITH_INFO;
  }
  Env env;
};

TEST_F(TwoRecords, records_by_number_with_truncation_that_adds_no_record) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = -1;
  SQLCHAR message[256] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(
      SQLGetDiagRec(SQL_HANDLE_ENV, &env, 1, state, &native, message, sizeof message, &length),
      SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "42S02");
  EXPECT_EQ(native, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Norvane][ODBC] no such table: Größe");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen("[Norvane][ODBC] no such table: Größe")));

  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_ENV, &env, 2, state, &native, message, 8, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Norvan");
  EXPECT_EQ(env.diag.size(), 2u);

  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_ENV, &env, 3, state, &native, message, 8, &length),
            SQL_NO_DATA);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_ENV, &env, 0, state, &native, message, 8, &length), SQL_ERROR);
  // The handle is not a connection.
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, &env, 1, state, &native, message, 8, &length),
            SQL_INVALID_HANDLE);
}

TEST_F(TwoRecords, wide_record_counts_characters_and_wide_field_counts_bytes) {
  SQLWCHAR state[6] = {};
  SQLWCHAR message[256] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_ENV, &env, 1, state, nullptr, message, 256, &length),
            SQL_SUCCESS);
  EXPECT_EQ(FromBuffer(state), u"42S02");
  const std::u16string expected = u"[Norvane][ODBC] no such table: Größe";
  EXPECT_EQ(FromBuffer(message), expected);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(expected.size()));

  ASSERT_EQ(SQLGetDiagFieldW(SQL_HANDLE_ENV, &env, 1, SQL_DIAG_MESSAGE_TEXT, message, 10, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FromBuffer(message), u"[Nor");  // 10 bytes: four characters and the terminator
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(expected.size() * 2));
  EXPECT_EQ(env.diag.size(), 2u);
}

TEST_F(TwoRecords, header_and_record_fields) {
  SQLINTEGER count = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  SQLRETURN code = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, 0, SQL_DIAG_RETURNCODE, &code, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(code, SQL_SUCCESS_WITH_INFO);

  char text[64];
  SQLSMALLINT length = 0;
  auto field = [&](SQLSMALLINT record, SQLSMALLINT id) {
    std::memset(text, 0, sizeof text);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, record, id, text, sizeof text, &length),
              SQL_SUCCESS);
    return std::string(text);
  };
  EXPECT_EQ(field(1, SQL_DIAG_SQLSTATE), "42S02");
  EXPECT_EQ(field(1, SQL_DIAG_CLASS_ORIGIN), "ISO 9075");
  EXPECT_EQ(field(1, SQL_DIAG_SUBCLASS_ORIGIN), "ODBC 3.0");  // 42S02 is ODBC's own
  EXPECT_EQ(field(2, SQL_DIAG_SUBCLASS_ORIGIN), "ISO 9075");
  EXPECT_EQ(SubclassOrigin("HYT00"), std::string("ODBC 3.0"));
  EXPECT_EQ(ClassOrigin("IM002"), std::string("ODBC 3.0"));

  // Statement-only header fields on an environment, a record past the last, an unknown field.
  SQLLEN rows = 0;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, 0, SQL_DIAG_ROW_COUNT, &rows, 0, nullptr),
            SQL_ERROR);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, 3, SQL_DIAG_SQLSTATE, text, 64, &length),
            SQL_NO_DATA);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, &env, 1, 12345, text, 64, &length), SQL_ERROR);
}

TEST_F(TwoRecords, sqlerror_hands_out_each_record_once_in_order) {
  SQLCHAR state[6];
  SQLCHAR message[128];
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLError(&env, nullptr, nullptr, state, nullptr, message, sizeof message, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "42S02");
  ASSERT_EQ(SQLError(&env, nullptr, nullptr, state, nullptr, message, sizeof message, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "01004");
  EXPECT_EQ(SQLError(&env, nullptr, nullptr, state, nullptr, message, sizeof message, &length),
            SQL_NO_DATA);
  EXPECT_EQ(SQLError(nullptr, nullptr, nullptr, state, nullptr, message, 1, &length),
            SQL_INVALID_HANDLE);
}

}  // namespace
