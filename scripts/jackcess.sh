#!/usr/bin/env bash
# Builds Jackcess, the independent Java reader of Access files the link tests read the links
# back with, into build/jackcess/jackcess.jar (JACKCESS_JAR names another place). Only the
# library itself is compiled (javac, no Maven), from the public repository at a fixed commit:
# JACKCESS_GIT is a clone or a git directory of it (default: cloned from GitHub). Needs
# openjdk and the Debian packages libcommons-lang3-java and libcommons-logging-java
# (scripts/setup.sh installs them). Without the source it says so and exits 1; the tests then
# skip what needs Jackcess.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=7a3433dc34cfb8d68b2530215b1027b4dec4bdde
jar=${JACKCESS_JAR:-$PWD/build/jackcess/jackcess.jar}
source=${JACKCESS_GIT:-https://github.com/jahlborn/jackcess.git}
classpath=/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar
if [[ -f "$jar" && "$(cat "$jar.commit" 2>/dev/null)" == "$commit" ]]; then exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -d "$source" && ! -d "$source/.git" && -f "$source/HEAD" ]]; then
  git --git-dir="$source" archive "$commit" src/main | tar -x -C "$work"
else
  git clone -q --filter=blob:none --no-checkout "$source" "$work/clone" ||
    { echo "jackcess: cannot get the source from $source" >&2; exit 1; }
  git -C "$work/clone" archive "$commit" src/main | tar -x -C "$work"
fi
# The OLE compound-document reader needs Apache POI; Jackcess loads it only when asked for it.
find "$work/src/main/java" -name '*.java' ! -name CompoundOleUtil.java >"$work/sources"
mkdir -p "$work/classes" "$(dirname "$jar")"
javac -nowarn -encoding UTF-8 -d "$work/classes" -cp "$classpath" @"$work/sources" 2>&1 |
  grep -v '^Note: ' >&2 || true
cp -r "$work/src/main/resources/." "$work/classes/"
[[ -f "$work/classes/com/healthmarketscience/jackcess/Database.class" ]] ||
  { echo "jackcess: javac did not build the library" >&2; exit 1; }
jar cf "$jar.part" -C "$work/classes" .
mv "$jar.part" "$jar"
echo "$commit" >"$jar.commit"
echo "jackcess: built $jar"
