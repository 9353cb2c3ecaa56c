// Access defaults and validation rules as SQL, construct by construct; no database.
#include "platform/access_expressions.h"

#include <gtest/gtest.h>

namespace {

using platform::access_sql::CheckExpression;
using platform::access_sql::ColumnKind;
using platform::access_sql::DefaultExpression;
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

void ExpectRule(const std::string& column, const Case& c) {
  const auto t = CheckExpression(c.access, column, kColumns);
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

}  // namespace
