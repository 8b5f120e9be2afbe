#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each of them for the
# given number of seconds (default 600), starting from its seed corpus in
# fuzz/corpus/<harness>. New inputs go to build/fuzz/corpus/<harness>; a crash
# leaves its input in build/fuzz/crashes and ends the script with an error.
#
#   bash scripts/fuzz.sh            # ten minutes per harness
#   bash scripts/fuzz.sh 20         # twenty seconds per harness
#   bash scripts/fuzz.sh 60 packed  # only the harnesses named
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-600}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2

cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)

echo "== Building the fuzz harnesses with $cxx"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DNUBO_FUZZ=ON -DNUBO_SANITIZE=ON -DNUBO_BUILD_TESTS=OFF -DNUBO_BUILD_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzz_harnesses

harnesses=()
if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  for exe in build/fuzz/fuzz/*_fuzz; do
    [ -x "$exe" ] && harnesses+=("$(basename "$exe" _fuzz)")
  done
fi

mkdir -p build/fuzz/crashes
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for h in "${harnesses[@]}"; do
  exe=build/fuzz/fuzz/${h}_fuzz
  corpus=build/fuzz/corpus/$h
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$h" ] && seeds=("fuzz/corpus/$h")
  log=build/fuzz/$h.log
  echo "== $h: ${seconds}s"
  if "$exe" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/crashes/$h-" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   ${runs:-?} executions, no crash"
  else
    echo "   CRASH: see $log and build/fuzz/crashes/" >&2
    tail -40 "$log" >&2
    failed+=("$h")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Harnesses that crashed: ${failed[*]}" >&2
  exit 1
fi
