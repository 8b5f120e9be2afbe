#!/usr/bin/env bash
# Several workstations on one PostgreSQL server, for real: the server in a
# network namespace of its own, three workstations in three others, each
# joined to the server by a veth pair on a network of its own (10.213.N.0/24,
# the server at .1, the workstation at .2). Every workstation has its own
# installation folder (its own dictionaries, work file and db.log) whose map
# file places the data files on the one server, and runs the program from
# build/release on it.
#
#   1. All three run the same issue at once: every owner gets exactly one
#      collection, exactly one insertion with status 0 overall, and every
#      db.log line is well formed (a lost race is a line with status 5).
#   2. The server is stopped at once (pg_ctl stop -m immediate) during a run
#      of all three: each run ends within the bound with the statuses of a
#      lost session (95), an Open and the program's fatal message give 91;
#      with the server back, a rerun completes the issue with every owner
#      billed exactly once.
#   3. One workstation's link goes down during a run: its run ends within
#      the bound, an Open there gives 91 within the connect timeout, the
#      other workstations finish; with the link back, a rerun there
#      completes the issue exactly once.
#
# It needs root (or CAP_NET_ADMIN) for ip netns: without it the phase fails
# when CI=true and skips with a message otherwise. Namespaces, links, the
# server and the folders go on every way out.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

say() { printf 'workstations: %s\n' "$*"; }
fail() {
  printf 'workstations: FAILED: %s\n' "$*" >&2
  exit 1
}

# --- Guard ---------------------------------------------------------------
tag=nw$$
probe=${tag}-probe
why=
if ! command -v ip >/dev/null 2>&1; then
  why="no ip command (Debian package iproute2)"
elif ! error=$(ip netns add "$probe" 2>&1); then
  why="ip netns add failed (it needs root or CAP_NET_ADMIN): $error"
else
  ip netns del "$probe" 2>/dev/null || true
fi
if [ -n "$why" ]; then
  if [ "${CI:-}" = true ]; then
    fail "network namespaces are not available ($why); CI runs this phase as root"
  fi
  say "skipped: network namespaces are not available ($why)"
  exit 0
fi

# --- Settings ------------------------------------------------------------
properties=30
owners_per_property=100
owners=$((properties * owners_per_property))
stations=3
connect_timeout=5
call_timeout=5
busy_ms=2000
# A call's bound: the call timeout plus the busy wait (README, Faults).
bound=$((call_timeout + busy_ms / 1000))
# Slack over the bound for a loaded machine; a hang shows as far more.
slack=30
run_limit=180

cobram=$top/build/release/app/cobram
nubodat=$top/build/release/tools/nubodat
if [ ! -x "$cobram" ] || [ ! -x "$nubodat" ]; then
  say "building cobram and nubodat in build/release"
  [ -f build/release/CMakeCache.txt ] ||
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON >/dev/null
  cmake --build build/release --target cobram nubodat >/dev/null
fi

base=$(mktemp -d /tmp/nubo-ws.XXXXXX)
chmod 0755 "$base"
server=${tag}-srv
pg=$base/pg

