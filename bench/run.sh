#!/usr/bin/env bash
# run.sh - the whole benchmark of vldbmgr on this machine.
#
#   bench/run.sh [--sizes N1,N2,N3] [--pgsql-sizes N1,N2,N3]
#                [--engines sqlite,pgsql] [--runs R]
#                [--commands upgrade48,upgrade65,check,batch] [--out FILE] [--keep]
#
# For every engine and size (rows in the biggest table; default 10000,
# 100000, 1000000; --pgsql-sizes gives PostgreSQL sizes of its own) it
# generates the databases (bench/gen.sh) and the batch file, then for each
# command:
#   1. runs the tool once with -t on a fresh copy and turns the trace into
#      the replay file (bench/replay.awk): the very statements the tool
#      sent, in its transactions;
#   2. R times (default 5), alternating: the tool without -t on a fresh
#      copy, and the engine's own client (sqlite3, psql) replaying the file
#      on a fresh copy: wall time, peak resident memory (/usr/bin/time) and
#      CPU time (the process's, plus its PostgreSQL server session's);
#   3. the medians, the ratio tool/limit, the time per row, and the peak
#      memory beside the largest result set the command holds.
# The table goes to bench/results.md (or FILE).  PostgreSQL runs on a
# throw-away server that scripts/servers.sh starts here and stops at the
# end.  The tool is built in build-bench (Release).  Never part of the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
. "$here/lib.sh"

sizes=10000,100000,1000000
pgsql_sizes=
engines=sqlite,pgsql
commands=upgrade48,upgrade65,check,batch
runs=5
out=$here/results.md
keep=0
cmdline="bench/run.sh $*"
while [ $# -gt 0 ]; do
   case $1 in
   --sizes) sizes=$2; shift 2 ;;
   --pgsql-sizes) pgsql_sizes=$2; shift 2 ;;
   --engines) engines=$2; shift 2 ;;
   --commands) commands=$2; shift 2 ;;
   --runs) runs=$2; shift 2 ;;
   --out) out=$2; shift 2 ;;
   --keep) keep=1; shift ;;
   *) sed -n 2,26p "$0" >&2; exit 1 ;;
   esac
done
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time missing (Debian package time, see bench/packages.txt)" >&2; exit 1; }

build=$top/build-bench
echo "== building $build (Release)"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target vldbmgr sqlite.ddr pgsql.ddr >/dev/null 2>&1 || cmake --build "$build" -j2 >/dev/null
export VLDBMGR=$build/bin/vldbmgr

work=$(mktemp -d /tmp/vldbmgr-bench.XXXXXX)
chmod 755 "$work"   # the servers run as their own system users
servers=$work/servers
cleanup() {
   [ -f "$servers/env" ] && "$top/scripts/servers.sh" stop "$servers" >/dev/null 2>&1
   [ $keep -eq 1 ] || rm -rf "$work"
}
trap cleanup EXIT
if [[ ,$engines, == *,pgsql,* ]]; then
   echo "== starting PostgreSQL"
   "$top/scripts/servers.sh" start "$servers" >/dev/null
   set -a; . "$servers/env"; set +a
   [ -n "${VLT_PGSQL_PORT:-}" ] || { echo "run.sh: PostgreSQL did not start" >&2; exit 1; }
fi

# CPU time (ms) that the PostgreSQL server's ended sessions have used: the
# postmaster's reaped children (fields cutime and cstime of its stat).
server_cpu_ms() {
   local pid
   if [ -n "${VLT_PGSQL_PORT:-}" ] && pid=$(head -n 1 "$servers/pg/postmaster.pid" 2>/dev/null); then
      awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print int(($14 + $15) * 1000 / hz) }' "/proc/$pid/stat"
   else
      echo 0
   fi
}

# timed <stdout-file> <cmd...>: runs it, prints "<wall us> <peak KiB>
# <cpu ms>": the CPU time of the command plus that of the server session it
# used (the load of other work on the machine moves the wall time much more
# than the CPU time).
timed() {
   local o=$1; shift
   local t0 t1 s0 s1
   s0=$(server_cpu_ms)
   t0=$(date +%s%N)
   /usr/bin/time -f "%M %e %U %S" -o "$work/rss" "$@" > "$o"
   t1=$(date +%s%N)
   if [ -n "${VLT_PGSQL_PORT:-}" ]; then
      sleep 0.2   # the session's process is reaped by the postmaster
   fi
   s1=$(server_cpu_ms)
   tail -n 1 "$work/rss" | awk -v w=$(( (t1 - t0) / 1000 )) -v s=$(( s1 - s0 )) \
      '{ printf "%d %d %d\n", w, $1, ($3 + $4) * 1000 + s }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# The batch file of a size: a table, then <rows> inserts and one update per
# ten rows, in one transaction of the file's own.
batch_file() {
   awk -v n="$1" 'BEGIN {
      print "CREATE TABLE bench_batch (id integer not null,name varchar(63),value integer,PRIMARY KEY(id));"
      print "BEGIN;"
      for (i = 1; i <= n; i++) {
         printf "INSERT INTO bench_batch (id,name,value) VALUES (%d,%cRow number %d%c,%d);\n", i, 39, i, 39, i % 100
         if (i % 10 == 0) printf "UPDATE bench_batch SET value=value+1 WHERE id=%d;\n", i - 5
      }
      print "COMMIT;" }' > "$2"
}

