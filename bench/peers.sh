#!/bin/bash
# Compares the real Inkwell program with other editors Debian has (FeatherPad,
# Mousepad, gedit, KWrite) on big files, under a private Xvfb display:
#   window  time from launch until a window of the process is mapped
#   idle    time from launch until the process stops using CPU (the quiet
#           wait itself is subtracted)
#   RSS     peak resident memory (VmHWM) just before the process is killed
# Each editor opens each file several times, each run with a fresh HOME,
# XDG_* directories and session bus. A screenshot of every editor with each
# file (first run) goes to the output folder, to check how the text shows.
#
# Usage: bench/peers.sh [--out DIR] [--runs N] [--timeout SECONDS]
#                       [--editors LIST] [--files LIST]
#   --out       output folder (default bench/peers-out/): test files,
#               screenshots, per-run logs, runs.csv and table.md
#   --runs      runs per editor and file (default 3)
#   --timeout   limit of one run in seconds (default 60); a pair that times
#               out once is not run again
#   --editors   comma-separated subset of inkwell,featherpad,mousepad,gedit,kwrite
#   --files     comma-separated subset of gbk-50MB,gbk-10MB,utf8-50MB
# Run as root, it installs the Debian packages it needs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/bench/peers-out
runs=3
limit=60
editors=inkwell,featherpad,mousepad,gedit,kwrite
files=gbk-50MB,gbk-10MB,utf8-50MB

while [ $# -gt 0 ]; do
    case $1 in
    --out) out=$2; shift 2 ;;
    --out=*) out=${1#*=}; shift ;;
    --runs) runs=$2; shift 2 ;;
    --runs=*) runs=${1#*=}; shift ;;
    --timeout) limit=$2; shift 2 ;;
    --timeout=*) limit=${1#*=}; shift ;;
    --editors) editors=$2; shift 2 ;;
    --editors=*) editors=${1#*=}; shift ;;
    --files) files=$2; shift 2 ;;
    --files=*) files=${1#*=}; shift ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "peers.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
IFS=, read -r -a editor_list <<<"$editors"
IFS=, read -r -a file_list <<<"$files"

log() { printf '%s\n' "$*" >&2; }

# ---------------------------------------------------------------- packages
# (iconv comes with libc-bin; the CJK font is needed to see the text at all)
packages=(featherpad mousepad gedit kwrite xvfb xdotool x11-utils imagemagick procps
          dbus-daemon fonts-noto-cjk)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        log "peers.sh: missing packages: ${missing[*]} (run as root to install them)"
        exit 1
    fi
    log "Installing ${missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends "${missing[@]}" >"$out/apt.log" 2>&1 ||
        { apt-get update >>"$out/apt.log" 2>&1 &&
          apt-get install -y --no-install-recommends "${missing[@]}" >>"$out/apt.log" 2>&1; } ||
        { log "peers.sh: apt-get failed, see $out/apt.log"; exit 1; }
fi

# ---------------------------------------------------------------- Inkwell
inkwell=$root/build-bench/src/inkwell
log "Building Inkwell (Release) ..."
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DINKWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target inkwell >/dev/null

# ---------------------------------------------------------------- test files
# Novel-like lines of Chinese with some Latin, cut to the size at a line end.
# Generated once and kept in the output folder. (awk stops by itself: iconv
# reads all of its input before it writes anything.)
novel() { # bytes, encoding: a little more than that many bytes once encoded
    LC_ALL=C awk -v want="$1" -v gbk=$([ "$2" = GBK ] && echo 1 || echo 0) 'BEGIN {
        srand(7)
        s[0] = "他走进房间，看见桌上放着一封信。"
        s[1] = "The letter was dated 1998-07-12，字迹潦草，像是匆忙中写成的。"
        s[2] = "窗外的雨下了整整一夜，街上的灯光在水洼里摇晃。"
        s[3] = "“你终于来了，”她说，“我们等了你很久。”"
        s[4] = "老李把茶杯放下，慢慢地说：“这件事没有那么简单。”"
        s[5] = "火车在 Zhengzhou 停了二十分钟，站台上挤满了人。"
        s[6] = "她翻开那本旧书，第 37 页夹着一张褪色的照片。"
        s[7] = "远处传来钟声，一下，两下，三下。"
        # Every non-ASCII character here is 3 bytes in UTF-8 and 2 in GBK.
        for (k = 0; k < 8; k++) {
            t = s[k]; ascii = gsub(/[\001-\177]/, "", t)
            size[k] = gbk ? ascii + length(t) / 3 * 2 : length(s[k])
        }
        indent = gbk ? 4 : 6
        for (i = 1; total < want + 4096; i++) {
            if (i % 40 == 1) { head = "第" int(i / 40 + 1) "章"; print head; total += (gbk ? 4 : 6) + length(int(i / 40 + 1)) + 1 }
            line = "　　"; total += indent + 1
            n = 2 + int(rand() * 5)
            for (k = 0; k < n; k++) { r = int(rand() * 8); line = line s[r]; total += size[r] }
            print line
        }
    }'
}
make_file() { # name, bytes, encoding
    local path=$out/files/$1.txt
    [ -s "$path" ] && return 0
    mkdir -p "$out/files"
    set +o pipefail
    if [ "$3" = GBK ]; then
        novel "$2" GBK | iconv -f UTF-8 -t GBK | head -c "$2" | LC_ALL=C sed '$d' >"$path.tmp"
    else
        novel "$2" UTF-8 | head -c "$2" | LC_ALL=C sed '$d' >"$path.tmp"
    fi
    set -o pipefail
    [ -s "$path.tmp" ] || { log "peers.sh: could not make $path"; exit 1; }
    mv "$path.tmp" "$path"
}
for f in "${file_list[@]}"; do
    case $f in
    gbk-50MB) make_file "$f" $((50 << 20)) GBK ;;
    gbk-10MB) make_file "$f" $((10 << 20)) GBK ;;
    utf8-50MB) make_file "$f" $((50 << 20)) UTF-8 ;;
    *) log "peers.sh: unknown file $f"; exit 2 ;;
    esac
