#!/usr/bin/env bash
# The build's ODBC driver as an application meets it.
#   driver_test.sh exports DRIVER            only SQL* functions exported, the needed ones there
#   driver_test.sh connect ODBCSYSINI VORLIN isql and iusql open a Norvane file through the
#                                            build's odbcinst.ini and refuse anything else
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

exports() {
  local driver=$1 symbols f
  symbols=$(nm -D --defined-only "$driver" | awk '{print $NF}')
  [ -n "$symbols" ] || fail "$driver exports nothing"
  if grep -v '^SQL' <<<"$symbols"; then fail "$driver exports more than SQL* functions (above)"; fi
  for f in SQLAllocHandle SQLFreeHandle SQLConnect SQLConnectW SQLDriverConnect SQLDriverConnectW \
           SQLDisconnect SQLGetInfo SQLGetInfoW SQLGetDiagRec SQLGetDiagRecW SQLGetFunctions \
           SQLSetConnectAttr SQLSetConnectAttrW SQLSetEnvAttr SQLEndTran \
           SQLPrepare SQLPrepareW SQLExecute SQLExecDirect SQLExecDirectW SQLBindParameter \
           SQLSetStmtAttr SQLSetStmtAttrW SQLNumResultCols SQLDescribeCol SQLDescribeColW \
           SQLColAttribute SQLColAttributeW SQLBindCol SQLFetch SQLGetData SQLRowCount \
           SQLTables SQLTablesW SQLColumns SQLColumnsW SQLPrimaryKeys SQLPrimaryKeysW \
           SQLStatistics SQLStatisticsW SQLForeignKeys SQLForeignKeysW SQLGetTypeInfo \
           SQLGetTypeInfoW; do
    grep -qx "$f" <<<"$symbols" || fail "$driver does not export $f"
  done
  echo "driver exports: $(wc -l <<<"$symbols") SQL* functions"
}

connect() {
  local sysini=$1 vorlin=$2
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export ODBCSYSINI=$sysini
  odbcinst -q -d -n Norvane >/dev/null || fail "$sysini/odbcinst.ini registers no Norvane"
  "$vorlin" "$work/Sales.db" >/dev/null || fail "vorlin.exe made no database"
  local string="Driver=Norvane;Database=$work/Sales.db" out
  out=$(echo "select 40 + 2" | isql -b -d, -k "$string") || fail "isql cannot open a Norvane file"
  grep -qx "42" <<<"$out" || fail "isql: select 40 + 2 gave $out"
  out=$(echo "select 1" | isql -b -d, -k "$string;Timeout=500;UID=dba;PWD=KWZ") ||
    fail "Timeout, UID and PWD refused: $out"

  # By data source, in a folder of its own beside the build's driver list: isql through the
  # ANSI functions, iusql (which takes only a data source) through the wide ones.
  mkdir "$work/sysini"
  cp "$sysini/odbcinst.ini" "$work/sysini/"
  printf '[Sales]\nDriver=Norvane\nDatabase=%s\n' "$work/Sales.db" >"$work/sysini/odbc.ini"
  for tool in isql iusql; do
    out=$(echo "select 7" | ODBCSYSINI=$work/sysini "$tool" -b -d, Sales) || fail "$tool Sales failed"
    grep -qx "7" <<<"$out" || fail "$tool Sales: select 7 gave $out"
  done

  # Anything but an existing Norvane file is refused, and a missing one is not made.
  sqlite3 "$work/plain.db" "create table t (a integer); insert into t values (1);"
  printf 'not a database\n' >"$work/text.db"
  for file in "$work/plain.db" "$work/text.db" "$work/missing.db"; do
    if out=$(echo "select 1" | isql -v -b -d, -k "Driver=Norvane;Database=$file" 2>&1); then
      fail "the driver opened $(basename "$file"): $out"
    fi
    grep -q "\[08001\]\[Norvane\]\[ODBC\].*$file" <<<"$out" ||
      fail "refusing $(basename "$file"), the driver did not say why and of which file: $out"
  done
  [ ! -e "$work/missing.db" ] || fail "connecting made the missing file"
  echo "isql and iusql open a Norvane file and refuse others"
}

case ${1:-} in
  exports) exports "$2" ;;
  connect) connect "$2" "$3" ;;
  *) echo "usage: driver_test.sh exports DRIVER | connect ODBCSYSINI VORLIN" >&2; exit 2 ;;
esac
