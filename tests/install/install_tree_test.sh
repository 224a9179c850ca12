#!/usr/bin/env bash
# `cmake --install` into a private prefix: the program, the desktop entry and
# the AppStream data (both must pass their validators), an icon for every
# hicolor size at the size its folder names, and the shipped skins.
# Usage: install_tree_test.sh BUILD_DIR
set -u
BUILD=${1:?path to the build folder}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d /tmp/inkwell-install.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL   : $*"; exit 1; }

PREFIX="$WORK/prefix"
cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$WORK/install.log")"

[ -x "$PREFIX/bin/inkwell" ] || fail "no executable bin/inkwell"
# A stale or foreign file would still be executable: it must be this build's program.
file_type=$(od -An -c -N4 "$PREFIX/bin/inkwell" | tr -d ' ')
[ "$file_type" = "177ELF" ] || fail "bin/inkwell is not an ELF program ($file_type)"

desktop="$PREFIX/share/applications/inkwell.desktop"
[ -f "$desktop" ] || fail "no desktop entry at share/applications/inkwell.desktop"
grep -qx 'Exec=inkwell %f' "$desktop" || fail "the desktop entry does not start inkwell with a file: $(grep Exec "$desktop")"
grep -qx 'Icon=inkwell' "$desktop" || fail "the desktop entry does not name the installed icon"
grep -q '^MimeType=.*text/plain;' "$desktop" || fail "the desktop entry does not claim text/plain"

metainfo="$PREFIX/share/metainfo/io.github.inkwell_editor.Inkwell.metainfo.xml"
[ -f "$metainfo" ] || fail "no AppStream file at $metainfo"
grep -q '<launchable type="desktop-id">inkwell.desktop</launchable>' "$metainfo" ||
    fail "the AppStream file does not launch the installed desktop entry"

for size in 16 24 32 48 64 128 256; do
    icon="$PREFIX/share/icons/hicolor/${size}x${size}/apps/inkwell.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    # The PNG header: signature, then IHDR with width and height as 32-bit big-endian.
    [ "$(od -An -tx1 -N8 "$icon" | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$icon is not a PNG"
    w=$(od -An -tu1 -j16 -N4 "$icon" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    h=$(od -An -tu1 -j20 -N4 "$icon" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "the ${size}x${size} icon is ${w}x${h}"
done

for skin in "$SRC"/skins/*.she; do
    installed="$PREFIX/share/inkwell/skins/$(basename "$skin")"
    cmp -s "$skin" "$installed" || fail "skin $(basename "$skin") missing or different under share/inkwell/skins"
done

# The validators last: a missing one skips, but only after everything above passed.
skipped=
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" >"$WORK/dfv.log" 2>&1 ||
        fail "desktop-file-validate: $(cat "$WORK/dfv.log")"
    # It exits 0 on hints and warnings; only a silent pass is clean.
    [ -s "$WORK/dfv.log" ] && fail "desktop-file-validate warns: $(cat "$WORK/dfv.log")"
else
    skipped="desktop-file-validate (desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$metainfo" >"$WORK/as.log" 2>&1 ||
        fail "appstreamcli validate: $(cat "$WORK/as.log")"
else
    skipped="$skipped appstreamcli (appstream)"
fi
if [ -n "$skipped" ]; then
    echo "SKIP   : the install tree is right, but not validated: missing $skipped"
    exit 0
fi
echo "PASS   : installed tree"
