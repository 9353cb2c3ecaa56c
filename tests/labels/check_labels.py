#!/usr/bin/env python3
"""Fails when a test of the build tree has no label, or not exactly one of LABELS.

  check_labels.py CTEST BUILD_DIR
"""

import json
import subprocess
import sys

# scripts/test.sh --quick leaves out "soak"; tests/CMakeLists.txt says what each one holds.
LABELS = {"unit", "adapter", "gui", "e2e", "soak"}


def main(argv):
    ctest, build = argv[1], argv[2]
    listing = subprocess.run([ctest, "--test-dir", build, "--show-only=json-v1"],
                             check=True, capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    bad = 0
    for test in tests:
        labels = []
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels = prop["value"]
        if len(labels) != 1 or labels[0] not in LABELS:
            print("%s: labels %s, wanted one of %s" % (test["name"], labels, sorted(LABELS)))
            bad += 1
    print("%d tests, %d without exactly one label" % (len(tests), bad))
    return 1 if bad or not tests else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