cleanup() {
  local pid i
  set +e
  # Runs still going: the run limit's timeout passes the signal on.
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  [ -d "$pg" ] && bash scripts/pg-server.sh stop "$pg" >/dev/null 2>&1
  for i in $(seq 1 "$stations"); do ip netns del "${tag}-ws$i" 2>/dev/null; done
  ip netns del "$server" 2>/dev/null
  rm -rf "$base"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# --- Network -------------------------------------------------------------
ip netns add "$server"
ip -n "$server" link set lo up
for i in $(seq 1 "$stations"); do
  ns=${tag}-ws$i
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip link add "${tag}s$i" type veth peer name "${tag}w$i"
  ip link set "${tag}s$i" netns "$server"
  ip link set "${tag}w$i" netns "$ns"
  ip -n "$server" addr add "10.213.$i.1/24" dev "${tag}s$i"
  ip -n "$ns" addr add "10.213.$i.2/24" dev "${tag}w$i"
  ip -n "$server" link set "${tag}s$i" up
  ip -n "$ns" link set "${tag}w$i" up
done

# --- Server --------------------------------------------------------------
addresses=()
for i in $(seq 1 "$stations"); do addresses+=("10.213.$i.1"); done
ip netns exec "$server" bash scripts/pg-server.sh start "$pg" "${addresses[@]}"
# shellcheck source=/dev/null
source "$pg/env"
export PGPASSFILE NUBO_ENGINE_BUSY_MS=$busy_ms
# Every commit waits for the server's disk: a status 0 the server's crash
# cannot take back.
export NUBO_ENGINE_SYNC=FULL
say "server in namespace $server on ${addresses[*]} port $NUBO_PG_PORT"

# --- Installations -------------------------------------------------------
root() { echo "$base/ws$1/root/"; }
work() { echo "$base/ws$1/work/"; }
on() {
  local i=$1
  shift
  ip netns exec "${tag}-ws$i" "$@"
}

for i in $(seq 1 "$stations"); do
  r=$(root "$i")
  w=$(work "$i")
  mkdir -p "${r}DADES" "${r}ddf" "$w"
  for source in examples/ddf-src/*.ddf; do
    "$nubodat" dict "$source" --out "${r}ddf/$(basename "$source" .ddf).xdf" >/dev/null
  done
  cp examples/work/NuboTerm.ini examples/work/Sessio.ini "$w"
  cat >"${r}nubodb.server" <<EOF
server = host=10.213.$i.1 port=$NUBO_PG_PORT user=nubo dbname=nubo
schema = office
connect_timeout = $connect_timeout
call_timeout = $call_timeout
EOF
done

r1=$(root 1)
for file in THRebut TRemeses FinquesH PropietH CobramH; do
  on 1 "$nubodat" create "${r1}DADES/$file.dat" --from "${r1}ddf/$file.xdf" >/dev/null
done
# Monthly concept 1 for everyone, so every owner is billed each issue;
# methods A and B alternate (pending and issued collections).
awk -v n="$properties" 'BEGIN { print "property,cycleStartMonth,cycleMonths"; for (p = 1; p <= n; p++) print p ",1,12" }' \
  >"$base/properties.csv"
awk -v n="$properties" -v m="$owners_per_property" 'BEGIN {
  header = "property,owner,method,series,moment"
  for (k = 1; k <= 8; k++) header = header ",flag" k ",period" k ",amount" k
  for (k = 9; k <= 10; k++) header = header ",code" k ",flag" k ",period" k ",amount" k
  print header
  rest = ""
  for (k = 2; k <= 8; k++) rest = rest ",,0,0"
  rest = rest ",0,,0,0,0,,0,0"
  for (p = 1; p <= n; p++) for (o = 1; o <= m; o++)
    printf "%d,%d,%s,0001,,,1,%d%s\n", p, o, (o % 2 ? "A" : "B"), 1000 + o, rest
}' >"$base/owners.csv"
on 1 "$nubodat" import "${r1}DADES/FinquesH.dat" "$base/properties.csv" >/dev/null
on 1 "$nubodat" import "${r1}DADES/PropietH.dat" "$base/owners.csv" >/dev/null
awk -F, 'NR > 1 { print $1 "/" $2 }' "$base/owners.csv" | sort >"$base/expected"
say "$owners owners in $properties properties on the server, $stations workstations"

# --- Runs and checks -----------------------------------------------------
workfile() { # ISSUE: the work file of every workstation for that issue number
  local i
  for i in $(seq 1 "$stations"); do
    "$nubodat" workfile "$(work "$i")pent.tmp" --date 01/04/2026 --issue "$1" \
      --from 1/0 --to 9999/9999 --methods ABF --concepts all >/dev/null
  done
}

log_lines() { # STATION: lines of its db.log so far
  local log
  log="$(root "$1")db.log"
  if [ -f "$log" ]; then wc -l <"$log"; else echo 0; fi
}

start_run() { # STATION: starts the program there; its pid in $started
  local i=$1
  (
    cd "$(root "$i")"
    JOBROOT=$(root "$i") JOBTMP=$(work "$i") exec timeout "$run_limit" \
      ip netns exec "${tag}-ws$i" "$cobram" </dev/null >"$base/ws$i/run.out" 2>&1
  ) &
  started=$!
}

# Waits for a run; fails when it did not end by itself with exit code 0
# (the program always exits 0; 124 is the run limit).
finish_run() { # STATION PID
  local rc=0
  wait "$2" || rc=$?
  [ "$rc" -eq 0 ] || fail "workstation $1: the program ended with $rc (124: still running after ${run_limit}s); its output: $(head -c 2000 "$base/ws$1/run.out")"
}

# The lines of each db.log from line FROM+1 on, all well formed: " 514",
# blanks to column 14, " 2", blanks to column 28, the status with its sign
# position, a blank, CR LF. Prints the statuses, one a line.
new_statuses() { # STATION FROM
  local log
  log="$(root "$1")db.log"
  [ -f "$log" ] || return 0
  tail -n +"$(($2 + 1))" "$log" | LC_ALL=C awk -v station="$1" -v from="$2" '
    BEGIN { head = " 514" sprintf("%10s", "") " 2" sprintf("%12s", "") }
    substr($0, 1, 28) == head && substr($0, 29) ~ /^[ -][0-9]+ \r$/ {
      s = substr($0, 29); sub(/ \r$/, "", s); sub(/^ /, "", s); print s; next
    }
    { printf "workstation %d: malformed db.log line %d: \"%s\"\n", station, from + NR, $0 > "/dev/stderr"; bad = 1 }
    END { exit bad }'
}

# The issue's collections on the server: exactly one for every owner.
check_collections() { # ISSUE
  local csv=$base/collections.csv
  on 1 "$nubodat" export "${r1}DADES/CobramH.dat" "$csv" >/dev/null
  awk -F, -v issue="$1" 'NR > 1 && $4 == issue { print $1 "/" $2 }' "$csv" | sort >"$base/got"
  local count unique
  count=$(wc -l <"$base/got")
  unique=$(sort -u "$base/got" | wc -l)
  [ "$count" -eq "$unique" ] || fail "issue $1: $((count - unique)) duplicate collections"
  if ! cmp -s "$base/got" "$base/expected"; then
    fail "issue $1: $count collections for $owners owners; missing: $(comm -13 "$base/got" "$base/expected" | head -5 | tr '\n' ' ')extra: $(comm -23 "$base/got" "$base/expected" | head -5 | tr '\n' ' ')"
  fi
}

count_status() { # STATUS FILE
  grep -cx -- "$1" "$2" || true
}

# Every status in FILE is one of the allowed ones.
only_statuses() { # FILE WHAT ALLOWED...
  local file=$1 what=$2 s
  shift 2
  local others
  others=$(sort -u "$file" | while read -r s; do
    case " $* " in *" $s "*) ;; *) echo "$s" ;; esac
  done)
  [ -z "$others" ] || fail "$what: unexpected statuses in db.log: $(echo "$others" | tr '\n' ' ')"
}

declare -a before
mark_logs() { local i; for i in $(seq 1 "$stations"); do before[i]=$(log_lines "$i"); done; }
collect_statuses() { # OUT: the statuses of every station's new lines
  local i
  : >"$1"
  for i in $(seq 1 "$stations"); do new_statuses "$i" "${before[i]}" >>"$1" || fail "malformed db.log lines"; done
}

# --- 1. Three workstations at once ----------------------------------------
workfile 01
mark_logs
t0=$(now)
run_pids=()
for i in $(seq 1 "$stations"); do start_run "$i"; run_pids[i]=$started; done
for i in $(seq 1 "$stations"); do finish_run "$i" "${run_pids[i]}"; done
t1=$(now)
collect_statuses "$base/st1"
only_statuses "$base/st1" "concurrent issue" 0 5
ok=$(count_status 0 "$base/st1")
dup=$(count_status 5 "$base/st1")
[ "$ok" -eq "$owners" ] || fail "concurrent issue: $ok insertions with status 0 for $owners owners"
check_collections 01
say "1. $stations workstations at once: $owners owners billed exactly once in $(elapsed "$t0" "$t1")s ($ok insertions, $dup lost races with status 5, every db.log line well formed)"

# --- 2. The server stopped at once during a run ---------------------------
workfile 02
mark_logs
for i in $(seq 1 "$stations"); do start_run "$i"; run_pids[i]=$started; done
# Until a tenth of the issue is in, at most the run limit.
deadline=$((SECONDS + run_limit))
while :; do
  total=0
  for i in $(seq 1 "$stations"); do total=$((total + $(log_lines "$i") - before[i])); done
  [ "$total" -ge $((owners / 10)) ] && break
  [ "$SECONDS" -lt "$deadline" ] || fail "server fault: the runs inserted nothing for ${run_limit}s"
  sleep 0.1
done
t0=$(now)
as_server=(setpriv --reuid="$NUBO_PG_USER" --regid="$(id -g "$NUBO_PG_USER")" --clear-groups --)
[ "$(id -u)" -eq 0 ] || as_server=()
"${as_server[@]}" "$NUBO_PG_BIN/pg_ctl" -D "$pg/data/cluster" -m immediate -w -t 60 stop >/dev/null
t_stop=$(now)
worst=0
for i in $(seq 1 "$stations"); do
  finish_run "$i" "${run_pids[i]}"
  took=$(elapsed "$t0" "$(now)")
  worst=$(awk -v a="$worst" -v b="$took" 'BEGIN { print (b > a ? b : a) }')
done
awk -v w="$worst" -v l=$((bound + slack)) 'BEGIN { exit !(w <= l) }' ||
  fail "server fault: a run took ${worst}s to end after the server stopped (bound ${bound}s)"
collect_statuses "$base/st2"
only_statuses "$base/st2" "server fault" 0 5 95
ok_fault=$(count_status 0 "$base/st2")
lost=$(count_status 95 "$base/st2")
# An Open while the server is down: 91 within the connect timeout.
t_open=$(now)
out=$(on 1 "$nubodat" stat "${r1}DADES/CobramH.dat" 2>&1) && fail "server fault: stat succeeded without a server"
open_took=$(elapsed "$t_open" "$(now)")
case "$out" in *91*) ;; *) fail "server fault: an Open without a server did not give 91: $out" ;; esac
# The program with the server down: its fatal message names the status.
t_open=$(now)
start_run 1
finish_run 1 "$started"
fatal_took=$(elapsed "$t_open" "$(now)")
grep -q '(91)' "$base/ws1/run.out" ||
  fail "server fault: the program's fatal message shows no status 91: $(head -c 2000 "$base/ws1/run.out")"
awk -v w="$fatal_took" -v l=$((connect_timeout + slack)) 'BEGIN { exit !(w <= l) }' ||
  fail "server fault: the program took ${fatal_took}s to end without a server (bound ${connect_timeout}s)"
ip netns exec "$server" bash scripts/pg-server.sh restart "$pg"
t_back=$(now)
mark_logs
for i in $(seq 1 "$stations"); do start_run "$i"; run_pids[i]=$started; done
for i in $(seq 1 "$stations"); do finish_run "$i" "${run_pids[i]}"; done
collect_statuses "$base/st2b"
only_statuses "$base/st2b" "rerun after the server fault" 0 5
ok_rerun=$(count_status 0 "$base/st2b")
# A status 0 is never taken back (synchronous commits); an insertion whose
# answer the stop cut off may have been committed all the same.
[ $((ok_fault + ok_rerun)) -le "$owners" ] ||
  fail "server fault: $((ok_fault + ok_rerun)) insertions with status 0 for $owners owners: a confirmed collection was lost"
[ $((ok_fault + ok_rerun)) -ge $((owners - stations)) ] ||
  fail "server fault: only $((ok_fault + ok_rerun)) insertions with status 0 for $owners owners"
check_collections 02
say "2. server stopped (immediate) after $ok_fault insertions: every run ended within $(printf '%.1f' "$worst")s (bound ${bound}s; $lost insertions gave 95), an Open gave 91 in ${open_took}s, the program's fatal message showed 91 in ${fatal_took}s, the server was back in $(elapsed "$t_stop" "$t_back")s; the rerun billed the other $ok_rerun: $owners owners exactly once, nothing lost"

# --- 3. A workstation's link down during a run ----------------------------
# The workstation that loses its link runs the whole issue, the others
# the first half of the properties: its rerun has the rest to do.
workfile 03
down=2
half=$((properties / 2))
for i in $(seq 1 "$stations"); do
  [ "$i" -eq "$down" ] || "$nubodat" workfile "$(work "$i")pent.tmp" --date 01/04/2026 --issue 03 \
    --from 1/0 --to "$half/9999" --methods ABF --concepts all >/dev/null
done
mark_logs
for i in $(seq 1 "$stations"); do start_run "$i"; run_pids[i]=$started; done
deadline=$((SECONDS + run_limit))
while [ $(($(log_lines "$down") - before[down])) -lt $((owners / 20)) ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "link fault: workstation $down inserted nothing for ${run_limit}s"
  sleep 0.1
done
t0=$(now)
ip -n "${tag}-ws$down" link set "${tag}w$down" down
finish_run "$down" "${run_pids[down]}"
link_took=$(elapsed "$t0" "$(now)")
awk -v w="$link_took" -v l=$((bound + slack)) 'BEGIN { exit !(w <= l) }' ||
  fail "link fault: the run took ${link_took}s to end after its link went down (bound ${bound}s)"
t_open=$(now)
out=$(on "$down" "$nubodat" stat "$(root "$down")DADES/CobramH.dat" 2>&1) &&
  fail "link fault: stat succeeded without a link"
open_took=$(elapsed "$t_open" "$(now)")
case "$out" in *91*) ;; *) fail "link fault: an Open without a link did not give 91: $out" ;; esac
awk -v w="$open_took" -v l=$((connect_timeout + slack)) 'BEGIN { exit !(w <= l) }' ||
  fail "link fault: an Open took ${open_took}s (bound ${connect_timeout}s)"
# Its own end back up and the server's end down: the interface stays, the
# packets go nowhere, and an Open waits out the connect timeout.
ip -n "${tag}-ws$down" link set "${tag}w$down" up
ip -n "$server" link set "${tag}s$down" down
t_open=$(now)
out=$(on "$down" "$nubodat" stat "$(root "$down")DADES/CobramH.dat" 2>&1) &&
  fail "link fault: stat succeeded with the server's end down"
silent_took=$(elapsed "$t_open" "$(now)")
case "$out" in *91*) ;; *) fail "link fault: an Open with no answer did not give 91: $out" ;; esac
awk -v w="$silent_took" -v l=$((connect_timeout + slack)) 'BEGIN { exit !(w <= l) }' ||
  fail "link fault: an Open with no answer took ${silent_took}s (bound ${connect_timeout}s)"
# The others finish their half meanwhile.
for i in $(seq 1 "$stations"); do
  [ "$i" -eq "$down" ] || finish_run "$i" "${run_pids[i]}"
done
collect_statuses "$base/st3"
only_statuses "$base/st3" "link fault" 0 5 95
ok_link=$(count_status 0 "$base/st3")
ip -n "$server" link set "${tag}s$down" up
mark_logs
start_run "$down"
finish_run "$down" "$started"
collect_statuses "$base/st3b"
only_statuses "$base/st3b" "rerun after the link fault" 0
ok_rerun=$(count_status 0 "$base/st3b")
if [ $((ok_link + ok_rerun)) -gt "$owners" ] || [ $((ok_link + ok_rerun)) -lt $((owners - 1)) ]; then
  fail "link fault: $((ok_link + ok_rerun)) insertions with status 0 for $owners owners"
fi
check_collections 03
say "3. link of workstation $down down: its run ended in ${link_took}s (bound ${bound}s), an Open there gave 91 in ${open_took}s (no route) and in ${silent_took}s with the server's end down (no answer; bound ${connect_timeout}s), the others completed their half; after the link came back its rerun inserted the other $ok_rerun: $owners owners exactly once"
say "passed"
