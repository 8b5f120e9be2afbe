#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in an
# optimised build, once under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the extra suites of scripts/test.d (each a script of its own).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh

echo "== Optimised build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUBO_SANITIZE=ON -DNUBO_WERROR=ON \
  -DNUBO_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 900

for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  echo "== $(basename "$extra" .sh)"
  bash "$extra"
done
echo "All tests passed."
