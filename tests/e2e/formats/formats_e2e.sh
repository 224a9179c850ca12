#!/usr/bin/env bash
# The three save formats through the real dialogs, each read back by the road
# a user takes: a GBK document saved as .stx is reopened with 打开加密文件
# (File menu, reached with the arrow keys since it shares its access key with
# 打开), saved as .rtf and as a name without an ending and reopened with
# Ctrl+O. Each reopened document is saved again as .txt and compared byte for
# byte, so a format that loses or garbles text fails here.
# Usage: formats_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=formats
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

# The dialog the program opened over the main window $1, focused.
dialog_over() {
    local wid
    wid=$(other_window "$1") || fail "$2 did not open"
    focus "$wid"
}

# Types the full path $2 into the file dialog opened over $1 and accepts it.
choose_path() {
    dialog_over "$1" "the file dialog"
    xdotool key ctrl+a
    xdotool type --delay 10 "$2"
    xdotool key Return
}

save_as() { # main window, path; waits for the file and the new title
    focus "$1"
    xdotool key ctrl+s
    choose_path "$1" "$2"
    wait_for_file "$2" || fail "nothing was saved to $2"
    window_titled "$(basename "$2") - Inkwell" >/dev/null || fail "the title did not follow the save to $2"
}

fresh_home run
# 中文测试 / 第二行 in GBK with CRLF line ends.
printf '\xd6\xd0\xce\xc4\xb2\xe2\xca\xd4\r\n\xb5\xda\xb6\xfe\xd0\xd0\r\n' >"$WORK/start.txt"
start_app "$WORK/start.txt"
main=$(window_titled "start.txt - Inkwell") || fail "the window did not show the file's title"
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "marker 42"
printf '\xd6\xd0\xce\xc4\xb2\xe2\xca\xd4\r\n\xb5\xda\xb6\xfe\xd0\xd0\r\nmarker 42' >"$WORK/plain-crlf.txt"

# --- .stx: scrambled on disk, read back through 打开加密文件 ------------------
save_as "$main" "$WORK/a.stx"
grep -q marker "$WORK/a.stx" && fail "the .stx file holds the plain text"
[ "$(stat -c %s "$WORK/a.stx")" = "$(stat -c %s "$WORK/plain-crlf.txt")" ] ||
    fail "the .stx file is $(stat -c %s "$WORK/a.stx") bytes, the text $(stat -c %s "$WORK/plain-crlf.txt")"
# Another document in between, so that the reopened title proves the open.
save_as "$main" "$WORK/between.txt"
focus "$main"
open_menu "$main" f
menu_keys Down Down Return # 新建, 打开, 打开加密文件
choose_path "$main" "$WORK/a.stx"
window_titled "a.stx - Inkwell" >/dev/null || fail "打开加密文件 did not open a.stx"
# Saved unscrambled, it asks first (No is the default): Alt+Y says yes.
focus "$main"
xdotool key ctrl+s
choose_path "$main" "$WORK/a-back.txt"
box=$(window_titled "Inkwell") || fail "no question before saving a decrypted document in the clear"
focus "$box"
xdotool key alt+y
wait_for_file "$WORK/a-back.txt" || fail "nothing was saved to $WORK/a-back.txt after yes"
window_titled "a-back.txt - Inkwell" >/dev/null || fail "the title did not follow the save to a-back.txt"
cmp "$WORK/a-back.txt" "$WORK/plain-crlf.txt" ||
    fail "text read back from .stx differs: $(xxd "$WORK/a-back.txt" | head -5)"
ls "$WORK"/*解密* >/dev/null 2>&1 && fail "an unscrambled copy was left beside the .stx file"

# --- .rtf, reopened with Ctrl+O -------------------------------------------
save_as "$main" "$WORK/b.rtf"
[ "$(head -c 5 "$WORK/b.rtf")" = '{\rtf' ] || fail "b.rtf is not RTF: $(head -c 40 "$WORK/b.rtf")"
focus "$main"
xdotool key ctrl+o
choose_path "$main" "$WORK/b.rtf"
window_titled "b.rtf - Inkwell" >/dev/null || fail "Ctrl+O did not open b.rtf"
save_as "$main" "$WORK/b-back.txt"
# A rich-text document is saved as a new one: GBK with this platform's line end.
printf '\xd6\xd0\xce\xc4\xb2\xe2\xca\xd4\n\xb5\xda\xb6\xfe\xd0\xd0\nmarker 42' >"$WORK/plain-lf.txt"
cmp "$WORK/b-back.txt" "$WORK/plain-lf.txt" ||
    fail "text read back from .rtf differs: $(xxd "$WORK/b-back.txt" | head -5)"

# --- no ending: saved as RTF, reopened with Ctrl+O ------------------------
save_as "$main" "$WORK/noending"
[ "$(head -c 5 "$WORK/noending")" = '{\rtf' ] || fail "a name without an ending was not saved as RTF"
focus "$main"
xdotool key ctrl+o
choose_path "$main" "$WORK/noending"
window_titled "noending - Inkwell" >/dev/null || fail "Ctrl+O did not open noending"
save_as "$main" "$WORK/c-back.txt"
cmp "$WORK/c-back.txt" "$WORK/plain-lf.txt" ||
    fail "text read back from a name without an ending differs: $(xxd "$WORK/c-back.txt" | head -5)"

# --- a plain file under its own name whose ending chooses RTF --------------
# Turned into markup, notes.log would be unreadable to the programs that read
# it: the save asks first, and No (the default) writes nothing.
printf 'log line 1\n' >"$WORK/notes.log"
cp "$WORK/notes.log" "$WORK/notes-before.log"
focus "$main"
xdotool key ctrl+o
choose_path "$main" "$WORK/notes.log"
window_titled "notes.log - Inkwell" >/dev/null || fail "Ctrl+O did not open notes.log"
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "typed"
save_over_existing "$main" "$WORK/notes.log"
box=$(window_titled "Inkwell") || fail "no question before a plain file became RTF"
focus "$box"
xdotool key Return
wait_gone "$box" || fail "the question did not close on Enter"
cmp "$WORK/notes.log" "$WORK/notes-before.log" || fail "No still wrote notes.log: $(head -c 40 "$WORK/notes.log")"
kill_app
echo "PASS   : save as .stx, .rtf and without an ending, read back; a plain file asks before becoming RTF"
