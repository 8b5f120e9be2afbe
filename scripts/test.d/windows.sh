#!/usr/bin/env bash
# The Windows build: cross-builds both targets with mingw-w64, then runs the
# tests of the 64-bit build as Windows programs under Wine: every test
# program through ctest, and the tests of the real console in a
# pseudo-terminal, where Wine gives the program a console.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/windows-build.sh x86_64 i686

build=$top/build/windows/x86_64
export WINEPREFIX=$top/build/windows/wine
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
# Wine's background processes end with the server, once the tests are done.
trap '"$wineserver" -k 2>/dev/null || true' EXIT

run_in_console() {
  # A console of 25 rows by 80 columns in a pseudo-terminal; the exit code
  # is the program's.
  local command
  command=$(printf '%q ' "$@")
  script -qec "stty rows 25 cols 80; $command" /dev/null </dev/null
}

echo "== Windows tests of the real console (pseudo-terminal)"
log=$build/console-tests.log
if ! run_in_console env NUBO_TEST_REAL_CONSOLE=1 "$top/scripts/wine-run.sh" \
    "$build/tests/platform/platform_tests.exe" --gtest_filter='SystemConsole.*' --gtest_color=no \
    >"$log" 2>&1; then
  tr -d '\r' <"$log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | grep -E '^\[|Failure|Expected|Actual|Which' >&2 || true
  echo "The console tests failed under Wine (full output: $log)." >&2
  exit 1
fi
echo "console tests passed"

echo "== Windows tests under Wine"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
