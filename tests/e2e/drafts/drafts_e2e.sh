#!/usr/bin/env bash
# Drafts end to end: type into the real window under Xvfb, kill it, start it
# again and answer the recovery question; Yes (Enter: the default) must bring
# the text back (saved and compared byte for byte), No must set the draft
# aside in discarded/, out of the way of the next start.
# Usage: drafts_e2e.sh /path/to/inkwell
set -u
BIN=${1:?path to the inkwell binary}
NAME=drafts
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

draft_sizes() { # the drafts with their sizes, one a line
    stat -c '%n %s' "$DRAFTS"/*.draft 2>/dev/null
}

# A draft is a journal of the keys typed, written about once a second: wait
# for one to exist and then to stay as it is for two seconds.
wait_for_draft() {
    local last="" same=0
    for _ in $(seq 150); do
        local now
        now=$(draft_sizes)
        if [ -n "$now" ] && [ "$now" = "$last" ]; then
            same=$((same + 1))
            [ "$same" -ge 20 ] && return 0
        else
            same=0
        fi
        last=$now
        sleep 0.1
    done
    return 1
}

type_and_crash() {
    start_app
    local wid
    wid=$(window_titled "无标题 - Inkwell") || fail "the main window did not appear"
    focus "$wid"
    xdotool type --delay 15 "hello drafts 123"
    xdotool key Return
    xdotool type --delay 15 "second line"
    wait_for_draft || fail "no draft of the typed text in $DRAFTS"
    kill_app
}

# Run 1: the draft is restored with Yes and saved.
fresh_home yes
type_and_crash
start_app
box=$(window_titled "Inkwell") || fail "no recovery question after the restart"
# The window stands behind the question, so the user sees what it is about.
window_titled "无标题 - Inkwell" 20 >/dev/null || fail "no window behind the recovery question"
focus "$box"
xdotool key Return # Yes is the default button: Enter keeps the work
wait_gone "$box" || fail "the recovery question stayed after Enter"
main=$(window_titled "无标题 - Inkwell") || fail "the restored window is not titled 无标题 - Inkwell"
focus "$main"
xdotool key ctrl+s
dialog=$(other_window "$main") || fail "the save dialog did not open"
focus "$dialog"
xdotool key ctrl+a
xdotool type --delay 10 "$WORK/restored.txt"
xdotool key Return
for _ in $(seq 100); do
    [ -s "$WORK/restored.txt" ] && break
    sleep 0.1
done
printf 'hello drafts 123\nsecond line' >"$WORK/expected.txt"
cmp "$WORK/restored.txt" "$WORK/expected.txt" || fail "the saved text differs from what was typed"
window_titled "restored.txt - Inkwell" >/dev/null || fail "the caption did not follow the save"
for _ in $(seq 50); do
    [ -z "$(ls "$DRAFTS"/*.draft 2>/dev/null)" ] && break
    sleep 0.1
done
[ -z "$(ls "$DRAFTS"/*.draft 2>/dev/null)" ] || fail "the draft outlived the save"
kill_app

# Run 2: No sets the draft aside and starts empty.
fresh_home no
type_and_crash
start_app
box=$(window_titled "Inkwell") || fail "no recovery question after the restart"
focus "$box"
xdotool key alt+n
wait_gone "$box" || fail "the recovery question stayed after No"
window_titled "无标题 - Inkwell" >/dev/null || fail "the window did not open after No"
[ -z "$(ls "$DRAFTS"/*.draft 2>/dev/null)" ] ||
    fail "the refused draft is still offered after No"
[ -n "$(ls "$DRAFTS"/discarded/*.draft 2>/dev/null)" ] ||
    fail "the refused draft was not kept in $DRAFTS/discarded"
kill_app
echo "PASS   : drafts end to end"
