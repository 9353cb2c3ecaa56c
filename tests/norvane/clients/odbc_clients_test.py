"""The Norvane ODBC driver as applications use it: pyodbc (Debian's python3-pyodbc) and
unixODBC's isql, through the driver manager, on databases that norvane-migrate made.

Usage: odbc_clients_test.py --tools DIR --migrate BIN --data DIR
ODBCSYSINI must name the folder whose odbcinst.ini registers the driver under test.
"""
import argparse
import datetime
import decimal
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

import pyodbc

ARGS = None
WORK = None
MIGRATED = {}  # Access file name -> Norvane file path

SQL = {"WVARCHAR": -9, "WLONGVARCHAR": -10, "INTEGER": 4, "SMALLINT": 5, "TINYINT": -6,
       "BIT": -7, "REAL": 7, "DOUBLE": 8, "DECIMAL": 3, "TYPE_TIMESTAMP": 93, "TYPE_TIME": 92,
       "GUID": -11, "LONGVARBINARY": -4, "VARBINARY": -3}


def connect(path, **kw):
    return pyodbc.connect("Driver=Norvane;Database=" + path, **kw)


def migrate(name, link):
    folder = os.path.join(WORK, os.path.splitext(name)[0])
    os.makedirs(folder, exist_ok=True)
    access = os.path.join(folder, name)
    shutil.copy(os.path.join(ARGS.data, name), access)
    env = dict(os.environ, PATH=ARGS.tools + os.pathsep + os.environ["PATH"])
    command = [ARGS.migrate, "--access", access] + (["--link"] if link else [])
    done = subprocess.run(command, cwd=folder, env=env, capture_output=True, text=True,
                          timeout=600)
    if done.returncode != 0:
        raise AssertionError("norvane-migrate failed on %s:\n%s%s" % (name, done.stdout,
                                                                     done.stderr))
    made = [f for f in os.listdir(folder) if f.endswith((".db", ".acdb"))]
    if len(made) != 1:
        raise AssertionError("%s: expected one Norvane file, found %s" % (name, made))
    return os.path.join(folder, made[0])


def access_columns(path):
    """{table: [(column, Access type)]} as mdb-schema's Access backend prints them."""
    out = subprocess.run(["mdb-schema", path, "access"], capture_output=True, text=True,
                         check=True).stdout
    tables, current = {}, None
    for line in out.splitlines():
        m = re.match(r"CREATE TABLE \[(.*)\]$", line)
        if m:
            current = tables.setdefault(m.group(1), [])
            continue
        m = re.match(r"\t\[(.*)\]\t+(.+?)(?: NOT NULL)?,?\s*$", line)
        if m and current is not None:
            current.append((m.group(1), m.group(2).strip()))
    return tables


def expected_type(access_type):
    """(SQL types allowed, column size, decimal digits) of an Access type; None: any."""
    m = re.match(r"Text \((\d+)\)", access_type)
    if m:
        return ({SQL["WVARCHAR"]}, int(m.group(1)), None)
    m = re.match(r"Numeric \((\d+), (\d+)\)", access_type)
    if m:
        return ({SQL["DECIMAL"]}, int(m.group(1)), int(m.group(2)))
    fixed = {
        "Currency": ({SQL["DECIMAL"]}, 19, 4),
        "Long Integer": ({SQL["INTEGER"]}, None, None),
        "Integer": ({SQL["SMALLINT"]}, None, None),
        "Byte": ({SQL["TINYINT"]}, None, None),
        "Boolean": ({SQL["BIT"]}, None, None),
        "Single": ({SQL["REAL"]}, None, None),
        "Double": ({SQL["DOUBLE"]}, None, None),
        "DateTime": ({SQL["TYPE_TIMESTAMP"], SQL["TYPE_TIME"]}, None, None),
        "Replication ID": ({SQL["GUID"]}, None, None),
    }
    if access_type in fixed:
        return fixed[access_type]
    if access_type.startswith("Memo"):
        return ({SQL["WLONGVARCHAR"]}, None, None)
    if access_type.startswith("OLE"):
        return ({SQL["LONGVARBINARY"]}, None, None)
    if access_type.startswith("Binary"):
        return ({SQL["VARBINARY"], SQL["LONGVARBINARY"]}, None, None)
    return None


def user_tables(db):
    return [r[0] for r in db.execute(
        "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'SYS.%' "
        "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name")]


def quoted(name):
    return '"' + name.replace('"', '""') + '"'