# db_name <engine> <stem>: a file under $work or a database name.
db_name() { if [ "$1" = sqlite ]; then echo "$work/$2.db"; else echo "$2"; fi; }

load0=$(cut -d' ' -f1-3 /proc/loadavg)
results=$work/results.txt
: > "$results"
for engine in ${engines//,/ }; do
   engine_sizes=$sizes
   [ "$engine" = pgsql ] && [ -n "$pgsql_sizes" ] && engine_sizes=$pgsql_sizes
   for n in ${engine_sizes//,/ }; do
      echo "== $engine, $n rows"
      p83=$(db_name "$engine" "p83_$n"); p48=$(db_name "$engine" "p48_$n"); pb=$(db_name "$engine" "pb_$n")
      run=$(db_name "$engine" "run_$n")
      conf=$work/$engine.conf
      write_conf "$engine" "$run" "$conf"
      "$here/gen.sh" "$engine" v83 "$n" "$p83"
      p65=$(db_name "$engine" "p65_$n")
      [[ ,$commands, == *,upgrade48,* ]] && "$here/gen.sh" "$engine" v48 "$n" "$p48"
      [[ ,$commands, == *,upgrade65,* ]] && "$here/gen.sh" "$engine" v65 "$n" "$p65"
      if [[ ,$commands, == *,batch,* ]]; then
         # An initialised database, small, for the batch file.
         drop_db "$engine" "$pb"; [ "$engine" = pgsql ] && pg_admin "CREATE DATABASE $pb"
         write_conf "$engine" "$pb" "$work/pb.conf"
         "$VLDBMGR" -c "$work/pb.conf" init "$top/examples/sql/dbinit_$engine.sql" >/dev/null
         batch_file "$n" "$work/batch_$n.sql"
      fi
      # The start-up cost: the tool on an up-to-date database does nothing.
      copy_db "$engine" "$p83" "$run"
      base=$(timed "$work/out" "$VLDBMGR" -c "$conf" upgrade)
      for cmd in ${commands//,/ }; do
         case $cmd in
         upgrade48|upgrade65)
            src=$p48; [ $cmd = upgrade65 ] && src=$p65
            args=(-f upgrade); ok="Database upgrade succeeded"
            # The largest select whose rows a step holds: cond_dci_map (step
            # 76 to 77), or address_lists with its community_id 0 (80 to 81).
            held="SELECT sum(length(CAST(condition_id AS varchar))+length(CAST(dci_id AS varchar))+length(CAST(node_id AS varchar))+length(CAST(dci_func AS varchar))+length(CAST(num_polls AS varchar))+5) FROM cond_dci_map"
            [ $cmd = upgrade65 ] && held="SELECT sum(length(CAST(list_type AS varchar))+length(CAST(addr_type AS varchar))+length(addr1)+length(addr2)+6) FROM address_lists" ;;
         check) src=$p83; args=(-f check); ok="Database check completed"
            held="SELECT sum(length(CAST(object_id AS varchar))+length(name)+length(CAST(last_modified AS varchar))+3) FROM object_properties" ;;
         batch) src=$pb; args=(batch "$work/batch_$n.sql"); ok=""; held="" ;;
         *) echo "run.sh: unknown command $cmd" >&2; exit 1 ;;
         esac
         # 1. The trace, and the replay made of it.
         copy_db "$engine" "$src" "$run"
         "$VLDBMGR" -c "$conf" -t "${args[@]}" > "$work/trace_$cmd.txt"
         if grep -q "SQL query failed" "$work/trace_$cmd.txt" || { [ -n "$ok" ] && ! grep -q "$ok" "$work/trace_$cmd.txt"; }; then
            echo "run.sh: $cmd on $engine did not run cleanly, see $work/trace_$cmd.txt" >&2; keep=1; exit 1
         fi
         awk -v mode="${cmd%[0-9][0-9]}" -f "$here/replay.awk" "$work/trace_$cmd.txt" > "$work/replay_$cmd.sql"
         stmts=$(grep -cv '^\(BEGIN\|COMMIT\);$' "$work/replay_$cmd.sql" || true)
         if [ -n "$held" ]; then
            heldb=$(echo "$held;" | client "$engine" "$src")
         else
            heldb=$(stat -c %s "$work/batch_$n.sql")
         fi
         # 2. Alternating runs of the tool and of the limit.
         : > "$work/t_tool"; : > "$work/t_limit"
         for r in $(seq 1 "$runs"); do
            copy_db "$engine" "$src" "$run"
            timed "$work/out" "$VLDBMGR" -c "$conf" "${args[@]}" >> "$work/t_tool"
            [ -z "$ok" ] || grep -q "$ok" "$work/out" || { echo "run.sh: $cmd failed" >&2; cat "$work/out" >&2; exit 1; }
            copy_db "$engine" "$src" "$run"
            client_cmd "$engine" "$run"
            timed /dev/null "${CLIENT[@]}" < "$work/replay_$cmd.sql" >> "$work/t_limit"
         done
         tw=$(cut -d' ' -f1 "$work/t_tool" | median); tm=$(cut -d' ' -f2 "$work/t_tool" | median)
         lw=$(cut -d' ' -f1 "$work/t_limit" | median); lm=$(cut -d' ' -f2 "$work/t_limit" | median)
         tc=$(cut -d' ' -f3 "$work/t_tool" | median); lc=$(cut -d' ' -f3 "$work/t_limit" | median)
         basem=$(echo "$base" | cut -d' ' -f2)
         echo "$engine $cmd $n $stmts $tw $tm $lw $lm $heldb $basem $tc $lc" | tee -a "$results"
      done
      for d in "$p83" "$p48" "$p65" "$pb" "$run"; do drop_db "$engine" "$d"; done
   done
