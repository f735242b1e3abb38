#!/usr/bin/env bash
# run.sh - build the libFuzzer targets and run each for a given time.
#
#   fuzz/run.sh [-m] [seconds] [target...]
#
#   seconds   time per target (default 60)
#   target    config cmdfile encoding batch cmdline (default: all five)
#   -m        afterwards merge the inputs that reach new code into the kept
#             corpus fuzz/corpus/<target>/ (commit them: the unit test
#             FuzzReplay replays every file there under the normal build)
#
# The targets are built with clang under build-fuzz/ (AddressSanitizer and
# UndefinedBehaviorSanitizer on).  Each run starts from the kept corpus and
# collects new inputs in build-fuzz/corpus/<target>/; a crash or a broken
# invariant is saved in build-fuzz/artifacts/ and makes the script fail.
# The packages needed are in fuzz/packages.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

merge=0
if [ "${1:-}" = "-m" ]; then merge=1; shift; fi
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(config cmdfile encoding batch cmdline)

missing=()
for pkg in $(sed 's/#.*//' fuzz/packages.txt scripts/packages.txt); do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: missing Debian packages: ${missing[*]} (apt-get install them)" >&2
  exit 1
fi

build="$top/build-fuzz"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVL_FUZZ=ON >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

mkdir -p "$build/artifacts"
export TMPDIR="$build/tmp"
mkdir -p "$TMPDIR"
failed=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/fuzz_$t.log"
  echo "== $t: ${seconds}s"
  if "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
       "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" | sed 's/^/   /'
  else
    echo "   FOUND A PROBLEM: see $log and $build/artifacts/$t-*"
    grep -E 'invariant broken|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$log" | head -5 | sed 's/^/   /'
    failed=1
  fi
  if [ $merge -eq 1 ]; then
    "$build/bin/fuzz_$t" -merge=1 "fuzz/corpus/$t" "$work" >/dev/null 2>&1 || true
    echo "   kept corpus: $(ls "fuzz/corpus/$t" | wc -l) files"
  fi
done
exit $failed
