// What the driver says about itself: SQLGetInfo's answers and their widths, and SQLGetFunctions
// against the symbols the built library really exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "norvane/odbc/core.h"
#include "norvane/odbc/info.h"

using namespace norvane::odbc;

namespace {

std::set<std::string> ExportedEntryPoints() {
  std::set<std::string> names;
  FILE* nm = popen("nm -D --defined-only " NORVANE_ODBC_DRIVER, "r");
  if (nm == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name && type == "T" && name.rfind("SQL", 0) == 0)
      names.insert(name);
  }
  pclose(nm);
  return names;
}

TEST(Functions, every_answer_matches_the_library_exports) {
  const std::set<std::string> exported = ExportedEntryPoints();
  ASSERT_FALSE(exported.empty()) << "no SQL* symbols in " NORVANE_ODBC_DRIVER;
  std::set<std::string> known;
  SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE];
  GetFunctions(SQL_API_ODBC3_ALL_FUNCTIONS, bitmap);
  SQLUSMALLINT list[100];
  GetFunctions(SQL_API_ALL_FUNCTIONS, list);
  for (const ApiFunction& f : ApiFunctions()) {
    known.insert(f.name);
    const bool there = exported.count(f.name) != 0;
    EXPECT_EQ(f.exported, there) << f.name;
    EXPECT_EQ(SQL_FUNC_EXISTS(bitmap, f.id) == SQL_TRUE, there) << f.name << " in the bitmap";
    if (f.id < 100) {
      EXPECT_EQ(list[f.id] == SQL_TRUE, there) << f.name << " in the list";
    }
    SQLUSMALLINT one = 99;
    GetFunctions(f.id, &one);
    EXPECT_EQ(one == SQL_TRUE, there) << f.name << " alone";
  }
  // Every ANSI entry point the library exports is one SQLGetFunctions knows.
  for (const std::string& name : exported) {
    if (name.back() != 'W') {
      EXPECT_TRUE(known.count(name)) << name << " is exported but unknown";
    }
  }
}

struct Info : ::testing::Test {
  void SetUp() override {
    dbc.env = &env;
    dbc.file = "/srv/data/Firma.nvd";
    dbc.completed = "DSN=Firma;UID={admin;1};Database=/srv/data/Firma.nvd";
  }
  std::string Text(SQLUSMALLINT type) {
    std::string text;
    EXPECT_TRUE(GetInfo(dbc, type, nullptr, 0, nullptr, &text)) << type;
    return text;
  }
  // The number and how many bytes it took; the bytes after it stay untouched.
  std::pair<SQLUINTEGER, SQLSMALLINT> Number(SQLUSMALLINT type) {
    unsigned char buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    SQLSMALLINT length = 0;
    std::string text;
    EXPECT_FALSE(GetInfo(dbc, type, buffer, sizeof buffer, &length, &text)) << type;
    for (std::size_t i = static_cast<std::size_t>(length); i < sizeof buffer; ++i)
      EXPECT_EQ(buffer[i], 0xAB) << "info " << type << " wrote past its width";
    SQLUINTEGER v = 0;
    if (length == 2) {
      SQLUSMALLINT s = 0;
      std::memcpy(&s, buffer, 2);
      v = s;
    } else {
      std::memcpy(&v, buffer, 4);
    }
    return {v, length};
  }
  Env env;
  Dbc dbc;
};

TEST_F(Info, texts_from_the_driver_and_from_the_connection) {
  EXPECT_EQ(Text(SQL_DRIVER_NAME), "libnorvaneodbc.so");
  EXPECT_EQ(Text(SQL_DRIVER_ODBC_VER), "03.52");
  EXPECT_EQ(Text(SQL_DBMS_NAME), "Norvane");
  EXPECT_EQ(Text(SQL_DBMS_VER).rfind("01.00.0000 (SQLite 3.", 0), 0u) << Text(SQL_DBMS_VER);
  EXPECT_EQ(Text(SQL_DATA_SOURCE_NAME), "Firma");
  EXPECT_EQ(Text(SQL_USER_NAME), "admin;1");
  EXPECT_EQ(Text(SQL_DATABASE_NAME), "/srv/data/Firma.nvd");
  EXPECT_EQ(Text(SQL_IDENTIFIER_QUOTE_CHAR), "\"");
  EXPECT_EQ(Text(SQL_SEARCH_PATTERN_ESCAPE), "\\");
  EXPECT_EQ(Text(SQL_DATA_SOURCE_READ_ONLY), "N");
  // A file opened read-only says so.
  ASSERT_EQ(sqlite3_open_v2(":memory:", &dbc.db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(Text(SQL_DATA_SOURCE_READ_ONLY), "Y");
}

TEST_F(Info, numbers_have_the_width_odbc_gives_them) {
  EXPECT_EQ(Number(SQL_ACTIVE_STATEMENTS), std::make_pair(SQLUINTEGER{0}, SQLSMALLINT{2}));
  EXPECT_EQ(Number(SQL_TXN_CAPABLE), std::make_pair(SQLUINTEGER{SQL_TC_ALL}, SQLSMALLINT{2}));
  EXPECT_EQ(Number(SQL_CURSOR_COMMIT_BEHAVIOR),
            std::make_pair(SQLUINTEGER{SQL_CB_PRESERVE}, SQLSMALLINT{2}));
  EXPECT_EQ(Number(SQL_NULL_COLLATION), std::make_pair(SQLUINTEGER{SQL_NC_LOW}, SQLSMALLINT{2}));
  EXPECT_EQ(Number(SQL_GETDATA_EXTENSIONS),
            std::make_pair(SQLUINTEGER{SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND},
                           SQLSMALLINT{4}));
  EXPECT_EQ(Number(SQL_TXN_ISOLATION_OPTION),
            std::make_pair(SQLUINTEGER{SQL_TXN_SERIALIZABLE}, SQLSMALLINT{4}));
  EXPECT_EQ(Number(SQL_SCROLL_OPTIONS),
            std::make_pair(SQLUINTEGER{SQL_SO_FORWARD_ONLY}, SQLSMALLINT{4}));
  EXPECT_EQ(Number(SQL_PARAM_ARRAY_ROW_COUNTS),
            std::make_pair(SQLUINTEGER{SQL_PARC_BATCH}, SQLSMALLINT{4}));
  EXPECT_EQ(Number(SQL_CONVERT_VARCHAR), std::make_pair(SQLUINTEGER{0}, SQLSMALLINT{4}));
}

TEST_F(Info, unknown_type_is_hy096_and_the_wide_form_counts_bytes) {
  std::string text;
  try {
    GetInfo(dbc, 4321, nullptr, 0, nullptr, &text);
    ADD_FAILURE() << "an unknown information type was answered";
  } catch (const DriverError& e) {
    EXPECT_EQ(e.state, "HY096");
  }
  SQLWCHAR buffer[4];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetInfoW(&dbc, SQL_DBMS_NAME, buffer, sizeof buffer, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, 14);  // "Norvane": seven characters, 14 bytes
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"Nor");
  ASSERT_FALSE(dbc.diag.empty());
  EXPECT_EQ(dbc.diag.back().state, "01004");
}

}  // namespace
