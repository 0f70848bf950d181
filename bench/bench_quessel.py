#!/usr/bin/env python3
"""The tray helper's popup latency, idle wake-ups and memory.

  bench/bench_quessel.py BUILD_DIR [RUNS] [IDLE_SECONDS]

Runs BUILD_DIR/bin/quessel on a display of its own (xvfb-run, X11, no
accessibility bridge, the record-only tray) in a network namespace of its
own where one can be had (its single-instance name is then its own), with
a fixture data tree, a hosts file and loopback stand-ins of the server's
management port (answers "active") and SOAP port, and prints:
  - the time from a new client's file appearing in the access tree's deny
    folder to the popup's X window being viewable (polled with xwininfo on
    the window the automation socket names), over RUNS new clients (default
    20) that come at random points of quessel's 1 s tick, each popup
    dismissed (Cancel) and gone before the next: slowest, median and min;
  - wake-ups per minute of quessel while idle (voluntary + involuntary
    context switches from /proc/<pid>/status of the main thread, and summed
    over all threads from /proc/<pid>/task, over IDLE_SECONDS, default 30,
    scaled to a minute), and its VmRSS.
"""
import http.server
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_haldor import Management, Tool, idle_switches, rss_kib  # noqa: E402

TARGET_S = 1.5
TICK_S = 1.0  # quessel looks at its access watch once a tick
SHOW_LIMIT_S = 5


