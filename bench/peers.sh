#!/bin/bash
# Inkwell beside KWrite on big GBK files, through the real programs, in one
# interleaved run (Inkwell, KWrite, Inkwell, KWrite ...) under a private Xvfb
# display with openbox; every launch with a fresh HOME, XDG_* folders and
# session bus. Scenarios (bench/peers.py does the work):
#   open      10/50/200 MB, short (~60 byte) and long (~100 KB) lines: time
#             until idle, CPU, memory after opening and its peak; Inkwell's
#             longest event-loop stall comes from inkwell_bench (in process),
#             as does the longest stall of saving the 50 MB file
#   key       one key in the 50 MB file, then 35 s: CPU after the key, bytes
#             written to the drafts folder (KWrite: its .kate-swp file),
#             memory before and after; then Ctrl+S: wall until the file is
#             replaced and the program idle, CPU, the save's peak memory
#   recovery  an edit, a draft (KWrite: its swap file), kill -9, restart:
#             time until the question (KWrite: its bar, once the file is
#             read), yes (Enter; KWrite: Alt+R), time until idle, peak memory
#   killtype  10 characters/s into a small RTF (Inkwell only) and into the 50 MB
#             file, kill -9 right after the last, recover, save: seconds lost
#   typing    (first run only) 10 characters/s for --typing-seconds: the
#             drafts folder (KWrite: swap file) against document + typed
# KWrite is not installed: its Debian packages (and those of its dependencies
# that are not installed) are fetched with apt-get download into
# bench/peers-root/ and unpacked there with dpkg -x. Nothing is installed
# system-wide beyond the packages of the README's test command.
#
# Usage: bench/peers.sh [--out DIR] [--runs N] [--scenarios LIST] [--sizes LIST]
#                       [--lines LIST] [--editors LIST] [--timeout S]
#                       [--typing-seconds S] [--big MB] [--key-wait S]
#                       [--kill-after S] [--kill-pause S] [--answer-delay S]
#                       [--no-stall]
#   --out         output folder (default bench/peers-out/): test files,
#                 screenshots, logs, runs.csv, table.md, stall.txt
#   --runs        runs of each scenario (default 2; typing runs once)
#   --scenarios   subset of open,key,recovery,killtype,typing (default all)
#   --sizes       open sizes in MB (default 10,50,200)
#   --lines       short,long (default both)
#   --editors     inkwell,kwrite (default both)
#   --typing-seconds  length of the typing scenario (default 120)
#   --big         MB of the file edited by key/recovery/killtype/typing (50)
#   --key-wait    seconds watched after the one key (default 35)
#   --kill-after  seconds of typing before the kill (default 20)
#   --kill-pause  seconds between the last character and the kill (0)
#   --answer-delay  seconds from the recovery question to the answer (0: at
#                 once; the first run waits 0.5 s anyway for its screenshot)
#   --timeout     limit of one wait in seconds (default 120)
#   --before      runs.csv of an earlier run: table.md then also gives
#                 Inkwell's median from it and the ratio now/before (default
#                 bench/peers-before.csv, main on 9 Dec 2026; '' for none)
#   --no-stall    skip the in-process stall measurement
# About 14 minutes with the defaults on 2 cores (11 of them the scenarios).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/bench/peers-out
stall=1
before=$root/bench/peers-before.csv
pass=()
while [ $# -gt 0 ]; do
    case $1 in
    --out) out=$2; shift 2 ;;
    --out=*) out=${1#*=}; shift ;;
    --no-stall) stall=0; shift ;;
    --before) before=$2; shift 2 ;;
    --before=*) before=${1#*=}; shift ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    --runs|--scenarios|--sizes|--lines|--editors|--timeout|--typing-seconds|--key-wait|--kill-after|--kill-pause|--answer-delay|--big)
        pass+=("$1" "$2"); shift 2 ;;
    --*=*) pass+=("$1"); shift ;;
    *) echo "peers.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
printf '*\n' >"$out/.gitignore"
log() { printf '%s\n' "$*" >&2; }

# ---------------------------------------------------------------- tools
# All of these come with the README's test command (scripts/deps.sh).
. "$root/scripts/deps.sh"
missing=$(inkwell_missing_packages xvfb xdotool openbox imagemagick x11-utils)
if [ -n "$missing" ]; then
    log "peers.sh: missing $missing; install the test packages first (see README)"
    exit 1
fi
for tool in python3 dbus-daemon apt-get dpkg; do
    command -v $tool >/dev/null || { log "peers.sh: $tool is needed"; exit 1; }
done

# ---------------------------------------------------------------- private KWrite
peers=$root/bench/peers-root
if [ ! -x "$peers/root/usr/bin/kwrite" ]; then
    log "Fetching KWrite into $peers (apt-get download, dpkg -x; nothing is installed) ..."
    mkdir -p "$peers/debs"
    printf '*\n' >"$peers/.gitignore"
    # What apt would install for it, given what is installed here.
    # shellcheck disable=SC2046
    need=$(apt-get install -s --no-install-recommends kwrite 2>/dev/null | awk '/^Inst /{ print $2 }')
    [ -n "$need" ] || { log "peers.sh: apt-get cannot resolve kwrite (apt-get update?)"; exit 1; }
    (cd "$peers/debs" && apt-get download $need >"$peers/download.log" 2>&1) ||
        { log "peers.sh: apt-get download failed, see $peers/download.log"; exit 1; }
    rm -rf "$peers/root.tmp"
    for deb in "$peers"/debs/*.deb; do dpkg -x "$deb" "$peers/root.tmp"; done
    mv "$peers/root.tmp" "$peers/root"
fi

# ---------------------------------------------------------------- Inkwell
log "Building Inkwell and inkwell_bench (Release) ..."
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DINKWELL_BUILD_BENCH=ON -DINKWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target inkwell inkwell_bench >/dev/null

python3 "$root/bench/peers.py" --out "$out" --inkwell "$root/build-bench/src/inkwell" \
    --kwrite-root "$peers/root" --before "$before" "${pass[@]}"

# ---------------------------------------------------------------- stalls
# The real program has no probe for its event loop; the bench opens the same
# files in process (offscreen) and times the longest turn of the loop.
if [ "$stall" = 1 ]; then
    log "Inkwell's longest stall while opening (inkwell_bench, offscreen) ..."
    : >"$out/stall.txt"
    for f in "$out"/files/gbk-*MB-*.txt; do
        QT_QPA_PLATFORM=offscreen "$root/build-bench/bench/inkwell_bench" --open "$f" 2 2>>"$out/logs/inkwell_bench.log" \
            >>"$out/stall.txt"
    done
    # The save of the 50 MB file after one key, as a new file in place.
    big=$(ls "$out"/files/gbk-50MB-short.txt 2>/dev/null || true)
    [ -n "$big" ] && QT_QPA_PLATFORM=offscreen "$root/build-bench/bench/inkwell_bench" --save \
        "$big" 2 >>"$out/stall.txt" 2>>"$out/logs/inkwell_bench.log"
    cat "$out/stall.txt"
fi
