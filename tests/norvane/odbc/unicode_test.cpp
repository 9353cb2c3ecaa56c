// The wide edge of the driver: UTF-8 <-> UTF-16 and copies out in characters or bytes.
#include "norvane/odbc/unicode.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace norvane::odbc;

namespace {

const SQLWCHAR* W(const char16_t* s) {
  return reinterpret_cast<const SQLWCHAR*>(s);
}
std::u16string FromBuffer(const SQLWCHAR* b) {
  return reinterpret_cast<const char16_t*>(b);
}

TEST(WideText, broken_input_becomes_replacement_characters_and_nothing_is_lost_after_it) {
  EXPECT_EQ(Utf16Of("a\xC3"), u"a\uFFFD");    // cut sequence at the end
  EXPECT_EQ(Utf16Of("\xC3(b"), u"\uFFFD(b");  // lead byte without its continuation
  EXPECT_EQ(Utf16Of("\xC0\xAF"
                    "x"),
            u"\uFFFD\uFFFDx");                                // overlong "/"
  EXPECT_EQ(Utf16Of("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
  EXPECT_EQ(Utf8Of(u"x\xD800y", 3), "x\xEF\xBF\xBDy");        // a lone high surrogate
  EXPECT_EQ(Utf8Of(u"\xDC00", 1), "\xEF\xBF\xBD");            // a lone low surrogate
}

TEST(WideText, arguments_by_terminator_or_length_in_characters) {
  EXPECT_FALSE(WideArg(nullptr, SQL_NTS).has_value());
  EXPECT_EQ(WideArg(W(u"Größe"), SQL_NTS), "Größe");
  EXPECT_EQ(WideArg(W(u"Größe"), 3), "Grö");
  EXPECT_EQ(WideArg(W(u"Größe"), 0), "");
  try {
    WideArg(W(u"x"), -7);
    ADD_FAILURE() << "a negative length other than SQL_NTS was accepted";
  } catch (const DriverError& e) {
    EXPECT_EQ(e.state, "HY090");
  }
}

TEST(WideText, copies_out_count_characters_or_bytes_and_never_split_a_pair) {
  Env env;
  SQLWCHAR buffer[8];
  SQLSMALLINT length = 0;

  // Characters: "ab" then a pair; 4 characters of room leave 3, which would end in half a pair.
  EXPECT_EQ(WideOutChars(env, "ab\xF0\x9F\x98\x80", buffer, 4, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FromBuffer(buffer), u"ab");
  EXPECT_EQ(length, 4);  // the whole value, in characters
  ASSERT_EQ(env.diag.size(), 1u);
  EXPECT_EQ(env.diag[0].state, "01004");

  // Bytes: 6 bytes hold two characters and the terminator; the length is the whole in bytes.
  env.diag.clear();
  EXPECT_EQ(WideOutBytes(env, "Größe", buffer, 6, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FromBuffer(buffer), u"Gr");
  EXPECT_EQ(length, 10);
  SQLINTEGER longLength = 0;
  EXPECT_EQ(WideOutBytes(env, "Größe", buffer, sizeof buffer, &longLength), SQL_SUCCESS);
  EXPECT_EQ(FromBuffer(buffer), u"Größe");
  EXPECT_EQ(longLength, 10);

  // Exactly full: the terminator needs its own place.
  env.diag.clear();
  EXPECT_EQ(WideOutChars(env, "abc", buffer, 3, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FromBuffer(buffer), u"ab");
  EXPECT_EQ(WideOutChars(env, "abc", buffer, 4, &length), SQL_SUCCESS);
  EXPECT_EQ(FromBuffer(buffer), u"abc");

  // No buffer: only the length, no warning.
  env.diag.clear();
  EXPECT_EQ(WideOutChars(env, "Größe", nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 5);
  EXPECT_TRUE(env.diag.empty());
}

}  // namespace
