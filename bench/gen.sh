#!/usr/bin/env bash
# gen.sh - generates a large server database for the benchmarks.
#
#   bench/gen.sh <engine> <kind> <rows> <target>
#
#   engine  sqlite or pgsql (pgsql needs the VLT_PGSQL_* variables that
#           scripts/servers.sh writes, and a login that may create databases)
#   kind    v83: format version 83, made by "vldbmgr init" with the shipped
#                examples/sql/dbinit_<engine>.sql, then bulk rows
#                (bench/sql/rows_v83.sql) with broken references for check;
#                about <rows> rows in object_properties, the biggest table.
#           v48: the upgrade fixture tests/fixtures/v48.sql, then bulk rows
#                (bench/sql/rows_v48.sql); <rows> rows in items.
#           v65: the same from tests/fixtures/v65.sql (bench/sql/rows_v65.sql),
#                with address_lists, which step 53 to 54 creates empty.
#   rows    the size: rows in the biggest table (at least 1000)
#   target  the database file (sqlite) or database name (pgsql); replaced
#
# The rows are made inside the engine with a sequence table (a recursive
# CTE on SQLite, generate_series on PostgreSQL) and INSERT ... SELECT, so a
# million rows take seconds.  VLDBMGR names the tool (default
# build-bench/bin/vldbmgr); BENCH_FIXTURE overrides the fixture file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
. "$here/lib.sh"

[ $# -eq 4 ] || { sed -n 2,23p "$0" >&2; exit 1; }
engine=$1 kind=$2 rows=$3 target=$4
VLDBMGR=${VLDBMGR:-$top/build-bench/bin/vldbmgr}
case $rows in ''|*[!0-9]*) echo "gen.sh: rows must be a number" >&2; exit 1 ;; esac
[ "$rows" -ge 1000 ] || { echo "gen.sh: rows must be at least 1000" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The sequence table bench_seq(i) = 1..n and bench_k(k) = 1..9.
seq_sql() {
   local n=$1
   echo "CREATE TABLE bench_seq (i integer not null, PRIMARY KEY(i));"
   echo "CREATE TABLE bench_k (k integer not null, PRIMARY KEY(k));"
   case $engine in
   sqlite)
      echo "INSERT INTO bench_seq (i) WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM s WHERE i<$n) SELECT i FROM s;"
      echo "INSERT INTO bench_k (k) WITH RECURSIVE s(k) AS (SELECT 1 UNION ALL SELECT k+1 FROM s WHERE k<9) SELECT k FROM s;" ;;
   pgsql)
      echo "INSERT INTO bench_seq (i) SELECT generate_series(1,$n);"
      echo "INSERT INTO bench_k (k) SELECT generate_series(1,9);" ;;
   esac
}

new_empty_db() {
   drop_db "$engine" "$target"
   if [ "$engine" = pgsql ]; then
      pg_admin "CREATE DATABASE $target"
   fi
}

case $kind in
v83)
   nodes=$(( rows / 10 ))
   new_empty_db
   write_conf "$engine" "$target" "$work/conf"
   "$VLDBMGR" -c "$work/conf" init "$top/examples/sql/dbinit_$engine.sql" > "$work/init.out" \
      || { cat "$work/init.out" >&2; exit 1; }
   grep -q "SQL query failed" "$work/init.out" && { cat "$work/init.out" >&2; exit 1; }
   { echo "BEGIN;"; seq_sql "$nodes"; cat "$here/sql/rows_v83.sql"
     echo "DROP TABLE bench_seq;"; echo "DROP TABLE bench_k;"; echo "COMMIT;"; } > "$work/rows.sql"
   client "$engine" "$target" < "$work/rows.sql" >/dev/null
   ;;
v48|v65)
   nodes=$(( rows / 100 ))
   fixture=${BENCH_FIXTURE:-$top/tests/fixtures/$kind.sql}
   [ -f "$fixture" ] || { echo "gen.sh: fixture $fixture not found" >&2; exit 1; }
   new_empty_db
   syntax=SQLITE; [ "$engine" = pgsql ] && syntax=PGSQL
   {
      echo "BEGIN;"
      cat "$fixture"
      echo "UPDATE config SET var_value='$syntax' WHERE var_name='DBSyntax';"
      seq_sql "$rows"
      sed "s/@NODES@/$nodes/g" "$here/sql/rows_$kind.sql"
      # Every node's data table, with the index that step 52 to 53 replaces.
      awk -v n="$nodes" -v kind="$kind" 'BEGIN { if (kind != "v48") exit; for (i = 1; i <= n; i++) { id = 1000 + 10 * i;
         printf "CREATE TABLE idata_%d (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255));\n", id;
         printf "CREATE INDEX idx_idata_%d_timestamp ON idata_%d(idata_timestamp);\n", id, id } }'
      echo "DROP TABLE bench_seq;"; echo "DROP TABLE bench_k;"
      echo "COMMIT;"
   } > "$work/rows.sql"
   client "$engine" "$target" < "$work/rows.sql" >/dev/null
   ;;
*) echo "gen.sh: unknown kind $kind" >&2; exit 1 ;;
esac
if [ "$engine" = pgsql ]; then
   # Fresh statistics, as a server's autovacuum would have them.
   client "$engine" "$target" -c "ANALYZE" >/dev/null 2>&1
fi
