#!/usr/bin/env bash
# Runs a Windows program, 64-bit or 32-bit, under Wine, headless, in the
# project's own Wine prefix (build/windows/wine unless WINEPREFIX is set).
# Used as the test emulator of both Windows builds. Wine's 64-bit loader
# hands a 32-bit program to the 32-bit side (Debian's wine32), in the same
# prefix.
#
# Wine takes the Windows code pages from the locale: the Catalan one gives the
# console code page 850 of the suite's installations, and its UTF-8 form lets
# file names carry accented letters. The locale is generated once into
# build/windows/locale, so the system's locales stay as they are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$top/build/windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
locale_dir=$top/build/windows/locale
if [ ! -e "$locale_dir/ca_ES.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$locale_dir"
  # Several test processes may start at once: each builds its own copy and
  # moves it in place.
  tmp=$(mktemp -d "$locale_dir/.new.XXXXXX")
  localedef -i ca_ES -f UTF-8 "$tmp/ca_ES.UTF-8" 2>/dev/null || true
  mv -T "$tmp/ca_ES.UTF-8" "$locale_dir/ca_ES.UTF-8" 2>/dev/null || true
  rm -rf "$tmp"
fi
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
exec env LOCPATH="$locale_dir" LC_ALL=ca_ES.UTF-8 "$wine" "$@"
