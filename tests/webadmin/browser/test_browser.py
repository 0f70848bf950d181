#!/usr/bin/env python3
"""The administration pages in a real browser: headless Chromium against
the media server's CGI runner, in a network namespace of the test's own
(loopback only, no proxy, no background networking, every host name but
the loopback addresses unresolvable).

It runs first on a host of the device stack (tests/webadmin/browser/
tollamy_host.cpp) serving the laid-out pages, then on vennard.  Covered:
the free pass from 127.0.0.1 (menu, every tab, no script errors),
and the login flow through a forwarder whose connections come from
127.0.0.3 (login page with the server name, a wrong password refused, the
right one giving the menu and one session file, logout removing it, a
session deleted behind the page's back bringing the login page with the
lost-session text; a new session id at every login).  Parts whose program
side still answers its stand-in failure are reported and skipped (exit 77).

  test_browser.py --bin <build>/bin --host <tollamy_host> --source <source tree>
"""
import argparse
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
UPNP_PORT, HTTP_PORT, DMSM_PORT, FORWARD_PORT = 31650, 31651, 31652, 31653
PASSWORD = "Secret42"
TABS = {"share": "share_page", "security": "security_page", "backup": "backup_page",
        "control": "control_page", "setting": "setting_page"}


class Skip(Exception):
    pass


def say(*a):
    print("browser:", *a, flush=True)


def private_net():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x40000000) != 0:  # CLONE_NEWNET
        raise Skip("network namespaces not allowed: " + os.strerror(ctypes.get_errno()))
    if subprocess.call(["ip", "link", "set", "lo", "up"]) != 0:
        raise Skip("cannot bring loopback up")


def wait_port(port, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("nothing listens on port %d" % port)


def forwarder(listen_port, target_port, source_ip):
    """Relays every connection to the server from source_ip."""
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", listen_port))
    srv.listen(16)

    def pipe(a, b):
        try:
            while True:
                d = a.recv(65536)
                if not d:
                    break
                b.sendall(d)
        except OSError:
            pass
        for s in (a, b):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def serve():
        while True:
            c, _ = srv.accept()
            up = socket.socket()
            up.bind((source_ip, 0))
            up.connect(("127.0.0.1", target_port))
            threading.Thread(target=pipe, args=(c, up), daemon=True).start()
            threading.Thread(target=pipe, args=(up, c), daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()


class Server:
    """A data folder laid out by scripts/layout-data, served by the test's
    device-stack host or by vennard."""

    def __init__(self, args, top):
        self.args = args
        self.data = os.path.join(top, "data")
        self.service = os.path.join(top, "service")
        os.makedirs(self.service)
        env = dict(os.environ, TARVO_BUILD_DIR=os.path.dirname(args.bin), TARVO_ADMIN_PASSWORD=PASSWORD)
        subprocess.check_call([os.path.join(args.source, "scripts", "layout-data"), self.data, str(UPNP_PORT),
                               str(HTTP_PORT), str(DMSM_PORT)], env=env, stdout=subprocess.DEVNULL)
        with open(os.path.join(self.service, "service_name"), "w") as f:
            f.write("Tarvo Media Server\n")
        with open(os.path.join(self.service, "data_home"), "w") as f:
            f.write(self.data + "\n")
        open(os.path.join(self.data, "conf", "auto_run"), "w").close()
        self.log = open(os.path.join(top, "server.log"), "w")
        self.proc = None

    def start(self, which):
        if which == "host":
            cmd = [self.args.host, os.path.join(self.data, "conf", "upnp_root"), str(UPNP_PORT)]
        else:
            cmd = [os.path.join(self.args.bin, "vennard")]
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=self.log,
                                     env=dict(os.environ, TARVO_SERVICE_DIR=self.service))
        wait_port(UPNP_PORT)

    def sessions(self):
        d = os.path.join(self.data, "conf", "tollamy", "session")
        return sorted(os.listdir(d)) if os.path.isdir(d) else []

    def stop(self):
        if not self.proc:
            return
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.proc = None


def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        raise Skip("python3-selenium is not installed")
    chromium = shutil.which("chromium")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        raise Skip("chromium and chromium-driver are not installed")
    o = webdriver.ChromeOptions()
    o.binary_location = chromium
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-proxy-server",
              "--disable-background-networking", "--disable-sync", "--no-first-run", "--disable-extensions",
              "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE 127.0.0.3"):
        o.add_argument(a)
    o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    d = webdriver.Chrome(service=Service(driver), options=o)
    d.set_page_load_timeout(20)
    d.set_script_timeout(20)
    return d


