// The catalog functions over real SQLite files: index order and the key, keys without an index,
// foreign keys in both directions, the enumeration cases of SQLTables, ODBC 2 type codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "norvane/odbc/core.h"
#include "norvane/odbc/patterns.h"
#include "norvane/odbc/types.h"
#include "support/temp_dir.h"

using namespace norvane::odbc;
using testing_support::TempDir;

namespace {

struct Catalog : ::testing::Test {
  void SetUp() override {
    const std::string path = (dir.path() / "catalog.nvd").string();
    ASSERT_EQ(sqlite3_open(path.c_str(), &dbc.db), SQLITE_OK);
    dbc.env = &env;
    dbc.file = path;
  }
  void Exec(const char* sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(dbc.db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
  }
  RowSet Run(const std::function<void(Stmt&)>& call) {
    Stmt stmt(&dbc);
    call(stmt);
    return stmt.memory;
  }
  static std::string Str(const Cell& c) { return c.type == SQLITE_NULL ? "<null>" : c.bytes; }
  // The named columns of every row, joined: "Kunden_firma Firma A".
  static std::vector<std::string> Rows(const RowSet& rs, std::vector<int> cols) {
    std::vector<std::string> out;
    for (auto& row : rs.rows) {
      std::string line;
      for (int c : cols) {
        const Cell& cell = row[static_cast<std::size_t>(c)];
        if (!line.empty()) line += ' ';
        line += cell.type == SQLITE_INTEGER ? std::to_string(cell.integer) : Str(cell);
      }
      out.push_back(line);
    }
    return out;
  }
  TempDir dir;
  Env env;
  Dbc dbc;
};

using Lines = std::vector<std::string>;
constexpr int kNonUnique = 3, kIndexName = 5, kType = 6, kColumn = 8, kAscDesc = 9;

TEST_F(Catalog, statistics_list_the_key_first_and_once_then_unique_then_the_rest) {
  Exec(
      "CREATE TABLE Kunden (KundenNr int PRIMARY KEY, Firma varchar(60) NOT NULL, Ort text);"
      "CREATE UNIQUE INDEX Kunden_firma ON Kunden (Firma);"
      "CREATE INDEX Kunden_ort ON Kunden (Ort DESC, Firma);"
      "CREATE UNIQUE INDEX Kunden_primarykey ON Kunden (KundenNr);"
      // A rowid key without an index of SQLite's own, without an explicit index either.
      "CREATE TABLE Orte (Nr integer PRIMARY KEY, Name text UNIQUE);"
      "CREATE UNIQUE INDEX Orte_amt ON Orte (Name, Nr);"
      // No key at all.
      "CREATE TABLE Protokoll (Zeile text NOT NULL, Wert text);"
      "CREATE INDEX Protokoll_wert ON Protokoll (Wert);"
      "CREATE UNIQUE INDEX Protokoll_zeile ON Protokoll (Zeile);"
      // The key still only as its index (before the primary key is declared).
      "CREATE TABLE Lager (Nr int NOT NULL, Artikel text NOT NULL);"
      "CREATE UNIQUE INDEX Lager_artikel ON Lager (Artikel);"
      "CREATE UNIQUE INDEX Lager_primarykey ON Lager (Nr);");
  const RowSet all =
      Run([](Stmt& s) { Statistics(s, {}, {}, "kunden", SQL_INDEX_ALL, SQL_QUICK); });
  ASSERT_EQ(all.columns.size(), 13u);
  EXPECT_EQ(all.columns[kAscDesc].name, "ASC_OR_DESC");
  ASSERT_FALSE(all.rows.empty());
  EXPECT_EQ(all.rows[0][kType].integer, SQL_TABLE_STAT);
  EXPECT_EQ(Str(all.rows[0][2]), "Kunden");  // as the file spells it
  RowSet indexes = all;
  indexes.rows.erase(indexes.rows.begin());
  EXPECT_EQ(Rows(indexes, {kNonUnique, kIndexName, kColumn, kAscDesc}),
            (Lines{"0 Kunden_primarykey KundenNr A", "0 Kunden_firma Firma A", "1 Kunden_ort Ort D",
                   "1 Kunden_ort Firma A"}));

  const RowSet unique =
      Run([](Stmt& s) { Statistics(s, {}, {}, "Kunden", SQL_INDEX_UNIQUE, SQL_ENSURE); });
  EXPECT_EQ(unique.rows.size(), 3u);         // the statistics row and two unique indexes
  EXPECT_EQ(unique.rows[0][10].integer, 0);  // CARDINALITY of an empty table, counted

  EXPECT_EQ(Rows(Run([](Stmt& s) { Statistics(s, {}, {}, "Orte", SQL_INDEX_ALL, SQL_QUICK); }),
                 {kIndexName, kColumn}),
            (Lines{"<null> <null>", "PRIMARY Nr", "Orte_amt Name", "Orte_amt Nr",
                   "sqlite_autoindex_Orte_1 Name"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) { Statistics(s, {}, {}, "Protokoll", SQL_INDEX_ALL, SQL_QUICK); }),
                 {kIndexName, kColumn}),
            (Lines{"<null> <null>", "Protokoll_zeile Zeile", "Protokoll_wert Wert"}));

