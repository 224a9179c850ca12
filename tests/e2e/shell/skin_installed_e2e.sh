#!/usr/bin/env bash
# A skin change in an installed program (bin/ beside share/inkwell/, as the
# package lays it out): the skin dialog opens on the shipped skins, so the
# bare name dark.she picks one; the message 皮肤更换成功; the program folder
# stays untouched and the copy goes to $XDG_DATA_HOME/inkwell/skinH.she,
# equal to the source; the next start shows the skin.
# Usage: skin_installed_e2e.sh /path/to/inkwell
BUILT=${1:?path to the inkwell binary}
NAME=skin-installed
SRC=$(cd "$(dirname "$0")/../../.." && pwd)
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"
command -v import >/dev/null 2>&1 || { echo "SKIP   : import (imagemagick) is not installed"; exit 0; }

PREFIX="$WORK/prefix"
mkdir -p "$PREFIX/bin" "$PREFIX/share/inkwell/skins"
cp "$BUILT" "$PREFIX/bin/inkwell"
cp "$SRC"/skins/*.she "$PREFIX/share/inkwell/skins/"
BIN="$PREFIX/bin/inkwell"


fresh_home run
start_app
main=$(window_titled "无标题 - Inkwell") || fail "the main window did not appear"
focus "$main"
plain_look=$(menubar "$main")
open_menu "$main" f
menu_keys Down Down Down Return # 新建, 打开, 打开加密文件, 更换皮肤
picker=$(window_titled "更换皮肤") || fail "更换皮肤 did not open its file dialog"
focus "$picker"
xdotool key ctrl+a
xdotool type --delay 10 "dark.she"
xdotool key Return
box=$(window_titled "Inkwell") || fail "no message after choosing the skin"
focus "$box"
xdotool key Return
wait_gone "$box" || fail "the message stayed open after Enter"

dark_look=
for _ in $(seq 30); do
    dark_look=$(menubar "$main")
    [ "$dark_look" != "$plain_look" ] && break
    sleep 0.1
done
[ "$dark_look" != "$plain_look" ] || fail "the window looks the same after the skin change"
[ -e "$PREFIX/bin/skinH.she" ] && fail "the installed program wrote its skin beside itself"
user_copy="$XDG_DATA_HOME/inkwell/skinH.she"
[ -f "$user_copy" ] || fail "no $user_copy after 皮肤更换成功 (contents: $(ls -A "$XDG_DATA_HOME/inkwell" 2>&1))"
cmp "$user_copy" "$SRC/skins/dark.she" || fail "$user_copy differs from dark.she"

restart_keeps_look "$dark_look"
echo "PASS   : skin change in an installed program"
