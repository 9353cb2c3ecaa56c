// The tables a lookup's row source names, as the report checks them against the migrated ones.
#include "platform/display_properties.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

TEST(RowSourceTables, a_name_is_the_table_and_a_select_names_its_from_and_join_tables) {
  EXPECT_EQ(platform::RowSourceTables("Shippers"), Names{"Shippers"});
  EXPECT_EQ(platform::RowSourceTables(" [Order Details] "), Names{"Order Details"});
  // nwind's lookups, bracketed and bare.
  EXPECT_EQ(platform::RowSourceTables("SELECT DISTINCTROW [CustomerID],[CompanyName] FROM "
                                      "[Customers] ORDER BY [CompanyName];"),
            Names{"Customers"});
  EXPECT_EQ(platform::RowSourceTables("SELECT DISTINCTROW Employees.EmployeeID, [LastName] & "
                                      "\", \" & [FirstName] AS Name FROM Employees ORDER BY "
                                      "Employees.LastName;"),
            Names{"Employees"});
  EXPECT_EQ(platform::RowSourceTables("select a.x from Aufträge as a inner join [Kunden Liste] k "
                                      "on a.k = k.k, Extra"),
            (Names{"Aufträge", "Kunden Liste"}));
  EXPECT_EQ(platform::RowSourceTables("SELECT x FROM A, [B C] , D WHERE 1"),
            (Names{"A", "B C", "D"}));
  // A word that only contains "from" is no keyword; no row source names nothing.
  EXPECT_EQ(platform::RowSourceTables("SELECT fromage FROM Käse"), Names{"Käse"});
  EXPECT_EQ(platform::RowSourceTables(""), Names{});
}

TEST(LeftOffLinks, only_what_no_link_carries_replaces_or_leaves_to_the_database) {
  // Carried onto the link, on a table or on a column; compared without regard to letter case.
  EXPECT_FALSE(platform::LeftOffLinks("OrderBy", false));
  EXPECT_FALSE(platform::LeftOffLinks("backtint", false));
  EXPECT_FALSE(platform::LeftOffLinks("Caption", true));
  EXPECT_FALSE(platform::LeftOffLinks("TextAlign", true));
  // The link's own, and what the Norvane table enforces.
  EXPECT_FALSE(platform::LeftOffLinks("GUID", true));
  EXPECT_FALSE(platform::LeftOffLinks("NameMap", false));
  EXPECT_FALSE(platform::LeftOffLinks("ValidationRule", false));
  EXPECT_FALSE(platform::LeftOffLinks("Required", true));
  // A column's property on the table, or one no link holds, is left behind.
  EXPECT_TRUE(platform::LeftOffLinks("Caption", false));
  EXPECT_TRUE(platform::LeftOffLinks("OrderBy", true));
  EXPECT_TRUE(platform::LeftOffLinks("ColIsGuid", false));
  EXPECT_TRUE(platform::LeftOffLinks("Expression", true));
}

}  // namespace
