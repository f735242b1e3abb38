#!/usr/bin/env bash
# servers.sh - throw-away PostgreSQL and MariaDB servers for the test suites.
#
#   scripts/servers.sh start <dir>   start both servers with data under <dir>
#   scripts/servers.sh stop <dir>    stop them (by their process ids) and
#                                    remove the data
#
# Each server listens on 127.0.0.1 on a free port and on a socket of its
# own; its data lives in a fresh /tmp/vlt-servers.XXXXXX folder (named in
# <dir>/servers-root) that "stop" removes.  Nothing else is touched and
# nothing is installed (the packages are listed in
# scripts/packages-engines.txt).  "start" writes
# <dir>/env, a shell file exporting the variables the test harness reads:
#
#   VLT_PGSQL_HOST VLT_PGSQL_PORT VLT_PGSQL_USER VLT_PGSQL_PASSWORD
#   VLT_MYSQL_HOST VLT_MYSQL_PORT VLT_MYSQL_USER VLT_MYSQL_PASSWORD
#   VLT_ODBC_DRIVER   (the PostgreSQL ODBC driver, used against the same
#                      PostgreSQL server)
#   VLT_PGSQL_SOCKET_DIR, VLT_MYSQL_SOCKET   the servers' local sockets
#
# Source it before running the suites:  . <dir>/env && ctest ...
# A server whose packages are missing is skipped with a note; its variables
# are then left out of the env file and its suites are not run.  A server
# that is installed but does not start makes "start" fail.
#
# Run as root, the servers run as the "postgres" and "mysql" system users
# that the Debian packages create (PostgreSQL refuses to run as root).
set -u

die() { echo "servers.sh: $*" >&2; exit 1; }

usage() { die "usage: servers.sh start|stop <dir>"; }

[ $# -eq 2 ] || usage
ACTION=$1
DIR=$2

# A port nobody listens on, between 20000 and 59999.
free_port() {
   local p
   for _ in $(seq 1 50); do
      p=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
      if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
         echo "$p"
         return 0
      fi
   done
   return 1
}

# Random password of letters and digits.
new_password() {
   head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' | cut -c1-24
}

# The test users' passwords also carry the characters that connection
# strings, SQL literals and configuration files treat specially, so that the
# suites show each layer passes them on untouched.
SPECIAL_SUFFIX=";'{x}= \"#\\"

# A text as a standard SQL literal, and as a MySQL one (backslash escapes).
sql_literal() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/''/g")"; }
mysql_literal() { printf "'%s'" "$(printf '%s' "$1" | sed -e 's/\\/\\\\/g' -e "s/'/\\\\'/g")"; }

# Runs a command as the given system user when we are root.
as_user() {
   local user=$1; shift
   if [ "$(id -u)" -eq 0 ]; then
      runuser -u "$user" -- "$@"
   else
      "$@"
   fi
}

# Sends a signal to a pid read from a file and waits up to 60 s for the
# process to end, then kills it.
stop_pid_file() {
   local file=$1 sig=$2 pid
   [ -f "$file" ] || return 0
   pid=$(head -n 1 "$file" | tr -dc '0-9')
   [ -n "$pid" ] || return 0
   if kill -0 "$pid" 2>/dev/null; then
      kill "-$sig" "$pid" 2>/dev/null
      for _ in $(seq 1 600); do
         kill -0 "$pid" 2>/dev/null || return 0
         sleep 0.1
      done
      echo "servers.sh: process $pid did not stop, killing it" >&2
      kill -KILL "$pid" 2>/dev/null
   fi
   return 0
}

pg_bindir() {
   local d
   if command -v pg_config >/dev/null 2>&1; then
      d=$(pg_config --bindir)
      [ -x "$d/initdb" ] && { echo "$d"; return 0; }
   fi
   for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
      [ -x "$d/initdb" ] && { echo "$d"; return 0; }
   done
   return 1
}

