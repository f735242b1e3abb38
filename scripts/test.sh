#!/usr/bin/env bash
# Runs every test of a built tree: starts the test database servers (when
# scripts/servers.sh exists and the servers are installed), runs the suites
# with CTest, and stops the servers again.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
build=$(cd "$build" && pwd)

if [ -x scripts/servers.sh ]; then
  servers="$build/test-servers"
  trap '"$top/scripts/servers.sh" stop "$servers"' EXIT
  "$top/scripts/servers.sh" start "$servers"
  if [ -f "$servers/env" ]; then
    set -a; . "$servers/env"; set +a
  fi
fi

cd "$build"
ctest --output-on-failure -j"${TEST_JOBS:-2}"
