#!/usr/bin/env bash
# Editing roads in the real window: Ctrl+F (the input box 查找内容) finds the
# first match, F3 the next ones, F5 inserts the time and today's date; each
# effect is checked in the saved file. Then the save question on close, with
# each of its three answers and the keys a user presses: Escape is Cancel (the
# window stays, the text too), Enter is Yes (the save dialog, then the program
# ends with the file written), Alt+N is No (the program ends, the file keeps
# its bytes).
# Usage: editing_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=editing
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

dialog=
dialog_over() { # main window, what is expected; the dialog's id goes to dialog
    dialog=$(other_window "$1") || fail "$2 did not open"
    focus "$dialog"
}

save_as() { # main window, path
    focus "$1"
    xdotool key ctrl+s
    dialog_over "$1" "the save dialog"
    xdotool key ctrl+a
    xdotool type --delay 10 "$2"
    xdotool key Return
    wait_for_file "$2" || fail "nothing was saved to $2"
    window_titled "$(basename "$2") - Inkwell" >/dev/null || fail "the title did not follow the save to $2"
}

# 退出 from the File menu, then the question box, focused; its id goes to BOX.
BOX=
quit_to_question() {
    focus "$1"
    open_menu "$1" f
    menu_keys x
    BOX=$(window_titled "Inkwell") || fail "closing a changed document asked nothing"
    focus "$BOX"
}

wait_for_exit() {
    for _ in $(seq 100); do
        kill -0 "$APP" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

fresh_home run
printf 'one two one three one\n' >"$WORK/find.txt"
start_app "$WORK/find.txt"
main=$(window_titled "find.txt - Inkwell") || fail "the window did not show the file's title"
focus "$main"

# Each found match is selected: typing replaces it, which the saved file shows.
xdotool key ctrl+f
box=$(window_titled "查找内容") || fail "Ctrl+F did not open the input box 查找内容"
focus "$box"
xdotool type --delay 20 "one"
xdotool key Return
wait_gone "$box" || fail "the input box 查找内容 stayed open after Enter"
focus "$main"
xdotool type "X"
xdotool key F3
xdotool type "Y"
xdotool key F3
xdotool type "Z"
# F5 on a line of its own.
day_before=$(date +%Y-%m-%-d)
xdotool key ctrl+End F5
save_as "$main" "$WORK/edited.txt"
line1=$(sed -n 1p "$WORK/edited.txt")
line2=$(sed -n 2p "$WORK/edited.txt")
[ "$line1" = "X two Y three Z" ] || fail "find and F3 did not select the matches in turn: '$line1'"
[ "$(wc -l <"$WORK/edited.txt")" = 1 ] || fail "F5 added lines: $(cat "$WORK/edited.txt")"
# Time first, then the date as yyyy-MM-d; a run across midnight may see either day.
echo "$line2" | grep -Eq '^[0-9]{1,2}:[0-9]{2}(:[0-9]{2})?( ?[AaPp][Mm])? [0-9]{4}-[0-9]{2}-[0-9]{1,2}$' ||
    fail "F5 inserted '$line2', not the time and a yyyy-MM-d date"
date_part=${line2##* }
[ "$date_part" = "$day_before" ] || [ "$date_part" = "$(date +%Y-%m-%-d)" ] ||
    fail "F5 inserted the date $date_part, today is $day_before"
cp "$WORK/edited.txt" "$WORK/edited-before.txt"

# --- Escape is Cancel: the window stays with its text -----------------------
focus "$main"
xdotool type --delay 20 " kept"
quit_to_question "$main"
xdotool key Escape
wait_gone "$BOX" || fail "the question stayed open after Escape"
kill -0 "$APP" 2>/dev/null || fail "Escape (Cancel) closed the program"
[ "$(xdotool getwindowname "$main" 2>/dev/null)" = "edited.txt - Inkwell" ] ||
    fail "after Cancel the window is titled '$(xdotool getwindowname "$main" 2>/dev/null)'"
cmp -s "$WORK/edited.txt" "$WORK/edited-before.txt" || fail "Cancel wrote the file"

# --- Enter is Yes: the save dialog; cancelling it keeps the window ----------
quit_to_question "$main"
xdotool key Return
wait_gone "$BOX" || fail "the question stayed open after Enter"
dialog_over "$main" "the save dialog after Yes"
xdotool key Escape
wait_gone "$dialog" || fail "the save dialog stayed open after Escape"
kill -0 "$APP" 2>/dev/null || fail "cancelling the save after Yes closed the program"
window_titled "edited.txt - Inkwell" >/dev/null || fail "the window went away when the save was cancelled"

# --- Enter is Yes, and a save: the program ends with the file written -------
quit_to_question "$main"
xdotool key Return
wait_gone "$BOX" || fail "the question stayed open after Enter"
dialog_over "$main" "the save dialog after Yes"
xdotool key ctrl+a
xdotool type --delay 10 "$WORK/yes.txt"
xdotool key Return
wait_for_exit || fail "the program did not end after Yes and a save"
[ "$(tail -c 5 "$WORK/yes.txt" 2>/dev/null)" = " kept" ] ||
    fail "Yes did not save the text typed before Cancel: $(tail -c 40 "$WORK/yes.txt" 2>/dev/null)"
cmp -s "$WORK/edited.txt" "$WORK/edited-before.txt" || fail "Yes wrote into the old file"

# --- Alt+N is No: the program ends, nothing is written ----------------------
fresh_home no
start_app "$WORK/yes.txt"
main=$(window_titled "yes.txt - Inkwell") || fail "yes.txt did not open"
cp "$WORK/yes.txt" "$WORK/yes-before.txt"
focus "$main"
xdotool type --delay 20 "dropped"
quit_to_question "$main"
xdotool key alt+n
wait_for_exit || fail "the program did not end after No"
cmp -s "$WORK/yes.txt" "$WORK/yes-before.txt" || fail "No changed the file"
echo "PASS   : find, F3, F5 and the three answers to the save question"
