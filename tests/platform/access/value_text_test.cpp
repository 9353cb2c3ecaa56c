// Exact text forms of Access values.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/access/rows.h"

namespace {

using namespace platform::access;

TEST(ValueText, currency_keeps_all_nineteen_digits_and_its_sign) {
  EXPECT_EQ(CurrencyText(109900), "10.9900");
  EXPECT_EQ(CurrencyText(-1), "-0.0001");
  EXPECT_EQ(CurrencyText(0), "0.0000");
  EXPECT_EQ(CurrencyText(INT64_MAX), "922337203685477.5807");
  EXPECT_EQ(CurrencyText(INT64_MIN), "-922337203685477.5808");
}

TEST(ValueText, dates_keep_time_of_day_including_the_zero_day) {
  std::string text;
  ASSERT_TRUE(DateTimeText(0.4375, text));
  EXPECT_EQ(text, "1899-12-30 10:30:00");
  ASSERT_TRUE(DateTimeText(0.0, text));
  EXPECT_EQ(text, "1899-12-30 00:00:00");
  ASSERT_TRUE(DateTimeText(36526.5, text));
  EXPECT_EQ(text, "2000-01-01 12:00:00");
  // Before the zero day the fraction still counts forward from midnight.
  ASSERT_TRUE(DateTimeText(-1.25, text));
  EXPECT_EQ(text, "1899-12-29 06:00:00");
  // Rounding up to midnight moves to the next day.
  ASSERT_TRUE(DateTimeText(1.9999999999, text));
  EXPECT_EQ(text, "1900-01-01 00:00:00");
  ASSERT_TRUE(DateTimeText(2958465.0, text));
  EXPECT_EQ(text, "9999-12-31 00:00:00");
  ASSERT_TRUE(DateTimeText(2958465.0 + 86399.0 / 86400.0, text));
  EXPECT_EQ(text, "9999-12-31 23:59:59");
  ASSERT_TRUE(DateTimeText(-657434.0, text));
  EXPECT_EQ(text, "0100-01-01 00:00:00");
  // Half a second before the year 10000 would round into a five-digit year.
  EXPECT_FALSE(DateTimeText(2958466.0 - 0.4 / 86400.0, text));
  EXPECT_FALSE(DateTimeText(1e12, text));
  EXPECT_FALSE(DateTimeText(-1e9, text));
}

TEST(ValueText, decimal_uses_scale_and_all_sixteen_magnitude_bytes) {
  // 123456789012.123456 = 0x1B69B4BA630F3D40 with scale 6, low word first within each word.
  unsigned char value[17] = {0};
  const std::uint64_t v = 123456789012123456ull;
  // Words are stored most significant first; each word little-endian.
  auto putWord = [&](int word, std::uint32_t w) {
    for (int b = 0; b < 4; ++b) value[1 + 4 * word + b] = static_cast<unsigned char>(w >> (8 * b));
  };
  putWord(3, static_cast<std::uint32_t>(v));
  putWord(2, static_cast<std::uint32_t>(v >> 32));
  EXPECT_EQ(DecimalText(value, 6), "123456789012.123456");
  value[0] = 0x80;
  EXPECT_EQ(DecimalText(value, 6), "-123456789012.123456");
  unsigned char small[17] = {0x80};
  small[13] = 5;
  EXPECT_EQ(DecimalText(small, 3), "-0.005");
  unsigned char zero[17] = {0x80};
  EXPECT_EQ(DecimalText(zero, 2), "0.00");
  unsigned char big[17] = {0};
  putWord(0, 1);  // 2^96
  for (int b = 0; b < 4; ++b) big[1 + b] = value[1 + b];
  EXPECT_EQ(DecimalText(big, 0), "79228162514264337593543950336");
}

TEST(ValueText, guid_in_registry_form) {
  const unsigned char bytes[16] = {0x7A, 0xA9, 0x40, 0x6C, 0x45, 0xD3, 0xD3, 0x34,
                                   0xA7, 0x3B, 0x46, 0xB8, 0xB1, 0x30, 0xA9, 0x36};
  EXPECT_EQ(GuidText(bytes), "{6C40A97A-D345-34D3-A73B-46B8B130A936}");
}

TEST(ValueText, jet4_text_plain_and_compressed) {
  std::string out;
  const unsigned char plain[] = {'G', 0, 0xF6, 0, 0xDF, 0, 'e', 0};
  Jet4TextToUtf8(plain, sizeof plain, out);
  EXPECT_EQ(out, "Göße");
  // Compressed: one-byte run, switch to two-byte units for U+20AC, back to one-byte.
  const unsigned char compressed[] = {0xFF, 0xFE, 'a', 'b', 0, 0xAC, 0x20, 0, 'c'};
  Jet4TextToUtf8(compressed, sizeof compressed, out);
  EXPECT_EQ(out, "ab€c");
  const unsigned char pair[] = {0x3D, 0xD8, 0x00, 0xDE};  // U+1F600
  Jet4TextToUtf8(pair, sizeof pair, out);
  EXPECT_EQ(out, "\xF0\x9F\x98\x80");
  const unsigned char lone[] = {0x3D, 0xD8, 'x', 0};
  Jet4TextToUtf8(lone, sizeof lone, out);
  EXPECT_EQ(out, "\xEF\xBF\xBDx");
}

TEST(ValueText, canonical_decimals_are_equal_exactly_when_the_numbers_are) {
  const std::pair<const char*, const char*> cases[] = {
      {"-012.50", "-12.5"},
      {"12.0000", "12"},
      {"12.0", "12"},
      {"-0.0000", "0"},
      {"0.0", "0"},
      {"0.0001", "0.0001"},
      {"1.0e-05", "0.00001"},
      {"1.0e+15", "1000000000000000"},
      {"-1.25e1", "-12.5"},
      {"922337203685477.5807", "922337203685477.5807"},
      {"1234567890123456789012345678", "1234567890123456789012345678"},
      {"100", "100"},
      {"abc", "abc"},  // not a number: unchanged
      {"1.2.3", "1.2.3"},
      {"", ""},
      {".5", "0.5"},
      {"5.", "5"},
      {"+5.10", "5.1"},
      {"-.0", "0"},
      {"1e", "1e"},
      {"0.05e1", "0.5"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(CanonicalDecimal(in), out) << in;
    // Appended after what a row already holds, which stays as it was.
    std::string row = "7\x1f";
    platform::access::AppendCanonicalDecimal(row, in);
    EXPECT_EQ(row, std::string("7\x1f") + out) << in;
  }
}

}  // namespace
