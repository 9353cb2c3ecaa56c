// The types Access gives linked ODBC columns, and what the report forecasts from them.
#include "platform/linked_types.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace platform::jet_type;

constexpr int kSqlTime = 92, kSqlTimestamp = 93, kSqlDecimal = 3, kSqlBigInt = -5, kSqlInteger = 4,
              kSqlDouble = 8, kSqlBit = -7, kSqlVarChar = 12, kSqlWVarChar = -9, kSqlVarBinary = -3;

TEST(LinkedTypes, follow_access_rules_by_type_size_and_scale) {
  EXPECT_EQ(platform::LinkedTypeOf(kSqlTime, 8, 0).type, kText);
  EXPECT_EQ(platform::LinkedTypeOf(10, 8, 0).type, kText);  // ODBC 2 SQL_TIME
  EXPECT_EQ(platform::LinkedTypeOf(kSqlTimestamp, 23, 3).type, kDateTime);
  // DECIMAL and NUMERIC: whole numbers as integers, up to 15 digits Double, beyond as Text.
  EXPECT_EQ(platform::LinkedTypeOf(kSqlDecimal, 4, 0).type, kInteger);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlDecimal, 5, 0).type, kLong);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlDecimal, 9, 0).type, kLong);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlDecimal, 9, 2).type, kDouble);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlDecimal, 15, 4).type, kDouble);
  const platform::LinkedType wide = platform::LinkedTypeOf(kSqlDecimal, 18, 4);
  EXPECT_EQ(wide.type, kText);
  EXPECT_EQ(wide.chars, 20);  // digits, sign and point
  const platform::LinkedType big = platform::LinkedTypeOf(kSqlBigInt, 19, 0);
  EXPECT_EQ(big.type, kText);
  EXPECT_TRUE(big.bigint);
  // Text up to 255 characters, Memo beyond; the same for the wide forms.
  EXPECT_EQ(platform::LinkedTypeOf(kSqlVarChar, 255, 0).chars, 255);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlWVarChar, 256, 0).type, kMemo);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlVarBinary, 16, 0).type, kBinary);
  EXPECT_EQ(platform::LinkedTypeOf(kSqlVarBinary, 4000, 0).type, kOle);
  EXPECT_EQ(platform::LinkedTypeOf(-400, 0, 0).type, 0);  // unknown to Access
}

platform::LinkedColumn Column(const std::string& name, int sqlType, const std::string& typeName,
                              long size, int digits, bool nullable, int accessType) {
  return {name, sqlType, size, digits, typeName, nullable, accessType, {}, {}};
}

