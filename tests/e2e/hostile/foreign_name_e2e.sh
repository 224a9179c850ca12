#!/usr/bin/env bash
# A file whose name is GBK bytes, not UTF-8 (as archives made on Chinese
# Windows unpack): named on the command line it opens, the caption reads the
# name as GBK, and a save through the real dialog writes back to the same
# bytes. A missing file under such a name is not created: a message says why.
# INKWELL_SCREENSHOT=prefix writes prefix-save.png and prefix-missing.png.
# Usage: foreign_name_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=foreign-name
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"

shot() { # window, name
    [ -n "${INKWELL_SCREENSHOT:-}" ] && command -v import >/dev/null 2>&1 &&
        import -window "$1" "png:${INKWELL_SCREENSHOT}-$2.png" && echo "screenshot: ${INKWELL_SCREENSHOT}-$2.png"
    return 0
}
replaced=$(printf '\xef\xbf\xbd') # U+FFFD: what a lossy reading of the name makes
only_entry() { # the folder holds exactly one file, named by the bytes $2
    local names
    names=$(cd "$1" && LC_ALL=C ls -A)
    [ "$names" = "$2" ]
}

fresh_home run
DOCS="$WORK/docs"
mkdir -p "$DOCS"
# 中文.txt, its name and text in GBK.
file="$DOCS/$(printf '\xd6\xd0\xce\xc4').txt"
printf '\xd6\xd0\xce\xc4 text\r\n' >"$file"
start_app "$file"
main=$(window_titled "中文.txt - Inkwell") || fail "the caption does not read the GBK name as 中文.txt"
focus "$main"
xdotool key ctrl+End
xdotool type --delay 20 "more"
xdotool key ctrl+s
dialog=$(other_window "$main") || fail "the save dialog did not open"
focus "$dialog"
shot "$dialog" save
xdotool key Return # the name it offers
printf '\xd6\xd0\xce\xc4 text\r\nmore' >"$WORK/expected"
for _ in $(seq 100); do
    cmp -s "$file" "$WORK/expected" && break
    sleep 0.1
done
cmp "$file" "$WORK/expected" || fail "the file under its GBK name was not saved: $(xxd "$file" | head -3)"
only_entry "$DOCS" "$(printf '\xd6\xd0\xce\xc4').txt" ||
    fail "the save made another file: $(cd "$DOCS" && ls -A | od -c | head)"
window_titled "中文.txt - Inkwell" >/dev/null || fail "the caption changed after the save"
kill_app

# A missing file under a GBK name (第.txt): a message, and nothing created.
missing="$DOCS/$(printf '\xb5\xda').txt"
start_app "$missing"
box=$(window_titled "Inkwell") || fail "no message about the missing file"
shot "$box" missing
focus "$box"
xdotool key Return
window_titled "无标题 - Inkwell" >/dev/null || fail "the window did not start untitled"
[ -e "$missing" ] && fail "the missing file was created"
ls -A "$DOCS" | grep -q "$replaced" && fail "a file with a replaced name was created"
only_entry "$DOCS" "$(printf '\xd6\xd0\xce\xc4').txt" || fail "something was created: $(ls -A "$DOCS" | od -c)"
echo "PASS   : a GBK file name opens, saves back to its bytes, and is not created when missing"
