// Splitting command-file lines and scripts: the rules cmdshell and ivex read their input by.
#include <gtest/gtest.h>

#include "norvane/dialect.h"
#include "norvane/lexer.h"
#include "platform/error.h"
#include "platform/shell/command_line.h"
#include "platform/shell/tool_output.h"

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

TEST(SplitCopyArguments, cuts_unquoted_paths_with_blanks_before_the_last_drive_path) {
  const std::string w = "Z:\\home\\My Dat~1\\";
  auto c = SplitCopyArguments(w + "reload1.sql + " + w + "reload2.sql " + w + "reload.sql");
  EXPECT_EQ(c.sources, (Args{w + "reload1.sql", w + "reload2.sql"}));
  EXPECT_EQ(c.target, w + "reload.sql");

  c = SplitCopyArguments("/b c:/a b/x + C:/a b/y  c:/a b/z /y");
  EXPECT_EQ(c.sources, (Args{"c:/a b/x", "C:/a b/y"}));
  EXPECT_EQ(c.target, "c:/a b/z");

  c = SplitCopyArguments("my file.txt + Z:\\a b\\two + Z:\\a b\\three Z:\\a b\\all z.txt");
  EXPECT_EQ(c.sources, (Args{"my file.txt", "Z:\\a b\\two", "Z:\\a b\\three"}));
  EXPECT_EQ(c.target, "Z:\\a b\\all z.txt");
}

TEST(SplitCopyArguments, without_a_drive_path_to_cut_at_falls_back_to_the_quoting_rules) {
  auto c = SplitCopyArguments("a.txt + b.txt joined.txt");
  EXPECT_EQ(c.sources, (Args{"a.txt", "b.txt"}));
  EXPECT_EQ(c.target, "joined.txt");
  // The only drive path opens the last part: it is the second source, not the target.
  c = SplitCopyArguments("a + Z:\\b c");
  EXPECT_EQ(c.sources, (Args{"a", "Z:\\b"}));
  EXPECT_EQ(c.target, "c");
  // Quotes keep the quoting rules, even around blanks.
  c = SplitCopyArguments("\"Z:\\a b\\x\" + \"Z:\\a b\\y\" Z:\\c");
  EXPECT_EQ(c.sources, (Args{"Z:\\a b\\x", "Z:\\a b\\y"}));
  EXPECT_EQ(c.target, "Z:\\c");
  EXPECT_THROW(SplitCopyArguments("Z:\\a b\\x + Z:\\a b\\y"), platform::Error);
  EXPECT_THROW(SplitCopyArguments(" + Z:\\a\\y Z:\\a\\z"), platform::Error);
}

TEST(IsToolErrorLine, picks_the_error_lines_of_the_three_programs_only) {
  using platform::shell::IsToolErrorLine;
  using platform::shell::ToolErrorLine;
  EXPECT_TRUE(IsToolErrorLine("ivex: error: statement at line 3 (x): no such table: x"));
  EXPECT_TRUE(IsToolErrorLine("vorlin: error: cannot create Z:\\a.db: exists\r\n"));
  EXPECT_TRUE(IsToolErrorLine("cmdshell: error: line 2 failed (D:): no drive"));
  EXPECT_FALSE(IsToolErrorLine("ivex: 2 of the script's statements failed"));
  EXPECT_FALSE(IsToolErrorLine("ivexw: error: x"));
  EXPECT_FALSE(IsToolErrorLine(" ivex: error: x"));
  EXPECT_FALSE(IsToolErrorLine("line 4: select 'ivex: error: x'"));
  EXPECT_FALSE(IsToolErrorLine("ivex: error: "));
  EXPECT_FALSE(IsToolErrorLine("ivex: error: two\nlines"));
  EXPECT_FALSE(IsToolErrorLine("Z:\\tools>ivex.exe -c \"uid=dba\" read x"));

  const std::string line = ToolErrorLine("ivex", "refused: bad\r\nname");
  EXPECT_EQ(line, "ivex: error: refused: bad  name");
  EXPECT_TRUE(IsToolErrorLine(line));

  // Ordinary output never passes for an error line; other lines stay as they are.
  EXPECT_EQ(platform::shell::OrdinaryOutput("a\nvorlin: error: x\r\nivex: 1\ncmdshell: error: y"),
            "a\n vorlin: error: x\r\nivex: 1\n cmdshell: error: y");
}
