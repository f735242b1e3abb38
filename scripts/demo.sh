#!/usr/bin/env bash
# The main job on a sample SQLite database made under the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool="$build/bin/vldbmgr"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
db="$demo/velmor.db"
cat > "$demo/velmord.conf" <<CONF
# Server configuration file of the sample database
DBDriver = sqlite
DBName = $db
CONF

run() {
  echo "\$ vldbmgr $*"
  "$tool" "$@" || true
  echo
}

# A database that a crashed server left locked.
sqlite3 "$db" <<'SQL'
CREATE TABLE config (var_name varchar(63) not null primary key, var_value varchar(2000), is_visible integer, need_server_restart integer);
INSERT INTO config VALUES ('DBSyntax','SQLITE',0,0);
INSERT INTO config VALUES ('DBFormatVersion','83',0,0);
INSERT INTO config VALUES ('DBLockStatus','monitor01',0,0);
INSERT INTO config VALUES ('DBLockInfo','PID 4711 on monitor01',0,0);
SQL
run -c "$demo/velmord.conf" -f -t unlock
run -c "$demo/velmord.conf" unlock
