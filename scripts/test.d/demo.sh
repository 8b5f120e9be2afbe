#!/usr/bin/env bash
# Runs the demo in a temporary folder and checks what it shows: the
# collections of the demo issue, one log line per insertion, and a second
# run that inserts nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
output=$folder/output.txt
bash "$top/scripts/demo.sh" "$folder/demo" >"$output" 2>&1 || { cat "$output"; exit 1; }

expected_table='property  owner  issueDate   issueNumber  collectedDate  total  flagged  state
1         1      01/04/2026  01                          18500  12000    P
1         2      01/04/2026  01           01/04/2026     6500   0        I
1         3      01/04/2026  01                          4800   0        P
1         4      01/04/2026  01                          5200   0        P
2         1      01/04/2026  01                          8500   1500     P
15        1      01/04/2026  01                          9900   0        P
15        2      01/04/2026  01                          15000  0        P'
# File number, operation and status, each in a 14-column field but the last.
log_line=$(printf ' 514%10s 2%12s 0 ' '' '')

fail() { echo "demo check: $1" >&2; cat "$output" >&2; exit 1; }
table=$(awk '/^property  owner  issueDate/ {on = 1} on && /^$/ {exit} on' "$output")
[ "$table" = "$expected_table" ] || fail "the collections table differs"
[ "$(grep -cxF -- "$log_line" "$output")" -eq 7 ] || fail "expected 7 operations-log lines of status 0"
grep -qF "Collections: 7 before, 7 after; db.log: 7 lines before, 7 after." "$output" ||
  fail "the second run added something"
[ "$(grep -c ': consistent: ' "$output")" -eq 5 ] || fail "a data file is not consistent"
grep -qxF "Owners seen 10, taking part 8, collections to insert 7" "$output" || fail "the preview's summary differs"
grep -qF "no: series outside the method's bounds" "$output" || fail "the preview does not say why an owner is left out"
grep -qF "none: nothing due" "$output" || fail "the preview does not name the owner with nothing due"
grep -q '""' "$output" && fail "a literal \"\" in the output"
grep -qE '[^:/]//' "$output" && fail "a doubled separator in the output"
echo "demo: 7 collections, 7 log lines, second run inserted nothing"
