// The driver's rules for Norvane's types: declared types as applications see them, decimals at
// their scale, the storage rule for exact numbers, UTF-16 text.
#include "norvane/odbc/types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace norvane::odbc {
namespace {

TEST(DeclaredTypes, AreTheAccessTypesAnApplicationExpects) {
  struct Case {
    const char* declared;
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
  } cases[] = {
      {"numeric_blob(19,4)", SQL_DECIMAL, 19, 4},
      {"numeric_blob(28, 10)", SQL_DECIMAL, 28, 10},
      {"real", SQL_REAL, 24, 0},
      {"float", SQL_REAL, 24, 0},
      {"double", SQL_DOUBLE, 53, 0},
      {"tinyint", SQL_TINYINT, 3, 0},
      {"smallint", SQL_SMALLINT, 5, 0},
      {"integer", SQL_INTEGER, 10, 0},
      {"bit", SQL_BIT, 1, 0},
      {"timestamp", SQL_TYPE_TIMESTAMP, 23, 3},
      {"time", SQL_TYPE_TIME, 8, 0},
      {"varchar(60)", SQL_WVARCHAR, 60, 0},
      {"TEXT", SQL_WLONGVARCHAR, 1073741823, 0},
      {"longvarbinary", SQL_LONGVARBINARY, 2147483647, 0},
      {"guid", SQL_GUID, 36, 0},
      {"char(38)", SQL_WCHAR, 38, 0},
  };
  for (const Case& c : cases) {
    const ColumnInfo info = ColumnOfDeclared(c.declared);
    EXPECT_EQ(info.sqlType, c.type) << c.declared;
    EXPECT_EQ(info.size, c.size) << c.declared;
    EXPECT_EQ(info.digits, c.digits) << c.declared;
  }
}

TEST(DeclaredTypes, EveryTypeTheDriverCreatesReadsBackAsItself) {
  for (const TypeRow& row : TypeRows()) {
    std::string declared = row.name;
    if (row.createParams && std::string(row.createParams) == "precision,scale")
      declared += "(19,4)";
    else if (row.createParams)
      declared += "(10)";
    EXPECT_EQ(ColumnOfDeclared(declared).sqlType, row.sqlType) << declared;
  }
}

TEST(Decimals, AtTheColumnsScale) {
  EXPECT_EQ(DecimalAtScale("12.5", 4), "12.5000");
  EXPECT_EQ(DecimalAtScale("12345678901234.1001", 4), "12345678901234.1001");
  EXPECT_EQ(DecimalAtScale("-0.0001", 4), "-0.0001");
  EXPECT_EQ(DecimalAtScale("0", 0), "0");
  EXPECT_EQ(DecimalAtScale("-0.00004", 4), "0.0000");
  EXPECT_EQ(DecimalAtScale("0.00005", 4), "0.0001");
  EXPECT_EQ(DecimalAtScale("9.99995", 4), "10.0000");
  EXPECT_EQ(DecimalAtScale("1e3", 2), "1000.00");
  EXPECT_EQ(DecimalAtScale("+.5", 1), "0.5");
  EXPECT_EQ(DecimalAtScale("-7", 0), "-7");
  EXPECT_EQ(DecimalAtScale("-0.5", 0), "-1");
  EXPECT_EQ(DecimalAtScale("0.012", 4), "0.0120");
  EXPECT_EQ(DecimalAtScale("-0.012", 2), "-0.01");
  EXPECT_THROW(DecimalAtScale("12a", 2), DriverError);
  EXPECT_THROW(DecimalAtScale("", 2), DriverError);
}

TEST(Decimals, ADoubleHoldsThoseWithFifteenDigits) {
  double d = 0;
  EXPECT_TRUE(HeldByDouble("92233720368.4775", d));
  EXPECT_EQ(d, 92233720368.4775);
  EXPECT_TRUE(HeldByDouble("100000000000000000000.0000", d));  // one significant digit
  EXPECT_FALSE(HeldByDouble("12345678901234.1001", d));
  EXPECT_FALSE(HeldByDouble("922337203685477.5807", d));
  EXPECT_FALSE(HeldByDouble("abc", d));
}

// The forms a decimal parameter takes: what a double holds is bound as one, the rest is refused
// here (and stored as its text, or refused as no number).
TEST(Decimals, ADoubleHoldsEveryFormOfFifteenDigitsAndNoOther) {
  const struct {
    const char* text;
    bool held;
    double value;
  } cases[] = {
      {"0.0100", true, 0.01},
      {" -12.5\t", true, -12.5},
      {"+.5", true, 0.5},
      {"5.", true, 5},
      {"000000000000000000001.5", true, 1.5},
      {"0.000000000000000000012345678901234", true, 1.2345678901234e-20},
      {"123456789012345", true, 123456789012345.0},
      {"1234567890123450000", true, 1.23456789012345e18},
      {"1.5e3", true, 1500},
      {"1.5E+3", true, 1500},
      {"-1.5e-3", true, -0.0015},
      {"1234567890123456", false, 0},
      {"1.000000000000001", false, 0},
      {"1e", false, 0},
      {"1e+", false, 0},
      {"1e3x", false, 0},
      {"1.2.3", false, 0},
      {"12a", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-.", false, 0},
      {"1e400", false, 0},
      {"1e99999999999", false, 0},
  };
  for (const auto& c : cases) {
    double d = -1;
    EXPECT_EQ(HeldByDouble(c.text, d), c.held) << c.text;
    if (c.held) {
      EXPECT_EQ(d, c.value) << c.text;
    }
  }
  // Zero in any form is a plain zero, without its sign.
  for (const char* zero : {"-0.0000", "0", "-000.000e5", ".0"}) {
    double d = -1;
    EXPECT_TRUE(HeldByDouble(zero, d)) << zero;
    EXPECT_EQ(d, 0) << zero;
    EXPECT_FALSE(std::signbit(d)) << zero;
  }
}

TEST(Doubles, TextBringsTheSameDoubleBack) {
  for (double v : {0.05000000074505806, 0.1 + 0.2, 1e300, -2.2250738585072014e-308, 5e-324}) {
    const std::string text = DoubleText(v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
  EXPECT_EQ(DoubleText(0.05000000074505806), "0.05000000074505806");
}

TEST(Text, Utf16BothWaysWithSurrogatePairs) {
  const std::string text = "Größe € 𝄞";
  const std::u16string wide = Utf16Of(text);
  EXPECT_EQ(wide.size(), 10u);  // the clef is a surrogate pair
  EXPECT_EQ(Utf8Of(wide.data(), wide.size()), text);
}

}  // namespace
}  // namespace norvane::odbc