def reexec_isolated():
    """Into a network namespace of its own (loopback up), then onto a display
    of its own."""
    if not os.environ.get("TARVO_BENCH_NETNS"):
        os.environ["TARVO_BENCH_NETNS"] = "1"
        if subprocess.run(["unshare", "-rn", "true"], capture_output=True).returncode == 0:
            os.execvp("unshare", ["unshare", "-rn", sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
        print("no network namespace: quessel runs in the shared one", file=sys.stderr)
        os.environ["TARVO_BENCH_NETNS"] = "shared"
    if os.environ["TARVO_BENCH_NETNS"] == "1" and not os.environ.get("TARVO_BENCH_XVFB"):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    if os.environ.get("TARVO_BENCH_XVFB"):
        return
    args = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24 -nolisten tcp", "env", "TARVO_BENCH_XVFB=1",
            "GDK_BACKEND=x11", "NO_AT_BRIDGE=1", "GTK_A11Y=none", "LIBGL_ALWAYS_SOFTWARE=1", sys.executable,
            os.path.abspath(__file__)] + sys.argv[1:]
    os.execvp(args[0], args)


class Soap(http.server.BaseHTTPRequestHandler):
    """The SOAP port: every action succeeds, the default client state is "allow"."""

    protocol_version = "HTTP/1.1"

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        action = re.sub(r'^.*#|"$', "", self.headers.get("SOAPACTION", "").strip('"'))
        args = "<DefaultClientState>allow</DefaultClientState>" if action == "GetDefaultClientState" else ""
        body = ('<?xml version="1.0"?>\r\n<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
                's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
                f'<u:{action}Response xmlns:u="urn:x">{args}</u:{action}Response></s:Body></s:Envelope>').encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve(handler):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class Helper(Tool):
    """quessel's program folder, data tree and environment; asked and ended
    as the management tool is."""

    def __init__(self, build, dmsm, soap):
        self.bin = os.path.join(build, "bin")
        self.root = tempfile.mkdtemp(prefix="bench_quessel.")
        prog, data, run = (os.path.join(self.root, d) for d in ("prog", "data", "run"))
        self.conf = os.path.join(data, "tarvo/media/conf")
        self.deny = os.path.join(self.conf, "access/deny")
        for d in (prog, run, self.deny, os.path.join(self.conf, "access/allow"), os.path.join(data, "tarvo/quessel")):
            os.makedirs(d, exist_ok=True)
        files = {
            os.path.join(prog, "data_home"): "tarvo/media\r\n",
            os.path.join(prog, "helper_home"): "tarvo/quessel\n",
            os.path.join(prog, "tool_name"): "tool_stub\n",
            os.path.join(prog, "tool_stub"): "#!/bin/sh\n",
            os.path.join(self.conf, "dmsm_port"): f"{dmsm}\r\n",
            os.path.join(self.conf, "upnp_port"): f"{soap}\n",
            os.path.join(self.conf, "access/allow/00-11-22-33-44-55"): "127.0.0.2\n",
            os.path.join(run, "hosts"): "127.0.0.1 localhost\n",
        }
        for path, text in files.items():
            with open(path, "w", newline="") as f:
                f.write(text)
        os.chmod(os.path.join(prog, "tool_stub"), 0o755)
        for name in os.listdir(self.bin):
            if name.endswith(".png"):
                shutil.copy(os.path.join(self.bin, name), prog)
        self.stage = os.path.join(run, "stage")  # outside the watched tree
        self.sock = os.path.join(run, "ui/quessel.sock")
        self.env = dict(os.environ, TARVO_TRAY_BACKEND="record", TARVO_SERVICE_DIR=prog, TARVO_COMMON_APPDATA=data,
                        TARVO_UI_AUTOMATION=self.sock, TARVO_HOSTS_FILE=os.path.join(run, "hosts"),
                        TARVO_RUNTIME_DIR=os.path.join(run, "rt"), TARVO_WORKAREA="0,0,1024,740,3",
                        TARVO_UI_MSGBOX="record", GDK_BACKEND="x11", NO_AT_BRIDGE="1")

    def start(self):
        return subprocess.Popen([os.path.join(self.bin, "quessel")], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def new_client(self, n):
        """A client file appears in deny/ at once, with its address in it."""
        with open(self.stage, "w", newline="") as f:
            f.write("127.0.0.1\r\n")
        os.rename(self.stage, os.path.join(self.deny, f"02-00-00-00-00-{n:02x}"))


def wait_for(ok, seconds, pause=0.002):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        got = ok()
        if got:
            return got
        time.sleep(pause)
    return ok()


def viewable(xid):
    r = subprocess.run(["xwininfo", "-id", xid], capture_output=True, text=True)
    return "Map State: IsViewable" in r.stdout


def popup_xid(helper):
    state = helper.ask("popup")
    m = re.search(r"\bxid=(\d+)", state or "")
    return str(int(m.group(1))) if m and m.group(1) != "0" else None


def one_client(helper, n):
    """Seconds from the file to the popup's window viewable, then the popup
    cancelled and waited out; None when it did not show."""
    t0 = time.monotonic()
    helper.new_client(n)
    xid = wait_for(lambda: popup_xid(helper), SHOW_LIMIT_S)
    shown = xid and wait_for(lambda: viewable(xid), SHOW_LIMIT_S - (time.monotonic() - t0))
    latency = time.monotonic() - t0 if shown else None
    handle = next((l.split()[0] for l in (helper.ask("windows") or "").splitlines() if l.split()[1:] == ["#32770"]),
                  None)  # the popup: the dialog class, no title
    if handle:
        helper.ask("command", handle, "2")  # Cancel: fades out, no query
    wait_for(lambda: helper.ask("popup") is None and "item " not in (helper.ask("queue") or ""), 10, 0.01)
    # The popup goes at a tick: the next client comes at any point of a tick.
    time.sleep(random.uniform(0, TICK_S))
    return latency


def main():
    reexec_isolated()
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    idle = float(sys.argv[3]) if len(sys.argv) > 3 else 30
    dmsm, soap = serve(Management), serve(Soap)
    helper = Helper(build, dmsm.server_address[1], soap.server_address[1])
    p = helper.start()
    try:
        if not wait_for(lambda: "#32770 Quessel" in (helper.ask("windows") or ""), 10, 0.01):
            sys.exit("quessel did not start (another instance in this network namespace?)")
        wait_for(lambda: "known 00-11-22-33-44-55" in (helper.ask("queue") or ""), 5, 0.01)
        random.seed(1)
        time.sleep(random.uniform(0, TICK_S))
        times = []
        for n in range(runs):
            t = one_client(helper, n)
            if t is None:
                print(f"client {n}: no popup viewable within {SHOW_LIMIT_S} s", file=sys.stderr)
            else:
                times.append(t)
        if times:
            verdict = "under" if max(times) < TARGET_S else "NOT under"
            print(f"new client file to popup viewable ({len(times)} of {runs} clients): slowest {max(times) * 1000:.0f} ms,"
                  f" median {statistics.median(times) * 1000:.0f}, min {min(times) * 1000:.0f}"
                  f" ({verdict} the {TARGET_S} s target)")
        time.sleep(2)
        main_thread, every = (v * 60 / idle for v in idle_switches(p.pid, idle))
        print(f"quessel (pid {p.pid}): wake-ups/min idle over {idle:.0f} s: main thread {main_thread:.0f}, "
              f"all threads {every:.0f}; VmRSS {rss_kib(p.pid) / 1024:.1f} MiB")
        print("load average: " + " ".join(open("/proc/loadavg").read().split()[:3]))
    finally:
        helper.end(p)
        dmsm.shutdown()
        soap.shutdown()
        shutil.rmtree(helper.root, ignore_errors=True)


if __name__ == "__main__":
    main()
