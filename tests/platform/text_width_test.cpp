// Columns of text in a fixed-width font, and the rows line of a long step.
#include <gtest/gtest.h>

#include "platform/row_progress.h"
#include "platform/text.h"

TEST(DisplayWidth, counts_columns_not_bytes) {
  EXPECT_EQ(platform::DisplayWidth("Orders"), 6u);
  EXPECT_EQ(platform::DisplayWidth("Auftr\xC3\xA4ge"), 8u);           // ä: two bytes, one column
  EXPECT_EQ(platform::DisplayWidth("Umsa\xCC\x88tze"), 7u);           // a + combining diaeresis
  EXPECT_EQ(platform::DisplayWidth("\xE6\x9D\xB1\xE4\xBA\xAC"), 4u);  // two wide characters
  EXPECT_EQ(platform::DisplayWidth("a\xFF"
                                   "b"),
            3u);  // a malformed byte: one
  EXPECT_EQ(platform::PadToWidth("Auftr\xC3\xA4ge", 10), "Auftr\xC3\xA4ge  ");
  EXPECT_EQ(platform::PadToWidth("Customers", 4), "Customers");  // never cut
}

TEST(RowsText, says_rows_done_rate_and_time_left_as_far_as_known) {
  EXPECT_EQ(platform::RowsText(120000, 500000, 0), "120000 of 500000 rows");
  EXPECT_EQ(platform::RowsText(120000, 500000, 190000),
            "120000 of 500000 rows, 190000 rows/s, 2 s left");
  EXPECT_EQ(platform::RowsText(120000, 0, 1000.4), "120000 rows, 1000 rows/s");
  EXPECT_EQ(platform::RowsText(500000, 500000, 1000), "500000 of 500000 rows, 1000 rows/s");
}