start_pgsql() {
   local bin port pw tpw data=$DATA/pg
   bin=$(pg_bindir) || { echo "servers.sh: PostgreSQL server not installed, skipped" >&2; return 2; }
   pw=$(new_password)
   mkdir -p "$data" "$DATA/pgrun" || return 1
   printf '%s\n' "$pw" > "$DATA/pg.pw"
   if [ "$(id -u)" -eq 0 ]; then
      chown postgres: "$data" "$DATA/pgrun" "$DATA/pg.pw" || return 1
   fi
   chmod 700 "$data"
   as_user postgres "$bin/initdb" -D "$data" -U vlt_admin --pwfile="$DATA/pg.pw" \
      --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$DATA/pg-initdb.log" 2>&1 \
      || { cat "$DATA/pg-initdb.log" >&2; return 1; }
   rm -f "$DATA/pg.pw"
   for _ in 1 2 3 4 5; do
      port=$(free_port) || return 1
      # Durability is of no use for throw-away data; speed is.
      if as_user postgres "$bin/pg_ctl" -D "$data" -l "$DATA/pgrun/pg.log" -w -t 60 start \
         -o "-h 127.0.0.1 -p $port -k $DATA/pgrun -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=100" \
         >/dev/null 2>&1; then
         break
      fi
      port=
   done
   [ -n "$port" ] || { echo "servers.sh: PostgreSQL did not start, see $DATA/pgrun/pg.log" >&2; return 1; }
   tpw="$(new_password)$SPECIAL_SUFFIX"
   PGPASSWORD=$pw "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U vlt_admin -d postgres \
      -c "CREATE ROLE vlt_test LOGIN CREATEDB PASSWORD $(sql_literal "$tpw")" >/dev/null \
      || return 1
   {
      echo "export VLT_PGSQL_HOST=127.0.0.1"
      echo "export VLT_PGSQL_PORT=$port"
      echo "export VLT_PGSQL_USER=vlt_test"
      printf 'export VLT_PGSQL_PASSWORD=%q\n' "$tpw"
      echo "export VLT_PGSQL_SOCKET_DIR=$DATA/pgrun"
   } >> "$DIR/env"
   echo "PostgreSQL listening on 127.0.0.1:$port"
   return 0
}

stop_pgsql() {
   # SIGINT is PostgreSQL's fast shutdown: sessions are ended at once.
   stop_pid_file "$DATA/pg/postmaster.pid" INT
}

