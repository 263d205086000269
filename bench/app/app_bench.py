#!/usr/bin/env python3
"""The real program under an X display: start time, polling CPU, memory.

    bench/app/app_bench.py <module dir> [starts] [--times]   (under a display)

With --times only the start and dialog figures are measured (the Wayland
runs: scripts/wayland-session.sh gives the display).

Each run copies the module directory and adds a script to the real start page
(res/selectSong.html). Prints, one a line, "<figure> <value> ..." lines that
bench/run reads:

  start_to_load_s <s>...   one per start (WebKit's sandbox on, as the program
                           runs where the system allows it; the lines
                           ..._nosandbox_s are the same figures with it off,
                           taken alternately): the page's load event (its own
                           performance.timeOrigin + performance.now(), in
                           system-clock time, stored with ZBL_SetZBName)
                           minus the system-clock time at which the program
                           was spawned. The load handler then calls
                           ZBL_CloseWindow().
  poll_cpu_pct <p>...      the UI process's CPU time (utime+stime from
                           /proc/<pid>/stat) over each of three 10-second
                           windows while the page reads ZBL_tsStatus every
                           100 ms, in percent of one core
  idle_cpu_pct <p>...      the same windows with the page loaded and idle
  rss_ui_kb <kB>...        VmRSS of the UI process, at the start of each window
  rss_web<i>_kb <kB>...    VmRSS of each WebKitWebProcess below it, at the
                           same moments
  web_processes <n>
  dialog_to_painted_s <s>...  ZBL_ShowModalDialog of the About page to its
                           first frame painted after load, 2 runs of 5 in a row
  pss_start_mb <pss>/<distinct>...   tree PSS and distinct resident pages
                           (MB) 5 s after the start page's load, 3 runs
                           (a spare web process, when there is one, counts)
  pss_dialog_mb ...        the same with the About dialog open, 3 runs
  pss_parts_<case>_mb <process>:<pss>...   each process's PSS in the run
                           with the median tree PSS
  pss_ringtones_mb ...     after the first and the thirtieth ringtone
  bare_...                 the same figures of bench/bare_view
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

LOAD = """<script>
addEventListener('load', function () {
  var x = window.external;
  x.ZBL_SetZBName((performance.timeOrigin + performance.now()).toFixed(3));
  x.ZBL_CloseWindow();
});
</script>"""

# The page reports through the settings store: the UI process writes a value
# at once and traces the write on its standard output (a web process's console
# output may be lost when the program closes). Marks: 2 s after load (the
# page settles), then every 10 s; the page closes after 30 s.
POLL = """<script>
addEventListener('load', function () {
  var x = window.external, poll = %s, n = 0;
  setTimeout(function () {
    if (poll) setInterval(function () { n += x.ZBL_tsStatus; }, 100);
    var marks = 0;
    x.ZBL_SetZBNetwork('mark ' + marks);
    var t = setInterval(function () {
      x.ZBL_SetZBNetwork('mark ' + (++marks) + ' ' + n);
      if (marks == 3) { clearInterval(t); setTimeout(function () { x.ZBL_CloseWindow(); }, 500); }
    }, 10000);
  }, 2000);
});
</script>"""

CLK_TCK = os.sysconf("SC_CLK_TCK")


def with_script(res, name, html, script):
    """The page with `script` added before </body>. The pages allow only
    their own scripts, so an inline <script> goes into a file of its own."""
    if script.startswith("<script>") and script.rstrip().endswith("</script>"):
        js = os.path.splitext(name)[0] + "-bench.js"
        with open(os.path.join(res, js), "w", encoding="utf-8") as f:
            f.write(script.strip()[len("<script>"):-len("</script>")])
        script = '<script src="%s"></script>' % js
    return html.replace("</body>", script + "\n</body>", 1)


def module_copy(src, work, script):
    m = os.path.join(work, "m")
    os.makedirs(m)
    shutil.copy2(os.path.join(src, "zimbrel"), m)
    shutil.copytree(os.path.join(src, "extensions"), os.path.join(m, "extensions"), symlinks=True)
    shutil.copytree(os.path.join(src, "res"), os.path.join(m, "res"), symlinks=True)
    page = os.path.join(m, "res", "selectSong.html")
    with open(page, encoding="utf-8") as f:
        html = f.read()
    html = with_script(os.path.join(m, "res"), "selectSong.html", html, script)
    with open(page, "w", encoding="utf-8") as f:
        f.write(html)
    return m


# Whether the program's web processes run in WebKit's sandbox (on unless
# the system refuses it); the figures are taken both ways.
SANDBOX = {"on": True}


def env_for(work):
    e = dict(os.environ)
    e["ZIMBREL_REGISTRY_DIR"] = os.path.join(work, "reg")
    # No session bus: each measured program runs alone, never handing its
    # start over to a Zimbrel the user has open.
    e["DBUS_SESSION_BUS_ADDRESS"] = ""
    if not e.get("WAYLAND_DISPLAY"):
        e["WEBKIT_DISABLE_COMPOSITING_MODE"] = "1"  # Xvfb
    if not SANDBOX["on"]:
        e["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1"
    return e


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        s = f.read()
    fields = s[s.rfind(")") + 2:].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants(pid):
    kids = {}
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % d) as f:
                s = f.read()
        except OSError:
            continue
        comm = s[s.find("(") + 1:s.rfind(")")]
        ppid = int(s[s.rfind(")") + 2:].split()[1])
        kids.setdefault(ppid, []).append((int(d), comm))
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        for c, comm in kids.get(p, []):
            out.append((c, comm))
            todo.append(c)
    return out


def run_lines(mod, work, on_line, timeout):
    """Runs the program; calls on_line(proc, line) for each stdout line.
    Returns the system-clock time just before the spawn."""
    t0 = time.time()
    p = subprocess.Popen([os.path.join(mod, "zimbrel")], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, env=env_for(work), text=True, bufsize=1)
    timer = threading.Timer(timeout, p.kill)
    timer.start()
    try:
        for line in p.stdout:
            on_line(p, line)
    finally:
        p.wait()
        timer.cancel()
    return t0


def start_times(src, starts):
    out = []
    for _ in range(starts):
        work = tempfile.mkdtemp(prefix="zb-appbench-")
        try:
            mod = module_copy(src, work, LOAD)
            spawned = run_lines(mod, work, lambda p, line: None, 60)
            value = os.path.join(work, "reg", "HKEY_CURRENT_USER", "Software", "Zimbrel", "ZBName")
            try:
                with open(value, "rb") as f:
                    loaded = float(f.read()[4:].decode()) / 1000.0
            except (OSError, ValueError):
                raise SystemExit("app_bench: the start page never reported its load event")
            out.append(loaded - spawned)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return out


def windows(src, poll):
    work = tempfile.mkdtemp(prefix="zb-appbench-")
    try:
        mod = module_copy(src, work, POLL % ("true" if poll else "false"))
        samples = []  # (wall, ticks, rss_ui, rss_web, web count)

        def on_line(p, line):
            if 'writing current value of key "ZBNetwork"' not in line:
                return
            # comm holds 15 bytes: "WebKitWebProces".
            web = [c for c, comm in descendants(p.pid) if comm.startswith("WebKitWebProc")]
            samples.append((time.monotonic(), cpu_ticks(p.pid), rss_kb(p.pid),
                            {c: rss_kb(c) for c in web}))

        run_lines(mod, work, on_line, 120)
        if len(samples) != 4:
            raise SystemExit("app_bench: expected 4 marks, got %d" % len(samples))
        cpu = []
        for a, b in zip(samples, samples[1:]):
            cpu.append(100.0 * (b[1] - a[1]) / CLK_TCK / (b[0] - a[0]))
        return cpu, samples
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---------- Bare web view, dialogs, memory ----------

BARE_LOAD = """<script>
addEventListener('load', function () {
  document.title = 'load ' + (performance.timeOrigin + performance.now()).toFixed(3);
});
</script>"""

# A dialog page reports the first frame after its load finished: the second
# animation frame after the load event has the first one painted.
PAINTED = """<script>
addEventListener('load', function () {
  requestAnimationFrame(function () { requestAnimationFrame(function () {
    var t = (performance.timeOrigin + performance.now()).toFixed(3);
    if (window.external && window.external.ZBL_SetZBPhone) {
      window.external.ZBL_SetZBPhone(t); window.external.ZBL_CloseWindow();
    } else { document.title = 'painted ' + t; }
  }); });
});
</script>"""

DIALOGS = """<script>
addEventListener('load', function () { setTimeout(function () {
  var x = window.external, base = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');
  var out = [];
  for (var i = 0; i < %d; i++) {
    var t0 = performance.timeOrigin + performance.now();
    x.ZBL_ShowModalDialog('About Zimbrel', base + 'aboutBox.html', '', 100, 100, 247, 270);
    out.push(((Number(x.ZBL_GetZBPhone()) - t0) / 1000).toFixed(4));
  }
  x.ZBL_SetZBName(out.join(' '));
  x.ZBL_CloseWindow();
}, 1000); });
</script>"""

BARE_DIALOGS = """<script>
var n = 0;
function next() {
  n++;
  document.title = n > %d ? 'quit' : 'open ' + n + ' ' + (performance.timeOrigin + performance.now()).toFixed(3);
}
addEventListener('load', function () { setTimeout(next, 1000); });
</script>"""

STAY = """<script>
addEventListener('load', function () {
  var x = window.external;
  if (x && x.ZBL_SetZBNetwork) x.ZBL_SetZBNetwork('loaded');
  else document.title = 'shown';
});
</script>"""

OPEN_ONE = """<script>
addEventListener('load', function () { setTimeout(function () {
  var x = window.external, base = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');
  if (x && x.ZBL_ShowModalDialog) {
    x.ZBL_SetZBName('loaded');
    x.ZBL_ShowModalDialog('About Zimbrel', base + 'aboutBox.html', '', 100, 100, 247, 270);
  } else { document.title = 'open'; }
}, 500); });
</script>"""

# Thirty ringtones made in one run, each played in an audio element as the
# start page's player does; marks after the first and the last.
RINGTONES = """<!doctype html><body><audio id=a preload=metadata></audio><script>
var x = window.external, dir = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');
var song = %s, n = 0;
function wait(read, done) { var t = setInterval(function () { var v = read(); if (done(v)) clearInterval(t); }, 50); }
function one() {
  n++;
  var out = dir + 'tmp/r' + n + '.mp3';
  x.ZBL_TranscodeMedia(song, out);
  wait(function () { return x.ZBL_tsStatus; }, function (s) {
    if (s === 0) return false;
    x.ZBL_NormalizeAudio(out);
    wait(function () { return x.ZBL_norStatus; }, function (v) {
      if (v < 100) return false;
      var a = document.getElementById('a');
      a.onloadedmetadata = function () {
        if (n === 1 || n === 30) { x.ZBL_SetZBNetwork('mark ' + n); }
        setTimeout(n < 30 ? one : function () { x.ZBL_CloseWindow(); }, n === 1 || n === 30 ? 6500 : 50);
      };
      a.src = 'tmp/r' + n + '.mp3'; a.load();
      return true;
    });
    return true;
  });
}
setTimeout(one, 500);
</script></body>"""


def file_uri(path):
    return "file://" + urllib.parse.quote(path)


def page_copy(src, work, name, script, base_page=None):
    m = module_copy(src, work, "") if not os.path.isdir(os.path.join(work, "m")) else os.path.join(work, "m")
    page = os.path.join(m, "res", name)
    with open(os.path.join(m, "res", base_page or name), encoding="utf-8") as f:
        html = f.read()
    html = with_script(os.path.join(m, "res"), name, html, script)
    with open(page, "w", encoding="utf-8") as f:
        f.write(html)
    return m


def bare_lines(bare, args, on_line, timeout):
    t0 = time.time()
    p = subprocess.Popen([bare] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=env_for(tempfile.gettempdir()), text=True, bufsize=1)
    timer = threading.Timer(timeout, p.kill)
    timer.start()
    try:
        for line in p.stdout:
            if on_line(p, line.strip()):
                break
    finally:
        p.kill()
        p.wait()
        timer.cancel()
    return t0


def bare_start_times(src, bare, starts):
    out = []
    for _ in range(starts):
        work = tempfile.mkdtemp(prefix="zb-appbench-")
        try:
            m = page_copy(src, work, "selectSong.html", BARE_LOAD)
            seen = []
            t0 = bare_lines(bare, [file_uri(os.path.join(m, "res", "selectSong.html"))],
                            lambda p, l: seen.append(l) or l.startswith("load "), 60)
            loads = [float(l.split()[1]) / 1000 for l in seen if l.startswith("load ")]
            if loads:
                out.append(loads[0] - t0)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return out


def dialog_times(src, n):
    work = tempfile.mkdtemp(prefix="zb-appbench-")
    try:
        m = page_copy(src, work, "selectSong.html", DIALOGS % n)
        page_copy(src, work, "aboutBox.html", PAINTED)
        run_lines(m, work, lambda p, line: None, 120)
        value = os.path.join(work, "reg", "HKEY_CURRENT_USER", "Software", "Zimbrel", "ZBName")
        with open(value, "rb") as f:
            return [float(v) for v in f.read()[4:].decode().split()]
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bare_dialog_times(src, bare, n):
    work = tempfile.mkdtemp(prefix="zb-appbench-")
    try:
        m = page_copy(src, work, "selectSong.html", BARE_DIALOGS % n)
        page_copy(src, work, "aboutBox.html", PAINTED)
        seen = []
        bare_lines(bare, [file_uri(os.path.join(m, "res", "selectSong.html")),
                          file_uri(os.path.join(m, "res", "aboutBox.html"))],
                   lambda p, l: seen.append(l) or l == "quit", 120)
        out, opened = [], None
        for l in seen:
            if l.startswith("open "):
                opened = float(l.split()[2])
            elif l.startswith("painted ") and opened is not None:
                out.append((float(l.split()[1]) - opened) / 1000)
                opened = None
        return out
    finally:
        shutil.rmtree(work, ignore_errors=True)


def tree_memory(pid):
    """PSS summed over the process and every process below it (smaps_rollup),
    and the tree's distinct resident pages (each physical page once, from
    pagemap): the second does not depend on what other programs of the
    machine share with the tree. Also the PSS of each process, by name."""
    procs = [(pid, "ui")] + descendants(pid)
    pss, frames, parts = 0, set(), []
    for p, comm in procs:
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        pss += int(line.split()[1])
                        parts.append((comm, int(line.split()[1]) / 1024.0))
            regions = []
            with open("/proc/%d/smaps" % p) as f:
                cur = None
                for line in f:
                    a = line.split()
                    if not a[0].endswith(":") and "-" in a[0]:
                        lo, hi = (int(v, 16) for v in a[0].split("-"))
                        cur = [lo, hi, 0]
                        regions.append(cur)
                    elif a[0] == "Rss:":
                        cur[2] = int(a[1])
            with open("/proc/%d/pagemap" % p, "rb") as pm:
                for lo, hi, rss in regions:
                    if rss == 0:
                        continue
                    pm.seek((lo // 4096) * 8)
                    for (e,) in struct.iter_unpack("<Q", pm.read(((hi - lo) // 4096) * 8)):
                        if e >> 63 & 1:
                            frames.add(e & ((1 << 55) - 1))
        except OSError:
            continue
    return pss / 1024.0, len(frames) * 4 / 1024.0, parts


def settle_and_measure(pid, ready, timeout=60):
    deadline = time.time() + timeout
    while not ready() and time.time() < deadline:
        time.sleep(0.05)
    if not ready():
        raise SystemExit("app_bench: the page never got ready")
    time.sleep(5)
    return tree_memory(pid)


def program_memory(src, case, song=None):
    work = tempfile.mkdtemp(prefix="zb-appbench-")
    try:
        if case == "start":
            m = page_copy(src, work, "selectSong.html", STAY)
        elif case == "dialog":
            m = page_copy(src, work, "selectSong.html", OPEN_ONE)
            page_copy(src, work, "aboutBox.html", STAY)
        else:
            m = module_copy(src, work, "")
            with open(os.path.join(m, "res", "selectSong.html"), "w") as f:
                f.write(RINGTONES % json.dumps(song))
        reg = os.path.join(work, "reg", "HKEY_CURRENT_USER", "Software", "Zimbrel", "ZBNetwork")

        def value():
            try:
                with open(reg, "rb") as f:
                    return f.read()[4:].decode()
            except OSError:
                return ""
        p = subprocess.Popen([os.path.join(m, "zimbrel")], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=env_for(work))
        try:
            if case != "ringtones":
                return [settle_and_measure(p.pid, lambda: value() == "loaded")]
            first = settle_and_measure(p.pid, lambda: value() == "mark 1", 120)
            last = settle_and_measure(p.pid, lambda: value() == "mark 30", 600)
            return [first, last]
        finally:
            p.kill()
            p.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bare_memory(src, bare, case):
    work = tempfile.mkdtemp(prefix="zb-appbench-")
    try:
        m = page_copy(src, work, "selectSong.html", STAY if case == "start" else OPEN_ONE)
        page_copy(src, work, "aboutBox.html", STAY)
        result = []

        def on_line(p, line):
            if line == "shown":
                time.sleep(5)
                result.append(tree_memory(p.pid))
                return True
            return False
        bare_lines(bare, [file_uri(os.path.join(m, "res", "selectSong.html")),
                          file_uri(os.path.join(m, "res", "aboutBox.html"))], on_line, 60)
        return result
    finally:
        shutil.rmtree(work, ignore_errors=True)


def make_song(work):
    path = os.path.join(work, "song.wav")
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100:duration=5", "-ac", "2", path],
                   check=True)
    return path


def mem_line(name, rows):
    print("%s %s" % (name, " ".join("%.1f/%.1f" % (r[0], r[1]) for r in rows)), flush=True)


PROCESS_NAMES = {"ui": "ui", "WebKitWebProces": "web", "WebKitNetworkPr": "network"}


def parts_line(name, rows):
    """The PSS of each process in the run with the median tree PSS."""
    row = sorted(rows, key=lambda r: r[0])[len(rows) // 2]
    print("%s %s" % (name, " ".join("%s:%.1f" % (PROCESS_NAMES.get(c, c), v) for c, v in row[2])),
          flush=True)


def memory_rows(src, bare, case, runs):
    """`runs` measurements of the program and of the bare view, alternating."""
    prog, base = [], []
    for _ in range(runs):
        prog += program_memory(src, case)
        base += bare_memory(src, bare, case)
    mem_line("pss_%s_mb" % case, prog)
    parts_line("pss_parts_%s_mb" % case, prog)
    mem_line("bare_pss_%s_mb" % case, base)


def main():
    args = [a for a in sys.argv[1:] if a != "--times"]
    src = os.path.abspath(args[0])
    starts = int(args[1]) if len(args) > 1 else 10
    bare = os.path.join(src, "bench", "bare_view")
    # Starts and dialogs with the sandbox on and off, alternating.
    t, t_off, d, d_off = [], [], [], []
    for _ in range(starts):
        for on, out in ((True, t), (False, t_off)):
            SANDBOX["on"] = on
            out += start_times(src, 1)
    for _ in range(2):
        for on, out in ((True, d), (False, d_off)):
            SANDBOX["on"] = on
            out += dialog_times(src, 5)
    SANDBOX["on"] = True
    print("start_to_load_s " + " ".join("%.4f" % v for v in t), flush=True)
    print("start_to_load_nosandbox_s " + " ".join("%.4f" % v for v in t_off), flush=True)
    if "--times" in sys.argv:
        print("dialog_to_painted_s " + " ".join("%.4f" % v for v in d), flush=True)
        print("dialog_to_painted_nosandbox_s " + " ".join("%.4f" % v for v in d_off), flush=True)
        return
    print("bare_start_to_load_s " + " ".join("%.4f" % v for v in bare_start_times(src, bare, starts)),
          flush=True)
    print("dialog_to_painted_s " + " ".join("%.4f" % v for v in d), flush=True)
    print("dialog_to_painted_nosandbox_s " + " ".join("%.4f" % v for v in d_off), flush=True)
    print("bare_dialog_to_painted_s " + " ".join("%.4f" % v for v in bare_dialog_times(src, bare, 10)),
          flush=True)
    memory_rows(src, bare, "start", 3)
    memory_rows(src, bare, "dialog", 3)
    songdir = tempfile.mkdtemp(prefix="zb-appbench-song-")
    try:
        mem_line("pss_ringtones_mb", program_memory(src, "ringtones", make_song(songdir)))
    finally:
        shutil.rmtree(songdir, ignore_errors=True)
    cpu, samples = windows(src, True)
    print("poll_cpu_pct " + " ".join("%.3f" % v for v in cpu), flush=True)
    print("rss_ui_kb " + " ".join(str(s[2]) for s in samples[:3]))
    for i, pid in enumerate(sorted(samples[0][3])):
        print("rss_web%d_kb " % (i + 1) + " ".join(str(s[3].get(pid, 0)) for s in samples[:3]))
    print("web_processes %d" % len(samples[0][3]), flush=True)
    idle, _ = windows(src, False)
    print("idle_cpu_pct " + " ".join("%.3f" % v for v in idle), flush=True)


if __name__ == "__main__":
    main()