def wait(d, test, what, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        v = d.execute_script(test)
        if v:
            return v
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def script_errors(d):
    return [e["message"] for e in d.get_log("browser") if e.get("level") == "SEVERE"]


def check(cond, what):
    if not cond:
        raise AssertionError(what)
    say("ok:", what)


def free_pass(d, server):
    d.get("http://127.0.0.1:%d/admin/index.html" % UPNP_PORT)
    wait(d, "return document.getElementById('menu_tabs')", "the menu")
    check(d.execute_script("return document.getElementById('menu_tabs').querySelectorAll('.tab').length") == 6,
          "the menu has its five tabs and the logout")
    check(not d.execute_script("return document.getElementById('login_form')"), "no login from 127.0.0.1")
    errors = script_errors(d)
    check(not errors, "no script errors in the console after the menu " + repr(errors))
    for tab, root in TABS.items():
        d.execute_script("document.getElementById('tab_%s').click()" % tab)
        wait(d, "return document.getElementById('page_loading').hidden", "the %s page" % tab)
        if d.execute_script("return !!document.querySelector('#page #menu')"):
            raise Skip("the page controllers still answer every page with the menu")
        check(d.execute_script("return !!document.getElementById('%s')" % root), "the %s tab shows its page" % tab)
    errors = script_errors(d)
    check(not errors, "no script errors in the console " + repr(errors))


def login_flow(d, server):
    base = "http://127.0.0.1:%d/admin/index.html" % FORWARD_PORT
    d.get(base)
    # The login page, or the failure text that the page shows instead.
    state = wait(d, "var s = document.getElementById('status');"
                    "return document.getElementById('login_form') ? 'login' :"
                    " s && !s.hidden ? 'failed: ' + s.textContent :"
                    " document.getElementById('main') && !document.getElementById('start_loading') ?"
                    " 'failed: ' + document.getElementById('main').textContent : ''", "the login page")
    if state != "login":
        if state.startswith("failed"):
            raise Skip("the login page needs the server's friendly name, which the server bridge does not read "
                       "yet (%s)" % state)
        raise AssertionError("no login page: " + d.page_source[:300])
    check(d.execute_script("return document.getElementById('login_server_name').textContent") != "",
          "the login page names the server")
    d.execute_script("document.getElementById('login_password').value = 'wrong';"
                     "document.getElementById('login_button').click()")
    wait(d, "return document.getElementById('login_message').textContent", "the refusal", 20)
    check(not server.sessions(), "a wrong password makes no session")
    ids = []
    for round in range(2):
        d.execute_script("document.getElementById('login_password').value = arguments[0];"
                         "document.getElementById('login_button').click()", PASSWORD)
        wait(d, "return document.getElementById('menu_tabs')", "the menu after the login")
        check(len(server.sessions()) == 1, "one session file after the login")
        ids.append(d.execute_script("return tollamy.session_id"))
        check(ids[-1] in server.sessions(), "the page holds the session's id")
        d.execute_script("document.getElementById('tab_logout').click()")
        wait(d, "return document.getElementById('login_form')", "the login page after the logout")
        check(not server.sessions(), "the logout removed the session file")
    check(ids[0] != ids[1], "every login gives a new session id")
    d.execute_script("document.getElementById('login_password').value = arguments[0];"
                     "document.getElementById('login_button').click()", PASSWORD)
    wait(d, "return document.getElementById('menu_tabs')", "the menu")
    for s in server.sessions():
        os.remove(os.path.join(server.data, "conf", "tollamy", "session", s))
    d.execute_script("document.getElementById('tab_share').click()")
    wait(d, "return document.getElementById('login_form')", "the login page after the session was lost")
    check(d.execute_script("return document.getElementById('login_lost_session').textContent") != "",
          "the login page tells that the session was lost")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bin", required=True)
    p.add_argument("--host", required=True)
    p.add_argument("--source", required=True)
    args = p.parse_args()
    signal.alarm(240)
    top = tempfile.mkdtemp(prefix="tollamy_browser_")
    server = d = None
    skipped = []
    try:
        private_net()
        server = Server(args, top)
        forwarder(FORWARD_PORT, UPNP_PORT, "127.0.0.3")
        d = browser()
        # The host admits every peer, so the forwarder's 127.0.0.3 is a
        # client from elsewhere; the media server itself admits only
        # clients it knows by their hardware address, so it gets the
        # free-pass run alone.
        for which, cases in (("host", (free_pass, login_flow)), ("vennard", (free_pass,))):
            server.start(which)
            for case in cases:
                try:
                    case(d, server)
                except Skip as e:
                    skipped.append("%s, %s: %s" % (which, case.__name__, e))
            server.stop()
    except Skip as e:
        skipped.append(str(e))
    finally:
        if d:
            d.quit()
        if server:
            server.stop()
        shutil.rmtree(top, ignore_errors=True)
    for s in skipped:
        say("skipped:", s)
    return SKIP if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
