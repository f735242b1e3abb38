# lib.sh - helpers shared by gen.sh and run.sh: the tool's configuration
# file for a database, and the engine's own client on it.  Sourced, not run.
#
# A database is named by engine and target: for sqlite the target is the
# database file, for pgsql the database name on the server that the
# VLT_PGSQL_* variables describe (scripts/servers.sh writes them).

# Notices ("does not exist, skipping") are not for the benchmark's output.
export PGOPTIONS="-c client_min_messages=warning"

# write_conf <engine> <target> <file>: the server configuration file for it.
write_conf() {
   case $1 in
   sqlite) printf 'DBDriver = sqlite\nDBName = %s\n' "$2" > "$3" ;;
   pgsql)
      printf 'DBDriver = pgsql\nDBServer = %s\nDBName = %s\nDBLogin = %s\nDBPassword = %s\nDBDrvParams = port=%s\n' \
         "$VLT_PGSQL_HOST" "$2" "$VLT_PGSQL_USER" "$VLT_PGSQL_PASSWORD" "$VLT_PGSQL_PORT" > "$3" ;;
   *) echo "unknown engine $1" >&2; return 1 ;;
   esac
}

# client <engine> <target> [args...]: the engine's client on the database,
# reading SQL from standard input, rows to standard output, stopping at the
# first error.
client() {
   client_cmd "$@"
   "${CLIENT[@]}"
}

# client_cmd <engine> <target> [args...]: the same command line, in the
# array CLIENT (for running it under /usr/bin/time).
client_cmd() {
   local engine=$1 target=$2; shift 2
   case $engine in
   sqlite) CLIENT=(sqlite3 -batch -bail "$@" "$target") ;;
   pgsql) CLIENT=(env PGPASSWORD="$VLT_PGSQL_PASSWORD" psql -X -q -A -t -v ON_ERROR_STOP=1 -h "$VLT_PGSQL_HOST"
             -p "$VLT_PGSQL_PORT" -U "$VLT_PGSQL_USER" -d "$target" "$@") ;;
   esac
}

# pg_admin <sql>: one statement on the maintenance database.
pg_admin() {
   PGPASSWORD=$VLT_PGSQL_PASSWORD psql -X -q -A -t -v ON_ERROR_STOP=1 -h "$VLT_PGSQL_HOST" \
      -p "$VLT_PGSQL_PORT" -U "$VLT_PGSQL_USER" -d postgres -c "$1"
}

# copy_db <engine> <from> <to>: a fresh copy of a generated database.
copy_db() {
   case $1 in
   sqlite) cp "$2" "$3" ;;
   pgsql) pg_admin "DROP DATABASE IF EXISTS $3" && pg_admin "CREATE DATABASE $3 TEMPLATE $2" ;;
   esac
}

# drop_db <engine> <target>
drop_db() {
   case $1 in
   sqlite) rm -f "$2" "$2-journal" ;;
   pgsql) pg_admin "DROP DATABASE IF EXISTS $2" ;;
   esac
}
