#!/usr/bin/env python3
"""Fails when a test of the build tree would not load the build's own ODBC driver: a test
without ODBCSYSINI set to the build's folder (or asking for another one), or a folder whose
odbcinst.ini does not register "Norvane" as a driver inside the build tree.

  check_environment.py CTEST BUILD_DIR ODBCSYSINI
"""

import configparser
import json
import os
import subprocess
import sys


def main(argv):
    ctest, build, sysini = argv[1], os.path.realpath(argv[2]), argv[3]
    wanted = "ODBCSYSINI=set:" + sysini
    listing = subprocess.run([ctest, "--test-dir", build, "--show-only=json-v1"],
                             check=True, capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    bad = 0
    for test in tests:
        changes = []
        for prop in test.get("properties", []):
            if prop["name"] == "ENVIRONMENT_MODIFICATION":
                changes = prop["value"]
            if prop["name"] == "ENVIRONMENT" and any(
                    e.startswith("ODBCSYSINI=") and e != "ODBCSYSINI=" + sysini
                    for e in prop["value"]):
                print("%s: asks for another ODBCSYSINI %s" % (test["name"], prop["value"]))
                bad += 1
        if wanted not in changes:
            print("%s: environment changes %s, wanted %s" % (test["name"], changes, wanted))
            bad += 1
    print("%d tests, %d without the build's driver" % (len(tests), bad))

    ini = configparser.ConfigParser(interpolation=None)
    if not ini.read(os.path.join(sysini, "odbcinst.ini")) or not ini.has_option("Norvane",
                                                                                "Driver"):
        print("%s/odbcinst.ini registers no driver Norvane" % sysini)
        return 1
    driver = os.path.realpath(ini.get("Norvane", "Driver"))
    if not driver.startswith(build + os.sep):
        print("the driver Norvane of %s/odbcinst.ini is %s, outside the build" % (sysini, driver))
        return 1
    if not os.path.isfile(os.path.join(sysini, "odbc.ini")):
        print("%s/odbc.ini is missing: the machine's system data sources would be read" % sysini)
        return 1
    return 1 if bad or not tests else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
