#!/usr/bin/env bash
# The demo: installs what is missing (compiler, CMake, Ninja, SQLite), builds
# the program and the data-file utility, lays the demo installation of
# examples/ out in a fresh folder, previews the issue (who takes part, who
# gets nothing and why), runs the program on it, shows the collections it
# created and its operations log, then runs it a second time to show that
# nothing is added.
#
#   bash scripts/demo.sh [FOLDER]
#
# FOLDER defaults to out/demo. It is emptied first when it holds an earlier
# demo; a folder with anything else in it is refused.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)
demo=${1:-$top/out/demo}
case "$demo" in /*) ;; *) demo=$PWD/$demo ;; esac
demo=${demo%/}
marker=.nubo-demo

bash scripts/install-deps.sh demo

echo "== Building cobram and nubodat (build/release)"
# A fresh build folder leaves out the tests and benchmarks, whose packages
# the demo does not install; an existing one keeps its options.
options=()
[ -f build/release/CMakeCache.txt ] || options=(-DNUBO_BUILD_TESTS=OFF -DNUBO_BUILD_BENCH=OFF)
mkdir -p build
build_log=$top/build/demo-build.log
if ! { cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON "${options[@]}" &&
       cmake --build build/release -j "$jobs" --target cobram nubodat; } >"$build_log" 2>&1; then
  echo "The build failed; its last lines (all of them in $build_log):" >&2
  tail -n 60 "$build_log" >&2
  exit 1
fi
cobram=$top/build/release/app/cobram
nubodat=$top/build/release/tools/nubodat

if [ -e "$demo" ] && [ -n "$(ls -A "$demo")" ] && [ ! -e "$demo/$marker" ]; then
  echo "$demo is not empty and holds no earlier demo: choose another folder." >&2
  exit 1
fi
rm -rf "$demo"
mkdir -p "$demo/root/DADES" "$demo/root/ddf" "$demo/work"
touch "$demo/$marker"
root=$demo/root/
work=$demo/work/

echo
echo "== Installation in $demo"
for source in examples/ddf-src/*.ddf; do
  "$nubodat" dict "$source" --out "${root}ddf/$(basename "$source" .ddf).xdf" >/dev/null
done
"$nubodat" create "${root}DADES/FinquesH.dat" --from "${root}ddf/FinquesH.xdf"
"$nubodat" import "${root}DADES/FinquesH.dat" examples/data/properties.csv
"$nubodat" create "${root}DADES/PropietH.dat" --from "${root}ddf/PropietH.xdf"
"$nubodat" import "${root}DADES/PropietH.dat" examples/data/owners.csv
cp examples/work/NuboTerm.ini examples/work/Sessio.ini examples/work/pent.tmp "$work"

echo
echo "== Preview of the issue, nothing written: nubodat preview ROOT WORK/pent.tmp"
echo "Amounts are in the demo's unit, euro cents (18500 is 185.00 euros)."
"$nubodat" preview "$root" "${work}pent.tmp" --unit "euro cents"

run_program() {
  # No input: the program asks nothing on its normal path.
  JOBROOT=$root JOBTMP=$work timeout 120 "$cobram" </dev/null
}

log_lines() { if [ -f "${root}db.log" ]; then wc -l <"${root}db.log"; else echo 0; fi; }
collection_count() { "$nubodat" stat "${root}DADES/CobramH.dat" | awk '/^Records/ {print $2}'; }

echo
echo "== First run: JOBROOT=$root JOBTMP=$work cobram"
run_program
echo "Exit code 0. Collections created (nubodat export DADES/CobramH.dat --table);"
echo "total and flagged in euro cents:"
echo
"$nubodat" export "${root}DADES/CobramH.dat" --table
echo
echo "Operations log ${root}db.log (file number, operation 2 = insert, status):"
tr -d '\r' <"${root}db.log"

before_log=$(log_lines)
before_records=$(collection_count)
echo
echo "== Second run with the same work file"
run_program
after_log=$(log_lines)
after_records=$(collection_count)
echo "Collections: $before_records before, $after_records after; db.log: $before_log lines before, $after_log after."
if [ "$after_records" = "$before_records" ] && [ "$after_log" = "$before_log" ]; then
  echo "The second run inserted nothing: every collection of this issue already exists."
else
  echo "The second run changed the collections file." >&2
  exit 1
fi

echo
for file in FinquesH PropietH CobramH THRebut TRemeses; do
  "$nubodat" check "${root}DADES/$file.dat"
done

cat <<INFO

== Again, on your own data
The demo's files are yours to change; examples/ stays as it is. For instance:

  $nubodat export ${root}DADES/PropietH.dat $demo/owners.csv
  (edit $demo/owners.csv: amounts in euro cents)
  $nubodat import ${root}DADES/PropietH.dat $demo/owners.csv --replace
  $nubodat workfile ${work}pent.tmp --date 01/05/2026 --issue 01 --methods ABF --concepts all
  $nubodat preview $root ${work}pent.tmp
  JOBROOT=$root JOBTMP=$work $cobram
  $nubodat export ${root}DADES/CobramH.dat --table
  $nubodat undo ${root}DADES/CobramH.dat --work ${work}pent.tmp

or lay out a fresh demo from examples/ with: bash scripts/demo.sh
INFO
