#!/usr/bin/env bash
# The PostgreSQL backend's tests with a server: a throwaway cluster
# (scripts/pg-server.sh) for the tests labelled "postgres" and the engine
# suites' postgres parameters (operations, orders, sharing, conformance), in
# the optimised build and under the sanitizers; the server stops on every
# way out. The phase fails when the server cannot be started, and when a
# build has no PostgreSQL backend or no test to run: it never passes by
# skipping.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

run_server_tests() {
  set -euo pipefail
  local build timeout
  [ -n "${NUBO_TEST_PG:-}" ] || { echo "postgres: no server in the environment" >&2; return 1; }
  for build in release asan; do
    timeout=600
    [ "$build" = asan ] && timeout=900
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir "build/$build" --output-on-failure -j "$jobs" --timeout "$timeout" \
      --no-tests=error -L postgres
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir "build/$build" --output-on-failure -j "$jobs" --timeout "$timeout" \
      --no-tests=error -R '/postgres'
  done
}
export -f run_server_tests
export jobs
bash scripts/pg-server.sh run bash -c run_server_tests
echo "postgres: the server tests passed"
