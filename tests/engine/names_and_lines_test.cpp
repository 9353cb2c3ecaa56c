// Names on the target, short paths, and every line the wizard writes into scripts and batches.
#include <gtest/gtest.h>

#include "engine/names.h"
#include "engine/script_lines.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/short_path.h"
#include "target/create_db.h"

using engine::ForeignKeyLine;
using engine::PrimaryKeyLines;
using engine::TargetNameOf;
using platform::QuoteName;
using platform::paths::ShortPathOf;
using Lines = std::vector<std::string>;

TEST(TargetNameOf, keeps_names_without_blanks_and_trims_them) {
  EXPECT_EQ(TargetNameOf("Customers"), "Customers");
  EXPECT_EQ(TargetNameOf("  Customers "), "Customers");
  EXPECT_EQ(TargetNameOf("msysNotes"), "msysNotes");
}

TEST(TargetNameOf, replaces_only_the_first_blank_and_does_not_trim) {
  EXPECT_EQ(TargetNameOf("Order Details"), "Order_Details");
  EXPECT_EQ(TargetNameOf("Order Details Extended"), "Order_Details Extended");
  EXPECT_EQ(TargetNameOf("Ship To Address"), "Ship_To Address");
  EXPECT_EQ(TargetNameOf(" Order Details "), "_Order Details ");
  EXPECT_EQ(TargetNameOf("Umsätze 2024"), "Umsätze_2024");
}

TEST(QuoteName, quotes_blanks_brackets_quotes_and_non_ascii_names_as_they_are) {
  using platform::QuotedIn;
  for (QuotedIn in : {QuotedIn::kStatement, QuotedIn::kScriptLine}) {
    EXPECT_EQ(QuoteName("Order_Details", in), "\"Order_Details\"");
    EXPECT_EQ(QuoteName("Order Details Extended", in), "\"Order Details Extended\"");
    EXPECT_EQ(QuoteName("a\"b", in), "\"a\"\"b\"");
    EXPECT_EQ(QuoteName("\"", in), "\"\"\"\"");
    EXPECT_EQ(QuoteName("[Menge] ('x')", in), "\"[Menge] ('x')\"");
    EXPECT_EQ(QuoteName("Aufträge ÄÖÜ €", in), "\"Aufträge ÄÖÜ €\"");
    EXPECT_EQ(QuoteName("", in), "\"\"");
  }
}

TEST(QuoteName, refuses_a_nul_anywhere_and_control_characters_in_a_script_line) {
  using platform::QuotedIn;
  // A statement may hold a line break or a tab inside a quoted name; a script line may not.
  EXPECT_EQ(QuoteName("a\r\nb"), "\"a\r\nb\"");
  EXPECT_EQ(QuoteName("a\tb"), "\"a\tb\"");
  for (const char* name : {"a\r\nb", "a\tb", "del\x7f"}) {
    try {
      QuoteName(name, QuotedIn::kScriptLine);
      ADD_FAILURE() << name;
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.Number(), platform::err::kBadFileName);
      EXPECT_EQ(e.Description(),
                "The name \"" + std::string(name) +
                    "\" holds a control character and cannot be written to a script");
    }
  }
  const std::string withNul("Or\0ders", 7);
  try {
    QuoteName(withNul);
    ADD_FAILURE() << "a NUL was quoted";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), platform::err::kBadFileName);
    EXPECT_EQ(e.Description(),
              "The name \"Or...\" holds a NUL character and cannot be quoted in a statement");
  }
  EXPECT_THROW(QuoteName(withNul, QuotedIn::kScriptLine), platform::Error);
}

TEST(PrimaryKeyLines, two_fields_lower_cased_with_trailing_blank_on_the_key_line) {
  EXPECT_EQ(PrimaryKeyLines("+OrderID;+ProductID", "Order_Details"),
            (Lines{"alter table \"Order_Details\" modify \"orderid\" not null;",
                   "alter table \"Order_Details\" modify \"productid\" not null;",
                   "alter table \"Order_Details\" add primary key (\"orderid\",\"productid\"); "}));
}

