#!/usr/bin/env bash
# The Windows build: cross-builds both targets with mingw-w64 with their
# tests, then runs them as Windows programs under Wine, the 32-bit build (the
# one installations use) and the 64-bit one alike: every test program
# through ctest, and the tests of the real console, the message box and the
# program's fatal path in a pseudo-terminal, where Wine gives the program a
# console; and the same issue runs on Linux and under Wine, which must leave
# the same data files and operations log.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)
widths=(i686 x86_64)

# 32-bit Windows programs need a kernel that runs 32-bit Linux programs
# (Wine's 32-bit loader is one). Where it does not (a kernel without IA-32
# emulation), the i686 build is still made and its DLL's exports checked,
# and its tests are not run: said here and in the summary, never silently.
runnable=()
untested=()
for arch in "${widths[@]}"; do
  if [ "$arch" = i686 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "== i686: this machine's kernel does not run 32-bit programs (Wine's 32-bit loader gives: $(/usr/lib/wine/wine --version 2>&1 | tail -1)); the i686 build is made and its exports checked, its tests are NOT run here" >&2
    untested+=("$arch")
  else
    runnable+=("$arch")
  fi
done
[ ${#runnable[@]} -gt 0 ] || { echo "No Windows width can run its tests here." >&2; exit 1; }

NUBO_WINDOWS_UNTESTED="${untested[*]}" bash scripts/windows-build.sh "${widths[@]}"

expected="BTRCALL BTRCALL32 BTRCALLID BTRCALLID32"
echo "== The record manager DLL exports $expected alone, by their plain names"
for arch in "${widths[@]}"; do
  exports=$("$arch-w64-mingw32-objdump" -p "$top/build/windows/$arch/engine/nubodb.dll" |
            sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $3}' |
            LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$exports" != "$expected" ]; then
    echo "nubodb.dll ($arch) exports: ${exports:-nothing}" >&2
    exit 1
  fi
done
echo "${widths[*]}: $expected"

# The Linux program and nubodat of the optimised build, for the comparison
# of the runs (built by scripts/test.sh before this script; brought up to
# date here).
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs" --target cobram nubodat >/dev/null

# One Wine prefix for both widths: Debian's wine64 with wine32 makes a
# prefix that runs 64-bit and 32-bit programs.
export WINEPREFIX=$top/build/windows/wine
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
work=$(mktemp -d)
# Wine's background processes end with the server, once the tests are done.
trap 'rm -rf "$work"; "$wineserver" -k 2>/dev/null || true' EXIT
# One server for the whole phase: started persistent, it does not shut down
# between two programs, so a program never starts against a server on its
# way out.
mkdir -p "$WINEPREFIX"
"$wineserver" -p

run_in_console() {
  # A console of 25 rows by 80 columns in a pseudo-terminal; the exit code
  # is the program's.
  local command
  command=$(printf '%q ' "$@")
  script -qec "stty rows 25 cols 80; $command" /dev/null </dev/null
}

timings=()
for arch in "${runnable[@]}"; do
  build=$top/build/windows/$arch
  started=$SECONDS

  echo "== $arch: Windows tests of the real console (pseudo-terminal)"
  log=$build/console-tests.log
  if ! run_in_console env NUBO_TEST_REAL_CONSOLE=1 "$top/scripts/wine-run.sh" \
      "$build/tests/platform/platform_tests.exe" --gtest_filter='SystemConsole.*' --gtest_color=no \
      >"$log" 2>&1; then
    tr -d '\r' <"$log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | grep -E '^\[|Failure|Expected|Actual|Which' >&2 || true
    echo "The console tests failed under Wine ($arch; full output: $log)." >&2
    exit 1
  fi
  echo "console tests passed"

  echo "== $arch: the message box on the Wine console"
  rm -rf "$work/tmp" && mkdir -p "$work/tmp"
  text="NO ES POT ACCEDIR AL FITXER DADES\\THRebut (20)"
  if ! JOBTMP="Z:$(printf '%s' "$work/tmp" | tr '/' '\\')" RUN_IN_CONSOLE_AFTER="$work/after" \
      bash tests/windows/run_in_console.sh "│ $text │" "$build/tests/console/message_driver.exe" \
      >"$work/shown" 2>&1; then
    cat "$work/shown" >&2
    echo "The message box did not show, or a key did not end it ($arch)." >&2
    exit 1
  fi
  if grep -qF "$text" "$work/after" || [ -e "$work/tmp/WinPush.tmp" ]; then
    cat "$work/after" >&2
    echo "The screen under the message box was not restored, or its window stayed on the stack ($arch)." >&2
    exit 1
  fi
  echo "message box shown, taken away, screen restored"

  echo "== $arch: the fatal path of the program on the Wine console"
  bash tests/windows/fatal_path.sh "$build/app/cobram.exe" "$build/engine/nubodb.dll"

  echo "== $arch: the same runs on Linux and under Wine"
  bash tests/windows/e2e_compare.sh build/release/app/cobram build/release/tools/nubodat \
    "$build/app/cobram.exe" "$build/engine/nubodb.dll"

  echo "== $arch: Windows tests under Wine"
  # A test that fails is run once more, and both runs are shown: under Wine
  # a process start can fail for reasons of the emulator's own. The same
  # tests run natively, without a second chance, in the Linux phases.
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2

  timings+=("$arch $((SECONDS - started)) s")
done
echo "Windows tests under Wine: ${timings[*]}${untested[*]:+; not run (this kernel runs no 32-bit programs): ${untested[*]}}"
