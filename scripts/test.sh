#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in an
# optimised build, once under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the extra suites of scripts/test.d (each a script of its own). Every
# phase runs, whatever became of the one before; each prints its time, and a
# summary at the end lists them all. The exit code is 0 only when all passed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

names=()
results=()
seconds=()
started=$SECONDS

# phase NAME COMMAND...: runs one phase and notes its outcome and time.
phase() {
  local name=$1
  shift
  echo "== $name"
  local start=$SECONDS outcome=passed
  "$@" || outcome=FAILED
  local took=$((SECONDS - start))
  printf '== %s: %s in %dm%02ds\n' "$name" "$outcome" $((took / 60)) $((took % 60))
  names+=("$name")
  results+=("$outcome")
  seconds+=("$took")
}

optimised() {
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON \
    -DNUBO_BUILD_TESTS=ON -DNUBO_BUILD_BENCH=ON >/dev/null &&
    cmake --build build/release -j "$jobs" &&
    ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600
}

sanitized() {
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUBO_SANITIZE=ON -DNUBO_WERROR=ON \
    -DNUBO_BUILD_BENCH=OFF >/dev/null &&
    cmake --build build/asan -j "$jobs" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 900
}

phase "Packages" bash scripts/install-deps.sh
phase "Optimised build and tests" optimised
phase "AddressSanitizer and UndefinedBehaviorSanitizer build and tests" sanitized
for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  phase "$(basename "$extra" .sh)" bash "$extra"
done

total=$((SECONDS - started))
failed=0
echo
echo "== Summary"
for i in "${!names[@]}"; do
  printf '  %-8s %4dm%02ds  %s\n' "${results[$i]}" $((seconds[i] / 60)) $((seconds[i] % 60)) "${names[$i]}"
  [ "${results[$i]}" = passed ] || failed=$((failed + 1))
done
printf '  total    %4dm%02ds\n' $((total / 60)) $((total % 60))
if [ "$failed" -ne 0 ]; then
  echo "$failed of ${#names[@]} phases failed."
  exit 1
fi
echo "All tests passed."
