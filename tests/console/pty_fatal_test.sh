#!/usr/bin/env bash
# The fatal message as a terminal operator sees it.
#
#   pty_fatal_test.sh PROGRAM INSTALLATION [TEXT]
#
# Runs PROGRAM on a pseudo-terminal of 25 rows by 80 columns, with JOBROOT
# set to the installation folder INSTALLATION (prepared so that one of its
# data files cannot be opened) and a fresh work folder as JOBTMP. Passes when
# the framed message (TEXT; by default the start of the Catalan message)
# appears, one key then ends the program with exit code 0, the terminal is
# given back (colours reset, alternate screen left, cursor shown, line mode
# with echo) and no window stack is left in the work folder.
#
# Exit status 0 passes, 1 fails, 77 when the system has no pseudo-terminal.
# PTY_RUN names the pty_run tool; by default it is looked for in the build
# folder of PROGRAM.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 PROGRAM INSTALLATION [TEXT]" >&2; exit 2; }
program=$1
installation=${2%/}/
text=${3:-"NO ES POT ACCEDIR AL FITXER "}
pty_run=${PTY_RUN:-$(dirname "$program")/../tests/console/pty_run}
[ -x "$pty_run" ] || { echo "pty_run not found at $pty_run; set PTY_RUN" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"

fail() {
  echo "FAIL: $*" >&2
  echo "--- what the terminal received:" >&2
  od -c "$work/screen" | tail -n 40 >&2
  exit 1
}

status=0
env JOBROOT="$installation" JOBTMP="$work/tmp/" LANG=C.UTF-8 LC_ALL= LC_CTYPE= TERM=xterm \
  "$pty_run" --rows 25 --columns 80 --wait-for "$text" --key x -- "$program" >"$work/screen" || status=$?

case $status in
  0) ;;
  77) echo "SKIP: no pseudo-terminal on this system" >&2; exit 77 ;;
  124) fail "the message did not appear, or the program did not end after the key" ;;
  125) fail "the terminal was left out of its line mode" ;;
  *) fail "exit status $status" ;;
esac
grep -qF -- "$text" "$work/screen" || fail "no message text"
grep -qF -- "┌" "$work/screen" && grep -qF -- "┘" "$work/screen" || fail "no frame"
tail_bytes=$(tail -c 20 "$work/screen" | od -An -c | tr -s ' \n' ' ')
expected=$(printf '\033[0m\033[?1049l\033[?25h' | od -An -c | tr -s ' \n' ' ')
[[ "$tail_bytes" == *"$expected" ]] || fail "the terminal was not given back (colours, screen, cursor)"
[ ! -e "$work/tmp/WinPush.tmp" ] || fail "a window stack was left behind"
echo "PASS: framed message shown, one key ended the program with exit code 0, terminal given back"
