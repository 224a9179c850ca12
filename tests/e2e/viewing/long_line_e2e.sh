#!/usr/bin/env bash
# A hostile file end to end: one line of 20 MB without a break point (as
# minified JSON, base64 or a log can be). The real program under Xvfb must
# show its window, take keys across the place where the editor holds the line
# in two pieces (after 4,096 characters) and at the end of the line, and save
# the file byte for byte plus those edits. The bounds are generous on purpose: this checks
# that the window comes and answers, not how fast (bench/ measures that).
# Usage: long_line_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=long-line
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

fresh_home run
head -c 20000000 /dev/zero | tr '\0' x >"$WORK/long.txt"
start_app "$WORK/long.txt"
main=$(window_titled "long.txt - Inkwell" 1200) || fail "no window within 120 s for a 20 MB line"
focus "$main"
# Right 4,100 times steps over the break once; eight Backspaces from there
# take eight characters across it (none of them the break), then an M.
xdotool key ctrl+Home
xdotool key --delay 1 --repeat 4100 Right
xdotool key --delay 20 --repeat 8 BackSpace
xdotool type --delay 50 "M"
xdotool key ctrl+End
xdotool type --delay 50 "k"
xdotool key ctrl+s
dialog=$(other_window "$main" 1200) || fail "the save dialog did not open within 120 s"
focus "$dialog"
xdotool key ctrl+a
xdotool type --delay 10 "$WORK/out.txt"
xdotool key Return
for _ in $(seq 1200); do
    [ "$(stat -c %s "$WORK/out.txt" 2>/dev/null)" = 19999994 ] && break
    sleep 0.1
done
{ head -c 4092 "$WORK/long.txt"; printf M; head -c 19995900 "$WORK/long.txt"; printf k; } >"$WORK/expected.txt"
cmp "$WORK/out.txt" "$WORK/expected.txt" || fail "saved bytes differ (size $(stat -c %s "$WORK/out.txt" 2>/dev/null))"
window_titled "out.txt - Inkwell" >/dev/null || fail "the title did not follow the save"
echo "PASS   : a 20 MB line opens, takes keys across its break and at its end, and saves byte for byte"