  EXPECT_EQ(Rows(Run([](Stmt& s) { Statistics(s, {}, {}, "Lager", SQL_INDEX_ALL, SQL_QUICK); }),
                 {kIndexName, kColumn}),
            (Lines{"<null> <null>", "Lager_primarykey Nr", "Lager_artikel Artikel"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) {
                   SpecialColumns(s, SQL_BEST_ROWID, {}, {}, "Lager", SQL_SCOPE_SESSION,
                                  SQL_NO_NULLS);
                 }),
                 {1}),
            (Lines{"Nr"}));

  // The key by SQLPrimaryKeys and SQLSpecialColumns under the same rules.
  EXPECT_EQ(Rows(Run([](Stmt& s) { PrimaryKeys(s, {}, {}, "Kunden"); }), {2, 3, 4, 5}),
            (Lines{"Kunden KundenNr 1 Kunden_primarykey"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) { PrimaryKeys(s, {}, {}, "Orte"); }), {3, 5}),
            (Lines{"Nr PRIMARY"}));
  EXPECT_TRUE(Run([](Stmt& s) { PrimaryKeys(s, {}, {}, "Protokoll"); }).rows.empty());
  EXPECT_EQ(Rows(Run([](Stmt& s) {
                   SpecialColumns(s, SQL_BEST_ROWID, {}, {}, "Protokoll", SQL_SCOPE_SESSION,
                                  SQL_NO_NULLS);
                 }),
                 {1}),
            (Lines{"Zeile"}));
  EXPECT_TRUE(Run([](Stmt& s) {
                SpecialColumns(s, SQL_ROWVER, {}, {}, "Kunden", SQL_SCOPE_SESSION, SQL_NULLABLE);
              }).rows.empty());
}

TEST_F(Catalog, foreign_keys_by_parent_by_child_and_by_both) {
  Exec(
      "CREATE TABLE Kunden (KundenNr integer PRIMARY KEY, Firma text);"
      "CREATE TABLE Artikel (Gruppe text, Nr int, PRIMARY KEY (Gruppe, Nr));"
      "CREATE TABLE Posten (Id integer PRIMARY KEY,"
      " Kunde int REFERENCES kunden ON DELETE CASCADE ON UPDATE SET NULL,"
      " Gruppe text, Nr int,"
      " FOREIGN KEY (Gruppe, Nr) REFERENCES Artikel (Gruppe, Nr) ON DELETE SET DEFAULT);"
      "CREATE TABLE Mahnung (Kunde int REFERENCES Kunden (KundenNr) ON DELETE RESTRICT);");
  constexpr int kPkTable = 2, kPkColumn = 3, kFkTable = 6, kFkColumn = 7, kSeq = 8, kUpdate = 9,
                kDelete = 10, kPkName = 12, kDeferrable = 13;
  const RowSet byParent = Run([](Stmt& s) { ForeignKeys(s, {}, {}, "Kunden", {}, {}, {}); });
  // The child's reference without columns names the parent's key; the parent as spelled.
  EXPECT_EQ(Rows(byParent, {kFkTable, kFkColumn, kPkTable, kPkColumn, kUpdate, kDelete, kPkName}),
            (Lines{"Mahnung Kunde Kunden KundenNr 3 1 PRIMARY",
                   "Posten Kunde Kunden KundenNr 2 0 PRIMARY"}));
  EXPECT_EQ(byParent.rows[0][kDeferrable].integer, SQL_NOT_DEFERRABLE);

  const RowSet byChild = Run([](Stmt& s) { ForeignKeys(s, {}, {}, {}, {}, {}, "Posten"); });
  EXPECT_EQ(Rows(byChild, {kPkTable, kPkColumn, kFkColumn, kSeq, kDelete}),
            (Lines{"Artikel Gruppe Gruppe 1 4", "Artikel Nr Nr 2 4", "Kunden KundenNr Kunde 1 0"}));

  const RowSet pair = Run([](Stmt& s) { ForeignKeys(s, {}, {}, "Artikel", {}, {}, "posten"); });
  EXPECT_EQ(Rows(pair, {kFkTable, kSeq}), (Lines{"Posten 1", "Posten 2"}));
  EXPECT_TRUE(
      Run([](Stmt& s) { ForeignKeys(s, {}, {}, "Artikel", {}, {}, "Mahnung"); }).rows.empty());

  // ODBC 2 has no SQL_NO_ACTION.
  env.odbcVersion = SQL_OV_ODBC2;
  EXPECT_EQ(
      Run([](Stmt& s) { ForeignKeys(s, {}, {}, {}, {}, {}, "Mahnung"); }).rows[0][kUpdate].integer,
      SQL_RESTRICT);
}

