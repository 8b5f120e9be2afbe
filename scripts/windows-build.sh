#!/usr/bin/env bash
# Cross-builds the program for Windows with mingw-w64, each target with its
# tests (which run under Wine): i686 (the build real installations use with
# their 32-bit record manager DLL) and x86_64.
#
# The libraries the Windows build needs are built here for each target and
# cached under build/windows (nothing of them is committed):
#   - SQLite, from Debian's source package: the amalgamation is generated
#     from it with Debian's tools, then compiled with the cross compiler;
#   - GoogleTest, from Debian's googletest source in /usr/src/googletest.
#
# Usage: scripts/windows-build.sh [x86_64|i686]...   (both when none named)
# NUBO_WINDOWS_UNTESTED="i686 ..." builds those targets without their tests
# (for a machine that cannot run them under Wine).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=$top/build/windows
jobs=${NUBO_JOBS:-$(nproc 2>/dev/null || echo 2)}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(x86_64 i686)

bash scripts/install-deps.sh
mkdir -p "$out"

# ---------------------------------------------------------------- SQLite source
# The source package of the SQLite that Debian ships here, fetched with
# apt-get through a sources list of our own (deb-src lines for the suites of
# the system's own sources), so the system's apt configuration stays as it is.
sqlite_version=$(dpkg-query -W -f='${source:Version}' libsqlite3-0 2>/dev/null || true)
[ -n "$sqlite_version" ] || sqlite_version=$(apt-cache policy sqlite3 | awk '/Candidate:/ {print $2}')
amalgamation=$out/sqlite/amalgamation-$sqlite_version
if [ ! -f "$amalgamation/sqlite3.c" ]; then
  echo "== SQLite $sqlite_version: source and amalgamation"
  apt_dir=$out/sqlite/apt
  rm -rf "$apt_dir" && mkdir -p "$apt_dir/lists/partial" "$apt_dir/download"
  # deb-src entries mirroring the deb entries of the system's sources.
  {
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}/deb-src \1/p' /etc/apt/sources.list
    fi
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk 'BEGIN{RS=""; FS="\n"} {
             types=""; uris=""; suites=""; comps=""; signed="";
             for (i = 1; i <= NF; i++) {
               if ($i ~ /^Types:/) types=$i; else if ($i ~ /^URIs:/) uris=$i;
               else if ($i ~ /^Suites:/) suites=$i; else if ($i ~ /^Components:/) comps=$i;
               else if ($i ~ /^Signed-By:/) signed=$i;
             }
             if (types !~ /deb/) next;
             sub(/^URIs:[ \t]*/, "", uris); sub(/^Suites:[ \t]*/, "", suites);
             sub(/^Components:[ \t]*/, "", comps); sub(/^Signed-By:[ \t]*/, "", signed);
             n = split(uris, u, /[ \t]+/); m = split(suites, s, /[ \t]+/);
             for (a = 1; a <= n; a++) for (b = 1; b <= m; b++)
               printf "deb-src %s%s %s %s\n", (signed != "" ? "[signed-by=" signed "] " : ""), u[a], s[b], comps;
           }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}/deb-src \1/p' "$f"
    done
  } | sort -u >"$apt_dir/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
            -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
            -o "APT::Sandbox::User=root")
  apt-get -qq "${apt_opts[@]}" update
  (cd "$apt_dir/download" && apt-get -qq "${apt_opts[@]}" source --download-only "sqlite3=$sqlite_version")
  src=$out/sqlite/src
  rm -rf "$src"
  dpkg-source -x "$apt_dir"/download/sqlite3_*.dsc "$src" >/dev/null
  # Debian's tools (the native compiler, Tcl) generate the amalgamation.
  gen=$out/sqlite/generate
  rm -rf "$gen" && mkdir -p "$gen"
  (cd "$gen" && "$src/configure" --disable-tcl --disable-readline >/dev/null && make -s sqlite3.c >/dev/null)
  rm -rf "$amalgamation" && mkdir -p "$amalgamation"
  cp "$gen/sqlite3.c" "$gen/sqlite3.h" "$gen/sqlite3ext.h" "$amalgamation/"
  rm -rf "$src" "$gen" "$apt_dir"
fi

triple_of() { case "$1" in x86_64) echo x86_64-w64-mingw32 ;; i686) echo i686-w64-mingw32 ;; *) return 1 ;; esac; }

# ---------------------------------------------------------------- per target
for arch in "${targets[@]}"; do
  triple=$(triple_of "$arch") || { echo "unknown target: $arch" >&2; exit 2; }
  deps=$out/deps-$arch
  toolchain=$top/cmake/toolchains/mingw-w64-$arch.cmake

  stamp=$deps/sqlite-$sqlite_version.stamp
  if [ ! -f "$stamp" ]; then
    echo "== SQLite for $arch"
    mkdir -p "$deps/include" "$deps/lib/pkgconfig" "$out/obj-$arch"
    "$triple-gcc-posix" -O2 -DSQLITE_OMIT_LOAD_EXTENSION=1 -DSQLITE_THREADSAFE=1 \
      -c "$amalgamation/sqlite3.c" -o "$out/obj-$arch/sqlite3.o"
    rm -f "$deps/lib/libsqlite3.a"
    "$triple-ar" rcs "$deps/lib/libsqlite3.a" "$out/obj-$arch/sqlite3.o"
    cp "$amalgamation/sqlite3.h" "$amalgamation/sqlite3ext.h" "$deps/include/"
    cat >"$deps/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$deps
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: SQLite
Description: SQL database engine (built for $triple from Debian's source)
Version: ${sqlite_version%%-*}
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
PC
    rm -f "$deps"/sqlite-*.stamp
    touch "$stamp"
  fi

  if [ ! -f "$deps/gtest.stamp" ]; then
    echo "== GoogleTest for $arch"
    cmake -S /usr/src/googletest -B "$out/gtest-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$deps" \
      -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$out/gtest-$arch" -j "$jobs" >/dev/null
    cmake --install "$out/gtest-$arch" >/dev/null
    rm -rf "$out/gtest-$arch"
    touch "$deps/gtest.stamp"
  fi

  echo "== Windows build ($arch)"
  args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNUBO_WINDOWS_DEPS="$deps" -DCMAKE_PREFIX_PATH="$deps"
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_WERROR=ON -DNUBO_BUILD_BENCH=OFF)
  case " ${NUBO_WINDOWS_UNTESTED:-} " in
    *" $arch "*) args+=(-DNUBO_BUILD_TESTS=OFF) ;;
    *) args+=(-DNUBO_BUILD_TESTS=ON -DNUBO_WINDOWS_EMULATOR="$top/scripts/wine-run.sh") ;;
  esac
  PKG_CONFIG_LIBDIR=$deps/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR= \
    cmake -S . -B "$out/$arch" -G Ninja "${args[@]}" >/dev/null
  PKG_CONFIG_LIBDIR=$deps/lib/pkgconfig cmake --build "$out/$arch" -j "$jobs"
done
