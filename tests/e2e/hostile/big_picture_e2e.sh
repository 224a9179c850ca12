#!/usr/bin/env bash
# A picture too big to decode: a 12000 × 9000 JPEG in an RTF file named on the
# command line. The real program must say once that it is held back, show the
# text around it, and after an edit save the picture's bytes back unchanged
# (it used to drop the picture without a word, and the save lost it for good).
# With INKWELL_SCREENSHOT_DIR=<folder> set, the message box and the window
# with the picture's frame are saved there as big-picture-*.png.
# Usage: big_picture_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=big-picture
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"
for tool in convert od import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP   : $tool is not installed"; exit 0; }
done

shot() { # $1: window, $2: name
    [ -n "${INKWELL_SCREENSHOT_DIR:-}" ] || return 0
    import -window "$1" "png:$INKWELL_SCREENSHOT_DIR/big-picture-$2.png" ||
        fail "cannot write a screenshot to $INKWELL_SCREENSHOT_DIR"
    echo "screenshot: $INKWELL_SCREENSHOT_DIR/big-picture-$2.png"
}

fresh_home run
convert -size 12000x9000 gradient:blue-yellow "$WORK/p.jpg" 2>>"$WORK/app.log" || {
    echo "SKIP   : ImageMagick may not make a 12000 × 9000 picture here (policy.xml)"
    exit 0
}
# The picture's bytes as one line of hex, as the RTF holds them.
od -An -v -tx1 "$WORK/p.jpg" | tr -d ' \n' >"$WORK/p.hex"
{
    printf '{\\rtf1\\ansi Before.\\par {\\pict\\jpegblip\\picw12000\\pich9000 '
    cat "$WORK/p.hex"
    printf '}\\par After.\\par}'
} >"$WORK/big.rtf"

start_app "$WORK/big.rtf"
# The one message about the held-back picture, before or with the window.
box=$(window_titled "Inkwell") || fail "no message said the picture is held back"
shot "$box" message
focus "$box"
xdotool key Return
wait_gone "$box" || fail "the message box did not close"
main=$(window_titled "big.rtf - Inkwell") || fail "the window did not show the file's title"
window_titled "Inkwell" 5 >/dev/null && fail "a second message box followed"
shot "$main" window

focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "x"
xdotool key ctrl+s
dialog=$(other_window "$main") || fail "the save dialog did not open"
focus "$dialog"
xdotool key ctrl+a
xdotool type --delay 10 "$WORK/out.rtf"
xdotool key Return
for _ in $(seq 100); do
    grep -q 'After' "$WORK/out.rtf" 2>/dev/null && break
    sleep 0.1
done
grep -q 'Before' "$WORK/out.rtf" || fail "nothing was saved"
[ "$(grep -c '{\\pict' "$WORK/out.rtf")" = 1 ] || fail "the saved file holds no picture"
grep -q '\\jpegblip\\picw12000\\pich9000' "$WORK/out.rtf" ||
    fail "the picture's words were not written back: $(grep -o '{\\pict[^ ]*' "$WORK/out.rtf")"
# The writer breaks hex lines: the bytes are compared without the breaks.
tr -d '\r\n' <"$WORK/out.rtf" | grep -q -F -f "$WORK/p.hex" ||
    fail "the picture's bytes were not written back unchanged"
kill_app
echo "PASS   : a picture too big to decode is held back and saved"
