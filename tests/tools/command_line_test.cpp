// Splitting command-file lines and scripts: the rules cmdshell and ivex read their input by.
#include <gtest/gtest.h>

#include "norvane/dialect.h"
#include "norvane/lexer.h"
#include "platform/error.h"
#include "platform/shell/command_line.h"

using platform::shell::SplitCopyArguments;
using platform::shell::SplitWindowsArguments;
using Args = std::vector<std::string>;

TEST(SplitWindowsArguments, keeps_the_quoted_connection_string_as_one_argument) {
  EXPECT_EQ(SplitWindowsArguments(
                "ivex.exe -c \"uid=dba;pwd=KWZ;dbf=Z:\\DATA\\Sales.db\" -q read Z:\\DATA\\sp.SQL"),
            (Args{"ivex.exe", "-c", "uid=dba;pwd=KWZ;dbf=Z:\\DATA\\Sales.db", "-q", "read",
                  "Z:\\DATA\\sp.SQL"}));
}

TEST(SplitWindowsArguments, follows_the_backslash_and_doubled_quote_rules) {
  EXPECT_EQ(SplitWindowsArguments(R"(t a\\\"b "c d"e f\\"g h" "x""y" \\server\s)"),
            (Args{"t", "a\\\"b", "c de", "f\\g h", "x\"y", "\\\\server\\s"}));
  EXPECT_EQ(SplitWindowsArguments("\"C:\\Program Files\\t.exe\" \t one  \"\""),
            (Args{"C:\\Program Files\\t.exe", "one", ""}));
  EXPECT_TRUE(SplitWindowsArguments("   ").empty());
}

TEST(SplitCopyArguments, joins_sources_by_plus_with_or_without_blanks) {
  auto c = SplitCopyArguments("Z:\\w\\reload1.sql + Z:\\w\\reload2.sql Z:\\w\\reload.sql");
  EXPECT_EQ(c.sources, (Args{"Z:\\w\\reload1.sql", "Z:\\w\\reload2.sql"}));
  EXPECT_EQ(c.target, "Z:\\w\\reload.sql");
  c = SplitCopyArguments("/b a+b+\"c d\" /y e");
  EXPECT_EQ(c.sources, (Args{"a", "b", "c d"}));
  EXPECT_EQ(c.target, "e");
}

TEST(SplitCopyArguments, refuses_lines_without_target_or_with_a_dangling_plus) {
  EXPECT_THROW(SplitCopyArguments("a + b"), platform::Error);
  EXPECT_THROW(SplitCopyArguments("a +"), platform::Error);
  EXPECT_THROW(SplitCopyArguments("+ a b"), platform::Error);
  EXPECT_THROW(SplitCopyArguments("a b c"), platform::Error);
  EXPECT_THROW(SplitCopyArguments(""), platform::Error);
}

TEST(SplitScript, splits_at_semicolons_outside_quotes_and_comments_with_first_lines) {
  const auto s = norvane::SplitScript(
      "select ';' from \"a;b\";\r\n-- a comment; still\r\n\r\n  update t set x = 1\r\n"
      "  where y = 2; /* ; */ commit; ;\r\ncall p()");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].text, "select ';' from \"a;b\"");
  EXPECT_EQ(s[0].line, 1);
  EXPECT_EQ(s[1].text, "update t set x = 1\r\n  where y = 2");
  EXPECT_EQ(s[1].line, 4);
  EXPECT_EQ(s[2].text, "commit");
  EXPECT_EQ(s[2].line, 5);
  EXPECT_EQ(s[3].text, "call p()");
  EXPECT_EQ(s[3].line, 6);
}

TEST(SplitScript, keeps_a_begin_end_block_with_end_if_and_end_loop_whole) {
  const auto s = norvane::SplitScript(
      "begin transaction; create procedure p() begin\nL: loop if 1=1 then leave L end if;\n"
      "select case when 1 then 2 end; end loop L; End; \ncommit;\nbegin;");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].text, "begin transaction");
  EXPECT_EQ(s[1].text.substr(0, 22), "create procedure p() b");
  EXPECT_EQ(s[1].text.substr(s[1].text.size() - 3), "End");
  EXPECT_EQ(s[2].text, "commit");
  EXPECT_EQ(s[2].line, 4);
  EXPECT_EQ(s[3].text, "begin");
}

TEST(SplitScript, an_unterminated_string_runs_to_the_end_as_one_statement) {
  const auto s = norvane::SplitScript("select 1;\nselect 'abc;\nselect 2;");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[1].line, 2);
  EXPECT_EQ(s[1].text, "select 'abc;\nselect 2;");
}

TEST(RewriteDialect, quotes_catalog_names_and_replaces_number_star) {
  EXPECT_EQ(norvane::RewriteDialect(
                "select number(*),tname from SYS.SYSCOLUMNS where x = 'SYS.SYSCOLUMNS'"),
            "select row_number() OVER (),tname from \"SYS.SYSCOLUMNS\" where x = "
            "'SYS.SYSCOLUMNS'");
  EXPECT_EQ(norvane::RewriteDialect("select a.SYS.b, \"SYS\".x"), "select a.SYS.b, \"SYS.x\"");
}
