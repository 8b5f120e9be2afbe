#!/usr/bin/env bash
# The PostgreSQL backend's tests with a server: a throwaway cluster
# (scripts/pg-server.sh) for the tests labelled "postgres", in the optimised
# build and under the sanitizers; the server stops on every way out.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

run_server_tests() {
  set -euo pipefail
  ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600 -L postgres
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 900 -L postgres
}
export -f run_server_tests
export jobs
bash scripts/pg-server.sh run bash -c run_server_tests
echo "postgres: the server tests passed"
