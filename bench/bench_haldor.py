#!/usr/bin/env python3
"""The management tool's start-up time, idle wake-ups and memory.

  bench/bench_haldor.py BUILD_DIR [RUNS] [IDLE_SECONDS]

Runs BUILD_DIR/bin/haldor on a display of its own (xvfb-run, X11, software
rendering, no accessibility bridge) against a loopback stand-in of the
server's management port that answers "active", and prints:
  - the time from haldor's start to its frame on the automation socket, to
    the page's document, to the first state the page shows and to
    "server_started" (median, min, max of RUNS starts);
  - wake-ups per minute of haldor and of its web processes while idle
    (voluntary + involuntary context switches from /proc/<pid>/status of
    the main thread, and summed over all threads from /proc/<pid>/task,
    over IDLE_SECONDS, scaled to a minute);
  - resident memory (VmRSS) of haldor and of its web processes.
"""
import http.server
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def reexec_under_display():
    if os.environ.get("TARVO_BENCH_XVFB"):
        return
    args = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp", "env", "TARVO_BENCH_XVFB=1",
            "GDK_BACKEND=x11", "NO_AT_BRIDGE=1", "GTK_A11Y=none", "LIBGL_ALWAYS_SOFTWARE=1", sys.executable,
            os.path.abspath(__file__)] + sys.argv[1:]
    os.execvp(args[0], args)


class Management(http.server.BaseHTTPRequestHandler):
    """The management port: the server is running, auto-run off."""

    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.send_response(200)
        if self.path == "/get_server_state":
            self.send_header("X-DUV-STATE", "active")
        if self.path == "/get_auto_run_state":
            self.send_header("X-AUTO-RUN-STATE", "inactive")
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_POST = do_GET

    def log_message(self, *args):
        pass


def task_switches(pid):
    """Voluntary + involuntary context switches of each thread of pid."""
    out = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return out
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                out[tid] = sum(int(l.split()[1]) for l in f if l.startswith(("voluntary_ctxt", "nonvoluntary_ctxt")))
        except (FileNotFoundError, ProcessLookupError):
            pass
    return out


def idle_switches(pid, seconds):
    """(main thread, all threads) switches over seconds, sampled each 0.5 s:
    a thread that ends keeps the switches seen before it went, one that
    starts counts from 0."""
    first = task_switches(pid)
    last = dict(first)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        time.sleep(0.5)
        last.update(task_switches(pid))
    main = last.get(str(pid), 0) - first.get(str(pid), 0)
    return main, sum(v - first.get(t, 0) for t, v in last.items())


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1])
    return 0


def descendants(pid):
    """(pid, name) of every process below pid."""
    out = []
    try:
        kids = open(f"/proc/{pid}/task/{pid}/children").read().split()
    except FileNotFoundError:
        return out
    for k in kids:
        name = open(f"/proc/{k}/comm").read().strip()
        out.append((int(k), name))
        out += descendants(int(k))
    return out


class Tool:
    def __init__(self, build, port):
        self.bin = os.path.join(build, "bin")
        self.root = tempfile.mkdtemp(prefix="bench_haldor.")
        prog, data = os.path.join(self.root, "prog"), os.path.join(self.root, "data")
        os.makedirs(os.path.join(data, "tarvo/haldor"))
        os.makedirs(prog)
        setting = open(os.path.join(self.bin, "setting.xml")).read()
        setting = setting.replace("30002", str(port), 1).replace("30000", "1", 1)  # no client lists
        open(os.path.join(prog, "setting.xml"), "w").write(setting)
        for d in ("text", "page"):
            shutil.copytree(os.path.join(self.bin, d), os.path.join(prog, d))
        open(os.path.join(data, "tarvo/haldor/haldor.ini"), "w").write("[General]\r\nLang=en\r\n")
        self.sock = os.path.join(self.root, "ui/haldor.sock")
        self.env = dict(os.environ, TARVO_UI_MSGBOX="record", TARVO_SERVICE_DIR=prog, TARVO_COMMON_APPDATA=data,
                        TARVO_UI_AUTOMATION=self.sock)

    def ask(self, *req):
        r = subprocess.run([os.path.join(self.bin, "uictl"), self.sock, *req], capture_output=True, text=True)
        return r.stdout.strip() if r.returncode == 0 else None

    def start(self):
        return subprocess.Popen([os.path.join(self.bin, "haldor")], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def end(self, p):
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
        time.sleep(0.3)  # the single-instance names go with the process


def one_start(tool):
    """Seconds to the frame, to the page's document, to the first state
    shown and to "server_started"."""
    t0 = time.monotonic()
    p = tool.start()
    frame = document = first = started = None
    while started is None and time.monotonic() - t0 < 30:
        if frame is None:
            w = tool.ask("windows")
            frame = time.monotonic() - t0 if w and "HaldorMainFrame" in w else None
        state = tool.ask("html-eval", "qel_cntl_state") if frame is not None else None
        now = time.monotonic() - t0
        if state is not None and document is None:
            document = now
        if state and first is None:
            first = now
        if state == "server_started":
            started = now
        time.sleep(0.005)
    return p, (frame, document, first, started)


def main():
    reexec_under_display()
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    idle = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Management)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    tool = Tool(build, server.server_address[1])
    names = ("frame listed", "page document", "first state shown", "server_started shown")
    times = [[] for _ in names]
    p = None
    try:
        for i in range(runs):
            if p:
                tool.end(p)
            p, got = one_start(tool)
            if None in got:
                print(f"run {i}: not all shown within 30 s: {got}", file=sys.stderr)
                continue
            for t, v in zip(times, got):
                t.append(v)
        ms = lambda v: f"median {statistics.median(v) * 1000:.0f} ms, min {min(v) * 1000:.0f}, max {max(v) * 1000:.0f}"
        for name, v in zip(names, times):
            if v:
                print(f"start to {name} ({len(v)} runs): {ms(v)}")
        # Idle: the last run's window, left alone.
        time.sleep(5)
        procs = [(p.pid, "haldor")] + descendants(p.pid)
        counts = {}
        threads = [threading.Thread(target=lambda q=q: counts.__setitem__(q, idle_switches(q, idle))) for q, _ in procs]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for pid, name in procs:
            main, every = (v * 60 / idle for v in counts[pid])
            print(f"{name} (pid {pid}): wake-ups/min idle over {idle:.0f} s: main thread {main:.0f}, "
                  f"all threads {every:.0f}; VmRSS {rss_kib(pid) / 1024:.1f} MiB")
        total = sum(rss_kib(pid) for pid, _ in procs)
        print(f"resident memory, haldor with its web processes: {total / 1024:.1f} MiB")
        tool.end(p)
    finally:
        server.shutdown()
        shutil.rmtree(tool.root, ignore_errors=True)


if __name__ == "__main__":
    main()