TEST(PrimaryKeyLines, descending_single_field_with_blanks_and_quotes) {
  EXPECT_EQ(PrimaryKeyLines(" -Order Date ", "Orders"),
            (Lines{"alter table \"Orders\" modify \"order date\" not null;",
                   "alter table \"Orders\" add primary key (\"order date\"); "}));
  EXPECT_EQ(PrimaryKeyLines("+Sa\"y", "T\"x")[1],
            "alter table \"T\"\"x\" add primary key (\"sa\"\"y\"); ");
}

TEST(ForeignKeyLine, keeps_field_case_and_converts_table_names) {
  dao::Relation r{"Customers", "Orders", {{"CustomerID", "CustomerID"}}};
  EXPECT_EQ(ForeignKeyLine(r),
            "alter table \"Orders\" add foreign key (\"CustomerID\") references \"Customers\" "
            "(\"CustomerID\");");
  dao::Relation two{"Order Header", "Order Details", {{"OrderID", "OrdID"}, {"Line", "LineNo"}}};
  EXPECT_EQ(ForeignKeyLine(two),
            "alter table \"Order_Details\" add foreign key (\"OrdID\",\"LineNo\") references "
            "\"Order_Header\" (\"OrderID\",\"Line\");");
}

TEST(ForeignKeyLine, carries_the_cascades_on_postgresql_and_not_on_norvane) {
  dao::Relation r{"Customers",
                  "Orders",
                  {{"CustomerID", "CustomerID"}},
                  dao::kRelationUpdateCascade | dao::kRelationDeleteCascade};
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r),
            "alter table \"Orders\" add foreign key (\"CustomerID\") references \"Customers\" "
            "(\"CustomerID\") on update cascade on delete cascade;");
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::Norvane, r), ForeignKeyLine(r));
  r.Attributes = dao::kRelationDeleteSetNull;
  EXPECT_TRUE(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r)
                  .ends_with("(\"CustomerID\") on delete set null;"));
  r.Attributes = 0;
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r), ForeignKeyLine(r));
}

TEST(ForeignKeyLine, refuses_a_relationship_without_fields) {
  EXPECT_THROW(ForeignKeyLine(dao::Relation{"A", "B", {}}), platform::Error);
}

TEST(ReloadTail, five_statements_each_with_one_trailing_blank) {
  EXPECT_EQ(engine::ReloadTail(), (Lines{"commit; ", "call sp_ts_time(); ", "commit; ",
                                         "drop procedure sp_ts_time; ", "commit; "}));
}

TEST(PostgresScriptLines, keys_are_made_before_the_scripts_and_foreign_keys_carry_their_cascades) {
  // The run makes a PostgreSQL table's key with its indexes, so reload1.sql holds none.
  EXPECT_EQ(
      engine::PrimaryKeyLinesOf(TargetKind::PostgreSql, "+OrderID;-Product ID", "Order_Details"),
      Lines{});
  // Norvane's lines stay as they were.
  EXPECT_EQ(engine::PrimaryKeyLinesOf(TargetKind::Norvane, "+OrderID", "Orders"),
            PrimaryKeyLines("+OrderID", "Orders"));

  dao::Relation r{"Orders", "Order Details", {{"OrderID", "OrderID"}}, 0};
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r),
            "alter table \"Order_Details\" add foreign key (\"OrderID\") references \"Orders\" "
            "(\"OrderID\");");
  r.Attributes = dao::kRelationUpdateCascade | dao::kRelationDeleteCascade;
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r),
            "alter table \"Order_Details\" add foreign key (\"OrderID\") references \"Orders\" "
            "(\"OrderID\") on update cascade on delete cascade;");
  r.Attributes = dao::kRelationDeleteSetNull;
  EXPECT_TRUE(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r)
                  .ends_with("(\"OrderID\") on delete set null;"));
  // Not enforced by Access: no constraint on the server, the Norvane line as ever.
  r.Attributes = dao::kRelationDontEnforce;
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::PostgreSql, r), "");
  EXPECT_EQ(engine::ForeignKeyLineOf(TargetKind::Norvane, r), ForeignKeyLine(r));
  EXPECT_EQ(engine::ReloadTailOf(TargetKind::Norvane), engine::ReloadTail());
  EXPECT_EQ(engine::ReloadTailOf(TargetKind::PostgreSql),
            (Lines{"call sp_ts_time();", "drop procedure sp_ts_time();"}));
}

