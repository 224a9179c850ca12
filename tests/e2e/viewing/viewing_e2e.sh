#!/usr/bin/env bash
# The status bar in the real window: 查看 → 状态栏 shows it (the bottom strip
# of the window changes), it follows the caret (moving down a line changes
# the caret panel), and the same item hides it again (the strip is as before).
# With INKWELL_SCREENSHOT=<file.png> set, the window editing a Chinese GBK
# document with the status bar shown is saved there as a PNG.
# Usage: viewing_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=viewing
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"
command -v import >/dev/null 2>&1 || { echo "SKIP   : import (imagemagick) is not installed"; exit 0; }

fresh_home run
iconv -f UTF-8 -t GBK >"$WORK/中文文档.txt" <<'TEXT' || fail "iconv cannot write GBK"
Inkwell 记事本
这是一份用 GBK 编码保存的中文文档。
它能打开、查找、打印，并保存为纯文本、RTF 或加密文本。
状态栏显示光标所在的行和列，以及当前的日期和时间。
TEXT
start_app "$WORK/中文文档.txt"
main=$(window_titled "中文文档.txt - Inkwell") || fail "the window did not show the file's title"
focus "$main"

height=$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^HEIGHT=//p')
[ -n "$height" ] || fail "no geometry for window $main"
# The caret panel sits at the bottom left; the clock panel, which changes every
# second, starts further right and stays out of this strip.
strip() {
    import -window "$main" -crop "190x20+0+$((height - 21))" +repage rgb:- 2>/dev/null | md5sum
}
# Polls until strip() differs from $1 (mode differ) or equals it (mode same).
wait_strip() {
    local mode=$1 ref=$2 now
    for _ in $(seq 50); do
        now=$(strip)
        if [ "$mode" = differ ]; then [ "$now" != "$ref" ] && return 0
        else [ "$now" = "$ref" ] && return 0; fi
        sleep 0.1
    done
    return 1
}

hidden=$(strip)
open_menu "$main" v
menu_keys s
wait_strip differ "$hidden" || fail "查看 → 状态栏 did not show the status bar"
shown=$(strip)
xdotool key Down
wait_strip differ "$shown" || fail "the status bar did not follow the caret to line 2"

if [ -n "${INKWELL_SCREENSHOT:-}" ]; then
    xdotool key End
    sleep 0.5
    import -window "$main" "png:$INKWELL_SCREENSHOT" || fail "cannot write $INKWELL_SCREENSHOT"
    echo "screenshot: $INKWELL_SCREENSHOT"
fi

open_menu "$main" v
menu_keys s
wait_strip same "$hidden" || fail "查看 → 状态栏 a second time did not hide the status bar"
kill_app
echo "PASS   : the status bar shows, follows the caret and hides"