TEST(LinkForecast, marks_the_columns_access_shows_otherwise_and_warns_of_the_traps) {
  const std::vector<platform::LinkedColumn> columns = {
      Column("ID", kSqlInteger, "integer", 10, 0, false, kLong),
      Column("ShipTime", kSqlTime, "time", 8, 0, true, kDateTime),
      Column("Amount", kSqlDecimal, "numeric_blob", 18, 4, true, kDecimal),
      Column("Counter", kSqlBigInt, "bigint", 19, 0, true, 0),
      Column("Weight", kSqlDouble, "double", 15, 0, true, kDouble),
      Column("Paid", kSqlBit, "bit", 1, 0, true, kBoolean)};
  const platform::LinkForecast f = platform::ForecastLink(columns, {"ID"}, "Norvane");
  EXPECT_THAT(f.columns, ElementsAre("ID Long Integer", "ShipTime Text", "Amount Text",
                                     "Counter Text (Large Number with Access's BigInt option)",
                                     "Weight Double", "Paid Yes/No"));
  EXPECT_THAT(f.differ,
              ElementsAre("ShipTime: Date/Time in Access, time on Norvane, the link shows Text",
                          "Amount: Decimal in Access, numeric_blob on Norvane, the link shows "
                          "Text"));
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_THAT(f.warnings[0], HasSubstr("write conflicts"));
  EXPECT_THAT(f.warnings[0], HasSubstr("(Weight, Paid)"));

  // A row version keeps Access from comparing the columns; a float or nullable key column
  // gives #Deleted rows.
  std::vector<platform::LinkedColumn> versioned = columns;
  versioned.push_back(Column("RV", kSqlVarBinary, "timestamp", 8, 0, false, 0));
  const platform::LinkForecast g =
      platform::ForecastLink(versioned, {"Weight", "ShipTime"}, "Norvane");
  ASSERT_EQ(g.warnings.size(), 1u);
  EXPECT_THAT(g.warnings[0], HasSubstr("#Deleted"));
  EXPECT_THAT(g.warnings[0], HasSubstr("(ShipTime, Weight)"));

  // The front end's properties stay behind on the renamed table, and the report says which.
  std::vector<platform::LinkedColumn> shown = {columns[0], columns[1]};
  shown[0].displayProperties = {"Caption", "Format"};
  shown[1].displayProperties = {"Caption", "RowSource", "DisplayControl"};
  const platform::LinkForecast h = platform::ForecastLink(shown, {"ID"}, "Norvane");
  ASSERT_EQ(h.warnings.size(), 1u);
  EXPECT_EQ(h.warnings[0],
            "not carried onto the link, kept on the renamed table: Caption (ID, ShipTime); "
            "Format (ID); RowSource (ShipTime); DisplayControl (ShipTime)");
  // The table's own come first; the properties no link holds have a warning of their own.
  shown[1].propertiesLeftOff = {"Expression"};
  const platform::LinkForecast t =
      platform::ForecastLink(shown, {"ID"}, "Norvane", {{"OrderBy", "Filter"}, {"ColIsGuid"}});
  ASSERT_EQ(t.warnings.size(), 2u);
  EXPECT_EQ(t.warnings[0],
            "not carried onto the link, kept on the renamed table: OrderBy, Filter (the table); "
            "Caption (ID, ShipTime); Format (ID); RowSource (ShipTime); DisplayControl "
            "(ShipTime)");
  EXPECT_EQ(t.warnings[1],
            "properties a link does not hold (Access keeps none of them on a link it makes), "
            "kept on the renamed table: ColIsGuid (the table); Expression (ShipTime)");
  const platform::LinkForecast onlyTable =
      platform::ForecastLink({columns[0]}, {"ID"}, "Norvane", {{"OrderBy"}, {}});
  EXPECT_EQ(onlyTable.warnings,
            std::vector<std::string>{
                "not carried onto the link, kept on the renamed table: OrderBy (the table)"});

  // On PostgreSQL a "timestamp" is a date and time (psqlODBC's SQL_TYPE_TIMESTAMP), no row
  // version: the write conflicts of the float and the nullable Yes/No column are still named.
  std::vector<platform::LinkedColumn> dated = columns;
  dated.push_back(Column("OrderDate", kSqlTimestamp, "timestamp", 26, 6, true, kDateTime));
  const platform::LinkForecast pg = platform::ForecastLink(dated, {"ID"}, "PostgreSQL");
  ASSERT_EQ(pg.warnings.size(), 1u);
  EXPECT_THAT(pg.warnings[0], HasSubstr("write conflicts"));
  EXPECT_THAT(pg.warnings[0], HasSubstr("(Weight, Paid)"));
  EXPECT_EQ(pg.columns.back(), "OrderDate Date/Time");
  EXPECT_THAT(pg.differ, Contains("ShipTime: Date/Time in Access, time on PostgreSQL, the link "
                                  "shows Text"));
  EXPECT_TRUE(platform::ForecastLink(dated, {"ID"}, "Norvane").warnings.empty());

  // A keyless table: no warning of its own (the report says it opens read-only).
  const platform::LinkForecast keyless = platform::ForecastLink({columns[0]}, {}, "Norvane");
  EXPECT_TRUE(keyless.warnings.empty());
  EXPECT_TRUE(keyless.differ.empty());
}

}  // namespace