TEST(ShortPathOf, examples) {
  EXPECT_EQ(ShortPathOf("C:\\Program Files\\Tools\\win32\\ivex.exe"),
            "C:\\Progra~1\\Tools\\win32\\");
  EXPECT_EQ(ShortPathOf("D:\\My Documents\\Access\\Sales Data.mdb"), "D:\\My Doc~1\\Access\\");
  EXPECT_EQ(ShortPathOf("C:\\a b\\x.mdb"), "C:\\a b~1\\");
  EXPECT_EQ(ShortPathOf("C:\\VeryLongFolderName\\x.mdb"), "C:\\VeryLongFolderName\\");
  EXPECT_EQ(ShortPathOf("C:\\A B\\C D\\"), "C:\\A B~1\\C D~1\\");
  EXPECT_EQ(ShortPathOf("\\\\server\\my share\\f.mdb"), "\\\\server\\my sha~1\\");
  EXPECT_EQ(ShortPathOf("Z:\\home\\Größe Daten\\x.mdb"), "Z:\\home\\Größe ~1\\");
}

TEST(ShortPathOf, paths_with_fewer_than_two_backslashes) {
  EXPECT_EQ(ShortPathOf("C:\\Sales.mdb"), "C:\\");
  EXPECT_EQ(ShortPathOf("Sales.mdb"), "");
}

namespace {
MigrationSettings ExampleSettings(std::string tool, std::string toolPath) {
  MigrationSettings s;
  s.WorkFolder = "C:\\DATA\\";
  s.TargetDbFileName = "Sales.db";
  s.QueryToolFileName = std::move(tool);
  s.QueryToolPath = std::move(toolPath);
  return s;
}
}  // namespace

TEST(MigrateBatLines, example_with_the_console_tool) {
  EXPECT_EQ(target::MigrateBatLines(ExampleSettings("ivex.exe", "C:\\Progra~1\\Tools\\win32\\")),
            (Lines{"cd C:\\Progra~1\\Tools\\win32\\", "C:", "vorlin.exe C:\\DATA\\Sales.db",
                   "ivex.exe -c \"uid=dba;pwd=KWZ;dbf=C:\\DATA\\Sales.db\" -q read "
                   "C:\\DATA\\sp.SQL"}));
}

TEST(MigrateBatLines, windowed_tool_in_any_case_selects_windowed_creator) {
  const Lines upper = target::MigrateBatLines(ExampleSettings("IVEXW.EXE", "D:\\T\\"));
  EXPECT_EQ(upper[1], "D:");
  EXPECT_EQ(upper[2], "vorlinw.exe C:\\DATA\\Sales.db");
  EXPECT_EQ(upper[3].substr(0, 13), "IVEXW.EXE -c ");
  EXPECT_EQ(target::MigrateBatLines(ExampleSettings(" ivexw.exe ", " D:\\T\\ "))[0], "cd D:\\T\\");
}

TEST(ReloadBatLines, example) {
  MigrationSettings s = ExampleSettings("ivex.exe", "C:\\TOOLS\\WIN32\\");
  s.TargetDbFileName = "sales.db";
  EXPECT_EQ(engine::ReloadBatLines(s),
            (Lines{"cd C:\\TOOLS\\WIN32\\",
                   "C:", "copy C:\\DATA\\reload1.sql + C:\\DATA\\reload2.sql C:\\DATA\\reload.sql",
                   "ivex.exe -c \"uid=dba;pwd=KWZ;dbf=C:\\DATA\\sales.db\" read "
                   "C:\\DATA\\reload.SQL"}));
}

TEST(TargetLogFilePath, replaces_the_last_two_characters) {
  MigrationSettings s = ExampleSettings("ivex.exe", "C:\\T\\");
  EXPECT_EQ(target::TargetDbFilePath(s), "C:\\DATA\\Sales.db");
  EXPECT_EQ(target::TargetLogFilePath(s), "C:\\DATA\\Sales.log");
  // A two-character name would lose itself: the log is the one vorlin writes beside it.
  s.TargetDbFileName = "db";
  EXPECT_EQ(target::TargetLogFilePath(s), "C:\\DATA\\db.log");
}
