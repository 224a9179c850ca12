#!/usr/bin/env bash
# The Debian package: cpack builds it from the build folder into a private
# folder; its control data must name the Qt 6 libraries the program links
# and a CJK font to choose from (the menus are Chinese); unpacked into a
# private root, its program must start under Xvfb and open a file.
# Usage: deb_package_test.sh BUILD_DIR
set -u
BUILD=${1:?path to the build folder}
NAME=deb
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP   : $tool is not installed (dpkg-dev, cmake)"
        exit 0
    fi
done
# shellcheck source=../e2e/lib.sh
. "$(dirname "$0")/../e2e/lib.sh"

# -B keeps the staging folder and the package out of the build folder.
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$WORK/cpack.log")"
debs=("$WORK"/pkg/*.deb)
{ [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ]; } || fail "cpack made no single .deb: $(ls "$WORK/pkg")"
deb=${debs[0]}

info=$(dpkg-deb -I "$deb") || fail "dpkg-deb cannot read $deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = inkwell ] || fail "package name is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture is '$(field Architecture)'"
depends=$(field Depends)
# Each Qt module the program links must be a dependency; dpkg-shlibdeps
# derives them, so a package built without it would lack them.
# qt6-translations-l10n carries Qt's own dialogs in Chinese.
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libc6 libstdc++6 \
           qt6-translations-l10n; do
    echo "$depends" | tr ',|' '\n\n' | awk '{print $1}' | grep -qxF "$lib" ||
        fail "Depends lacks $lib: $depends"
done
# The Chinese menus need a CJK font: one dependency offering several.
cjk_group=$(echo "$depends" | tr ',' '\n' | grep -E 'fonts-(noto-cjk|wqy-|arphic-)' | head -n1)
[ -n "$cjk_group" ] || fail "Depends names no CJK font: $depends"
[ "$(echo "$cjk_group" | tr '|' '\n' | grep -cE 'fonts-(noto-cjk|wqy-|arphic-)')" -ge 2 ] ||
    fail "Depends offers no choice of CJK font: $cjk_group"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/inkwell ./usr/share/applications/inkwell.desktop \
            ./usr/share/icons/hicolor/256x256/apps/inkwell.png ./usr/share/inkwell/skins/dark.she \
            ./usr/share/metainfo/io.github.inkwell_editor.Inkwell.metainfo.xml; do
    echo "$contents" | awk '{print $6}' | grep -qxF "$path" || fail "the package lacks $path"
done
# Nothing of the build machine's folders may leak into the package.
echo "$contents" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' && fail "files outside /usr"

ROOT="$WORK/root"
dpkg -x "$deb" "$ROOT" || fail "dpkg -x failed"
BIN="$ROOT/usr/bin/inkwell"
[ -x "$BIN" ] || fail "no program in the unpacked package"

fresh_home run
# 中文 in GBK: the installed program reads the same files.
printf 'installed \xd6\xd0\xce\xc4\r\n' >"$WORK/pkgfile.txt"
start_app "$WORK/pkgfile.txt"
window_titled "pkgfile.txt - Inkwell" >/dev/null ||
    fail "the packaged program did not show pkgfile.txt in its title"
kill_app
echo "PASS   : Debian package ($(basename "$deb"))"
echo "$info" | grep -E '^ (Depends|Recommends):'
