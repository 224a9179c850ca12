#!/usr/bin/env python3
"""Inkwell beside KWrite on big GBK files, through the real programs.

Started by bench/peers.sh, which builds Inkwell, unpacks a private KWrite and
passes its arguments on; see `bench/peers.sh --help`.

Every launch gets a fresh HOME and XDG_* folders and its own session bus,
under a private Xvfb display with openbox. The editors take turns (Inkwell,
KWrite, Inkwell, KWrite ...) so that the load of the shared machine falls on
both alike. Figures per launch: wall time, CPU time (utime+stime of all the
process's threads, from /proc/PID/stat) and memory (VmRSS, and VmHWM reset
with clear_refs at the start of a phase to get that phase's peak).
"""
import argparse
import csv
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

TICK_MS = 1000.0 / os.sysconf("SC_CLK_TCK")
QUIET_S = 0.3  # idle: CPU grew by at most one tick over this long
SAMPLE_S = 0.05

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def log(*words):
    print(*words, file=sys.stderr, flush=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# ---------------------------------------------------------------- /proc
def cpu_ms(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    if fields[0] == "Z":
        return None
    return (int(fields[11]) + int(fields[12])) * TICK_MS


def mem_kb(pid):
    """(VmRSS, VmHWM) in kB, or (0, 0) when the process is gone."""
    rss = hwm = 0
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
                elif line.startswith("VmHWM:"):
                    hwm = int(line.split()[1])
    except OSError:
        pass
    return rss, hwm


def write_bytes(pid):
    """Bytes the process caused to be written to storage (/proc/PID/io):
    counted when a page first turns dirty, so a page rewritten before it
    reaches the disk counts once."""
    try:
        with open(f"/proc/{pid}/io") as f:
            for line in f:
                if line.startswith("write_bytes:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def reset_peak(pid):
    try:
        with open(f"/proc/{pid}/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def alive(pid):
    return cpu_ms(pid) is not None


def wait_idle(pid, limit_s, quiet_s=QUIET_S):
    """Waits until the process's CPU time grows by at most one tick in
    quiet_s. Returns the monotonic time the quiet stretch began, or None
    (timeout or exit)."""
    history = []
    end = time.monotonic() + limit_s
    while True:
        now = time.monotonic()
        c = cpu_ms(pid)
        if c is None:
            return None
        history.append((now, c))
        while len(history) > 1 and now - history[1][0] >= quiet_s:
            history.pop(0)
        t0, c0 = history[0]
        if now - t0 >= quiet_s and c - c0 <= TICK_MS + 0.01:
            return t0
        if now >= end:
            return None
        time.sleep(SAMPLE_S)


# ---------------------------------------------------------------- folders
class FolderWatch:
    """Polls a folder (or the files of a folder matching a pattern) and
    estimates the bytes written into it: a new file (new inode) counts whole,
    a file that grew counts its growth, a file rewritten in place (same inode,
    new mtime, not longer) counts whole."""

    def __init__(self, folder, pattern=None):
        self.folder, self.pattern = folder, re.compile(pattern) if pattern else None
        self.seen = self.scan()
        self.written = 0
        self.largest = self.size()

    def scan(self):
        files = {}
        for base, _, names in os.walk(self.folder):
            for n in names:
                if self.pattern and not self.pattern.search(n):
                    continue
                p = os.path.join(base, n)
                try:
                    st = os.stat(p)
                except OSError:
                    continue
                files[p] = (st.st_ino, st.st_size, st.st_mtime_ns)
        return files

    def size(self, files=None):
        return sum(v[1] for v in (files or self.seen).values())

    def poll(self):
        now = self.scan()
        for p, (ino, size, mtime) in now.items():
            old = self.seen.get(p)
            if old is None or old[0] != ino:
                self.written += size
            elif size > old[1]:
                self.written += size - old[1]
            elif mtime != old[2]:
                self.written += size
        self.seen = now
        self.largest = max(self.largest, self.size(now))


def sleep_watching(seconds, watch):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        watch.poll()
        time.sleep(0.1)
    watch.poll()


# ---------------------------------------------------------------- test files
SENTENCES = [
    "他走进房间，看见桌上放着一封信。",
    "The letter was dated 1998-07-12，字迹潦草，像是匆忙中写成的。",
    "窗外的雨下了整整一夜，街上的灯光在水洼里摇晃。",
    "“你终于来了，”她说，“我们等了你很久。”",
    "老李把茶杯放下，慢慢地说：“这件事没有那么简单。”",
    "火车在 Zhengzhou 停了二十分钟，站台上挤满了人。",
    "她翻开那本旧书，第 37 页夹着一张褪色的照片。",
    "远处传来钟声，一下，两下，三下。",
]


def make_gbk(path, megabytes, line_bytes):
    """Novel-like GBK text of Chinese with some Latin: whole sentences up to
    at least line_bytes bytes a line (40 gives 59 on average), a chapter head
    every 40 lines, cut at a line end."""
    if os.path.exists(path):
        return
    import random

    rng = random.Random(7)
    pieces = [s.encode("gbk") for s in SENTENCES]
    want = megabytes << 20
    chunk = []
    total = 0
    i = 0
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        while True:
            i += 1
            if i % 40 == 1:
                head = f"第{i // 40 + 1}章\n".encode("gbk")
                chunk.append(head)
                total += len(head)
            line = ["　　".encode("gbk")]
            n = len(line[0])
            while n < line_bytes:
                p = pieces[rng.randrange(8)]
                line.append(p)
                n += len(p)
            line.append(b"\n")
            b = b"".join(line)
            if total + len(b) > want:
                break
            chunk.append(b)
            total += len(b)
            if len(chunk) > 4096:
                f.write(b"".join(chunk))
                chunk = []
        f.write(b"".join(chunk))
    os.replace(tmp, path)


def make_rich(path):
    """A small rich document: a title, bold and italic runs, a list of
    paragraphs in Chinese and Latin; about 20 KB of RTF."""
    if os.path.exists(path):
        return

    def esc(text):
        return "".join(c if ord(c) < 128 else f"\\u{ord(c) if ord(c) < 32768 else ord(c) - 65536}?"
                       for c in text)

    body = [r"{\rtf1\ansi\ansicpg936\deff0{\fonttbl{\f0\fnil\fcharset134 SimSun;}}",
            r"{\colortbl;\red200\green0\blue0;}",
            r"\pard\qc\b\fs36 " + esc("第一章 雨夜") + r"\b0\fs24\par"]
    for i in range(60):
        s = SENTENCES[i % 8]
        body.append(r"\pard\ql\fi480 " + esc(s) + r" {\b " + esc(SENTENCES[(i + 3) % 8])
                    + r"}{\i\cf1 " + esc(SENTENCES[(i + 5) % 8]) + r"}\par")
    body.append("}")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(body))


# ---------------------------------------------------------------- display
class Display:
    def __init__(self, out):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(w,), stdout=open(f"{out}/xvfb.log", "w"),
            stderr=subprocess.STDOUT)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            c = os.read(r, 1)
            if not c:
                raise SystemExit("peers: Xvfb did not start, see xvfb.log")
            number += c
        os.close(r)
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    def xdo(self, *args, check=False):
        p = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)
        if check and p.returncode != 0:
            raise RuntimeError(f"xdotool {' '.join(args)}: {p.stderr.strip()}")
        return p.stdout.split()

    def windows(self, pid):
        return self.xdo("search", "--onlyvisible", "--pid", str(pid))

    def focus(self, wid):
        self.xdo("windowactivate", "--sync", wid)
        self.xdo("windowfocus", "--sync", wid)
        time.sleep(0.1)

    def shot(self, path):
        subprocess.run(["import", "-display", self.name, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        for p in (self.wm, self.xvfb):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()


# ---------------------------------------------------------------- editors
class Editor:
    def __init__(self, name, argv, env):
        self.name, self.argv, self.env = name, argv, env


def editors(args):
    ink = Editor("inkwell", [args.inkwell], {})
    r = args.kwrite_root
    lib = f"{r}/usr/lib/x86_64-linux-gnu"
    kw = Editor("kwrite", [f"{r}/usr/bin/kwrite"], {
        "PATH": f"{r}/usr/bin:/usr/local/bin:/usr/bin:/bin",
        "LD_LIBRARY_PATH": lib,
        "QT_PLUGIN_PATH": f"{lib}/qt5/plugins",
        "QT_QPA_PLATFORM_PLUGIN_PATH": f"{lib}/qt5/plugins/platforms",
        "QML2_IMPORT_PATH": f"{lib}/qt5/qml",
        "XDG_DATA_DIRS": f"{r}/usr/share:/usr/share",
        "XDG_CONFIG_DIRS": f"{r}/etc/xdg:/etc/xdg",
    })
    return {"inkwell": ink, "kwrite": kw}


class Session:
    """One fresh home (kept across a kill and restart) with its own bus."""
    serial = 0

    def __init__(self, bench, tag):
        Session.serial += 1
        self.bench = bench
        self.token = f"{tag}-{Session.serial}-{os.getpid()}"
        self.home = os.path.join(bench.scratch, self.token)
        for d in ("config", "data", "cache", "state", "runtime", "docs"):
            os.makedirs(os.path.join(self.home, d), exist_ok=True)
        os.chmod(os.path.join(self.home, "runtime"), 0o700)
        self.env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": self.home,
            "USER": os.environ.get("USER", "root"), "LOGNAME": os.environ.get("USER", "root"),
            "XDG_CONFIG_HOME": f"{self.home}/config", "XDG_DATA_HOME": f"{self.home}/data",
            "XDG_CACHE_HOME": f"{self.home}/cache", "XDG_STATE_HOME": f"{self.home}/state",
            "XDG_RUNTIME_DIR": f"{self.home}/runtime", "DISPLAY": bench.display.name,
            "LANG": "C.UTF-8", "QT_QPA_PLATFORM": "xcb", "NO_AT_BRIDGE": "1",
            "INKWELL_PEERS_RUN": self.token,
        }
        p = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                            "--print-pid=1"], env=self.env, capture_output=True, text=True)
        lines = p.stdout.split()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = lines[0]
        self.docs = f"{self.home}/docs"
        self.drafts = f"{self.home}/state/inkwell/drafts"
        self.proc = None

    def start(self, editor, *files):
        env = dict(self.env, **editor.env)
        if editor.name == "kwrite":
            # KWrite wraps lines over 10,000 characters and opens the file
            # read-only; Inkwell takes such a line as it is, so KWrite does too.
            for rc in ("kwriterc", "katepartrc"):
                with open(f"{self.home}/config/{rc}", "w") as f:
                    f.write("[KTextEditor Document]\nLine Length Limit=1000000\n")
        self.log = open(os.path.join(self.bench.out, "logs", f"{self.token}.log"), "a")
        self.t0 = time.monotonic()
        self.proc = subprocess.Popen(editor.argv + list(files), env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        return self.proc.pid

    def wait_window(self, limit):
        end = self.t0 + limit
        while time.monotonic() < end:
            if not alive(self.proc.pid):
                return None
            w = self.bench.display.windows(self.proc.pid)
            if w:
                return w
            time.sleep(0.02)
        return None

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def sweep(self):
        """Kills everything started for this session (bus, services)."""
        self.kill()
        for d in os.listdir("/proc"):
            if not d.isdigit():
                continue
            try:
                with open(f"/proc/{d}/environ", "rb") as f:
                    if f"INKWELL_PEERS_RUN={self.token}".encode() in f.read().split(b"\0"):
                        os.kill(int(d), signal.SIGKILL)
            except OSError:
                pass

    def close(self):
        self.sweep()
        shutil.rmtree(self.home, ignore_errors=True)


# ---------------------------------------------------------------- the bench
class Bench:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        os.makedirs(f"{self.out}/logs", exist_ok=True)
        os.makedirs(f"{self.out}/shots", exist_ok=True)
        os.makedirs(f"{self.out}/files", exist_ok=True)
        self.scratch = os.path.join(self.out, "homes")
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)
        self.display = Display(self.out)
        self.editors = editors(args)
        self.rows = []
        self.csv = open(f"{self.out}/runs.csv", "w", newline="")
        self.writer = csv.writer(self.csv)
        self.writer.writerow(["scenario", "editor", "case", "run", "metric", "value", "load"])
        self.shot_taken = set()

    def record(self, scenario, editor, case, run, **metrics):
        load = loadavg()
        for k, v in metrics.items():
            self.rows.append((scenario, editor, case, run, k, v))
            self.writer.writerow([scenario, editor, case, run, k, v, load])
        self.csv.flush()
        shown = ", ".join(f"{k}={v:.0f}" if isinstance(v, float) else f"{k}={v}"
                          for k, v in metrics.items())
        log(f"  {scenario:9} {editor:8} {case:14} run {run}: {shown} (load {load})")

    def new_window(self, pid, old, limit=20):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            fresh = [w for w in self.display.windows(pid) if w not in old]
            if fresh:
                return fresh[0]
            time.sleep(0.05)
        return None

    def ask_save(self, editor, pid, wid, path):
        """Ctrl+S. Inkwell's save goes through its save dialog: the path is
        typed into it and the dialog's "replace?" is left waiting. Returns the
        key that then starts the write (None: save at once; False: failed)."""
        self.display.focus(wid)
        if editor.name != "inkwell":
            return None
        old = self.display.windows(pid)
        self.display.xdo("key", "ctrl+s")
        dialog = self.new_window(pid, old)
        if not dialog:
            return False
        self.display.focus(dialog)
        self.display.xdo("key", "ctrl+a")
        self.display.xdo("type", "--delay", "10", path)
        self.display.xdo("key", "Return")
        confirm = self.new_window(pid, old + [dialog])
        if not confirm:
            return False
        self.display.focus(confirm)
        return "alt+y"

    def shot(self, name):
        if name not in self.shot_taken:
            self.shot_taken.add(name)
            self.display.shot(f"{self.out}/shots/{name}.png")

    def file(self, case):
        """case: gbk-<MB>MB-short|long"""
        m = re.fullmatch(r"gbk-(\d+)MB-(short|long)", case)
        path = f"{self.out}/files/{case}.txt"
        make_gbk(path, int(m.group(1)), 40 if m.group(2) == "short" else 100_000)
        return path

    def open_and_idle(self, s, editor, path, limit=None):
        """Starts the editor on path (None: nothing); returns (wall ms, cpu ms,
        rss kB, hwm kB, window id) once idle, or None."""
        pid = s.start(editor, *([path] if path else []))
        w = s.wait_window(limit or self.args.timeout)
        if not w:
            return None
        quiet = wait_idle(pid, limit or self.args.timeout)
        if quiet is None:
            return None
        rss, hwm = mem_kb(pid)
        return (quiet - s.t0) * 1000, cpu_ms(pid), rss, hwm, w[0]

    # ------------------------------------------------------------ open
    def open(self, editor, case, run):
        path = self.file(case)
        s = Session(self, f"open-{editor.name}-{case}-{run}")
        try:
            r = self.open_and_idle(s, editor, path)
            if r is None:
                self.record("open", editor.name, case, run, failed=1)
                return
            self.shot(f"open-{editor.name}-{case}")
            wall, cpu, rss, hwm, _ = r
            self.record("open", editor.name, case, run, wall_ms=wall, cpu_ms=cpu,
                        rss_mb=rss / 1024, peak_mb=hwm / 1024)
        finally:
            s.close()

    # ------------------------------------------------------------ one key + save
    def key_save(self, editor, case, run):
        """Opens a copy of the file, types one key, waits key_wait s (draft or
        swap work), then Ctrl+S, and measures each phase."""
        src = self.file(case)
        s = Session(self, f"keysave-{editor.name}-{case}-{run}")
        try:
            path = os.path.join(s.docs, os.path.basename(src))
            shutil.copyfile(src, path)
            size0 = os.path.getsize(path)
            r = self.open_and_idle(s, editor, path)
            if r is None:
                self.record("key", editor.name, case, run, failed=1)
                return
            wall, cpu_open, rss_open, hwm_open, wid = r
            pid = s.proc.pid
            watch = (FolderWatch(s.home + "/state") if editor.name == "inkwell"
                     else FolderWatch(s.docs, r"\.kate-swp$"))
            self.display.focus(wid)
            wait_idle(pid, 10)
            reset_peak(pid)
            c0 = cpu_ms(pid)
            w0 = write_bytes(pid)
            self.display.xdo("key", "x")
            # The key's own handling and paint are over after half a second;
            # what follows is the draft (or swap file) work.
            sleep_watching(0.5, watch)
            c_key = cpu_ms(pid)
            sleep_watching(self.args.key_wait - 0.5, watch)
            # a draft still being written at the end is waited for
            end = time.monotonic() + 60
            while wait_idle(pid, 1) is None and time.monotonic() < end and alive(pid):
                watch.poll()
            watch.poll()
            rss1, hwm1 = mem_kb(pid)
            c1 = cpu_ms(pid)
            if c1 is None:
                self.record("key", editor.name, case, run, failed=1)
                return
            self.record("key", editor.name, case, run, cpu_ms=c1 - c0, key_cpu_ms=c_key - c0,
                        later_cpu_ms=c1 - c_key,
                        written_kb=watch.written / 1024, folder_kb=watch.size() / 1024,
                        io_write_kb=(write_bytes(pid) - w0) / 1024,
                        rss_before_mb=rss_open / 1024, rss_after_mb=rss1 / 1024,
                        peak_mb=hwm1 / 1024)
            self.shot(f"key-{editor.name}-{case}")
            # ---- save
            st0 = os.stat(path)
            go = self.ask_save(editor, pid, wid, path)
            if go is False:
                self.shot(f"save-failed-{editor.name}-{case}-{run}")
                self.record("save", editor.name, case, run, failed=1)
                return
            wait_idle(pid, 10)
            reset_peak(pid)
            rss2, _ = mem_kb(pid)
            c2 = cpu_ms(pid)
            t0 = time.monotonic()
            self.display.xdo("key", go or "ctrl+s")
            renamed = None
            end = t0 + self.args.timeout
            while time.monotonic() < end:
                try:
                    st = os.stat(path)
                    if (st.st_ino, st.st_mtime_ns, st.st_size) != (st0.st_ino, st0.st_mtime_ns,
                                                                   st0.st_size):
                        renamed = time.monotonic()
                        break
                except OSError:
                    pass
                time.sleep(0.01)
            quiet = wait_idle(pid, self.args.timeout) if renamed else None
            if quiet is None:
                self.shot(f"save-failed-{editor.name}-{case}-{run}")
                self.record("save", editor.name, case, run, failed=1)
                return
            c3 = cpu_ms(pid)
            _, hwm3 = mem_kb(pid)
            dialogs = len(self.display.windows(pid)) - 1
            self.shot(f"save-{editor.name}-{case}")
            with open(path, "rb") as f:
                head = f.read(64)
            size1 = os.path.getsize(path)
            # One "x" typed at the start: the same bytes plus one, in GBK.
            with open(src, "rb") as f:
                gbk = head[1:] == f.read(63) and head[:1] == b"x" and size1 == size0 + 1
            self.record("save", editor.name, case, run, wall_ms=(quiet - t0) * 1000,
                        renamed_ms=(renamed - t0) * 1000, cpu_ms=c3 - c2,
                        rss_before_mb=rss2 / 1024, peak_mb=hwm3 / 1024,
                        peak_vs_open=hwm3 / max(rss_open, 1), gbk_ok=int(gbk),
                        extra_windows=dialogs)
        finally:
            s.close()

    # ------------------------------------------------------------ recovery
    def draft_watch(self, editor, s):
        """Inkwell's drafts (not their locks); KWrite's swap file beside the
        document."""
        if editor.name == "inkwell":
            return FolderWatch(s.drafts, r"(?<!\.lock)$")
        return FolderWatch(s.docs, r"\.kate-swp$")

    def restart_to_question(self, editor, s, path):
        """Starts the editor again after a kill. Inkwell starts with no file
        and asks first, in a window of its own; KWrite is given the file and
        asks in a bar above the text once the file is read. Returns (pid,
        window, seconds until asked, key that answers yes) or None when
        nothing was asked."""
        if editor.name == "inkwell":
            pid = s.start(editor)
            if not s.wait_window(self.args.timeout):
                return None
            # The question is a window titled "Inkwell" alone; should the main
            # window come first, the question may still follow it.
            end = time.monotonic() + self.args.timeout
            quiet_since = None
            while time.monotonic() < end and alive(pid):
                for w in self.display.windows(pid):
                    if not self.main_window(pid, w):
                        return pid, w, time.monotonic() - s.t0, "Return"
                c = cpu_ms(pid)
                if quiet_since is None or c is None or c - quiet_since[1] > TICK_MS:
                    quiet_since = (time.monotonic(), c or 0)
                elif time.monotonic() - quiet_since[0] > 2:
                    return None  # idle with only its main window: nothing asked
                time.sleep(0.05)
            return None
        pid = s.start(editor, path)
        w = s.wait_window(self.args.timeout)
        quiet = wait_idle(pid, self.args.timeout) if w else None
        if quiet is None or not self.draft_watch(editor, s).seen:
            return None
        return pid, w[0], quiet - s.t0, "alt+r"  # "Recover Data"

    def recovery(self, editor, case, run):
        src = self.file(case)
        s = Session(self, f"recovery-{editor.name}-{case}-{run}")
        try:
            path = os.path.join(s.docs, os.path.basename(src))
            shutil.copyfile(src, path)
            r = self.open_and_idle(s, editor, path)
            if r is None:
                self.record("recovery", editor.name, case, run, failed=1)
                return
            _, _, rss_open, hwm_open, wid = r
            pid = s.proc.pid
            self.display.focus(wid)
            self.display.xdo("key", "x")
            typed = time.monotonic()
            # Inkwell writes its draft 2 s after typing stops, KWrite syncs
            # its swap file every 15 s: wait until the edit is on disk and
            # the program is quiet again.
            settle = 0 if editor.name == "inkwell" else 16
            watch = self.draft_watch(editor, s)
            end = time.monotonic() + self.args.timeout
            last = -1
            while time.monotonic() < end:
                time.sleep(0.5)
                watch.poll()
                size = watch.size()
                if (size > 0 and size == last and time.monotonic() - typed >= settle
                        and wait_idle(pid, 1, quiet_s=1.0) is not None):
                    break
                last = size
            draft = watch.size()
            s.kill()
            asked = self.restart_to_question(editor, s, path)
            if asked is None:
                self.shot(f"recovery-failed-{editor.name}-{run}")
                self.record("recovery", editor.name, case, run, failed=1)
                return
            pid, wid, question, answer = asked
            asked_at = time.monotonic()
            if f"recovery-question-{editor.name}" not in self.shot_taken:
                time.sleep(0.5)  # painted
            self.shot(f"recovery-question-{editor.name}")
            # A user reads the question before answering; 0 answers at once.
            wait = self.args.answer_delay - (time.monotonic() - asked_at)
            if wait > 0:
                time.sleep(wait)
            self.display.focus(wid)
            t1 = time.monotonic()
            self.display.xdo("key", answer)
            # A recovery may pause between its steps (reading, then
            # building): quiet for a whole second counts as done.
            quiet = wait_idle(pid, self.args.timeout, quiet_s=1.0)
            if quiet is None:
                self.record("recovery", editor.name, case, run, failed=1)
                return
            rss, hwm = mem_kb(pid)
            self.shot(f"recovery-done-{editor.name}")
            self.record("recovery", editor.name, case, run, question_ms=question * 1000,
                        editable_ms=(quiet - t1) * 1000, cpu_ms=cpu_ms(pid),
                        peak_mb=hwm / 1024, peak_vs_open=hwm / max(hwm_open, 1),
                        draft_mb=draft / 2**20)
        finally:
            s.close()

    # ------------------------------------------------------------ kill while typing
    def typed_text(self, chars):
        base = "abcdefghijklmnopqrstuvwxyz0123456789"
        # each block of 36 carries its number, so a prefix is never ambiguous
        out = []
        n = 0
        while len("".join(out)) < chars:
            out.append(f"{base}{n:03d}")
            n += 1
        return "".join(out)[:chars]

    def kill_typing(self, editor, case, run):
        if case == "rich":
            src = f"{self.out}/files/rich.rtf"
            make_rich(src)
        else:
            src = self.file(case)
        s = Session(self, f"killtype-{editor.name}-{case}-{run}")
        try:
            path = os.path.join(s.docs, os.path.basename(src))
            shutil.copyfile(src, path)
            r = self.open_and_idle(s, editor, path)
            if r is None:
                self.record("killtype", editor.name, case, run, failed=1)
                return
            wid = r[4]
            self.display.focus(wid)
            rate = 10
            text = self.typed_text(rate * self.args.kill_after)
            self.display.xdo("type", "--delay", str(1000 // rate), text[:-5])
            self.shot(f"killtype-typed-{editor.name}-{case}")
            self.display.xdo("type", "--delay", str(1000 // rate), text[-5:])
            if self.args.kill_pause:
                time.sleep(self.args.kill_pause)
            drafts = self.draft_watch(editor, s).size()
            s.kill()  # at once after the last character (or the pause)
            st0 = os.stat(path)
            asked = self.restart_to_question(editor, s, path)
            recovered = 0
            if asked:
                pid, wid, _, answer = asked
                self.display.focus(wid)
                self.display.xdo("key", answer)
                wait_idle(pid, self.args.timeout)
                w = self.display.windows(pid)
                go = self.ask_save(editor, pid, w[0], path)
                self.display.xdo("key", go or "ctrl+s")
                end = time.monotonic() + 30
                while time.monotonic() < end:
                    st = os.stat(path)
                    if (st.st_ino, st.st_mtime_ns) != (st0.st_ino, st0.st_mtime_ns):
                        break
                    time.sleep(0.05)
                wait_idle(pid, self.args.timeout)
                self.shot(f"killtype-saved-{editor.name}-{case}")
                with open(path, "rb") as f:
                    saved = f.read(1 << 20)
                if case == "rich":
                    saved = re.sub(rb"\\[a-z]+-?\d* ?|[{}\r\n]", b"", saved)
                saved = saved.decode("latin-1")
                lo, hi = 0, len(text)
                while lo < hi:  # the longest typed prefix found in the saved text
                    mid = (lo + hi + 1) // 2
                    if text[:mid] in saved:
                        lo = mid
                    else:
                        hi = mid - 1
                recovered = lo
            lost = len(text) - recovered
            self.record("killtype", editor.name, case, run, draft_kb=drafts / 1024,
                        typed=len(text), recovered=recovered,
                        lost_s=lost / rate)
        finally:
            s.close()

    def main_window(self, pid, wid):
        name = " ".join(self.display.xdo("getwindowname", wid))
        return name != "Inkwell"

    # ------------------------------------------------------------ long typing
    def typing(self, editor, case, run):
        src = self.file(case)
        s = Session(self, f"typing-{editor.name}-{case}-{run}")
        try:
            path = os.path.join(s.docs, os.path.basename(src))
            shutil.copyfile(src, path)
            r = self.open_and_idle(s, editor, path)
            if r is None:
                self.record("typing", editor.name, case, run, failed=1)
                return
            _, _, rss_open, _, wid = r
            pid = s.proc.pid
            watch = (FolderWatch(s.home + "/state") if editor.name == "inkwell"
                     else FolderWatch(s.docs, r"\.kate-swp$"))
            self.display.focus(wid)
            reset_peak(pid)
            c0 = cpu_ms(pid)
            rate = 10
            text = self.typed_text(rate * self.args.typing_seconds)
            typer = subprocess.Popen(["xdotool", "type", "--delay", str(1000 // rate), text],
                                     env=self.display.env)
            while typer.poll() is None:
                watch.poll()
                time.sleep(0.2)
            sleep_watching(5, watch)
            wait_idle(pid, self.args.timeout)
            watch.poll()
            rss, hwm = mem_kb(pid)
            c1 = cpu_ms(pid)
            doc = os.path.getsize(src)
            self.record("typing", editor.name, case, run, seconds=self.args.typing_seconds,
                        typed=len(text), cpu_ms=c1 - c0, folder_kb=watch.size() / 1024,
                        largest_kb=watch.largest / 1024, written_mb=watch.written / 2**20,
                        share=watch.largest / (doc + len(text)),
                        rss_before_mb=rss_open / 1024, peak_mb=hwm / 1024)
        finally:
            s.close()


# ---------------------------------------------------------------- the table
def load_before(paths):
    """Inkwell's medians per (scenario, case, metric) from earlier runs.csv files."""
    found = {}
    for p in paths:
        if not os.path.exists(p):
            log(f"peers: no earlier run {p}; nothing to compare with")
            continue
        with open(p, newline="") as f:
            for row in csv.DictReader(f):
                if row["editor"] == "inkwell":
                    key = (row["scenario"], row["case"], row["metric"])
                    found.setdefault(key, []).append(float(row["value"]))
    return {k: statistics.median(v) for k, v in found.items()}


def summarize(bench, path, before=None):
    before = before or {}
    rows = bench.rows
    groups = {}
    for scen, ed, case, run, k, v in rows:
        groups.setdefault((scen, case, k), {}).setdefault(ed, []).append(v)
    lines = []
    order = []
    for key in groups:
        if key[:2] not in order:
            order.append(key[:2])
    for scen, case in order:
        lines.append(f"\n### {scen}: {case}\n")
        eds = sorted({ed for (s2, c2, _), d in groups.items() if (s2, c2) == (scen, case)
                      for ed in d}, key=lambda e: e != "inkwell")
        head = ["metric"] + eds + (["Inkwell/KWrite"] if len(eds) > 1 else [])
        if before:
            head += ["Inkwell before", "now/before"]
        lines.append("| " + " | ".join(head) + " |")
        lines.append("|---" * len(head) + "|")
        for (s2, c2, k), d in groups.items():
            if (s2, c2) != (scen, case):
                continue
            cells, meds = [], {}
            for ed in eds:
                vals = d.get(ed, [])
                if not vals:
                    cells.append("–")
                    continue
                meds[ed] = statistics.median(vals)
                fmt = (lambda x: f"{x:.2f}") if meds[ed] < 10 else (lambda x: f"{x:.0f}")
                cells.append(fmt(meds[ed]) + (" (" + " ".join(fmt(x) for x in vals) + ")"
                                              if len(vals) > 1 else ""))
            ratio = ""
            if len(eds) > 1:
                a, b = meds.get("inkwell"), meds.get("kwrite")
                ratio = f" {a / b:.2f} |" if a is not None and b else " – |"
            if before:
                was, now = before.get((scen, case, k)), meds.get("inkwell")
                ratio += (f" {was:.2f} |" if was is not None and was < 10 else
                          f" {was:.0f} |" if was is not None else " – |")
                ratio += f" {now / was:.2f} |" if was and now is not None else " – |"
            lines.append(f"| {k} | " + " | ".join(cells) + " |" + ratio)
    text = "\n".join(lines) + "\n"
    with open(path, "w") as f:
        f.write(f"Medians (each run in brackets), load at the end {loadavg()}.\n" + text)
    return text


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--inkwell", required=True)
    ap.add_argument("--kwrite-root", required=True)
    ap.add_argument("--runs", type=int, default=2)
    ap.add_argument("--scenarios", default="open,key,recovery,killtype,typing")
    ap.add_argument("--sizes", default="10,50,200")
    ap.add_argument("--lines", default="short,long")
    ap.add_argument("--editors", default="inkwell,kwrite")
    ap.add_argument("--timeout", type=int, default=120)
    ap.add_argument("--key-wait", type=int, default=35)
    ap.add_argument("--kill-after", type=int, default=20)
    ap.add_argument("--answer-delay", type=float, default=0,
                    help="seconds from the recovery question to the answer")
    ap.add_argument("--kill-pause", type=float, default=0,
                    help="seconds between the last character and the kill")
    ap.add_argument("--typing-seconds", type=int, default=120)
    ap.add_argument("--big", type=int, default=50, help="MB of the file edited")
    ap.add_argument("--before", default="",
                    help="comma-separated runs.csv files of an earlier run to compare with")
    args = ap.parse_args()
    scenarios = args.scenarios.split(",")
    eds = args.editors.split(",")
    bench = Bench(args)
    log(f"Display {bench.display.name}; load before: {loadavg()}")
    started = time.monotonic()
    open_cases = [f"gbk-{mb}MB-{kind}" for kind in args.lines.split(",")
                  for mb in args.sizes.split(",")]
    big = f"gbk-{args.big}MB-short"
    for c in open_cases + [big]:
        bench.file(c)
    try:
        for run in range(1, args.runs + 1):
            log(f"Run {run} of {args.runs}")
            if "open" in scenarios:
                for case in open_cases:
                    for ed in eds:
                        bench.open(bench.editors[ed], case, run)
            for scen, fn, cases, who in (
                    ("key", bench.key_save, [big], eds),
                    ("recovery", bench.recovery, [big], eds),
                    ("killtype", bench.kill_typing, ["rich", big], eds),
                    ("typing", bench.typing, [big], eds)):
                if scen not in scenarios or (scen == "typing" and run > 1):
                    continue
                for case in cases:
                    for ed in who:
                        # KWrite has no rich text: it would type into RTF code
                        if ed in eds and not (ed == "kwrite" and case == "rich"):
                            fn(bench.editors[ed], case, run)
    finally:
        bench.display.close()
        shutil.rmtree(bench.scratch, ignore_errors=True)
    log(f"Load after: {loadavg()}; {time.monotonic() - started:.0f} s")
    before = load_before([p for p in args.before.split(",") if p])
    print(summarize(bench, f"{args.out}/table.md", before))


if __name__ == "__main__":
    main()
