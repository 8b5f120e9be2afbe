#!/usr/bin/env bash
# Runs a Windows program under Wine in a console of 80 columns by 25 rows (a
# tmux pane), waits until the screen shows TEXT, presses Enter, and waits
# for the program to end. Prints the screen as it was when TEXT appeared
# and ends with the program's exit code; 124 when TEXT never appeared or the
# program did not end in time.
#
# Usage: run_in_console.sh TEXT PROGRAM [ARGUMENT]...
# The environment (JOBROOT, JOBTMP, NUBO_BTRIEVE_DLL...) reaches the program.
# When RUN_IN_CONSOLE_AFTER names a file, the screen as the program left it
# is written there.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
text=$1
shift
work=$(mktemp -d)
socket=$work/tmux
session=nubo$$
cleanup() {
  tmux -S "$socket" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

command=$(printf '%q ' "$top/scripts/wine-run.sh" "$@")
# The pane's shell inherits this environment; the exit code goes to a file.
tmux -S "$socket" -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
  "$command; echo \$? >$(printf '%q' "$work/rc"); sleep 30"

screen() { tmux -S "$socket" capture-pane -p -t "$session"; }

# Bounded waits: 600 steps of 0.1 s.
shown=""
for _ in $(seq 600); do
  if screen | grep -qF -- "$text"; then shown=yes; break; fi
  [ -e "$work/rc" ] && break
  sleep 0.1
done
screen
if [ -z "$shown" ]; then
  echo "run_in_console: the screen never showed: $text" >&2
  exit 124
fi
# Keys pressed before the program waits are thrown away by it: press until
# it ends.
for _ in $(seq 100); do
  [ -e "$work/rc" ] && break
  tmux -S "$socket" send-keys -t "$session" Enter
  sleep 0.3
done
if [ ! -e "$work/rc" ]; then
  echo "run_in_console: the program did not end after a key press" >&2
  exit 124
fi
if [ -n "${RUN_IN_CONSOLE_AFTER:-}" ]; then
  screen >"$RUN_IN_CONSOLE_AFTER"
fi
exit "$(cat "$work/rc")"
