#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for trying the server backend and for its
# tests, from Debian's postgresql package.
#
#   pg-server.sh start FOLDER [ADDRESS...]
#       creates the cluster in FOLDER (new or empty), starts it and writes
#       FOLDER/env: shell assignments to source (below). The server listens
#       on a Unix socket in FOLDER/socket and on 127.0.0.1 (and on every
#       further ADDRESS) at a free port; the socket trusts its local users
#       (the folder is closed to others), TCP asks for a password
#       (scram-sha-256). The superuser is "nubo", its password random and
#       kept only in FOLDER/pgpass. A database "nubo" is made for the data.
#   pg-server.sh restart FOLDER
#       starts the cluster of FOLDER again after it stopped or was killed
#       (pg_ctl stop -m immediate, kill -9), on the same addresses and port;
#       run it in the network namespace the cluster was started in.
#   pg-server.sh stop FOLDER
#       stops the server (fast shutdown, then immediate) and removes FOLDER.
#   pg-server.sh run COMMAND [ARG...]
#       starts a cluster in a temporary folder, runs the command with
#       FOLDER/env in its environment and stops the server on every way out;
#       the exit code is the command's.
#
# FOLDER/env sets:
#   NUBO_PG_FOLDER   the cluster's folder
#   NUBO_PG_BIN      the server's programs (pg_ctl, psql, ...)
#   NUBO_PG_USER     the system user the server runs as
#   NUBO_TEST_PG     libpq connection string of the superuser over TCP
#   NUBO_TEST_PG_SOCKET  the same over the Unix socket
#   PGPASSFILE       FOLDER/pgpass, where libpq finds the password
#
# The server runs as an unprivileged user: the caller when it is not root,
# else the system user "nubopg", created when missing.
set -euo pipefail

