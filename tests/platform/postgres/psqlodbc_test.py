"""psqlODBC (Debian's odbc-postgresql, registered by the build as "PostgreSQL Unicode") on the
column types the PostgreSQL target writes, as an Access link sees them through pyodbc, on a
private server (tests/support/private_postgres.py). The password comes from PGPASSWORD only.

ODBCSYSINI must name the folder whose odbcinst.ini registers "PostgreSQL Unicode".
"""
import decimal
import datetime
import os
import struct
import sys
import unittest
import uuid

import pyodbc

from private_postgres import PrivateServer

SERVER = None

# SQL types (sql.h, sqlext.h).
BIT, SMALLINT, INTEGER, NUMERIC, REAL, FLOAT = -7, 5, 4, 2, 7, 6
TYPE_TIMESTAMP, WVARCHAR, WLONGVARCHAR, LONGVARBINARY, GUID, VARCHAR = 93, -9, -10, -4, -11, 12

# Each PostgreSQL type of the target, the SQL type psqlODBC reports for it with BoolsAsChar=0
# (with its size and digits where Access's type depends on them), and the Access type a link
# shows for that SQL type.
COLUMNS = [
    ("yes", "boolean", (BIT, None, None), "Yes/No"),
    ("small", "smallint", (SMALLINT, None, None), "Integer"),
    ("long", "integer", (INTEGER, None, None), "Long Integer"),
    ("cur", "numeric(19,4)", (NUMERIC, 19, 4), "Currency"),
    ("dec", "numeric(28,10)", (NUMERIC, 28, 10), "Decimal"),
    ("single", "real", (REAL, None, None), "Single"),
    ("double", "double precision", (FLOAT, None, None), "Double"),
    ("at", "timestamp", (TYPE_TIMESTAMP, None, None), "Date/Time"),
    ("name", "varchar(255)", (WVARCHAR, 255, None), "Text(255)"),
    ("memo", "text", (WLONGVARCHAR, None, None), "Memo"),
    ("ole", "bytea", (LONGVARBINARY, None, None), "OLE Object"),
    ("guid", "uuid", (GUID, None, None), "Replication ID"),
]


def connect(options="BoolsAsChar=0;", **env):
    e = SERVER.env
    return pyodbc.connect("Driver={PostgreSQL Unicode};Server=%s;Port=%s;Database=%s;Uid=%s;%s"
                          % (e["NORVANE_PG_TCP_HOST"], e["PGPORT"], e["PGDATABASE"], e["PGUSER"],
                             options), autocommit=True)


class PsqlOdbc(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.environ["PGPASSWORD"] = SERVER.env["PGPASSWORD"]
        with connect() as c:
            c.execute("CREATE TABLE kinds (%s)" % ", ".join(
                "%s %s" % (name, ddl) for name, ddl, _, _ in COLUMNS))
            c.execute("INSERT INTO kinds VALUES (true, -32768, 2147483647, "
                      "-922337203685477.5808, 999999999999999999.9999999999, 0.1, "
                      "1.7976931348623157e308, '2024-02-29 12:00:00.123456', 'Umsätze ✓', "
                      "repeat('x', 70000), '\\x00ff', '6f9619ff-8b86-d011-b42d-00c04fc964ff')")

    def test_each_type_is_reported_as_the_sql_type_access_links_as_wanted(self):
        with connect() as c:
            seen = {col.column_name: col for col in c.cursor().columns(table="kinds")}
        for name, ddl, (sql_type, size, digits), access in COLUMNS:
            with self.subTest(column=ddl, access=access):
                self.assertEqual(seen[name].data_type, sql_type)
                if size is not None:
                    self.assertEqual(seen[name].column_size, size)
                if digits is not None:
                    self.assertEqual(seen[name].decimal_digits, digits)

    def test_without_bools_as_char_off_a_boolean_is_text_not_yes_no(self):
        # psqlODBC's default BoolsAsChar=1: a link would show Text(5), so the link's connect
        # string sets BoolsAsChar=0.
        with connect("") as c:
            seen = {col.column_name: col for col in c.cursor().columns(table="kinds")}
            self.assertEqual((seen["yes"].data_type, seen["yes"].column_size), (VARCHAR, 5))
            self.assertEqual(c.execute("SELECT yes FROM kinds").fetchone()[0], "1")

    def test_values_come_back_exact(self):
        with connect() as c:
            row = c.execute("SELECT * FROM kinds").fetchone()
        self.assertIs(row.yes, True)
        self.assertEqual(row.small, -32768)
        self.assertEqual(row.long, 2147483647)
        self.assertEqual(row.cur, decimal.Decimal("-922337203685477.5808"))
        self.assertEqual(row.dec, decimal.Decimal("999999999999999999.9999999999"))
        # psqlODBC gives a real's shortest text, which reads back as the same float.
        self.assertEqual(struct.pack("<f", row.single), struct.pack("<f", 0.1))
        self.assertEqual(row.double, 1.7976931348623157e308)
        self.assertEqual(row.at, datetime.datetime(2024, 2, 29, 12, 0, 0, 123456))
        self.assertEqual(row.name, "Umsätze ✓")
        self.assertEqual(len(row.memo), 70000)
        self.assertEqual(row.ole, b"\x00\xff")
        self.assertEqual(uuid.UUID(row.guid), uuid.UUID("6f9619ff-8b86-d011-b42d-00c04fc964ff"))

    def test_the_password_comes_from_the_environment_only(self):
        # The connect strings above hold no password; without PGPASSWORD the login fails.
        saved = os.environ.pop("PGPASSWORD")
        home = os.environ.get("HOME")
        os.environ["HOME"] = "/nonexistent"  # no ~/.pgpass either
        try:
            with self.assertRaises(pyodbc.Error) as refused:
                connect()
            self.assertIn("no password supplied", str(refused.exception))
            os.environ["PGPASSWORD"] = saved + "x"
            with self.assertRaises(pyodbc.Error) as wrong:
                connect()
            self.assertIn("password authentication failed", str(wrong.exception))
        finally:
            os.environ["PGPASSWORD"] = saved
            if home is None:
                os.environ.pop("HOME", None)
            else:
                os.environ["HOME"] = home
        with connect() as c:
            self.assertEqual(c.execute("SELECT current_user").fetchone()[0], "norvane_test")


class Fixture(unittest.TestCase):
    def test_a_server_of_its_own_unprivileged_and_removed_at_the_end(self):
        with PrivateServer() as other:
            folder = other.env["NORVANE_PG_DIR"]
            self.assertNotEqual(other.env["PGPORT"], SERVER.env["PGPORT"])
            with open(os.path.join(folder, "data", "postmaster.pid")) as f:
                postmaster = int(f.readline())
            self.assertNotEqual(os.stat("/proc/%d" % postmaster).st_uid, 0)
        self.assertFalse(os.path.exists(folder))
        try:
            with open("/proc/%d/cmdline" % postmaster, "rb") as f:
                args = f.read()
        except OSError:
            args = b""
        self.assertNotIn(folder.encode(), args)


if __name__ == "__main__":
    if "PostgreSQL Unicode" not in pyodbc.drivers():
        sys.exit("psqlODBC is not registered as \"PostgreSQL Unicode\" (ODBCSYSINI=%s); "
                 "scripts/setup.sh installs odbc-postgresql" % os.environ.get("ODBCSYSINI"))
    with PrivateServer() as server:
        SERVER = server
        result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)
