#!/usr/bin/env bash
# Open and save end to end: the real program under Xvfb opens a GBK file named
# on the command line; we type, save under a new name with Ctrl+S through the
# real file dialog, and check the bytes on disk, the window title and that the
# program then closes without a question.
# Usage: open_save_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=open-save
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

fresh_home run
# 中文测试 / 第二行 in GBK, CRLF line ends.
printf '\xd6\xd0\xce\xc4\xb2\xe2\xca\xd4\r\n\xb5\xda\xb6\xfe\xd0\xd0\r\n' >"$WORK/gbk.txt"
start_app "$WORK/gbk.txt"
main=$(window_titled "gbk.txt - Inkwell") || fail "the window did not show the file's title"
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "typed here"
xdotool key ctrl+s
dialog=$(other_window "$main") || fail "the save dialog did not open"
focus "$dialog"
xdotool key ctrl+a
xdotool type --delay 10 "$WORK/out.txt"
xdotool key Return
wait_for_file "$WORK/out.txt" || fail "nothing was saved"
printf '\xd6\xd0\xce\xc4\xb2\xe2\xca\xd4\r\n\xb5\xda\xb6\xfe\xd0\xd0\r\ntyped here' >"$WORK/expected.txt"
cmp "$WORK/out.txt" "$WORK/expected.txt" || fail "saved bytes differ: $(xxd "$WORK/out.txt" | head)"
cmp -s "$WORK/gbk.txt" "$WORK/expected.txt" && fail "the opened file was changed"
window_titled "out.txt - Inkwell" >/dev/null || fail "the title did not follow the save"

# Saved, so 退出 closes at once.
focus "$main"
xdotool key alt+f
sleep 0.3
xdotool key x
for _ in $(seq 100); do
    kill -0 "$APP" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$APP" 2>/dev/null && fail "the program did not end after 退出 with a saved document"
echo "PASS   : open and save end to end"