pg_bin() {
  local dir
  for dir in /usr/lib/postgresql/*/bin; do
    [ -x "$dir/initdb" ] && { echo "$dir"; return 0; }
  done
  echo "pg-server: no PostgreSQL server programs (Debian package postgresql)" >&2
  return 1
}

server_user() {
  if [ "$(id -u)" -ne 0 ]; then
    id -un
    return 0
  fi
  if ! id nubopg >/dev/null 2>&1; then
    # Two callers at once: the second useradd fails, the user exists anyway.
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
      nubopg 2>/dev/null || id nubopg >/dev/null
  fi
  echo nubopg
}

# Runs a command as the server's user.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups -- "$@"
  else
    "$@"
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  local folder=$1
  shift
  local bin user password port addresses a
  bin=$(pg_bin)
  user=$(server_user)
  mkdir -p "$folder"
  folder=$(cd "$folder" && pwd)
  if [ -n "$(ls -A "$folder")" ]; then
    echo "pg-server: $folder is not empty" >&2
    return 1
  fi
  mkdir "$folder/data" "$folder/socket"
  chmod 0755 "$folder"
  [ "$(id -u)" -eq 0 ] && chown "$user" "$folder/data" "$folder/socket"
  # Only the server's user (and root) reach the trusted socket.
  chmod 0700 "$folder/data" "$folder/socket"

  password=$(python3 -c 'import secrets; print(secrets.token_hex(16))')
  local pwfile=$folder/data/.initpw
  (umask 077 && printf '%s\n' "$password" >"$pwfile")
  [ "$(id -u)" -eq 0 ] && chown "$user" "$pwfile"
  as_server "$bin/initdb" -D "$folder/data/cluster" -U nubo --pwfile="$pwfile" \
    --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 \
    >"$folder/initdb.log" 2>&1 || { cat "$folder/initdb.log" >&2; return 1; }
  rm -f "$pwfile"

  addresses=127.0.0.1
  for a in "$@"; do addresses="$addresses,$a"; done
  # Host lines for the further addresses' networks: the addresses given are
  # the test's own, in namespaces it made; any client there gives a password.
  for a in "$@"; do
    printf 'host all all %s/24 scram-sha-256\n' "$a" >>"$folder/data/cluster/pg_hba.conf"
  done
  (umask 077 && : >"$folder/pgpass")

  local attempt started=no options
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    options="-c listen_addresses='$addresses' -c port=$port -c unix_socket_directories='$folder/socket' -c max_connections=200 -c fsync=on"
    if as_server "$bin/pg_ctl" -D "$folder/data/cluster" -l "$folder/data/server.log" -w -t 60 \
         -o "$options" start >/dev/null 2>&1; then
      started=yes
      break
    fi
  done
  # For restart: the same addresses and port.
  printf '%s\n' "$options" >"$folder/options"
  if [ "$started" != yes ]; then
    echo "pg-server: the server did not start; its log:" >&2
    cat "$folder/data/server.log" >&2 || true
    return 1
  fi
  # Every host of the cluster, any database, the superuser.
  printf '*:%s:*:nubo:%s\n' "$port" "$password" >"$folder/pgpass"
  as_server "$bin/psql" -h "$folder/socket" -p "$port" -U nubo -d postgres -qAt \
    -c 'CREATE DATABASE nubo' >/dev/null
  cat >"$folder/env" <<EOF
NUBO_PG_FOLDER='$folder'
NUBO_PG_BIN='$bin'
NUBO_PG_USER='$user'
NUBO_PG_PORT='$port'
NUBO_TEST_PG='host=127.0.0.1 port=$port user=nubo dbname=nubo'
NUBO_TEST_PG_SOCKET='host=$folder/socket port=$port user=nubo dbname=nubo'
PGPASSFILE='$folder/pgpass'
export NUBO_PG_FOLDER NUBO_PG_BIN NUBO_PG_USER NUBO_PG_PORT NUBO_TEST_PG NUBO_TEST_PG_SOCKET PGPASSFILE
EOF
}

restart() {
  local folder=$1 bin
  bin=$(pg_bin)
  user=$(server_user)
  [ -f "$folder/options" ] || { echo "pg-server: $folder holds no cluster started here" >&2; return 1; }
  # Recovery after an immediate stop or a kill replays the log first: the
  # wait allows for it.
  as_server "$bin/pg_ctl" -D "$folder/data/cluster" -l "$folder/data/server.log" -w -t 120 \
    -o "$(cat "$folder/options")" start >/dev/null 2>&1 || {
    echo "pg-server: the server did not start again; its log:" >&2
    tail -n 40 "$folder/data/server.log" >&2 || true
    return 1
  }
}

stop() {
  local folder=$1 bin user
  [ -d "$folder" ] || return 0
  bin=$(pg_bin)
  user=$(server_user)
  if [ -f "$folder/data/cluster/postmaster.pid" ]; then
    as_server "$bin/pg_ctl" -D "$folder/data/cluster" -m fast -w -t 30 stop >/dev/null 2>&1 ||
      as_server "$bin/pg_ctl" -D "$folder/data/cluster" -m immediate -w -t 30 stop >/dev/null 2>&1 ||
      true
  fi
  # The server's last processes may still write as it ends: once more if
  # the first removal met files appearing.
  rm -rf "$folder" 2>/dev/null || { sleep 1; rm -rf "$folder"; }
  [ ! -e "$folder" ] || { sleep 1; rm -rf "$folder"; }
}

run() {
  local folder rc=0
  folder=$(mktemp -d /tmp/nubo-pg.XXXXXX)
  rmdir "$folder"
  # shellcheck disable=SC2064
  trap "stop '$folder'" EXIT
  trap 'exit 130' INT TERM
  start "$folder"
  # shellcheck source=/dev/null
  source "$folder/env"
  "$@" || rc=$?
  return "$rc"
}

command=${1:-}
shift || true
case "$command" in
  start) [ $# -ge 1 ] || { echo "usage: $0 start FOLDER [ADDRESS...]" >&2; exit 2; }; start "$@" ;;
  restart) [ $# -eq 1 ] || { echo "usage: $0 restart FOLDER" >&2; exit 2; }; restart "$1" ;;
  stop) [ $# -eq 1 ] || { echo "usage: $0 stop FOLDER" >&2; exit 2; }; stop "$1" ;;
  run) [ $# -ge 1 ] || { echo "usage: $0 run COMMAND [ARG...]" >&2; exit 2; }; run "$@" ;;
  *) echo "usage: $0 start FOLDER [ADDRESS...] | restart FOLDER | stop FOLDER | run COMMAND [ARG...]" >&2; exit 2 ;;
esac
