#!/usr/bin/env python3
"""The Norvane driver's catalog through unixODBC's driver manager, as pyodbc (the W entry
points) sees it: index order, column types, keys and non-ASCII names.

  catalog_pyodbc_test.py <vorlin.exe>

ODBCSYSINI must point at the build's odbcinst.ini, which registers this build's driver.
"""

import os
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import pyodbc

VORLIN = None

# ODBC's codes that pyodbc does not name.
SQL_TABLE_STAT = 0
SQL_CASCADE, SQL_SET_NULL, SQL_NO_ACTION, SQL_SET_DEFAULT = 0, 2, 3, 4
SQL_NOT_DEFERRABLE = 7

SCHEMA = """
CREATE TABLE Kunden (KundenNr int NOT NULL, Firma varchar(60) NOT NULL, "Größe" numeric_blob(19,4),
  Rabatt real, Anteil float, Kennung guid, Beginn time, Erfasst timestamp,
  Notiz varchar(200) DEFAULT 'keine', PRIMARY KEY (KundenNr));
CREATE UNIQUE INDEX Kunden_firma ON Kunden (Firma);
CREATE INDEX Kunden_erfasst ON Kunden (Erfasst DESC);
CREATE UNIQUE INDEX Kunden_primarykey ON Kunden (KundenNr);
CREATE TABLE "Straßen" ("Straße" varchar(40) NOT NULL, PRIMARY KEY ("Straße"));
CREATE TABLE Bestellungen (BestellNr integer NOT NULL PRIMARY KEY,
  KundenNr int REFERENCES Kunden (KundenNr) ON DELETE CASCADE ON UPDATE SET NULL,
  "Straße" varchar(40),
  FOREIGN KEY ("Straße") REFERENCES "Straßen" ("Straße") ON DELETE SET DEFAULT);
CREATE VIEW Kundenliste AS SELECT KundenNr, Firma FROM Kunden;
"""


