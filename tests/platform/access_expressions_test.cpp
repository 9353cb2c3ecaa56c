// Access defaults and validation rules as SQL, construct by construct; no database.
#include "platform/access_expressions.h"

#include <gtest/gtest.h>

namespace {

using platform::access_sql::CheckExpression;
using platform::access_sql::ColumnKind;
using platform::access_sql::DefaultExpression;
using platform::access_sql::Dialect;
using platform::access_sql::ValueKind;

struct Case {
  const char* access;
  const char* sql;  // nullptr: not translated
};

const std::vector<ColumnKind> kColumns = {
    {"Rabatt", ValueKind::kNumber},      {"Status", ValueKind::kText},
    {"Betrag", ValueKind::kExactNumber}, {"Datum", ValueKind::kDateTime},
    {"Eilig", ValueKind::kBoolean},      {"Bild", ValueKind::kOther},
    {"Ende", ValueKind::kDateTime}};

void ExpectRule(const std::string& column, const Case& c, Dialect dialect = Dialect::kNorvane) {
  const auto t = CheckExpression(c.access, column, kColumns, dialect);
  if (c.sql == nullptr) {
    EXPECT_FALSE(t.ok()) << c.access << " gave " << t.sql;
    EXPECT_FALSE(t.why.empty()) << c.access;
  } else {
    EXPECT_TRUE(t.ok()) << c.access << ": " << t.why;
    EXPECT_EQ(t.sql, c.sql) << c.access;
  }
}

TEST(CheckExpression, a_fields_rule_compares_the_field_it_leaves_out) {
  for (const Case& c : std::vector<Case>{
           {">=0 And <=0.5", "((\"Rabatt\" >= 0) AND (\"Rabatt\" <= 0.5))"},
           {">0", "(\"Rabatt\" > 0)"},
           {"<> -1", "(\"Rabatt\" <> -1)"},
           {"Between 0 And 1", "(\"Rabatt\" BETWEEN 0 AND 1)"},
           {"Between 0 And 1 Or =5", "((\"Rabatt\" BETWEEN 0 AND 1) OR (\"Rabatt\" = 5))"},
           {"Not >5", "(NOT (\"Rabatt\" > 5))"},
           {"Is Null Or >0", "((\"Rabatt\" IS NULL) OR (\"Rabatt\" > 0))"},
           {"Is Not Null", "(\"Rabatt\" IS NOT NULL)"},
           {"(>0 Or <-10) And <>3",
            "(((\"Rabatt\" > 0) OR (\"Rabatt\" < -10)) AND (\"Rabatt\" <> 3))"},
           {"[Rabatt] < 1", "(\"Rabatt\" < 1)"},
           {"In (1, 2,3)", "(\"Rabatt\" IN (1, 2, 3))"},
           {"Not In (1)", "(NOT (\"Rabatt\" IN (1)))"},
           {"[Rabatt] Not In (1)", "(\"Rabatt\" NOT IN (1))"},
       })
    ExpectRule("Rabatt", c);
}

TEST(CheckExpression, text_compares_without_letter_case_and_like_patterns_translate) {
  for (const Case& c : std::vector<Case>{
           {"In (\"neu\",\"offen\",\"erledigt\")",
            "(\"Status\" COLLATE NOCASE IN ('neu', 'offen', 'erledigt'))"},
           {"<>\"it's\"", "(\"Status\" COLLATE NOCASE <> 'it''s')"},
           {"Like \"A*\"", "(\"Status\" LIKE 'A%')"},
           {"Like \"?b_%\"", "(\"Status\" LIKE '_b\\_\\%' ESCAPE '\\')"},
           {"Not Like \"*x\"", "(NOT (\"Status\" LIKE '%x'))"},
           {"[Status] Not Like \"*x\"", "(NOT \"Status\" LIKE '%x')"},
           {"Like \"##-*\"", "(\"Status\" GLOB '[0-9][0-9]-*')"},
           {"Like \"[!a]*\"", "(\"Status\" GLOB '[^a]*')"},
           {"=\"a\"\"b\"", "(\"Status\" COLLATE NOCASE = 'a\"b')"},
       })
    ExpectRule("Status", c);
}

TEST(CheckExpression, exact_numbers_dates_and_yes_no_fields_compare_as_their_kind) {
  ExpectRule("Betrag", {">=0", "(CAST(\"Betrag\" AS REAL) >= 0)"});
  ExpectRule("Datum", {">=#1/31/2000#", "(\"Datum\" >= '2000-01-31 00:00:00')"});
  ExpectRule("Datum", {"<#2001-02-03 4:05 PM#", "(\"Datum\" < '2001-02-03 16:05:00')"});
  ExpectRule("Eilig", {"=True Or =False", "((\"Eilig\" = 1) OR (\"Eilig\" = 0))"});
  ExpectRule("Rabatt", {"<>True", "(\"Rabatt\" <> -1)"});
}

TEST(CheckExpression, a_tables_rule_names_its_fields) {
  ExpectRule("", {"[Ende] >= [Datum]", "(\"Ende\" >= \"Datum\")"});
  ExpectRule(
      "", {"[Ende] Is Null Or [Ende]>[Datum]", "((\"Ende\" IS NULL) OR (\"Ende\" > \"Datum\"))"});
  ExpectRule("", {"Eilig Or [Rabatt]=0", "((\"Eilig\" <> 0) OR (\"Rabatt\" = 0))"});
}

TEST(CheckExpression, what_the_target_cannot_check_is_not_translated) {
  for (const Case& c : std::vector<Case>{
           {"<Date()", nullptr},            // changes every day
           {"Len([Status])>2", nullptr},    // a function
           {">[Rabatt]*2", nullptr},        // arithmetic
           {"[Nowhere]>0", nullptr},        // no such field
           {">0 And", nullptr},             // incomplete
           {"Between 1", nullptr},          // no And
           {"In (1, 2", nullptr},           // list not closed
           {"=\"open", nullptr},            // text not closed
           {"#13/45/2000#", nullptr},       // no date
           {"= Null", nullptr},             // never true in Access either
           {">0 ; drop table x", nullptr},  // a character outside the language
           {"[Bild] Is Null", nullptr},     // binary
       })
    ExpectRule("Rabatt", c);
  // A table's rule has no field to leave out.
  ExpectRule("", {">0", nullptr});
}

TEST(DefaultExpression, literals_and_the_current_date_and_time) {
  struct DefaultCase {
    const char* access;
    ValueKind kind;
    const char* sql;  // nullptr: not translated
  };
  for (const DefaultCase& c : std::vector<DefaultCase>{
           {"\"Deutschland\"", ValueKind::kText, "'Deutschland'"},
           {"'it''s'", ValueKind::kText, "'it''s'"},
           {"0", ValueKind::kNumber, "0"},
           {"-2.5", ValueKind::kExactNumber, "-2.5"},
           {"=1", ValueKind::kNumber, "1"},
           {"12", ValueKind::kText, "'12'"},
           {"=No", ValueKind::kBoolean, "0"},
           {"Yes", ValueKind::kBoolean, "1"},
           {"True", ValueKind::kNumber, "-1"},
           {"Now()", ValueKind::kDateTime, "(datetime('now', 'localtime'))"},
           {"now", ValueKind::kDateTime, "(datetime('now', 'localtime'))"},
           {"=Date()", ValueKind::kDateTime, "(datetime('now', 'localtime', 'start of day'))"},
           {"Time()", ValueKind::kDateTime, "('1899-12-30 ' || time('now', 'localtime'))"},
           {"#12/24/2020#", ValueKind::kDateTime, "'2020-12-24 00:00:00'"},
           {"Date()", ValueKind::kText, nullptr},
           {"Date()+7", ValueKind::kDateTime, nullptr},
           {"DMax(\"x\",\"y\")", ValueKind::kNumber, nullptr},
           {"1 2", ValueKind::kNumber, nullptr},
       }) {
    const auto t = DefaultExpression(c.access, c.kind);
    if (c.sql == nullptr) {
      EXPECT_FALSE(t.ok()) << c.access;
    } else {
      EXPECT_TRUE(t.ok()) << c.access << ": " << t.why;
      EXPECT_EQ(t.sql, c.sql) << c.access;
    }
  }
  // Null and an empty default carry nothing and are no failure.
  EXPECT_TRUE(DefaultExpression("Null", ValueKind::kText).ok());
  EXPECT_TRUE(DefaultExpression("Null", ValueKind::kText).sql.empty());
  EXPECT_TRUE(DefaultExpression(" ", ValueKind::kText).sql.empty());
}

// PostgreSQL's dialect.

void ExpectPg(const std::string& column, const std::vector<Case>& cases) {
  for (const Case& c : cases) ExpectRule(column, c, Dialect::kPostgreSql);
}

TEST(PostgresCheckExpression, like_patterns_with_sets_digits_and_characters_like_takes_literally) {
  ExpectPg("Status",
           {
               {"Like \"A*\"", "(\"Status\" ILIKE 'A%')"},
               // LIKE's own wildcards and its escape character stand for themselves in Access.
               {"Like \"?b_%\\*\"", "(\"Status\" ILIKE '_b\\_\\%\\\\%')"},
               {"Not Like \"*x\"", "(NOT (\"Status\" ILIKE '%x'))"},
               {"[Status] Not Like \"*x\"", "(NOT \"Status\" ILIKE '%x')"},
               {"Like \"it's*\"", "(\"Status\" ILIKE 'it''s%')"},
               // # and sets: a regular expression, anchored, its own specials escaped.
               {"Like \"##-*\"", "(\"Status\" ~* '^[0-9][0-9]-.*$')"},
               {"Like \"[!a-c]*.txt\"", "(\"Status\" ~* '^[^a-c].*\\.txt$')"},
               {"Like \"[*?#]x(1)+\"", "(\"Status\" ~* '^[*?#]x\\(1\\)\\+$')"},
               {"Like \"[\\^]#\"", "(\"Status\" ~* '^[\\\\\\^][0-9]$')"},
               {"Like \"a[bc\"", nullptr},  // a set not closed
               {"Like \"[]#\"", nullptr},   // an empty set
               {"Like [Status]", nullptr},  // a pattern that is no text
           });
  // Like on a number compares its text.
  ExpectPg("Rabatt", {{"Like \"1*\"", "(\"Rabatt\"::text ILIKE '1%')"}});
}

TEST(PostgresCheckExpression, text_folds_letter_case_and_literals_keep_their_quotes) {
  ExpectPg(
      "Status",
      {
          {"In (\"neu\",'of''fen')", "(lower(\"Status\") IN (lower('neu'), lower('of''fen')))"},
          {"<>\"it's\"", "(lower(\"Status\") <> lower('it''s'))"},
          {"=\"a\"\"b\"", "(lower(\"Status\") = lower('a\"b'))"},
          {"Between \"a\" And \"m\"", "(lower(\"Status\") BETWEEN lower('a') AND lower('m'))"},
          {"=5", "(lower(\"Status\") = '5')"},  // a number against text is text
          {"Is Null Or Len(Trim([Status])) > 0",
           "((\"Status\" IS NULL) OR (length(btrim(\"Status\")) > 0))"},
          {"Left([Status], 1) = UCase(Left([Status], 1))",
           "(lower(left(\"Status\", 1)) = lower(upper(left(\"Status\", 1))))"},
          {"Mid([Status], 2, 3) <> LCase(Right([Status], 3))",
           "(lower(substr(\"Status\", 2, 3)) <> lower(lower(right(\"Status\", 3))))"},
          {"[Status] & \"-\" & [Rabatt] <> \"-\"",
           "(lower(concat(concat(\"Status\", '-'), \"Rabatt\")) <> lower('-'))"},
          {"Len([Rabatt]) < 5", "(length(CAST(\"Rabatt\" AS text)) < 5)"},
      });
}

TEST(PostgresCheckExpression, dates_arithmetic_and_yes_no_as_the_server_takes_them) {
  ExpectPg("Datum", {
                        {">=#1/31/2000#", "(\"Datum\" >= '2000-01-31 00:00:00')"},
                        {"<#2001-02-03 4:05 PM#", "(\"Datum\" < '2001-02-03 16:05:00')"},
                        // A time alone is on 1899-12-30, as Access keeps it.
                        {"Between #8:00# And #6:30:15 PM#",
                         "(\"Datum\" BETWEEN '1899-12-30 08:00:00' AND '1899-12-30 18:30:15')"},
                        {">=#1/1/2000# - 1",
                         "(\"Datum\" >= (timestamp '2000-01-01 00:00:00' - (1) * interval '1 "
                         "day'))"},
                        {">#25:00#", nullptr},
                        {"<=Date()", "(\"Datum\" <= current_date)"},
                        {"<Now()+1", "(\"Datum\" < (localtimestamp(0) + (1) * interval '1 day'))"},
                        {"Between #1/1/1900# And Date()",
                         "(\"Datum\" BETWEEN '1900-01-01 00:00:00' AND current_date)"},
                    });
  ExpectPg("", {
                   {"[Ende] >= [Datum] + 7", "(\"Ende\" >= (\"Datum\" + (7) * interval '1 day'))"},
                   {"[Ende] - [Datum] <= 30",
                    "((extract(epoch from (\"Ende\" - \"Datum\")) / 86400) <= 30)"},
                   {"[Betrag] * 2 <= 100 + [Rabatt] / 4",
                    "((\"Betrag\" * 2) <= (100 + (CAST(\"Rabatt\" AS double precision) / 4)))"},
                   {"([Betrag] - 1) Mod 3 = 0", "(mod((\"Betrag\" - 1), 3) = 0)"},
                   {"-[Rabatt] < -(2)", "((-\"Rabatt\") < (-2))"},
                   // A parenthesised condition, and an expression in parentheses compared.
                   {"([Rabatt] > 0 Or [Betrag] > 0) And ([Rabatt] + 1) > 1",
                    "(((\"Rabatt\" > 0) OR (\"Betrag\" > 0)) AND ((\"Rabatt\" + 1) > 1))"},
                   {"Eilig Or [Rabatt]=0", "(\"Eilig\" OR (\"Rabatt\" = 0))"},
                   {"Not [Eilig]", "(NOT \"Eilig\")"},
                   {"[Eilig] = True Or [Eilig] = 0", "((\"Eilig\" = true) OR (\"Eilig\" = false))"},
                   {"[Rabatt] <> True", "(\"Rabatt\" <> -1)"},
               });
  ExpectPg("Eilig", {{"<>-1", "(\"Eilig\" <> true)"}, {"=No", "(\"Eilig\" = false)"}});
  ExpectPg("Betrag", {{">=0", "(\"Betrag\" >= 0)"}});  // numeric compares exactly
}

TEST(PostgresCheckExpression, nested_iif_takes_conditions_and_values) {
  ExpectPg("",
           {
               {"[Rabatt] <= IIf([Eilig], 0.5, IIf([Status] = \"neu\", 0.2, 0))",
                "(\"Rabatt\" <= CASE WHEN \"Eilig\" THEN 0.5 ELSE CASE WHEN (lower(\"Status\") "
                "= lower('neu')) THEN 0.2 ELSE 0 END END)"},
               {"IIf([Status] Is Null, [Rabatt] = 0, [Rabatt] > 0)",
                "CASE WHEN (\"Status\" IS NULL) THEN (\"Rabatt\" = 0) ELSE (\"Rabatt\" > 0) END"},
               {"IIf([Eilig], True, [Betrag] > 10)",
                "CASE WHEN \"Eilig\" THEN true ELSE (\"Betrag\" > 10) END"},
               {"IIf([Eilig], 1)", nullptr},      // a value missing
               {"IIf([Eilig], 1, 2) ", nullptr},  // a number is no condition
           });
}

TEST(PostgresCheckExpression, null_date_part_and_number_functions) {
  ExpectPg("", {
                   {"IsNull([Ende]) Or Nz([Rabatt]) < 1",
                    "((\"Ende\" IS NULL) OR (coalesce(\"Rabatt\", 0) < 1))"},
                   {"Nz([Status]) <> \"\"", "(lower(coalesce(\"Status\", '')) <> lower(''))"},
                   {"Nz([Status], 0) <> \"x\"",
                    "(lower(coalesce(\"Status\", CAST(0 AS text))) <> lower('x'))"},
                   {"Nz([Datum], #1/1/2000#) < Date()",
                    "(coalesce(\"Datum\", timestamp '2000-01-01 00:00:00') < current_date)"},
                   {"Year([Datum]) >= 2000 And Weekday([Datum]) <> 1",
                    "(((CAST(extract(year from \"Datum\") AS integer)) >= 2000) AND "
                    "((CAST(extract(dow from \"Datum\") AS integer) + 1) <> 1))"},
                   {"Hour(#1/1/2000 7:30 PM#) = 19",
                    "((CAST(extract(hour from timestamp '2000-01-01 19:30:00') AS integer)) = 19)"},
                   {"InStr([Status], \"x\") = 0", "(strpos(lower(\"Status\"), lower('x')) = 0)"},
                   {"Int([Rabatt]) = Fix([Rabatt])", "(floor(\"Rabatt\") = trunc(\"Rabatt\"))"},
                   {"Month([Status]) = 1", nullptr},  // no date
               });
}

TEST(PostgresCheckExpression, what_the_server_cannot_take_is_said_not_dropped) {
  const auto why = [](const std::string& rule, const std::string& column = "Rabatt") {
    const auto t = CheckExpression(rule, column, kColumns, Dialect::kPostgreSql);
    EXPECT_FALSE(t.ok()) << rule << " gave " << t.sql;
    return t.why;
  };
  EXPECT_EQ(why("Format([Datum], \"yyyy\") = \"2020\""),
            "it calls the function Format(), which the target cannot check");
  EXPECT_EQ(why("DLookUp(\"x\", \"y\") > 0"),
            "it calls the function DLookUp(), which the target cannot check");
  EXPECT_EQ(why("[Nowhere] > 0"), "it names [Nowhere], which is no field of the table");
  EXPECT_EQ(why("[Bild] Is Null"), "it compares the binary field [Bild]");
  EXPECT_EQ(why("Left([Status]) = \"a\""), "Left() is given 1 argument");
  EXPECT_EQ(why("= Null"), "it compares with Null");
  EXPECT_EQ(why("[Status] - \"a\" = \"b\""), "it subtracts text");
  EXPECT_EQ(why("\"a\" * 2 > 1"), "it computes with '*' on text or dates");
  EXPECT_EQ(why(">0 ; drop table x"), "not understood");
  EXPECT_FALSE(why("[Rabatt] + 1").empty());  // no condition
  EXPECT_FALSE(why(">#13/45/2000#").empty());
  // Norvane's dialect keeps its own subset.
  EXPECT_EQ(CheckExpression("Len([Status]) > 2", "", kColumns).why,
            "it calls the function Len(), which the target cannot check");
}

TEST(PostgresDefaultExpression, literals_as_their_column_takes_them_and_expressions) {
  struct DefaultCase {
    const char* access;
    ValueKind kind;
    const char* sql;  // nullptr: not translated
  };
  for (const DefaultCase& c : std::vector<DefaultCase>{
           {"\"Deutschland\"", ValueKind::kText, "'Deutschland'"},
           {"'it''s'", ValueKind::kText, "'it''s'"},
           {"12", ValueKind::kText, "'12'"},
           {"-2.5", ValueKind::kExactNumber, "-2.5"},
           {"=No", ValueKind::kBoolean, "false"},
           {"-1", ValueKind::kBoolean, "true"},
           {"0", ValueKind::kBoolean, "false"},
           {"Yes", ValueKind::kBoolean, "true"},
           {"True", ValueKind::kNumber, "-1"},
           {"#12/24/2020#", ValueKind::kDateTime, "'2020-12-24 00:00:00'"},
           {"#17:45#", ValueKind::kDateTime, "'1899-12-30 17:45:00'"},
           {"#12/24/2020#", ValueKind::kNumber, nullptr},
           {"Now()", ValueKind::kDateTime, "(localtimestamp(0))"},
           {"now", ValueKind::kDateTime, "(localtimestamp(0))"},
           {"=Date()", ValueKind::kDateTime, "(current_date)"},
           {"Time()", ValueKind::kDateTime, "((date '1899-12-30' + localtime(0)))"},
           {"Date()+7", ValueKind::kDateTime, "((current_date + (7) * interval '1 day'))"},
           {"GenGUID()", ValueKind::kOther, "(gen_random_uuid())"},
           {"Date()+7", ValueKind::kNumber, nullptr},
           {"\"A-\" & \"1\"", ValueKind::kText, "(concat('A-', '1'))"},
           {"IIf(1 > 0, 1, 2)", ValueKind::kNumber, "(CASE WHEN (1 > 0) THEN 1 ELSE 2 END)"},
           {"Date()", ValueKind::kText, nullptr},
           {"5", ValueKind::kDateTime, nullptr},
           {"Yes", ValueKind::kText, nullptr},
           {"[Other] + 1", ValueKind::kNumber, nullptr},
           {"DMax(\"x\",\"y\")", ValueKind::kNumber, nullptr},
           {"1 2", ValueKind::kNumber, nullptr},
       }) {
    const auto t = DefaultExpression(c.access, c.kind, Dialect::kPostgreSql);
    if (c.sql == nullptr) {
      EXPECT_FALSE(t.ok()) << c.access << " gave " << t.sql;
    } else {
      EXPECT_TRUE(t.ok()) << c.access << ": " << t.why;
      EXPECT_EQ(t.sql, c.sql) << c.access;
    }
  }
  EXPECT_EQ(DefaultExpression("Date()", ValueKind::kText, Dialect::kPostgreSql).why,
            "Date() on a field that holds no date");
  EXPECT_TRUE(DefaultExpression("Null", ValueKind::kText, Dialect::kPostgreSql).ok());
  EXPECT_TRUE(DefaultExpression("Null", ValueKind::kText, Dialect::kPostgreSql).sql.empty());
}

}  // namespace
