#!/usr/bin/env bash
# End to end through a real CUPS queue: a private cupsd (own configuration,
# own socket, never the system's), a cups-pdf queue as the default printer,
# Inkwell under Xvfb printing a file with Ctrl+P and Enter in the print
# dialog. The PDF cups-pdf writes must hold the document's text.
# Usage: cups_print_e2e.sh INKWELL_BINARY. Exit 77 (skipped) when a tool is missing.
set -euo pipefail

inkwell=${1:?usage: $0 INKWELL_BINARY}
skip() { echo "SKIP: $*"; exit 77; }

for tool in cupsd lpadmin lpstat cupsreject Xvfb xdotool xdpyinfo pdftotext; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
backend=/usr/lib/cups/backend/cups-pdf
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -x "$backend" ] || skip "cups-pdf backend missing ($backend)"
[ -r "$ppd" ] || skip "cups-pdf PPD missing ($ppd)"
[ "$(id -u)" -eq 0 ] || skip "cups-pdf's backend runs only for a cupsd started as root"

work=$(mktemp -d /tmp/inkwell-cups-e2e.XXXXXX)
cupsd_pid= xvfb_pid= inkwell_pid=
stop() {
    local pid
    for pid in $inkwell_pid $xvfb_pid $cupsd_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop EXIT

# --- a private cupsd --------------------------------------------------------
mkdir -p "$work"/{etc/ppd,etc/ssl,spool/tmp,cache,state/certs,log}
cp -r /etc/cups/cups-pdf.conf "$work/etc/" 2>/dev/null || true
socket="$work/cups.sock"
cat >"$work/etc/cupsd.conf" <<CONF
LogLevel ${INKWELL_E2E_LOGLEVEL:-warn}
Listen $socket
PreserveJobFiles Yes
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat >"$work/etc/cups-files.conf" <<CONF
ServerRoot $work/etc
RequestRoot $work/spool
TempDir $work/spool/tmp
CacheDir $work/cache
StateDir $work/state
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
SystemGroup root
CONF
# Filters run as the unprivileged user lp: they must reach the PPD and the
# temporary folder; cupsd itself refuses configuration others could write.
chmod 755 "$work" "$work/spool"
chmod 1777 "$work/spool/tmp"
chmod -R go-w,go+rX "$work/etc"
/usr/sbin/cupsd -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" -f &
cupsd_pid=$!
export CUPS_SERVER="$socket"
running() { [ "$(lpstat -r 2>/dev/null)" = "scheduler is running" ]; }
for _ in $(seq 100); do
    running && break
    kill -0 "$cupsd_pid" 2>/dev/null || skip "cupsd did not start: $(cat "$work/log/error_log" 2>/dev/null)"
    sleep 0.2
done
running || skip "cupsd does not answer on $socket"

queue=InkwellPDF$$
# cups-pdf gets PostScript; rendered by Ghostscript (the default) the text loses
# its Unicode mapping and pdftotext reads symbols, by pdftocairo it stays text.
lpadmin -p "$queue" -E -v cups-pdf:/ -P "$ppd" -o pdftops-renderer-default=pdftocairo
lpadmin -d "$queue"
# The queue's own paper is Letter: a new document still prints on A4.
lpadmin -p "$queue" -o PageSize=Letter
[ "$(lpstat -d | sed 's/.*: //')" = "$queue" ] || { echo "FAIL: $queue is not the default printer"; exit 1; }

# cups-pdf writes into the job owner's home (its "Out ${HOME}/PDF").
owner_home=$(getent passwd "$(id -un)" | cut -d: -f6)
outdir="$owner_home/PDF"
mkdir -p "$outdir"
touch "$work/start-marker"

# --- Inkwell under Xvfb ----------------------------------------------------
Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || skip "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Letters only, without "f": the round trip through PostScript loses digits
# and turns "fi" into a ligature pdftotext cannot read back.
probe="InkwellCupsProbe$(printf '%s' "$RANDOM$RANDOM" | tr '0-9' 'a-eg-k')"
printf '%s first line\nsecond line of the test\n' "$probe" >"$work/doc.txt"
mkdir -p "$work/home"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
XDG_STATE_HOME="$work/home/.local/state" XDG_RUNTIME_DIR="$work/home/run" QT_QPA_PLATFORM=xcb \
    "$inkwell" "$work/doc.txt" >"$work/inkwell.log" 2>&1 &
inkwell_pid=$!

wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$inkwell_pid" | head -n1) \
    || { echo "FAIL: no Inkwell window"; cat "$work/inkwell.log"; exit 1; }
# Ctrl+P in the editor, then Enter in the print dialog, which prints on the
# default printer. The dialog is the program's window besides the main one.
program_windows() { xdotool search --onlyvisible --pid "$inkwell_pid" 2>/dev/null || true; }
print_by_keyboard() {
    local dialog= w
    xdotool windowfocus --sync "$wid"
    sleep 0.3
    xdotool key ctrl+p
    for _ in $(seq 200); do
        for w in $(program_windows); do [ "$w" != "$wid" ] && dialog=$w; done
        [ -n "$dialog" ] && break
        sleep 0.1
    done
    [ -n "$dialog" ] || { echo "FAIL: Ctrl+P showed no print dialog"; cat "$work/inkwell.log"; exit 1; }
    xdotool windowfocus --sync "$dialog"
    sleep 1
    xdotool key Return
    for _ in $(seq 100); do
        program_windows | grep -qx "$dialog" || return 0
        sleep 0.1
    done
    echo "FAIL: the print dialog did not close on Enter"; exit 1
}
# Page setup, confirmed as it opens, keeps the new document's A4 (Qt's
# dialog would put the queue's Letter in its place).
xdotool windowfocus --sync "$wid"
sleep 0.3
xdotool key alt+f
sleep 0.5
xdotool key u
setup=
for _ in $(seq 200); do
    for w in $(program_windows); do
        [ "$w" != "$wid" ] && [ "$(xdotool getwindowname "$w")" = 页面设置 ] && setup=$w
    done
    [ -n "$setup" ] && break
    sleep 0.1
done
[ -n "$setup" ] || { echo "FAIL: Alt+F, U showed no page setup"; cat "$work/inkwell.log"; exit 1; }
xdotool windowfocus --sync "$setup"
sleep 1
xdotool key Return
for _ in $(seq 100); do program_windows | grep -qx "$setup" || break; sleep 0.1; done
program_windows | grep -qx "$setup" && { echo "FAIL: page setup did not close on Enter"; exit 1; }

print_by_keyboard

pdf=
for _ in $(seq 120); do
    pdf=$(find "$outdir" -maxdepth 1 -name '*.pdf' -newer "$work/start-marker" -print -quit)
    [ -n "$pdf" ] && [ -z "$(lpstat -o "$queue" 2>/dev/null)" ] && break
    sleep 0.5
done
if [ -z "$pdf" ]; then
    echo "FAIL: no PDF from the $queue queue in $outdir"
    lpstat -W all -o 2>&1 || true
    cat "$work/log/error_log" 2>/dev/null || true
    cat "$work/inkwell.log"
    exit 1
fi
text=$(pdftotext "$pdf" - 2>/dev/null || true)
page=$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Page size: *\([0-9.]*\) x \([0-9.]*\) pts.*/\1 \2/p')
# The probe's left edge, in points: the 20 mm margin (56.7 pt), not 2 cm more.
left=$(pdftotext -bbox "$pdf" - 2>/dev/null | sed -n "s/.*<word xMin=\"\([0-9.]*\)\".*>$probe<.*/\1/p" | head -n1)
if [ -n "${INKWELL_E2E_KEEP:-}" ]; then cp "$pdf" "$INKWELL_E2E_KEEP/"; cp "$work"/spool/d* "$work"/log/* "$INKWELL_E2E_KEEP/" 2>/dev/null || true; fi
rm -f "$pdf"
case "$text" in
    *"$probe"*) echo "printed through CUPS queue $queue" ;;
    *) echo "FAIL: the printed PDF lacks the document's text; pdftotext gave: $text"; exit 1 ;;
esac
awk -v p="$page" 'BEGIN { split(p, s, " "); exit !(s[1] > 594 && s[1] < 597 && s[2] > 841 && s[2] < 843) }' ||
    { echo "FAIL: printed on a page of $page pt, not A4 (595 x 842)"; exit 1; }
awk -v x="$left" 'BEGIN { exit !(x != "" && x > 55.5 && x < 60) }' ||
    { echo "FAIL: the text starts ${left:-nowhere} pt from the left edge, not at 20 mm (56.7 pt)"; exit 1; }
echo "printed on A4 with the text 20 mm from the left edge ($left pt)"

# A queue that refuses jobs: the user is told in a box titled "Inkwell"
# instead of the job vanishing.
cupsreject "$queue"
sleep 1
print_by_keyboard
box=
for _ in $(seq 200); do
    for w in $(xdotool search --onlyvisible --pid "$inkwell_pid" 2>/dev/null); do
        [ "$w" != "$wid" ] && [ "$(xdotool getwindowname "$w")" = Inkwell ] && box=$w
    done
    [ -n "$box" ] && break
    sleep 0.1
done
[ -n "$box" ] || { echo "FAIL: no message after printing to a queue that rejects jobs"; exit 1; }
echo "PASS: printed through CUPS, and a refused job was reported"
