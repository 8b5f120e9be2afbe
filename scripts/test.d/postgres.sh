#!/usr/bin/env bash
# The PostgreSQL backend's tests with a server: a throwaway cluster
# (scripts/pg-server.sh) for the tests labelled "postgres", the engine
# suites' postgres parameters (operations, orders, sharing, conformance) and
# the issue runs on an installation mapped to the server, in the optimised
# build and under the sanitizers; the server stops on every way out. The
# phase fails when the server cannot be started, and when a build has no
# PostgreSQL backend or no test to run: it never passes by skipping.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

# Runs ctest in build/$1 with the selection that follows; fails on a failed
# test, on no test selected, and on a skipped one: with the server there, a
# skipped test is a test that did not run.
run_selection() {
  set -euo pipefail
  local build=$1 timeout=600 log
  shift
  [ "$build" = asan ] && timeout=900
  log=$(mktemp)
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "build/$build" --output-on-failure -j "$jobs" --timeout "$timeout" \
    --no-tests=error "$@" 2>&1 | tee "$log" || { rm -f "$log"; return 1; }
  if grep -q '(Skipped)' "$log"; then
    echo "postgres: tests were skipped in build/$build ($*)" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

run_server_tests() {
  set -euo pipefail
  local build
  [ -n "${NUBO_TEST_PG:-}" ] || { echo "postgres: no server in the environment" >&2; return 1; }
  for build in release asan; do
    run_selection "$build" -L postgres
    run_selection "$build" -R '[Pp]ostgres'
  done
}
export -f run_selection run_server_tests
export jobs
bash scripts/pg-server.sh run bash -c run_server_tests
echo "postgres: the server tests passed"