done

# ---------------------------------------------------------------- display
scratch=$(mktemp -d /tmp/inkwell-peers.XXXXXX)
xvfb_pid=
cleanup() {
    [ -n "${current_token:-}" ] && sweep "$current_token"
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
    3>"$scratch/display" >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
display=:$(head -n1 "$scratch/display")
[ "$display" != : ] || { log "peers.sh: Xvfb did not start, see $out/xvfb.log"; exit 1; }
export DISPLAY=$display
log "Xvfb on $display"

# ---------------------------------------------------------------- one run
# (no subshells in the polling loops: times and ticks land in globals)
now() { now_us=${EPOCHREALTIME/./}; }
cpu_ticks() { # utime + stime of the process, all threads, into $ticks
    local line
    read -r line <"/proc/$1/stat" 2>/dev/null || return 1
    set -- ${line##*) }
    ticks=$(( ${12} + ${13} ))
}
alive() { # running, not a zombie waiting to be reaped
    local key value
    while read -r key value; do
        [ "$key" = State: ] && { [ "${value:0:1}" != Z ]; return; }
    done 2>/dev/null <"/proc/$1/status"
    return 1
}
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true; }

# Every process started for a run carries its token in the environment, so
# whatever it spawned (session bus services, helpers) is found and killed.
sweep() {
    local pids
    pids=$(grep -lzs "^INKWELL_PEERS_RUN=$1\$" /proc/[0-9]*/environ 2>/dev/null |
           sed -n 's#^/proc/\([0-9]*\)/environ$#\1#p' || true)
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null || true
}

command_for() { # editor, file name, path: the command line into ${cmd[@]}
    case $1 in
    inkwell) cmd=("$inkwell" "$3") ;;
    featherpad) cmd=(featherpad "$3") ;;
    mousepad) case $2 in gbk-*) cmd=(mousepad --encoding=GBK "$3") ;; *) cmd=(mousepad "$3") ;; esac ;;
    gedit) cmd=(gedit "$3") ;;
    kwrite) cmd=(kwrite "$3") ;;
    *) return 1 ;;
    esac
}