start_mysql() {
   local port pw data=$DATA/my run=$DATA/myrun user=mysql server
   server=$(command -v mariadbd || command -v mysqld || ls /usr/sbin/mariadbd /usr/sbin/mysqld 2>/dev/null | head -n 1)
   if [ -z "$server" ] || ! command -v mariadb-install-db >/dev/null 2>&1; then
      echo "servers.sh: MariaDB server not installed, skipped" >&2
      return 2
   fi
   [ "$(id -u)" -eq 0 ] || user=$(id -un)
   pw="$(new_password)$SPECIAL_SUFFIX"
   mkdir -p "$data" "$run" || return 1
   if [ "$(id -u)" -eq 0 ]; then
      chown "$user": "$data" "$run" || return 1
   fi
   mariadb-install-db --no-defaults --user="$user" --datadir="$data" \
      --auth-root-authentication-method=normal --skip-test-db \
      >"$DATA/my-install.log" 2>&1 || { cat "$DATA/my-install.log" >&2; return 1; }
   for _ in 1 2 3 4 5; do
      port=$(free_port) || return 1
      rm -f "$DATA/myrun/my.pid"
      "$server" --no-defaults --user="$user" --datadir="$data" \
         --bind-address=127.0.0.1 --port="$port" --socket="$DATA/myrun/my.sock" \
         --pid-file="$DATA/myrun/my.pid" --log-error="$DATA/myrun/my.log" \
         --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
         --skip-log-bin --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-flush-method=nosync \
         --innodb-buffer-pool-size=64M --innodb-log-file-size=32M --sync-frm=0 \
         --max-connections=100 </dev/null >/dev/null 2>&1 &
      local spid=$!
      for _ in $(seq 1 300); do
         if mariadb --no-defaults --socket="$DATA/myrun/my.sock" -uroot -e 'SELECT 1' >/dev/null 2>&1; then
            break 2
         fi
         kill -0 "$spid" 2>/dev/null || break
         sleep 0.2
      done
      stop_pid_file "$DATA/myrun/my.pid" TERM
      port=
   done
   [ -n "$port" ] || { echo "servers.sh: MariaDB did not start, see $DATA/myrun/my.log" >&2; return 1; }
   mariadb --no-defaults --socket="$DATA/myrun/my.sock" -uroot <<SQL || return 1
CREATE USER 'vlt_test'@'127.0.0.1' IDENTIFIED BY $(mysql_literal "$pw");
CREATE USER 'vlt_test'@'localhost' IDENTIFIED BY $(mysql_literal "$pw");
GRANT ALL PRIVILEGES ON \`vlt\\_%\`.* TO 'vlt_test'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`vlt\\_%\`.* TO 'vlt_test'@'localhost';
SQL
   {
      echo "export VLT_MYSQL_HOST=127.0.0.1"
      echo "export VLT_MYSQL_PORT=$port"
      echo "export VLT_MYSQL_USER=vlt_test"
      printf 'export VLT_MYSQL_PASSWORD=%q\n' "$pw"
      echo "export VLT_MYSQL_SOCKET=$DATA/myrun/my.sock"
   } >> "$DIR/env"
   echo "MariaDB listening on 127.0.0.1:$port"
   return 0
}

stop_mysql() {
   stop_pid_file "$DATA/myrun/my.pid" TERM
}

# The PostgreSQL ODBC driver (Unicode build), as a library path.
odbc_driver() {
   local f
   for f in /usr/lib/*/odbc/psqlodbcw.so /usr/lib/odbc/psqlodbcw.so /usr/lib64/psqlodbcw.so; do
      [ -f "$f" ] && { echo "$f"; return 0; }
   done
   return 1
}

# The servers' files live in a folder of their own under /tmp, whose name
# <dir>/servers-root records: the server users must be able to reach it
# (a build tree under a home folder may be closed to them), and socket
# paths must stay short.
DATA=
load_data_root() {
   DATA=
   [ -f "$DIR/servers-root" ] && DATA=$(cat "$DIR/servers-root")
   case $DATA in
      /tmp/vlt-servers.*) [ -d "$DATA" ] || DATA= ;;
      *) DATA= ;;
   esac
}

stop_all() {
   load_data_root
   if [ -n "$DATA" ]; then
      stop_pgsql
      stop_mysql
      rm -rf "$DATA"
   fi
   # Servers started by an earlier version of this script kept their files
   # in <dir> itself.
   if [ -e "$DIR/pg/postmaster.pid" ] || [ -e "$DIR/myrun/my.pid" ]; then
      DATA=$DIR
      stop_pgsql
      stop_mysql
      rm -rf "$DIR/pg" "$DIR/pgrun" "$DIR/my" "$DIR/myrun" "$DIR/pg-initdb.log" "$DIR/my-install.log"
   fi
   DATA=
   rm -f "$DIR/servers-root" "$DIR/env"
}

case $ACTION in
start)
   mkdir -p "$DIR" || die "cannot create $DIR"
   DIR=$(cd "$DIR" && pwd)
   # Servers left behind by an earlier run that did not stop them.
   stop_all
   DATA=$(mktemp -d /tmp/vlt-servers.XXXXXX) || die "cannot create a folder under /tmp"
   chmod 755 "$DATA"
   echo "$DATA" > "$DIR/servers-root"
   : > "$DIR/env"
   chmod 600 "$DIR/env"
   failed=0
   start_pgsql
   rc=$?
   if [ $rc -eq 0 ]; then
      if drv=$(odbc_driver); then
         echo "export VLT_ODBC_DRIVER=$drv" >> "$DIR/env"
      else
         echo "servers.sh: PostgreSQL ODBC driver not installed, odbc skipped" >&2
      fi
   else
      stop_pgsql
      [ $rc -eq 1 ] && failed=1
   fi
   start_mysql
   rc=$?
   if [ $rc -ne 0 ]; then
      stop_mysql
      [ $rc -eq 1 ] && failed=1
   fi
   # An installed server that does not start is a failure; a missing one
   # only leaves its suites out.
   if [ $failed -ne 0 ]; then
      stop_all
      die "a server failed to start"
   fi
   echo "Environment written to $DIR/env"
   ;;
stop)
   [ -d "$DIR" ] || exit 0
   DIR=$(cd "$DIR" && pwd)
   stop_all
   ;;
*)
   usage
   ;;
esac
