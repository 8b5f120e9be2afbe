#!/usr/bin/env bash
# The fatal path of the Windows program under Wine, in a console: a record
# manager DLL that cannot be loaded, and (with the program's own record
# manager DLL) a data file that cannot be opened. Each must show its message
# in the session's language, wait for a key, and end with exit code 0.
#
# Usage: fatal_path.sh PROGRAM.exe [ENGINE.dll]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
engine=${2:+$(realpath "$2")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A path as Windows programs under Wine see it (drive Z: is the root).
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

failures=0
check() {  # NAME EXPECTED-TEXT: runs the program, checks the screen and the exit code
  local name=$1 expected=$2 rc=0
  "$here/run_in_console.sh" "$expected" "$program" >"$work/screen" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "FAILED $name: exit code $rc; screen:" >&2
    cat "$work/screen" >&2
    failures=$((failures + 1))
  else
    echo "passed $name"
  fi
}

mkdir -p "$work/root/DADES" "$work/tmp"
export JOBROOT="$(windows_path "$work/root")\\"
export JOBTMP="$(windows_path "$work/tmp")"

# No record manager: the message names the DLL, in the default language.
export NUBO_BTRIEVE_DLL=nubo-missing-record-manager.dll
check "missing record manager DLL" "NO ES POT ACCEDIR AL FITXER nubo-missing-record-manager.dll (20)"

# The Aranese message, with its accented letters from code page 850.
printf '[Sistema]\r\nIdioma=OCI\r\n' >"$work/tmp/NuboTerm.ini"
check "missing DLL, Aranese" "NON SE PÒT ACCEDIR ATH FICHÈR nubo-missing-record-manager.dll (20)"

if [ -n "$engine" ]; then
  # A data file that cannot be created: its dictionary is missing.
  rm -f "$work/tmp/NuboTerm.ini"
  export NUBO_BTRIEVE_DLL="$(windows_path "$engine")"
  check "data file that cannot be opened" "NO ES POT ACCEDIR AL FITXER ${JOBROOT}DADES\\THRebut ("
fi

# The message box's window was taken off the stack again.
if [ -e "$work/tmp/WinPush.tmp" ]; then
  echo "FAILED: WinPush.tmp left behind" >&2
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
