#!/usr/bin/env bash
# The program on a terminal with a data file it cannot open: the framed
# message in the session's language, one key, exit code 0, the terminal and
# the window stack given back. Once in Catalan (no language set) and once in
# Spanish (from the installation's "Nubo.ini").
#
#   pty_fatal_program_test.sh PROGRAM
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
top=$(mktemp -d /tmp/ptyXXXXXX)
trap 'rm -rf "$top"' EXIT

# An installation whose receipts table is not a data file at all.
make_installation() {
  mkdir -p "$1/DADES"
  head -c 3000 /dev/urandom >"$1/DADES/THRebut.dat"
}

make_installation "$top/cat"
bash "$here/../console/pty_fatal_test.sh" "$program" "$top/cat" \
  "NO ES POT ACCEDIR AL FITXER $top/cat/DADES\\THRebut ("

make_installation "$top/spa"
printf '[Usuari]\r\nIdioma=SPA\r\n' >"$top/spa/Nubo.ini"
bash "$here/../console/pty_fatal_test.sh" "$program" "$top/spa" \
  "NO SE PUEDE ACCEDER AL FICHERO $top/spa/DADES\\THRebut ("