# Sets $window (ms), $idle (ms) and $rss (kB); a time is "timeout" or "exit"
# when the window never showed, the process never went quiet or it died.
quiet_us=300000
run_once() { # editor, file name, run number, screenshot path or ""
    local editor=$1 name=$2 n=$3 shot=$4
    local token=$editor-$name-$n-$$ home=$scratch/home-$editor-$name-$n
    local path=$out/files/$name.txt runlog=$out/logs/$editor-$name-$n.log
    mkdir -p "$home"/{config,data,cache,state,runtime} "$out/logs"
    chmod 700 "$home/runtime"
    local envs=(PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" USER="$(id -un)" LOGNAME="$(id -un)"
                XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
                XDG_CACHE_HOME="$home/cache" XDG_STATE_HOME="$home/state"
                XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$display" LANG=C.UTF-8
                QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 INKWELL_PEERS_RUN="$token")
    current_token=$token
    local bus= bus_pid=
    { read -r bus; read -r bus_pid; } < <(env -i "${envs[@]}" dbus-daemon --session --fork \
        --print-address=1 --print-pid=1 2>"$runlog")
    command_for "$editor" "$name" "$path"
    sync
    local t0 pid deadline
    now; t0=$now_us
    env -i "${envs[@]}" DBUS_SESSION_BUS_ADDRESS="$bus" "${cmd[@]}" >>"$runlog" 2>&1 &
    pid=$!
    deadline=$((t0 + limit * 1000000))
    window=timeout idle=timeout rss=0
    # (a) the first visible window of the process
    while :; do
        now
        alive "$pid" || { window=exit; break; }
        if xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; then
            window=$(( (now_us - t0) / 1000 )); break
        fi
        [ "$now_us" -ge "$deadline" ] && break
        sleep 0.01
    done
    # (b) quiet: the CPU time grew by at most one tick (10 ms) in 300 ms
    local -a T=() C=()
    local j=0 k
    if [[ $window =~ ^[0-9]+$ ]]; then
        while :; do
            now
            cpu_ticks "$pid" && alive "$pid" || { idle=exit; break; }
            T+=("$now_us"); C+=("$ticks"); k=$((${#T[@]} - 1))
            while [ $((j + 1)) -le "$k" ] && [ $((now_us - T[j + 1])) -ge $quiet_us ]; do j=$((j + 1)); done
            if [ $((now_us - T[j])) -ge $quiet_us ] && [ $((ticks - C[j])) -le 1 ]; then
                idle=$(( (now_us - quiet_us - t0) / 1000 )); break
            fi
            [ "$now_us" -ge "$deadline" ] && break
            sleep 0.05
        done
    elif [ "$window" = exit ]; then
        idle=exit
    fi
    if [ -n "$shot" ] && alive "$pid"; then
        import -display "$display" -window root "$shot" 2>>"$runlog" || true
    fi
    # (c) peak RSS, then the end of the run
    rss=$(hwm_kb "$pid"); rss=${rss:-0}
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 30); do alive "$pid" || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -n "$bus_pid" ] && kill -TERM "$bus_pid" 2>/dev/null || true
    sweep "$token"
    current_token=
    rm -rf "$home"
}

# ---------------------------------------------------------------- the runs
csv=$out/runs.csv
echo "editor,file,run,window_ms,idle_ms,rss_kb" >"$csv"
mkdir -p "$out/shots"
printf '*\n' >"$out/.gitignore"
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
log "Load average before: $(loadavg)"
now; started=$now_us
for name in "${file_list[@]}"; do
    for editor in "${editor_list[@]}"; do
        command_for "$editor" "$name" x || { log "peers.sh: unknown editor $editor"; exit 2; }
        for n in $(seq "$runs"); do
            shot=
            [ "$n" = 1 ] && shot=$out/shots/$editor-$name.png
            run_once "$editor" "$name" "$n" "$shot"
            log "$(printf '%-10s %-10s run %d: window %s ms, idle %s ms, peak RSS %s MB (load %s)' \
                "$editor" "$name" "$n" "$window" "$idle" "$((rss / 1024))" "$(loadavg)")"
            echo "$editor,$name,$n,$window,$idle,$rss" >>"$csv"
            [[ $window =~ ^[0-9]+$ && $idle =~ ^[0-9]+$ ]] || break
        done
    done
done
log "Load average after: $(loadavg) ($(( (${EPOCHREALTIME/./} - started) / 1000000 )) s of runs)"

# ---------------------------------------------------------------- the table
# Medians over the runs; a run that timed out counts as longer than any other.
awk -F, -v runs="$runs" '
function median(list,   n, a, i, j, x) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && key(a[j]) > key(x); j--) a[j + 1] = a[j]; a[j + 1] = x }
    return a[int((n + 1) / 2)]
}
function key(v) { return v ~ /^[0-9]+$/ ? v + 0 : 1e12 }
function ratio(a, b) { return (a ~ /^[0-9.]+$/ && b ~ /^[0-9.]+$/ && b > 0) ? sprintf("%.2f", a / b) : "–" }
NR > 1 {
    k = $1 SUBSEP $2
    if (!(k in seen)) { seen[k] = 1; order[++count] = k }
    W[k] = W[k] " " $4; I[k] = I[k] " " $5; R[k] = R[k] " " $6
    done[k]++; if ($4 !~ /^[0-9]+$/ || $5 !~ /^[0-9]+$/) failed[k] = 1
}
END {
    print "| Editor | File | Window (ms) | Idle (ms) | Peak RSS (MB) | Idle Inkwell/peer | RSS Inkwell/peer |"
    print "|---|---|---:|---:|---:|---:|---:|"
    for (c = 1; c <= count; c++) {
        k = order[c]; split(k, p, SUBSEP)
        w = median(W[k]); i = median(I[k]); r = median(R[k])
        if (failed[k] && done[k] < runs) { w = W[k]; i = I[k]; sub(/^ /, "", w); sub(/^ /, "", i); w = w " (" done[k] "/" runs " runs)" }
        mb = r ~ /^[0-9]+$/ ? sprintf("%.0f", r / 1024) : r
        ink = "inkwell" SUBSEP p[2]
        ri = ratio(median(I[ink]), i); rr = ratio(median(R[ink]), r)
        if (failed[k] || failed[ink]) rr = "–"
        if (failed[k]) { mb = mb " *"; note = 1 }
        if (p[1] == "inkwell") { ri = "–"; rr = "–" }
        printf "| %s | %s | %s | %s | %s | %s | %s |\n", p[1], p[2], w, i, mb, ri, rr
    }
    if (note) print "\n\\* a run did not finish (timeout or exit): memory when it was stopped."
}' "$csv" >"$out/table.md"
cat "$out/table.md"
log "Runs: $csv; screenshots: $out/shots/; logs: $out/logs/"
