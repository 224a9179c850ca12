#!/usr/bin/env bash
# The program's ties to the desktop, through its own dialogs:
# - File → 关联txt文件: the dialog 注册txt关联, the button 注册, then the three
#   reports one after another; afterwards xdg-mime names inkwell.desktop as
#   the handler of text/plain for this user, the registry file holds the open
#   command, and xdg-open on a .txt file starts this program with that file.
# - File → 更换皮肤: skins/dark.she chosen in the file dialog; the message
#   皮肤更换成功, the copy skinH.she equal to the source, the window's look
#   changed, and the skin still there after a restart.
# The program runs from a private copy, so the skin it copies beside itself
# lands in this test's folder, not in the build tree.
# Usage: shell_e2e.sh /path/to/inkwell
BUILT=${1:?path to the inkwell binary}
NAME=shell
SRC=$(cd "$(dirname "$0")/../../.." && pwd)
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"
command -v import >/dev/null 2>&1 || { echo "SKIP   : import (imagemagick) is not installed"; exit 0; }

PROG="$WORK/prog"
mkdir -p "$PROG"
cp "$BUILT" "$PROG/inkwell"
BIN="$PROG/inkwell"

# Answers the message box titled $1 with Enter; fails unless it appears.
answer_box() {
    local box
    box=$(window_titled "$1") || fail "no message box titled $1 ($2)"
    focus "$box"
    xdotool key Return
    wait_gone "$box" || fail "the box $1 stayed open after Enter"
}

fresh_home run
start_app
main=$(window_titled "无标题 - Inkwell") || fail "the main window did not appear"
focus "$main"
plain_look=$(menubar "$main")

# --- association -------------------------------------------------------------
open_menu "$main" f
menu_keys r
dialog=$(window_titled "注册txt关联") || fail "关联txt文件 did not open the dialog 注册txt关联"
focus "$dialog"
xdotool key space # 注册 has the focus
answer_box "系统提示" "the file type report"
answer_box "请注意" "the open command report"
answer_box "提示" "the icon report"
wait_gone "$dialog" || fail "the dialog 注册txt关联 stayed open after 注册"

if command -v xdg-mime >/dev/null 2>&1; then
    handler=$(xdg-mime query default text/plain 2>&1)
    [ "$handler" = inkwell.desktop ] || fail "xdg-mime names '$handler' for text/plain, not inkwell.desktop"
else
    echo "note   : xdg-mime (xdg-utils) missing, the handler is read from mimeapps.list"
    grep -qx 'text/plain=inkwell.desktop;' "$XDG_CONFIG_HOME/mimeapps.list" ||
        fail "mimeapps.list does not name inkwell.desktop: $(cat "$XDG_CONFIG_HOME/mimeapps.list" 2>&1)"
fi
entry="$XDG_DATA_HOME/applications/inkwell.desktop"
grep -qx "Exec=$BIN %f" "$entry" || fail "the desktop entry does not start $BIN: $(grep Exec "$entry" 2>&1)"
reg="$XDG_CONFIG_HOME/inkwell/registry.reg"
[ -s "$reg" ] || fail "no registry file at $reg"
# The file is the registry editor's export format: UTF-16 with a byte order mark.
reg_text=$(iconv -f UTF-16 -t UTF-8 "$reg" 2>/dev/null || cat "$reg")
# The default value of txtfile's open command key (key names are case-blind).
command_value=$(echo "$reg_text" | tr -d '\r' | awk '
    /^\[/ { here = (tolower($0) == "[hkey_classes_root\\txtfile\\shell\\open\\command]"); next }
    here && /^@=/ { print substr($0, 3) }')
[ -n "$command_value" ] || fail "the registry file has no open command: $reg_text"
case $command_value in
    \""$PROG"*'%1"') ;;
    *) fail "the open command is $command_value, not this program's folder with %1" ;;
esac

if command -v xdg-open >/dev/null 2>&1; then
    printf 'opened by the desktop\n' >"$WORK/assoc.txt"
    # xdg-open starts the program itself; its window gives the PID to clean up.
    xdg-open "$WORK/assoc.txt" >>"$WORK/app.log" 2>&1 &
    xdg=$!
    PIDS+=("$xdg")
    opened=
    for _ in $(seq 150); do
        opened=$(xdotool search --onlyvisible --name '^assoc\.txt - Inkwell$' 2>/dev/null | head -n1)
        [ -n "$opened" ] && break
        sleep 0.1
    done
    if [ -z "$opened" ]; then
        pkill -9 -P "$xdg" # whatever it started, by its parent's id
        fail "xdg-open assoc.txt did not start Inkwell with the file"
    fi
    other=$(xdotool getwindowpid "$opened") || fail "no PID for the window xdg-open opened"
    PIDS+=("$other")
    [ "$(readlink "/proc/$other/exe")" = "$BIN" ] || fail "xdg-open started $(readlink "/proc/$other/exe"), not $BIN"
    kill -9 "$other"
fi

# --- skin ----------------------------------------------------------------------
focus "$main"
open_menu "$main" f
menu_keys Down Down Down Return # 新建, 打开, 打开加密文件, 更换皮肤 (S is 保存's too)
picker=$(window_titled "更换皮肤") || fail "更换皮肤 did not open its file dialog"
focus "$picker"
xdotool key ctrl+a
xdotool type --delay 10 "$SRC/skins/dark.she"
xdotool key Return
answer_box "Inkwell" "皮肤更换成功"
copy=
for candidate in "$PROG/skinH.she" "$XDG_DATA_HOME/inkwell/skinH.she"; do
    [ -f "$candidate" ] && copy=$candidate
done
[ -n "$copy" ] || fail "no skinH.she beside the program or in $XDG_DATA_HOME/inkwell"
cmp "$copy" "$SRC/skins/dark.she" || fail "$copy differs from dark.she"
dark_look=
for _ in $(seq 30); do
    dark_look=$(menubar "$main")
    [ "$dark_look" != "$plain_look" ] && break
    sleep 0.1
done
[ "$dark_look" != "$plain_look" ] || fail "the window looks the same after the skin change"

restart_keeps_look "$dark_look"
echo "PASS   : txt association and skin change"
