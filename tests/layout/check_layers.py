#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

  check_layers.py [SOURCE_ROOT]     (default: the folder two levels above this script)
  check_layers.py --self-test       checks the checker on small planted trees

Every #include "..." of every .h/.cpp under the root is resolved (beside the including file
first, then in INCLUDE_DIRS) and judged by the tables below. Edit the tables when folders move.
"""

import fnmatch
import os
import re
import sys
import tempfile

# ---- The layers: edit here -------------------------------------------------------------------

# Folder (relative to the source root) -> layer, lowest first. A folder stands for the files
# directly inside it; a name ending in "/**" also stands for every folder below it. A source file
# in a folder missing from this table is an error, so that a new folder gets a layer.
FOLDERS = {
    # 0: interfaces and plain utilities
    "platform": 0,
    "platform/dao": 0,
    # 1-4: the core, lowest first: the options of one migration, database creation, the report,
    # the run and the flow
    "options": 1,
    "target": 2,
    "report": 3,
    "engine": 4,
    # 5: adapters (they may include the core, whose interfaces they implement)
    "platform/access": 5,
    "platform/odbc": 5,
    "platform/postgres": 5,
    "platform/jetwriter": 5,
    "platform/shell": 5,
    "platform/ui": 5,
    "platform/verify": 5,
    # 6: the stand-in product
    "norvane": 6,
    "norvane/odbc": 6,  # its ODBC driver, a library of its own
    # 7: the two programs
    "wizard": 7,
    "migrate": 7,
    # above everything: may include anything
    "tests/**": 9,
    "bench/**": 9,
}

# Folders that may include only their own files and the layers listed.
ONLY = {
    "norvane": [0],
    "norvane/odbc": [6],
}

# (including folder, included folder): forbidden although the layers would allow it.
APART = [
    ("wizard", "migrate"),
    ("migrate", "wizard"),
]

# Known exceptions, (including file pattern, included header pattern) with fnmatch patterns ("*"
# also matches "/"). Each entry must still match something.
ALLOWED = [
    # The tools print their errors in the form the shell reads back for the report.
    ("norvane/*_main.cpp", "platform/shell/tool_output.h"),
]

# Folders #include "..." searches after the including file's own folder (the include
# directories of the build).
INCLUDE_DIRS = ["", "tests"]

# ---- The check -------------------------------------------------------------------------------

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def folder_of(path):
    """The FOLDERS key a file (relative path) belongs to, or None."""
    folder = os.path.dirname(path)
    if folder in FOLDERS and not folder.endswith("/**"):
        return folder
    best = None
    for key in FOLDERS:
        base = key[:-3]
        if key.endswith("/**") and (folder == base or folder.startswith(base + "/")):
            if best is None or len(key) > len(best):
                best = key
    return best


def sources(root):
    for top, dirs, files in os.walk(root):
        # Hidden folders and build trees are not ours.
        dirs[:] = sorted(d for d in dirs
                         if not d.startswith(".") and not (top == root and d.startswith("build")) and
                         not os.path.exists(os.path.join(top, d, "CMakeCache.txt")))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(top, name), root).replace(os.sep, "/")


def resolve(root, path, header):
    places = [os.path.dirname(path)] + INCLUDE_DIRS
    for candidate in (os.path.normpath(os.path.join(place, header)) for place in places):
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def judge(path, header, src, dst):
    """Why `path` (in folder src) must not include `header` (in folder dst), or None."""
    if src == dst:
        return None
    low, high = FOLDERS[src], FOLDERS[dst]
    if high > low:
        return "layer %d (%s) includes layer %d (%s)" % (low, src, high, dst)
    if src in ONLY and high not in ONLY[src]:
        return "%s may include only its own files and layers %s" % (
            src, ", ".join(str(n) for n in ONLY[src]))
    if (src, dst) in APART:
        return "%s must not include %s" % (src, dst)
    return None


def check(root, allowed):
    """Returns (errors, violations kept by the allow-list)."""
    errors, kept, used = [], [], set()
    for path in sources(root):
        src = folder_of(path)
        if src is None:
            errors.append("%s: folder %s has no layer" % (path, os.path.dirname(path) or "."))
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for header in INCLUDE.findall(text):
            target = resolve(root, path, header)
            if target is None:
                errors.append('%s: #include "%s" is not a file of ours' % (path, header))
                continue
            dst = folder_of(target)
            if dst is None:
                errors.append("%s: %s lies in a folder with no layer" % (path, target))
                continue
            why = judge(path, target, src, dst)
            if why is None:
                continue
            line = "%s: #include \"%s\": %s" % (path, header, why)
            hits = [i for i, (p, h) in enumerate(allowed)
                    if fnmatch.fnmatchcase(path, p) and fnmatch.fnmatchcase(target, h)]
            if hits:
                used.update(hits)
                kept.append(line)
            else:
                errors.append(line)
    for i, (p, h) in enumerate(allowed):
        if i not in used:
            errors.append("allowed (%s, %s) no longer occurs: remove it from ALLOWED" % (p, h))
    return errors, kept


def self_test():
    """The checker on planted trees: each case's expected errors, by substring."""
    cases = [
        ({"engine/a.cpp": '#include "wizard/b.h"', "wizard/b.h": ""}, [],
         ["layer 4 (engine) includes layer 7 (wizard)"]),
        ({"target/a.cpp": '#include "engine/b.h"', "engine/b.h": ""}, [],
         ["layer 2 (target) includes layer 4 (engine)"]),
        ({"norvane/a.cpp": '#include "platform/shell/b.h"', "platform/shell/b.h": ""}, [],
         ["norvane may include only"]),
        ({"wizard/a.cpp": '#include "migrate/b.h"', "migrate/b.h": ""}, [],
         ["wizard must not include migrate"]),
        ({"engine/a.cpp": '#include "tests/support/b.h"', "tests/support/b.h": ""}, [],
         ["includes layer 9"]),
        ({"tests/x/a.cpp": '#include "b.h"\n#include "wizard/c.h"', "tests/x/b.h": "",
          "wizard/c.h": ""}, [], []),
        ({"engine/a.cpp": '#include "nowhere.h"'}, [], ["is not a file of ours"]),
        ({"newfolder/a.cpp": ""}, [], ["folder newfolder has no layer"]),
        ({"engine/a.cpp": '  # include "wizard/b.h"', "wizard/b.h": ""},
         [("engine/*", "wizard/b.h")], []),
        ({"engine/a.cpp": ""}, [("engine/*", "wizard/b.h")], ["no longer occurs"]),
    ]
    failed = 0
    for number, (files, allowed, expected) in enumerate(cases, 1):
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text + "\n")
            errors, _ = check(root, allowed)
        unmatched = [e for e in expected if not any(e in error for error in errors)]
        if unmatched or len(errors) != len(expected):
            failed += 1
            print("case %d: expected %s, got %s" % (number, expected, errors))
    print("%d of %d self-test cases failed" % (failed, len(cases)))
    return 1 if failed else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    errors, kept = check(os.path.abspath(root), ALLOWED)
    for line in kept:
        print("allowed for now: " + line)
    for line in errors:
        print("error: " + line)
    print("%d layer errors, %d known violations allowed" % (len(errors), len(kept)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