done

# 3. The table.
{
   echo "# vldbmgr benchmark"
   echo
   echo "Made by \`$cmdline\` on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$top" rev-parse --short HEAD)."
   echo "Machine: $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')),"
   echo "$(free -g | awk '/^Mem:/ { print $2 }') GiB memory, load average at the start ${load0:-?}, at the end $(cut -d' ' -f1-3 /proc/loadavg)."
   echo "SQLite $(sqlite3 -version | cut -d' ' -f1); $(psql --version 2>/dev/null | head -n 1)."
   echo
   echo "Rows: the rows of the biggest table (object_properties for check, items for upgrade"
   echo "from version 48 or 65, inserted rows for batch).  Statements: what the tool sent (its trace),"
   echo "and what the limit, the engine's own client, replays in the same transactions."
   echo "Times are medians of $runs runs; µs/row is the median wall time per row.  CPU is the"
   echo "user and system time of the process (vldbmgr, or sqlite3/psql) plus, on PostgreSQL, that"
   echo "of its server session: other work on the machine moves it far less than the wall time."
   echo "Memory: peak resident set of vldbmgr; *held* is the text of the largest result set the"
   echo "command holds (check: object_properties; upgrade48: cond_dci_map; upgrade65: address_lists;"
   echo "batch: the command file,"
   echo "which is loaded whole); *start* is the tool's peak on a database with nothing to do;"
   echo "the memory ratio is (peak - start) / held."
   echo
   echo "| engine | command | rows | statements | tool s | limit s | wall tool/limit | tool CPU s | limit CPU s | CPU tool/limit | tool µs/row | limit µs/row | tool peak MiB | limit peak MiB | start MiB | held MiB | (peak-start)/held |"
   echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
   awk '{ ratio = $9 >= 1048576 ? sprintf("%.2f", ($6 - $10) * 1024 / $9) : "-"
          printf "| %s | %s | %d | %d | %.3f | %.3f | %.2f | %.2f | %.2f | %s | %.2f | %.2f | %.1f | %.1f | %.1f | %.1f | %s |\n",
          $1, $2, $3, $4, $5 / 1e6, $7 / 1e6, ($7 > 0 ? $5 / $7 : 0), $11 / 1e3, $12 / 1e3,
          ($12 >= 200 ? sprintf("%.2f", $11 / $12) : "-"),
          $5 / $3, $7 / $3, $6 / 1024, $8 / 1024, $10 / 1024, $9 / 1048576, ratio }' "$results"
   echo
   echo "CPU ratios below 0.2 s of limit CPU and memory ratios below 1 MiB held are left out (\"-\"):"
   echo "the CPU clock counts in 10 ms steps, and a small result is lost in the fixed memory."
   echo
   echo "Flatness: time per row at the largest size over that at the smallest (wall and CPU)."
   echo
   echo "| engine | command | tool wall | limit wall | tool CPU | limit CPU |"
   echo "|---|---|---:|---:|---:|---:|"
   awk '{ k = $1 " | " $2; if (!(k in f)) { f[k] = $5 / $3; lf[k] = $7 / $3; cf[k] = $11 / $3; lcf[k] = $12 / $3; order[++n] = k }
          l[k] = $5 / $3; ll[k] = $7 / $3; cl[k] = $11 / $3; lcl[k] = $12 / $3 }
        END { for (i = 1; i <= n; i++) { k = order[i];
              printf "| %s | %.2f | %.2f | %.2f | %.2f |\n", k, l[k] / f[k], ll[k] / lf[k], (cf[k] > 0 ? cl[k] / cf[k] : 0), (lcf[k] > 0 ? lcl[k] / lcf[k] : 0) } }' "$results"
} > "$out"
echo "== written $out"
cat "$out"