TEST_F(Catalog, tables_enumerations_types_and_patterns) {
  Exec(
      "CREATE TABLE Order_Details (a);"
      "CREATE TABLE OrderXDetails (a);"
      "CREATE TABLE \"SYS.SYSUSER\" (u);"
      "CREATE VIEW Umsatz AS SELECT a FROM Order_Details;");
  constexpr int kName = 2, kKind = 3;
  EXPECT_TRUE(Run([](Stmt& s) { Tables(s, "%", "", "", {}); }).rows.empty());
  EXPECT_TRUE(Run([](Stmt& s) { Tables(s, "", "%", "", {}); }).rows.empty());
  EXPECT_EQ(Rows(Run([](Stmt& s) { Tables(s, "", "", "", "%"); }), {kKind}),
            (Lines{"SYSTEM TABLE", "TABLE", "VIEW"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) { Tables(s, {}, {}, {}, {}); }), {kName, kKind}),
            (Lines{"SYS.SYSUSER SYSTEM TABLE", "Order_Details TABLE", "OrderXDetails TABLE",
                   "Umsatz VIEW"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) { Tables(s, {}, {}, {}, "'TABLE', 'VIEW'"); }), {kName}),
            (Lines{"Order_Details", "OrderXDetails", "Umsatz"}));
  EXPECT_EQ(Rows(Run([](Stmt& s) { Tables(s, {}, {}, "order\\_%", {}); }), {kName}),
            (Lines{"Order_Details"}));

  // A view whose table is gone: SQLColumns still lists the rest and says which it skipped.
  Exec("DROP TABLE OrderXDetails; CREATE VIEW Kaputt AS SELECT a FROM OrderXDetails;");
  Stmt stmt(&dbc);
  Columns(stmt, {}, {}, {}, {});
  EXPECT_EQ(Rows(stmt.memory, {2, 3}), (Lines{"Order_Details a", "SYS.SYSUSER u", "Umsatz a"}));
  ASSERT_EQ(stmt.diag.size(), 1u);
  EXPECT_NE(stmt.diag[0].message.find("Kaputt"), std::string::npos) << stmt.diag[0].message;
}

TEST_F(Catalog, date_and_time_codes_follow_the_applications_odbc_version) {
  Exec("CREATE TABLE T (Erfasst timestamp, Beginn time, Name varchar(20));");
  constexpr int kDataType = 4, kSqlDataType = 13, kSub = 14;
  const RowSet v3 = Run([](Stmt& s) { Columns(s, {}, {}, "T", {}); });
  EXPECT_EQ(Rows(v3, {3, kDataType, kSqlDataType, kSub}),
            (Lines{"Erfasst 93 9 3", "Beginn 92 9 2", "Name -9 -9 <null>"}));
  env.odbcVersion = SQL_OV_ODBC2;
  const RowSet v2 = Run([](Stmt& s) { Columns(s, {}, {}, "T", "E%"); });
  EXPECT_EQ(Rows(v2, {3, kDataType}), (Lines{"Erfasst 11"}));

  // SQLGetTypeInfo: sorted by DATA_TYPE in the version's codes, one type asked in either code.
  for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
    env.odbcVersion = version;
    const RowSet types = Run([](Stmt& s) { GetTypeInfo(s, SQL_ALL_TYPES); });
    ASSERT_EQ(types.rows.size(), TypeRows().size());
    for (std::size_t i = 1; i < types.rows.size(); ++i)
      EXPECT_LE(types.rows[i - 1][1].integer, types.rows[i][1].integer) << i;
    const RowSet stamp = Run([](Stmt& s) { GetTypeInfo(s, SQL_TIMESTAMP); });
    ASSERT_FALSE(stamp.rows.empty());
    for (auto& row : stamp.rows)
      EXPECT_EQ(row[1].integer, version == SQL_OV_ODBC2 ? SQL_TIMESTAMP : SQL_TYPE_TIMESTAMP);
  }
  try {
    Run([](Stmt& s) { GetTypeInfo(s, 1234); });
    ADD_FAILURE() << "an unknown SQL type was accepted";
  } catch (const DriverError& e) {
    EXPECT_EQ(e.state, "HY004");
  }
}

TEST(SearchPattern, wildcards_escapes_characters_and_case) {
  EXPECT_TRUE(MatchesPattern("%", ""));
  EXPECT_TRUE(MatchesPattern("Kunden", "kUNDEN"));
  EXPECT_TRUE(MatchesPattern("%den%", "Kunden"));
  EXPECT_FALSE(MatchesPattern("K%x", "Kunden"));
  EXPECT_TRUE(MatchesPattern("a%b%c", "aXbYbZc"));  // backtracks past the first b
  EXPECT_TRUE(MatchesPattern("Gr_ße", "Größe"));    // _ is one character of two bytes
  EXPECT_FALSE(MatchesPattern("Gr___e", "Größe"));
  EXPECT_TRUE(MatchesPattern("Order_Details", "OrderXDetails"));
  EXPECT_FALSE(MatchesPattern("Order\\_Details", "OrderXDetails"));
  EXPECT_TRUE(MatchesPattern("100\\%", "100%"));
  EXPECT_FALSE(MatchesPattern("100\\%", "1000"));
  EXPECT_FALSE(MatchesPattern("Kunde", "Kunden"));
}

}  // namespace