class Catalog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="norvane-odbc-")
        path = os.path.join(cls.dir.name, "Firma.nvd")
        made = subprocess.run([VORLIN, path], capture_output=True, text=True)
        assert made.returncode == 0, made.stderr
        with sqlite3.connect(path) as db:
            db.executescript(SCHEMA)
        cls.cnxn = pyodbc.connect("Driver=Norvane;Database=" + path, autocommit=True)

    @classmethod
    def tearDownClass(cls):
        cls.cnxn.close()
        cls.dir.cleanup()

    def cursor(self):
        return self.cnxn.cursor()

    def test_statistics_list_the_key_first_once_then_unique_then_the_rest(self):
        rows = self.cursor().statistics("Kunden").fetchall()
        self.assertEqual(rows[0].type, SQL_TABLE_STAT)
        self.assertIsNone(rows[0].index_name)
        got = [(r.index_name, r.column_name, r.non_unique, r.asc_or_desc) for r in rows[1:]]
        self.assertEqual(got, [("Kunden_primarykey", "KundenNr", False, "A"),
                               ("Kunden_firma", "Firma", False, "A"),
                               ("Kunden_erfasst", "Erfasst", True, "D")])
        unique = self.cursor().statistics("Kunden", unique=True).fetchall()
        self.assertEqual([r.index_name for r in unique[1:]], ["Kunden_primarykey", "Kunden_firma"])

    def test_columns_report_the_declared_types(self):
        cols = {r.column_name: r for r in self.cursor().columns(table="Kunden")}
        self.assertEqual(list(cols), ["KundenNr", "Firma", "Größe", "Rabatt", "Anteil", "Kennung",
                                      "Beginn", "Erfasst", "Notiz"])
        self.assertEqual([cols[c].ordinal_position for c in cols], list(range(1, 10)))
        big = cols["Größe"]
        self.assertEqual((big.data_type, big.column_size, big.decimal_digits, big.num_prec_radix),
                         (pyodbc.SQL_DECIMAL, 19, 4, 10))
        firma = cols["Firma"]
        self.assertEqual((firma.data_type, firma.column_size, firma.nullable, firma.is_nullable),
                         (pyodbc.SQL_WVARCHAR, 60, pyodbc.SQL_NO_NULLS, "NO"))
        self.assertEqual(cols["Notiz"].is_nullable, "YES")
        self.assertEqual(cols["Notiz"].column_def, "'keine'")
        self.assertEqual(cols["Rabatt"].data_type, pyodbc.SQL_REAL)
        self.assertEqual(cols["Anteil"].data_type, pyodbc.SQL_REAL)
        self.assertEqual(cols["Kennung"].data_type, pyodbc.SQL_GUID)
        for name, code, sub in (("Beginn", pyodbc.SQL_TYPE_TIME, 2),
                                ("Erfasst", pyodbc.SQL_TYPE_TIMESTAMP, 3)):
            self.assertEqual((cols[name].data_type, cols[name].sql_data_type,
                              cols[name].sql_datetime_sub), (code, 9, sub), name)
        # A pattern on the column, and a view's columns.
        self.assertEqual([r.column_name for r in self.cursor().columns(table="Kunden",
                                                                       column="K%")],
                         ["KundenNr", "Kennung"])
        self.assertEqual([r.column_name for r in self.cursor().columns(table="Kundenliste")],
                         ["KundenNr", "Firma"])

    def test_keys_and_non_ascii_names_come_back_exactly(self):
        pk = self.cursor().primaryKeys("Kunden").fetchall()
        self.assertEqual([(r.column_name, r.key_seq, r.pk_name) for r in pk],
                         [("KundenNr", 1, "Kunden_primarykey")])
        pk = self.cursor().primaryKeys("Straßen").fetchall()
        self.assertEqual([(r.table_name, r.column_name) for r in pk], [("Straßen", "Straße")])
        stats = self.cursor().statistics("Straßen").fetchall()
        self.assertEqual([r.column_name for r in stats[1:]], ["Straße"])
        cols = [r.column_name for r in self.cursor().columns(table="Stra_en")]
        self.assertEqual(cols, ["Straße"])
        tables = {r.table_name: r.table_type for r in self.cursor().tables()}
        self.assertEqual(tables.get("Straßen"), "TABLE")
        self.assertEqual(tables.get("Kundenliste"), "VIEW")
        self.assertEqual(tables.get("SYS.SYSUSER"), "SYSTEM TABLE")
        only = [r.table_name for r in self.cursor().tables(tableType="VIEW")]
        self.assertEqual(only, ["Kundenliste"])

    def test_foreign_keys_in_both_directions_with_their_rules(self):
        by_parent = self.cursor().foreignKeys(table="Kunden").fetchall()
        self.assertEqual([(r.fktable_name, r.fkcolumn_name, r.pkcolumn_name, r.key_seq,
                           r.update_rule, r.delete_rule, r.pk_name, r.deferrability)
                          for r in by_parent],
                         [("Bestellungen", "KundenNr", "KundenNr", 1, SQL_SET_NULL,
                           SQL_CASCADE, "Kunden_primarykey", SQL_NOT_DEFERRABLE)])
        by_child = self.cursor().foreignKeys(foreignTable="Bestellungen").fetchall()
        self.assertEqual([(r.pktable_name, r.pkcolumn_name, r.fkcolumn_name, r.delete_rule,
                           r.update_rule) for r in by_child],
                         [("Kunden", "KundenNr", "KundenNr", SQL_CASCADE,
                           SQL_SET_NULL),
                          ("Straßen", "Straße", "Straße", SQL_SET_DEFAULT,
                           SQL_NO_ACTION)])
        pair = self.cursor().foreignKeys(table="Straßen", foreignTable="Bestellungen").fetchall()
        self.assertEqual([r.pktable_name for r in pair], ["Straßen"])

    def test_driver_information_through_the_wide_calls(self):
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_DBMS_NAME), "Norvane")
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_IDENTIFIER_QUOTE_CHAR), '"')
        self.assertTrue(self.cnxn.getinfo(pyodbc.SQL_DATABASE_NAME).endswith("Firma.nvd"))
        types = [r.type_name for r in self.cursor().getTypeInfo(pyodbc.SQL_TYPE_TIMESTAMP)]
        self.assertTrue(types, "no type for SQL_TYPE_TIMESTAMP")


if __name__ == "__main__":
    VORLIN = sys.argv.pop(1)
    unittest.main()