def stored_equals(declared, stored, seen):
    """Whether the driver's value `seen` is the stored value, exactly, for the declared type."""
    base = declared.lower().split("(")[0].strip()
    if stored is None or seen is None:
        return stored is None and seen is None
    if base == "numeric_blob":
        scale = int(re.search(r",\s*(\d+)\)", declared).group(1))
        want = decimal.Decimal(repr(stored) if isinstance(stored, float) else str(stored))
        # Every stored digit, and the column's scale.
        return isinstance(seen, decimal.Decimal) and seen == want and \
            -seen.as_tuple().exponent == scale
    if base in ("real", "float", "double"):
        return isinstance(seen, float) and seen == float(stored) and \
            repr(seen) == repr(float(stored))
    if base == "bit":
        return seen is bool(stored) or seen == bool(stored)
    if base == "timestamp":
        return seen == datetime.datetime.fromisoformat(stored)
    if base == "time":
        return seen == datetime.time.fromisoformat(stored)
    if base in ("guid", "char") and isinstance(stored, str) and stored.startswith("{"):
        return str(seen).upper() == stored.strip("{}").upper()
    if isinstance(stored, bytes):
        return bytes(seen) == stored
    return seen == stored


class MigratedFiles(unittest.TestCase):
    """Every value of every migrated file reads back through the driver as it is stored, with
    the type its Access column has."""

    def test_types_per_access_type(self):
        checked = 0
        for name, path in MIGRATED.items():
            access = access_columns(os.path.join(ARGS.data, name))
            with connect(path) as c:
                cursor = c.cursor()
                tables = [t.table_name for t in cursor.tables(tableType="TABLE")]
                for table in tables:
                    columns = list(cursor.columns(table=table))
                    names = [col.column_name for col in columns]
                    # The Access table of the same name (the migration may have put "_" for
                    # blanks), with the same columns.
                    source = next((cols for t, cols in access.items()
                                   if table in (t, t.replace(" ", "_"))
                                   and [n for n, _ in cols] == names), None)
                    if source is None:
                        continue
                    for col, (_, access_type) in zip(columns, source):
                        want = expected_type(access_type)
                        if want is None:
                            continue
                        types, size, digits = want
                        where = "%s: %s.%s (%s)" % (name, table, col.column_name, access_type)
                        self.assertIn(col.data_type, types, where)
                        if size is not None:
                            self.assertEqual(col.column_size, size, where)
                        if digits is not None:
                            self.assertEqual(col.decimal_digits, digits, where)
                        described = cursor.execute(
                            "SELECT %s FROM %s" % (quoted(col.column_name), quoted(table)))
                        self.assertEqual(described.description[0][0], col.column_name, where)
                        checked += 1
        self.assertGreater(checked, 100)

    def test_time_columns_are_times(self):
        path = MIGRATED["modern-dev-V2010.accdb"]
        with connect(path) as c:
            column = next(c.cursor().columns(table="Aufträge", column="Lieferzeit"))
            self.assertEqual(column.data_type, SQL["TYPE_TIME"])
            row = c.cursor().execute('SELECT "Lieferzeit" FROM "Aufträge" ORDER BY rowid').fetchone()
            self.assertIsInstance(row[0], datetime.time)

    def test_every_value_as_stored(self):
        compared = decimals = doubles = 0
        for name, path in MIGRATED.items():
            direct = sqlite3.connect(path)
            direct.text_factory = str
            with connect(path) as c:
                cursor = c.cursor()
                for table in user_tables(direct):
                    info = direct.execute("SELECT name, type FROM pragma_table_info(?)",
                                          (table,)).fetchall()
                    stored = direct.execute("SELECT * FROM %s ORDER BY rowid" %
                                            quoted(table)).fetchall()
                    seen = cursor.execute("SELECT * FROM %s ORDER BY rowid" %
                                          quoted(table)).fetchall()
                    self.assertEqual(len(seen), len(stored), table)
                    for r, (a, b) in enumerate(zip(stored, seen)):
                        for (column, declared), x, y in zip(info, a, b):
                            self.assertTrue(
                                stored_equals(declared, x, y),
                                "%s: %s.%s row %d: stored %r, driver %r" % (
                                    name, table, column, r + 1, x, y))
                            compared += 1
                            if x is not None and declared.startswith("numeric_blob"):
                                decimals += 1
                            if x is not None and declared.split("(")[0] in ("real", "float",
                                                                            "double"):
                                doubles += 1
            direct.close()
        print("compared %d values (%d decimals, %d doubles)" % (compared, decimals, doubles))
        self.assertGreater(decimals, 100)
        self.assertGreater(doubles, 100)

    def test_long_decimals_keep_every_digit(self):
        # Values with more than 15 significant digits are kept as text: none may be rounded.
        long_ones = 0
        for path in MIGRATED.values():
            direct = sqlite3.connect(path)
            with connect(path) as c:
                for table in user_tables(direct):
                    for column, declared in direct.execute(
                            "SELECT name, type FROM pragma_table_info(?)", (table,)):
                        if not declared.startswith("numeric_blob"):
                            continue
                        texts = direct.execute(
                            "SELECT rowid, %s FROM %s WHERE typeof(%s) = 'text'" %
                            (quoted(column), quoted(table), quoted(column))).fetchall()
                        for rowid, text in texts:
                            value = c.cursor().execute(
                                "SELECT %s FROM %s WHERE rowid = ?" % (quoted(column),
                                                                       quoted(table)),
                                rowid).fetchone()[0]
                            self.assertEqual(value, decimal.Decimal(text), (table, column))
                            long_ones += 1
            direct.close()
        self.assertGreater(long_ones, 0)

    def test_non_ascii_names_unpadded(self):
        path = MIGRATED["edge-jet4.mdb"]
        with connect(path) as c:
            cursor = c.cursor()
            names = [col.column_name for col in cursor.columns(table="Customers")]
            self.assertIn("Größe", names)
            cursor.execute('SELECT "Größe" FROM "Customers"')
            self.assertEqual(cursor.description[0][0], "Größe")
            self.assertEqual(cursor.fetchone()[0], "größe-0")


