#!/usr/bin/env bash
# The same issue runs on Linux and under Wine must leave the same data files
# and the same operations log, byte for byte. One installation is laid out
# with the Linux tools (data files are the same on both systems), copied
# twice, and each copy gets the same runs: the demo issue, the same issue
# again (nothing inserted), then another issue date and number. After every
# run the records of each data file (nubodat save) and "db.log" are compared.
#
# Usage: e2e_compare.sh COBRAM NUBODAT COBRAM.exe NUBODB.dll
# (KEEP=1 keeps the folder of the runs and names it.)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cobram=$(realpath "$1")
nubodat=$(realpath "$2")
cobram_exe=$(realpath "$3")
nubodb_dll=$(realpath "$4")
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT

# A path as Windows programs under Wine see it (drive Z: is the root).
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
fail() { echo "e2e compare: $1" >&2; exit 1; }

# The demo installation, with owners added whose sums are at the edges of
# 32 bits: one stored, one skipped and logged with status 1008.
base=$work/base
mkdir -p "$base/root/DADES" "$base/root/ddf" "$base/work"
for source in "$top"/examples/ddf-src/*.ddf; do
  "$nubodat" dict "$source" --out "$base/root/ddf/$(basename "$source" .ddf).xdf" >/dev/null
done
"$nubodat" create "$base/root/DADES/FinquesH.dat" --from "$base/root/ddf/FinquesH.xdf" >/dev/null
"$nubodat" import "$base/root/DADES/FinquesH.dat" "$top/examples/data/properties.csv" >/dev/null
{
  cat "$top/examples/data/owners.csv"
  zeros=',,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0'
  echo "2,4,A,0001,,,1,2147483647,,1,1$zeros"
  echo "2,5,B,0003,,,1,-2147483648,,0,0$zeros"
} >"$work/owners.csv"
"$nubodat" create "$base/root/DADES/PropietH.dat" --from "$base/root/ddf/PropietH.xdf" >/dev/null
"$nubodat" import "$base/root/DADES/PropietH.dat" "$work/owners.csv" >/dev/null
cp "$top"/examples/work/NuboTerm.ini "$top"/examples/work/Sessio.ini "$base/work/"
cp "$top/examples/work/pent.tmp" "$work/issue1.tmp"
# Another issue: July (property 15's cycle starts then), issue number 02.
sed -e '1s|.*|01/07/2026\r|' -e '6s|.*|02\r|' "$work/issue1.tmp" >"$work/issue2.tmp"

cp -a "$base" "$work/linux"
cp -a "$base" "$work/windows"

run_linux() {
  JOBROOT=$work/linux/root/ JOBTMP=$work/linux/work/ timeout 120 "$cobram" </dev/null \
    >"$work/linux.out" 2>&1 || fail "the Linux run $1 ended with $? ($(cat "$work/linux.out"))"
}
run_windows() {
  JOBROOT="$(windows_path "$work/windows/root")\\" JOBTMP="$(windows_path "$work/windows/work")\\" \
    NUBO_BTRIEVE_DLL="$(windows_path "$nubodb_dll")" \
    timeout 120 "$top/scripts/wine-run.sh" "$cobram_exe" </dev/null >"$work/windows.out" 2>&1 ||
    fail "the Windows run $1 ended with $? ($(cat "$work/windows.out"))"
}

# Every data file's records and the operations log of one side, in one folder.
snapshot() {  # SIDE RUN
  local side=$1 out=$work/snap-$1-$2 file
  mkdir -p "$out"
  for file in "$work/$side/root/DADES"/*.dat; do
    "$nubodat" save "$file" "$out/$(basename "$file" .dat).seq" >/dev/null
  done
  cp "$work/$side/root/db.log" "$out/db.log"
}

runs=(issue1 issue1 issue2)
for i in "${!runs[@]}"; do
  n=$((i + 1))
  cp "$work/${runs[$i]}.tmp" "$work/linux/work/pent.tmp"
  cp "$work/${runs[$i]}.tmp" "$work/windows/work/pent.tmp"
  run_linux "$n"
  run_windows "$n"
  snapshot linux "$n"
  snapshot windows "$n"
  diff -r "$work/snap-linux-$n" "$work/snap-windows-$n" >/dev/null ||
    fail "run $n: the data files or db.log differ: $(diff -rq "$work/snap-linux-$n" "$work/snap-windows-$n" | tr '\n' ' ')"
  echo "run $n (${runs[$i]}): $(ls "$work/snap-linux-$n" | wc -l) files identical," \
       "db.log $(wc -l <"$work/snap-linux-$n/db.log") lines"
done

# The runs did what they were meant to: collections on the first, a
# skipped sum logged (tried again on every run, never stored), no insertion
# on the second, more collections on the third.
inserted() { grep -c ' 0 .$' "$work/snap-linux-$1/db.log" || true; }
skipped() { grep -c ' 1008 .$' "$work/snap-linux-$1/db.log" || true; }
[ "$(inserted 1)" -gt 0 ] || fail "the first run inserted nothing"
[ "$(skipped 1)" -eq 1 ] || fail "the first run did not log one skipped sum (status 1008)"
[ "$(inserted 2)" -eq "$(inserted 1)" ] || fail "the second run inserted something"
[ "$(skipped 2)" -eq 2 ] || fail "the second run did not log the skipped sum again"
[ "$(inserted 3)" -gt "$(inserted 2)" ] || fail "the second issue inserted nothing"
cmp -s "$work/snap-linux-1/CobramH.seq" "$work/snap-linux-2/CobramH.seq" ||
  fail "the second run changed the collections"
echo "Linux and Wine runs left identical data files and db.log"
