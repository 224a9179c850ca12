#!/usr/bin/env bash
# A file another program changed while it was open: the real program opens
# f.txt, we type, `echo more >> f.txt` changes it on disk, and Ctrl+S to the
# same name must ask before overwriting (it used to overwrite without a
# word). No (the default) writes nothing; Yes to a second save writes the
# typed text. Then the file changes again while another window has the
# focus: coming back, the window offers once to read it again, and Yes does.
# With INKWELL_SCREENSHOT_DIR=<folder> set, the two questions are saved there
# as changed-on-disk-question.png and changed-on-disk-reload.png.
# Usage: changed_on_disk_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=changed-on-disk
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

shot() { # a window, a name
    [ -n "${INKWELL_SCREENSHOT_DIR:-}" ] || return 0
    command -v import >/dev/null 2>&1 || return 0
    import -window root "png:$INKWELL_SCREENSHOT_DIR/changed-on-disk-$2.png" ||
        fail "cannot write a screenshot to $INKWELL_SCREENSHOT_DIR"
    echo "screenshot: $INKWELL_SCREENSHOT_DIR/changed-on-disk-$2.png"
}

# Ctrl+S, the same name in the dialog, yes to the dialog's own "replace?";
# the id of the question that follows goes to BOX.
BOX=
save_same_name() {
    save_over_existing "$main" "$WORK/f.txt"
    BOX=$(window_titled "Inkwell") || fail "no question before overwriting the changed f.txt"
}

fresh_home run
printf 'first line\n' >"$WORK/f.txt"
start_app "$WORK/f.txt"
main=$(window_titled "f.txt - Inkwell") || fail "the window did not show the file's title"
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "typed here"
echo more >>"$WORK/f.txt"

# No, the default: Enter keeps the other program's text.
save_same_name
shot "$BOX" question
focus "$BOX"
xdotool key Return
wait_gone "$BOX" || fail "the question did not close"
[ "$(cat "$WORK/f.txt")" = "$(printf 'first line\nmore')" ] ||
    fail "No wrote the file: $(xxd "$WORK/f.txt" | head)"
window_titled "Inkwell" 10 >/dev/null && fail "another box followed No"

# Yes writes the typed text over it.
save_same_name
focus "$BOX"
xdotool key alt+y
wait_gone "$BOX" || fail "the question did not close"
for _ in $(seq 100); do
    [ "$(cat "$WORK/f.txt")" = "$(printf 'first line\ntyped here')" ] && break
    sleep 0.1
done
[ "$(cat "$WORK/f.txt")" = "$(printf 'first line\ntyped here')" ] ||
    fail "Yes did not write the typed text: $(xxd "$WORK/f.txt" | head)"
window_titled "Inkwell" 10 >/dev/null && fail "another box followed Yes"

# Changed again while another program (a second Inkwell) has the focus.
main_app=$APP
start_app
other=$(window_titled "无标题 - Inkwell") || fail "the second window did not show"
focus "$other"
echo again >>"$WORK/f.txt"
APP=$main_app
focus "$main"
box=$(window_titled "Inkwell") || fail "coming back did not offer to read the changed file again"
shot "$box" reload
focus "$box"
xdotool key Return # Yes: nothing typed since the save to lose
wait_gone "$box" || fail "the reload question did not close"
# Once per change: away and back again says nothing more.
focus "$other"
focus "$main"
window_titled "Inkwell" 20 >/dev/null && fail "the same change was offered twice"
# The text read again is what the next save writes, without a question.
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "end"
save_over_existing "$main" "$WORK/f.txt"
want=$(printf 'first line\ntyped hereagain\nend')
for _ in $(seq 100); do
    [ "$(cat "$WORK/f.txt")" = "$want" ] && break
    sleep 0.1
done
[ "$(cat "$WORK/f.txt")" = "$want" ] ||
    fail "the reloaded text was not saved: $(xxd "$WORK/f.txt" | head)"
window_titled "Inkwell" 10 >/dev/null && fail "a question followed the save of the reloaded text"
echo "PASS   : a file changed on disk is not overwritten unasked, and is offered again"