class Connections(unittest.TestCase):
    def test_only_norvane_files_open(self):
        folder = tempfile.mkdtemp(dir=WORK)
        plain = os.path.join(folder, "plain.db")
        sqlite3.connect(plain).execute("CREATE TABLE t (a)").connection.close()
        text = os.path.join(folder, "notes.db")
        with open(text, "w") as f:
            f.write("not a database\n" * 100)
        missing = os.path.join(folder, "missing.db")
        for path in (plain, text, missing):
            with self.assertRaises(pyodbc.Error) as caught:
                connect(path)
            self.assertEqual(caught.exception.args[0], "08001", path)
        self.assertFalse(os.path.exists(missing), "the driver created a file")
        self.assertIn("not a Norvane database", str(caught.exception.args) + str(
            self._error_of(plain)))

    def _error_of(self, path):
        try:
            connect(path)
        except pyodbc.Error as e:
            return e.args
        return ()

    def test_data_source_and_connection_string_of_links(self):
        path = MIGRATED["modern-dev-V2010.accdb"]
        # A link holds "DRIVER=Norvane;Database=..." with keys the earlier driver wrote too.
        with pyodbc.connect("DRIVER={Norvane};Database=%s;Timeout=5000;StepAPI=0" % path) as c:
            self.assertEqual(c.getinfo(pyodbc.SQL_DBMS_NAME), "Norvane")

    def test_locked_database_ends_at_the_time_limit(self):
        path = os.path.join(tempfile.mkdtemp(dir=WORK), "held.db")
        subprocess.run([os.path.join(ARGS.tools, "vorlin.exe"), path], check=True,
                       capture_output=True)
        with connect(path, autocommit=True) as c:
            c.execute("CREATE TABLE t (a integer)")
        holder = sqlite3.connect(path, isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        holder.execute("INSERT INTO t VALUES (1)")
        try:
            with connect(path, autocommit=True) as c:
                c.timeout = 1  # the query time limit of the cursors it makes
                cursor = c.cursor()
                started = time.monotonic()
                with self.assertRaises(pyodbc.Error) as caught:
                    cursor.execute("INSERT INTO t VALUES (2)")
                waited = time.monotonic() - started
            self.assertEqual(caught.exception.args[0], "HYT00")
            self.assertIn("database is locked", caught.exception.args[1])
            self.assertGreaterEqual(waited, 0.9)
            self.assertLess(waited, 30)
        finally:
            holder.execute("ROLLBACK")
            holder.close()


class Writing(unittest.TestCase):
    def setUp(self):
        self.path = os.path.join(tempfile.mkdtemp(dir=WORK), "w.db")
        subprocess.run([os.path.join(ARGS.tools, "vorlin.exe"), self.path], check=True,
                       capture_output=True)
        with connect(self.path, autocommit=True) as c:
            c.execute('CREATE TABLE "Beträge" ("Nr" integer NOT NULL PRIMARY KEY, '
                      '"Betrag" numeric_blob(19,4), "Wert" numeric_blob(28,10), "D" double, '
                      '"S" real, "T" timestamp)')

    def test_decimals_and_doubles_round_trip(self):
        values = [decimal.Decimal(v) for v in (
            "922337203685477.5807", "-922337203685477.5808", "0.0001", "-0.0001", "0",
            "12345678901234.1001", "100000000000000.0000")]
        wide = decimal.Decimal("999999999999999999.9999999999")
        doubles = [0.05000000074505806, 1e300, -2.2250738585072014e-308, 0.1 + 0.2]
        with connect(self.path) as c:
            cursor = c.cursor()
            for i, v in enumerate(values):
                cursor.execute('INSERT INTO "Beträge" ("Nr", "Betrag", "Wert", "D") '
                               'VALUES (?, ?, ?, ?)', i, v, wide, doubles[i % len(doubles)])
            c.commit()
            rows = cursor.execute('SELECT "Nr", "Betrag", "Wert", "D" FROM "Beträge" '
                                  'ORDER BY "Nr"').fetchall()
        for i, row in enumerate(rows):
            self.assertEqual(row[1], values[i])
            self.assertEqual(-row[1].as_tuple().exponent, 4)
            self.assertEqual(row[2], wide)
            self.assertEqual(repr(row[3]), repr(doubles[i % len(doubles)]))
        # Amounts of up to 15 significant digits are numbers to SQL: sums and comparisons
        # work on them; longer ones are kept as their exact text.
        direct = sqlite3.connect(self.path)
        kinds = dict(direct.execute('SELECT "Nr", typeof("Betrag") FROM "Beträge"'))
        self.assertEqual(kinds, {0: "text", 1: "text", 2: "real", 3: "real", 4: "real",
                                 5: "text", 6: "real"})
        self.assertEqual(direct.execute(
            'SELECT count(*) FROM "Beträge" WHERE typeof("Betrag") = \'real\' '
            'AND "Betrag" > 0.00005').fetchone()[0], 2)
        self.assertEqual(direct.execute(
            'SELECT sum("Betrag") FROM "Beträge" WHERE "Nr" IN (2, 3, 6)').fetchone()[0],
            100000000000000.0)

    def test_executemany_with_a_failing_row_writes_nothing(self):
        with connect(self.path) as c:
            cursor = c.cursor()
            cursor.fast_executemany = True
            rows = [(1, decimal.Decimal("1.5")), (2, decimal.Decimal("2.25")),
                    (1, decimal.Decimal("3")), (4, decimal.Decimal("4"))]
            with self.assertRaises(pyodbc.IntegrityError):
                cursor.executemany('INSERT INTO "Beträge" ("Nr", "Betrag") VALUES (?, ?)', rows)
            c.rollback()
            self.assertEqual(cursor.execute('SELECT count(*) FROM "Beträge"').fetchone()[0], 0)
            cursor.executemany('INSERT INTO "Beträge" ("Nr", "Betrag") VALUES (?, ?)',
                               [r for r in rows if r != rows[2]])
            c.commit()
            self.assertEqual(
                cursor.execute('SELECT sum("Betrag") FROM "Beträge"').fetchone()[0], 7.75)

    def test_long_text_in_pieces(self):
        text = "Grüße " * 100000
        with connect(self.path) as c:
            c.execute('CREATE TABLE m ("Nr" integer, "Memo" text)')
            c.execute("INSERT INTO m VALUES (?, ?)", 1, text)
            c.commit()
            self.assertEqual(c.execute('SELECT "Memo" FROM m').fetchone()[0], text)


class Isql(unittest.TestCase):
    def test_isql_reads_exact_decimals(self):
        path = MIGRATED["edge-jet4.mdb"]
        done = subprocess.run(["isql", "-b", "-d|", "-k", "Driver=Norvane;Database=" + path],
                              input='SELECT "Rate" FROM "Orders" ORDER BY rowid\n',
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        first = done.stdout.split()[0]
        direct = sqlite3.connect(path).execute(
            'SELECT "Rate" FROM "Orders" ORDER BY rowid').fetchone()[0]
        stored = repr(direct) if isinstance(direct, float) else str(direct)
        self.assertEqual(decimal.Decimal(first), decimal.Decimal(stored))
        self.assertEqual(len(first.split(".")[1]), 6)


def main():
    global ARGS, WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--tools", required=True)
    parser.add_argument("--migrate", required=True)
    parser.add_argument("--data", required=True)
    ARGS, rest = parser.parse_known_args()
    WORK = tempfile.mkdtemp(prefix="norvane-odbc-clients-")
    try:
        for name in sorted(os.listdir(ARGS.data)):
            # preflight-dev.mdb is made to be stopped by the check before the run.
            if name.endswith((".mdb", ".accdb")) and name != "preflight-dev.mdb":
                MIGRATED[name] = migrate(name, link=name.startswith("modern-dev"))
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
        return 0 if program.result.wasSuccessful() else 1
    finally:
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
