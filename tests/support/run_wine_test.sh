#!/bin/sh
# Cross-compiles a standard-library test with MinGW against the Windows
# backends and runs it in a fresh Wine prefix whose ANSI code page is 936.
# Usage: run_wine_test.sh SOURCE_DIR WORK_DIR NAME SOURCE... [-- LIBRARY...]
# (sources relative to SOURCE_DIR). Exits 77 (skipped) when the MinGW
# compiler or Wine is missing (Debian: g++-mingw-w64-x86-64 wine64).
set -eu
src=$1
work=$2
name=$3
shift 3
sources=""
libs=""
while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then
        shift
        libs="$*"
        break
    fi
    sources="$sources $src/$1"
    shift
done

cxx=$(command -v x86_64-w64-mingw32-g++ || true)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || true)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
if [ -z "$cxx" ] || [ -z "$wine" ]; then
    echo "SKIP: needs x86_64-w64-mingw32-g++ and wine64"
    echo "      (apt-get install g++-mingw-w64-x86-64 wine64)"
    exit 77
fi

mkdir -p "$work"
exe="$work/$name.exe"
# shellcheck disable=SC2086
"$cxx" -std=c++20 -O1 -static -Wall -Wextra -Wpedantic -Werror \
    -I "$src/src" -I "$src/tests" $sources $libs -o "$exe"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/inkwell-wine.XXXXXX")
cleanup() {
    if [ -n "$wineserver" ]; then
        WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    fi
    rm -rf "$prefix"
}
trap cleanup EXIT INT TERM
export WINEPREFIX="$prefix" WINEDEBUG=-all
"$wine" wineboot -i >/dev/null 2>&1
[ -z "$wineserver" ] || "$wineserver" -w
# GetACP() follows the locale Wine starts in: Simplified Chinese gives 936.
LC_ALL=zh_CN.UTF-8 "$wine" "$exe"
