#!/usr/bin/env bash
# Installs the Debian packages the project needs (the lists in
# scripts/packages/*.txt, one package a line, "#" starts a comment) when they
# are missing. Needs root for apt-get; otherwise it lists what is missing.
#
#   bash scripts/install-deps.sh [LIST...]    e.g. "install-deps.sh build engine"
#
# Without a LIST every list is installed; a LIST is the name of one of them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=()
for name in "$@"; do
  [ -f "$here/packages/$name.txt" ] || { echo "install-deps.sh: no package list \"$name\" in $here/packages" >&2; exit 2; }
  lists+=("$here/packages/$name.txt")
done
[ ${#lists[@]} -gt 0 ] || lists=("$here"/packages/*.txt)

wanted=$(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Not root: install these packages with apt-get and run again." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# Packages of another architecture (wine32:i386, which runs 32-bit Windows
# programs) need that architecture added before the package lists are read.
for p in "${missing[@]}"; do
  case "$p" in
    *:*) arch=${p##*:}
         if [ "$arch" != "$(dpkg --print-architecture)" ] &&
            ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
           dpkg --add-architecture "$arch"
         fi ;;
  esac
done
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
