#!/usr/bin/env python3
"""The real program under an X display: start time, polling CPU, memory.

    bench/app/app_bench.py <module dir> [starts]      (run under an X display)

Each run copies the module directory and adds a script to the real start page
(res/selectSong.html). Prints, one a line, "<figure> <value> ..." lines that
bench/run reads:

  start_to_load_s <s>...   one per start: the page's load event (its own
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
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

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


def module_copy(src, work, script):
    m = os.path.join(work, "m")
    os.makedirs(m)
    shutil.copy2(os.path.join(src, "zimbrel"), m)
    shutil.copytree(os.path.join(src, "extensions"), os.path.join(m, "extensions"), symlinks=True)
    shutil.copytree(os.path.join(src, "res"), os.path.join(m, "res"), symlinks=True)
    page = os.path.join(m, "res", "selectSong.html")
    with open(page, encoding="utf-8") as f:
        html = f.read()
    html = html.replace("</body>", script + "\n</body>", 1)
    with open(page, "w", encoding="utf-8") as f:
        f.write(html)
    return m


def env_for(work):
    e = dict(os.environ)
    e["ZIMBREL_REGISTRY_DIR"] = os.path.join(work, "reg")
    e["WEBKIT_DISABLE_COMPOSITING_MODE"] = "1"
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


def main():
    src = os.path.abspath(sys.argv[1])
    starts = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    t = start_times(src, starts)
    print("start_to_load_s " + " ".join("%.4f" % v for v in t), flush=True)
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
