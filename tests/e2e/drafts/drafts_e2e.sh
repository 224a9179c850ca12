#!/usr/bin/env bash
# Drafts end to end: type into the real window under Xvfb, kill it, start it
# again and answer the recovery question; Yes must bring the text back (saved
# and compared byte for byte), No must delete the draft.
# Usage: drafts_e2e.sh /path/to/inkwell
set -u
BIN=${1:?path to the inkwell binary}
for tool in Xvfb xdotool xdpyinfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP   : $tool is not installed"
        exit 0
    fi
done

WORK=$(mktemp -d /tmp/inkwell-drafts-e2e.XXXXXX)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL   : $*"
    echo "--- windows of the program:"
    for wid in $(xdotool search --pid "${APP:-0}" 2>/dev/null); do
        echo "$wid $(xdotool getwindowname "$wid" 2>/dev/null)"
    done
    echo "--- drafts: $(ls -la "${DRAFTS:-/nonexistent}" 2>&1)"
    echo "--- program output:"
    cat "$WORK/app.log" 2>/dev/null
    exit 1
}

# Xvfb picks a free display number itself and writes it to fd 5.
# -noreset: the server must not restart when the killed program was its last client.
Xvfb -displayfd 5 -noreset -screen 0 1400x900x24 -nolisten tcp \
    5>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do
    [ -s "$WORK/display" ] && break
    sleep 0.05
done
N=$(head -n1 "$WORK/display" 2>/dev/null)
[ -n "$N" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
for _ in $(seq 100); do
    xdpyinfo -display ":$N" >/dev/null 2>&1 && break
    sleep 0.1
done
xdpyinfo -display ":$N" >/dev/null 2>&1 || fail "Xvfb :$N does not answer"

export DISPLAY=":$N" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
fresh_home() {
    export HOME="$WORK/$1/home" XDG_CONFIG_HOME="$WORK/$1/config" XDG_DATA_HOME="$WORK/$1/data"
    export XDG_STATE_HOME="$WORK/$1/state" XDG_CACHE_HOME="$WORK/$1/cache"
    export XDG_RUNTIME_DIR="$WORK/$1/run"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    DRAFTS="$XDG_STATE_HOME/inkwell/drafts"
}

APP=
start_app() {
    "$BIN" >>"$WORK/app.log" 2>&1 &
    APP=$!
    PIDS+=("$APP")
}

# The visible window of the program whose title is $1 (waits up to 30 s on a
# busy machine).
window_titled() {
    local want=$1 wid
    for _ in $(seq 300); do
        for wid in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
            if [ "$(xdotool getwindowname "$wid" 2>/dev/null)" = "$want" ]; then
                echo "$wid"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

focus() {
    xdotool windowfocus --sync "$1" || fail "cannot focus window $1"
    sleep 0.2
}

drafts_holding() { # prints the drafts that contain the text $1
    grep -l -F -- "$1" "$DRAFTS"/*.draft 2>/dev/null
}

wait_for_draft() {
    for _ in $(seq 100); do
        [ -n "$(drafts_holding "$1")" ] && return 0
        sleep 0.1
    done
    return 1
}

kill_app() {
    kill -9 "$APP"
    wait "$APP" 2>/dev/null
}

type_and_crash() {
    start_app
    local wid
    wid=$(window_titled "无标题 - Inkwell") || fail "the main window did not appear"
    focus "$wid"
    xdotool type --delay 15 "hello drafts 123"
    xdotool key Return
    xdotool type --delay 15 "second line"
    wait_for_draft "second line" || fail "no draft with the typed text in $DRAFTS"
    kill_app
}

# Run 1: the draft is restored with Yes and saved.
fresh_home yes
type_and_crash
start_app
box=$(window_titled "Inkwell") || fail "no recovery question after the restart"
focus "$box"
xdotool key alt+y
main=$(window_titled "无标题 - Inkwell") || fail "the restored window is not titled 无标题 - Inkwell"
focus "$main"
xdotool key ctrl+s
dialog=
for _ in $(seq 100); do
    for wid in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
        [ "$wid" != "$main" ] && dialog=$wid
    done
    [ -n "$dialog" ] && break
    sleep 0.1
done
[ -n "$dialog" ] || fail "the save dialog did not open"
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

# Run 2: No deletes the draft and starts empty.
fresh_home no
type_and_crash
start_app
box=$(window_titled "Inkwell") || fail "no recovery question after the restart"
focus "$box"
xdotool key Return # No is the default button
window_titled "无标题 - Inkwell" >/dev/null || fail "the window did not open after No"
[ -z "$(ls "$DRAFTS"/*.draft 2>/dev/null)" ] || fail "the draft is still there after No"
kill_app
echo "PASS   : drafts end to end"
