#!/usr/bin/env bash
# Hostile files named on the command line: a FIFO with no writer and /dev/zero.
# The real program, under an address-space cap of a few GB, must show its
# refusal in a message box promptly (a FIFO used to block open() forever,
# /dev/zero used to be read until memory ran out), stay small, and then show
# its main window.
# Usage: hostile_files_e2e.sh /path/to/inkwell
BIN=${1:?path to the inkwell binary}
NAME=hostile
# shellcheck source=../lib.sh
. "$(dirname "$0")/../lib.sh"
command -v prlimit >/dev/null 2>&1 || { echo "SKIP   : prlimit is not installed"; exit 0; }

# Resident memory of the program in MiB.
rss_mib() {
    awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$APP/status" 2>/dev/null
}

check_refused() { # $1: what to name on the command line, $2: a label
    local target=$1 label=$2 box main rss
    fresh_home "$label"
    # prlimit runs the program in its own place (same process id).
    prlimit --as=4000000000 "$BIN" "$target" >>"$WORK/app.log" 2>&1 &
    APP=$!
    PIDS+=("$APP")
    # The refusal comes before the main window (the load handler runs first).
    box=$(window_titled "Inkwell") || fail "$label: no message box appeared"
    kill -0 "$APP" 2>/dev/null || fail "$label: the program ended"
    rss=$(rss_mib)
    [ -n "$rss" ] && [ "$rss" -lt 600 ] || fail "$label: the program holds ${rss:-?} MiB"
    focus "$box"
    xdotool key Return
    main=$(window_titled "无标题 - Inkwell") || fail "$label: the main window did not follow"
    rss=$(rss_mib)
    [ -n "$rss" ] && [ "$rss" -lt 600 ] || fail "$label: the program holds ${rss:-?} MiB"
    [ -n "$main" ] || fail "$label: no main window"
    kill_app
    echo "PASS   : $label refused with a message box"
}

mkfifo "$WORK/pipe.txt"
check_refused "$WORK/pipe.txt" "a FIFO without a writer"
check_refused /dev/zero "/dev/zero"
# Nothing was ever written into the FIFO's place.
[ -p "$WORK/pipe.txt" ] || fail "the FIFO was replaced"
echo "PASS   : hostile files end to end"
