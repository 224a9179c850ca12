# Shared by the end-to-end scripts: a private Xvfb, fresh user folders, the
# program started and found by its window title, processes cleaned up by PID.
# Source it after setting BIN (the inkwell binary) and NAME (a short name).
set -u
for tool in Xvfb xdotool xdpyinfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP   : $tool is not installed"
        exit 0
    fi
done

WORK=$(mktemp -d "/tmp/inkwell-${NAME:-e2e}.XXXXXX")
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
    [ -n "${DRAFTS:-}" ] && echo "--- drafts: $(ls -la "$DRAFTS" 2>&1)"
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

# A window manager, as users have one: without it X gives the focus to no
# window when a dialog closes, and keys then reach nothing.
if ! command -v openbox >/dev/null 2>&1; then
    echo "SKIP   : openbox is not installed"
    exit 0
fi
openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    fail "openbox did not start: $(cat "$WORK/openbox.log")"

fresh_home() {
    export HOME="$WORK/$1/home" XDG_CONFIG_HOME="$WORK/$1/config" XDG_DATA_HOME="$WORK/$1/data"
    export XDG_STATE_HOME="$WORK/$1/state" XDG_CACHE_HOME="$WORK/$1/cache"
    export XDG_RUNTIME_DIR="$WORK/$1/run"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    DRAFTS="$XDG_STATE_HOME/inkwell/drafts"
}

APP=
start_app() { # arguments go to the program
    "$BIN" "$@" >>"$WORK/app.log" 2>&1 &
    APP=$!
    PIDS+=("$APP")
}

# The visible window of the program whose title is $1 (waits up to 30 s on a
# busy machine, or $2 tenths of a second).
window_titled() {
    local want=$1 wid
    for _ in $(seq "${2:-300}"); do
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

focus() { # a window that is still being mapped may refuse the first try
    for _ in 1 2 3; do
        if xdotool windowfocus --sync "$1" 2>/dev/null; then
            sleep 0.2
            return 0
        fi
        sleep 0.3
    done
    fail "cannot focus window $1"
}

# The program's window other than $1 (a dialog it opened); waits up to 10 s,
# or $2 tenths of a second.
other_window() {
    local main=$1 wid
    for _ in $(seq "${2:-100}"); do
        for wid in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
            [ "$wid" != "$main" ] && { echo "$wid"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# A window of the program that none of the given ones is (10 s).
new_window() {
    local wid known
    for _ in $(seq 100); do
        for wid in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
            known=0
            for k in "$@"; do [ "$wid" = "$k" ] && known=1; done
            [ "$known" = 0 ] && { echo "$wid"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# Ctrl+S in the main window $1, the existing file $2 typed into the save
# dialog, and yes to the dialog's own "replace?"; returns once the dialog
# has closed (a question of the program's own may follow).
save_over_existing() {
    local dialog confirm
    focus "$1"
    xdotool key ctrl+s
    dialog=$(new_window "$1") || fail "the save dialog did not open"
    focus "$dialog"
    xdotool key ctrl+a
    xdotool type --delay 10 "$2"
    xdotool key Return
    confirm=$(new_window "$1" "$dialog") || fail "the dialog did not ask to replace $2"
    focus "$confirm"
    xdotool key alt+y
    wait_gone "$dialog" || fail "the save dialog stayed open"
}

kill_app() {
    kill -9 "$APP" 2>/dev/null
    wait "$APP" 2>/dev/null
}

# Waits until file $1 exists and is not empty (10 s).
wait_for_file() {
    for _ in $(seq 100); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Waits until the program's window $1 is no longer shown (10 s).
wait_gone() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --pid "$APP" 2>/dev/null | grep -qx "$1" || return 0
        sleep 0.1
    done
    return 1
}

# Opens the menu whose access key is $2 (Alt+$2) in the focused main window $1
# and waits for its popup, whose id goes to MENU. A popup is titled like the
# program, so a message box looked up by title must wait for it to go first:
# menu_keys does.
MENU=
open_menu() {
    local wid
    xdotool key "alt+$2"
    for _ in $(seq 100); do
        for wid in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
            [ "$wid" != "$1" ] && { MENU=$wid; return 0; }
        done
        sleep 0.05
    done
    fail "Alt+$2 opened no menu"
}

# Presses the keys $@ in the open menu; returns once its popup is gone.
menu_keys() {
    xdotool key "$@"
    wait_gone "$MENU" || fail "the menu stayed open after $*"
}

# A fingerprint of the menu bar's pixels: a skin colours it, and no caret
# blinks there.
menubar() {
    import -window "$1" -crop 300x18+0+2 +repage rgb:- 2>/dev/null | md5sum
}

# Restarts the program and checks the menu bar looks as $1 again (the skin
# came back at start-up).
restart_keeps_look() {
    local look=$1 main
    kill_app
    start_app
    main=$(window_titled "无标题 - Inkwell") || fail "the main window did not come back"
    for _ in $(seq 30); do
        [ "$(menubar "$main")" = "$look" ] && break
        sleep 0.1
    done
    [ "$(menubar "$main")" = "$look" ] || fail "the skin was not applied at the next start"
    kill_app
}
