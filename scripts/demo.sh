#!/usr/bin/env bash
# The main job on sample SQLite databases made under the build folder:
# upgrade an old database and check it; initialise a new one, break a few
# references and let check repair them; clear a stale lock.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool="$build/bin/vldbmgr"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"

# A server configuration file for a database file.
config() {
  cat > "$demo/$1.conf" <<CONF
# Server configuration file of the sample database
DBDriver = sqlite
DBName = $demo/$1.db
CONF
}

run() {
  echo "\$ vldbmgr $*"
  "$tool" "$@" || true
  echo
}

echo "=== An old database (format version 48) is upgraded to 83, then checked"
config old
sqlite3 "$demo/old.db" < tests/fixtures/v48.sql
run -c "$demo/old.conf" upgrade
run -c "$demo/old.conf" check

echo "=== A new database is initialised, a few references are broken, check repairs them"
config new
run -c "$demo/new.conf" init examples/sql/dbinit_sqlite.sql
if [ -f examples/demo_broken_refs.sql ]; then
  run -c "$demo/new.conf" batch examples/demo_broken_refs.sql
fi
run -c "$demo/new.conf" -f check
run -c "$demo/new.conf" check

echo "=== A lock that a crashed server left behind is cleared"
sqlite3 "$demo/new.db" "UPDATE config SET var_value='monitor01' WHERE var_name='DBLockStatus'; UPDATE config SET var_value='PID 4711' WHERE var_name='DBLockInfo';"
run -c "$demo/new.conf" -f unlock
