#!/usr/bin/env python3
"""The administration pages in a real browser: headless Chromium against
the media server's CGI runner, in a network namespace of the test's own
(loopback only, no proxy, no background networking, every host name but
the loopback addresses unresolvable).

It runs first on a host of the device stack (tests/webadmin/browser/
tollamy_host.cpp, the local server kept in memory with a known state)
serving the laid-out pages, then on vennard.  Covered on the host: the
free pass from 127.0.0.1 (menu, every tab, no script errors); the login
flow through a forwarder whose connections come from 127.0.0.3 (login page
with the server name, a wrong password refused, the right one giving the
menu and one session file, logout removing it, a session deleted behind
the page's back bringing the login page with the lost-session text; a new
session id at every login); every page and its actions, each change read
back from the host by its own SOAP actions and from the files (shares,
repair and rebuild, friendly name, file types, password, design, English
and Japanese, client lists, default state, dialog setting, backup tasks);
a friendly name with markup shown as text; changing requests from a page
of another loopback origin refused.  On vennard: the free pass, and the
Backup tab showing the server list's failure text, as the server has no
backup service.  Every case has a time bound of its own.  Parts whose
program side still answers its stand-in failure are reported and skipped
(exit 77).

  test_browser.py --bin <build>/bin --host <tollamy_host> --source <source tree>
"""
import argparse
import ctypes
import hashlib
import http.client
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

SKIP = 77
UPNP_PORT, HTTP_PORT, DMSM_PORT, FORWARD_PORT, OTHER_PORT = 31650, 31651, 31652, 31653, 31654
PASSWORD = "Secret42"
HOSTILE_NAME = "Lab <img src=x onerror=window.tollamy_pwned=1>"
DEVMGR = ("X_DeviceManager", "urn:schemas-tarvo-org:service:X_DeviceManager:1")
BACKUP = ("ContentBackup", "urn:schemas-tarvo-org:service:X_ContentBackup:1")
CDS = ("ContentDirectory", "urn:schemas-upnp-org:service:ContentDirectory:1")
FIXTURE_UDN = "uuid:5e1f0000-0000-0000-0000-00000000beef"
TABS = {"share": "share_page", "security": "security_page", "backup": "backup_page",
        "control": "control_page", "setting": "setting_page"}


class Skip(Exception):
    pass


CASE_SECONDS = 120


def overdue(*_):
    raise TimeoutError("the case took longer than %d s" % CASE_SECONDS)


def say(*a):
    print("browser:", *a, flush=True)


def private_net():
    libc = ctypes.CDLL(None, use_errno=True)
    # Any user but root makes it inside a user namespace where it is root,
    # as `unshare -r` does, so that ip and the programs keep the rights.
    uid, gid = os.geteuid(), os.getegid()
    if uid != 0:
        if libc.unshare(0x10000000) != 0:  # CLONE_NEWUSER
            raise Skip("user namespaces not allowed: " + os.strerror(ctypes.get_errno()))
        for name, text in (("uid_map", "0 %d 1" % uid), ("setgroups", "deny"), ("gid_map", "0 %d 1" % gid)):
            with open("/proc/self/" + name, "w") as f:
                f.write(text)
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


def wait(d, test, what, seconds=15, *args):
    end = time.time() + seconds
    while time.time() < end:
        v = d.execute_script(test, *args)
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


def free_pass(d, server, args):
    d.get("http://127.0.0.1:%d/admin/index.html" % UPNP_PORT)
    # The menu opens its first page once its texts are in; a tab clicked
    # before then would be taken back by it.
    wait(d, "return document.getElementById('menu_tabs') && document.getElementById('share_page')", "the menu")
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
        if tab == "backup" and args.which == "vennard":
            # The media server has no backup service: the server list
            # answers its failure, and the tab says so.
            failed = texts(args.source, "en")["COMMON_FAILED"]
            wait(d, "var b = document.getElementById('bu_server_list'); return b && b.textContent == arguments[0]",
                 "the server list's failure text", 20, failed)
            check(not d.execute_script("return document.querySelector('#bu_server_list tr')"),
                  "the backup tab shows the list's failure text and no server")
    errors = script_errors(d)
    check(not errors, "no script errors in the console " + repr(errors))
    # A tab chosen before the menu's texts have come keeps its page: the
    # texts are held back until the tab's page is shown.
    js(d, "var send = tollamy_send; tollamy_send = function (c, a, p) {"
          " if (c !== 'tollamy_message') return send(c, a, p);"
          " return new Promise(function (done) { window.tollamy_release = function () { done(send(c, a, p)); }; }); };"
          "tollamy.messages = Object.create(null); tollamy_start()")
    wait(d, "return window.tollamy_release && document.getElementById('tab_security')", "the menu without its texts")
    click(d, "#tab_security")
    shown(d, "#security_page", "the chosen page")
    js(d, "window.tollamy_release()")
    # A key of the texts' answer alone: the menu's answer brings others.
    wait(d, "return tollamy_msg('SERVER_NAME_CHANGED_MESSAGE')", "the menu's texts")
    check(js(d, "return tollamy.page == 'security' && !!document.getElementById('security_page')"),
          "the menu's first page does not take back the tab chosen meanwhile")


def settled(d, what):
    """The menu with its first page and list: no request of the menu is
    still on its way, which could come back after the test changed the
    session."""
    wait(d, "return document.querySelector('#menu_tabs') && document.querySelector('#share_list input')", what, 20)


def login_flow(d, server, args):
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
        settled(d, "the menu after the login")
        check(len(server.sessions()) == 1, "one session file after the login")
        ids.append(d.execute_script("return tollamy.session_id"))
        check(ids[-1] in server.sessions(), "the page holds the session's id")
        d.execute_script("document.getElementById('tab_logout').click()")
        wait(d, "return document.getElementById('login_form')", "the login page after the logout")
        check(not server.sessions(), "the logout removed the session file")
    check(ids[0] != ids[1], "every login gives a new session id")
    d.execute_script("document.getElementById('login_password').value = arguments[0];"
                     "document.getElementById('login_button').click()", PASSWORD)
    settled(d, "the menu")
    for s in server.sessions():
        os.remove(os.path.join(server.data, "conf", "tollamy", "session", s))
    d.execute_script("document.getElementById('tab_share').click()")
    wait(d, "return document.getElementById('login_form')", "the login page after the session was lost")
    check(d.execute_script("return document.getElementById('login_lost_session').textContent") != "",
          "the login page tells that the session was lost")


def texts(source, lang):
    root = ET.parse(os.path.join(source, "webadmin", "data", "text", "text_%s.xml" % lang)).getroot()
    return {t.findtext("id"): t.findtext("value") or "" for t in root.iter("text")}


def soap(service, action, args=()):
    """One action of the fixture host, asked directly: the host's state as
    it stands, not as the pages show it."""
    path, stype = service
    inner = "".join("<%s>%s</%s>" % (k, escape(v), k) for k, v in args)
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:%s xmlns:u="%s">%s</u:%s>'
            '</s:Body></s:Envelope>' % (action, stype, inner, action))
    c = http.client.HTTPConnection("127.0.0.1", UPNP_PORT, timeout=10)
    try:
        c.request("POST", "/control/" + path, body.encode(),
                  {"Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": '"%s#%s"' % (stype, action)})
        r = c.getresponse()
        data = r.read()
    finally:
        c.close()
    if r.status != 200:
        raise AssertionError("%s answered %d" % (action, r.status))
    out = {}
    for e in ET.fromstring(data).iter():
        if e.tag.endswith(action + "Response"):
            out = {x.tag.split("}")[-1]: x.text or "" for x in e}
    return out


def csv(text):
    """A comma list with backslash escapes, as the server writes it."""
    out, cur, esc = [], "", False
    for ch in text or "":
        if esc:
            cur, esc = cur + ch, False
        elif ch == "\\":
            esc = True
        elif ch == ",":
            out.append(cur)
            cur = ""
        else:
            cur += ch
    return out + [cur] if text else []


def host_state():
    types = soap(CDS, "X_GetFileTypeList")
    return {
        "name": soap(DEVMGR, "GetFriendlyName")["FriendlyName"],
        "shares": csv(soap(CDS, "X_ShareList")["PathList"]),
        "types": sorted(zip(csv(types["FileExtensionList"]), csv(types["MimeTypeList"]))),
        "allow": csv(soap(DEVMGR, "GetAllowList")["AllowMacList"]),
        "deny": csv(soap(DEVMGR, "GetDenyList")["DenyMacList"]),
        "default": soap(DEVMGR, "GetDefaultClientState")["DefaultClientState"],
        "tasks": csv(soap(BACKUP, "GetTaskIDs", [("UDN", FIXTURE_UDN)])["TaskIDs"]),
    }


def settle(test, what, seconds=15):
    """Polls a state outside the browser until it holds."""
    end = time.time() + seconds
    while True:
        v = test()
        if v or time.time() > end:
            check(v, what)
            return v
        time.sleep(0.1)


def js(d, script, *args):
    return d.execute_script(script, *args)


def click(d, selector):
    js(d, "document.querySelector(arguments[0]).click()", selector)


def tick(d, selector):
    js(d, "document.querySelector(arguments[0]).checked = true", selector)


def shown(d, selector, what, seconds=15):
    return wait(d, "return document.querySelector(%r)" % selector, what, seconds)


def status_after(d, action, what, seconds=20):
    """Runs the action with the status line cleared; the text it then shows."""
    js(d, "tollamy_status('')")
    action()
    return wait(d, "var s = document.getElementById('status'); return !s.hidden && s.textContent", what, seconds)


def confirmed(d):
    wait(d, "return !document.getElementById('confirm').hidden", "the confirmation box")
    click(d, "#confirm_ok")


def open_page(d, tab, root):
    click(d, "#tab_" + tab)
    shown(d, "#" + root, "the %s page" % tab)


def open_subpage(d, name, root):
    click(d, "#subtab_" + name)
    shown(d, "#subpage #" + root, "the %s setting page" % name)


def name_shown(d, what):
    """The setting page's first page with the name read into it."""
    wait(d, "var i = document.querySelector('#subpage #server_name'); return i && i.value", what, 20)


def rows(d, selector):
    return js(d, "return document.querySelectorAll(arguments[0]).length", selector)


def layout(args, top):
    """The installed administration: the program and pages under the
    document root, absolute paths in the parameter file, the resources
    outside it; without a given password one is made and printed once."""
    data = os.path.join(top, "layout")
    env = dict(os.environ, TARVO_BUILD_DIR=os.path.dirname(args.bin))
    env.pop("TARVO_ADMIN_PASSWORD", None)
    run = lambda: subprocess.run([os.path.join(args.source, "scripts", "layout-data"), data], env=env,
                                 stdout=subprocess.PIPE, check=True, text=True).stdout
    first, again = run(), run()
    admin, res = os.path.join(data, "conf", "upnp_root", "admin"), os.path.join(data, "conf", "tollamy")
    said = [l.split(": ", 1)[1] for l in first.splitlines() if "password" in l]
    check(len(said) == 1 and "password" not in again, "the made password is printed once")
    with open(os.path.join(res, "login", "password"), "rb") as f:
        check(f.read() == hashlib.sha1(said[0].encode()).digest(), "the login file holds the printed password's digest")
    check(os.access(os.path.join(admin, "tollamy.cgi"), os.X_OK), "the program lies in admin/ as tollamy.cgi")
    for name in ("index.html", "style.css", "text/text_en.xml", "text/text_ja.xml", "images/server_icon.png"):
        check(os.path.isfile(os.path.join(admin, name)), "admin/%s is laid out" % name)
    params = ET.parse(os.path.join(admin, "parameter", "parameter.xml")).getroot()
    values = {p.findtext("id"): p.findtext("value") for p in params.iter("parameter")}
    for key in ("MS_CONFIG_DIR", "LANG_CONFIG_PATH", "VIEW_CONFIG_PATH", "CONFIG_RESOURCE_DIR", "HTML_RESOURCE_DIR"):
        check(os.path.isabs(values[key]) and os.path.exists(values[key]), key + " is an absolute path that exists")
    check(os.path.realpath(values["CONFIG_RESOURCE_DIR"]) == os.path.realpath(res) and
          not os.path.realpath(res).startswith(os.path.realpath(os.path.join(data, "conf", "upnp_root"))),
          "the resources lie outside the document root")
    for name, text in (("lang.conf", 'LANGUAGE="en"\n'), ("view.conf", 'SHOW_SECURITY_DIALOG="true"\n')):
        with open(os.path.join(res, name)) as f:
            check(f.read() == text, name + " holds its default")
    shutil.rmtree(data)


def run_script(d, args, top):
    """scripts/run as a user starts it: the URL it prints opens the pages,
    which list the sample media folder it shares."""
    state = os.path.join(top, "state")
    env = dict(os.environ, XDG_STATE_HOME=state, TARVO_RUN_NO_SETUP="1", TARVO_BUILD_DIR=os.path.dirname(args.bin),
               TARVO_ADMIN_PASSWORD=PASSWORD)
    p = subprocess.Popen([os.path.join(args.source, "scripts", "run")], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True)
    try:
        url = ""
        for line in p.stdout:  # the case's time bound ends a run that never says it
            if line.startswith("web administration: "):
                url = line.split(": ", 1)[1].strip()
                break
        check(url == "http://127.0.0.1:30000/admin/index.html", "the run script prints the administration URL")
        wait_port(30000)
        d.get(url)
        media = os.path.join(state, "tarvo", "media")
        shown(d, "#share_list input[value='%s']" % media, "the sample media folder in the share list", 30)
        check(True, "the printed URL opens the pages, which list the shared sample folder")
    finally:
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
        p.stdout.close()


def server_gone(d, server, args):
    """A request that finds no server shows the connection text."""
    d.get("http://127.0.0.1:%d/admin/index.html" % UPNP_PORT)
    shown(d, "#share_page", "the share page")
    wait(d, "return tollamy_msg('COMMON_CONFIRM_CONNECTION')", "the texts of the script")
    server.stop()
    told = status_after(d, lambda: click(d, "#tab_security"), "the failure of the request")
    check(told == texts(args.source, "en")["COMMON_CONFIRM_CONNECTION"],
          "a request without an answer tells to check the connection")
    d.get_log("browser")  # the failed request is logged as such


def every_page(d, server, args):
    """Every page and its actions from 127.0.0.1, each change checked on the
    host and in the files."""
    en, ja = texts(args.source, "en"), texts(args.source, "ja")
    res = os.path.join(server.data, "conf", "tollamy")
    d.get("http://127.0.0.1:%d/admin/index.html" % UPNP_PORT)
    shown(d, "#share_page", "the share page")
    wait(d, "return document.querySelectorAll('#share_list input[name=share_se]').length == 2", "the two shares")

    # Shares: the repair keeps every share; unregister takes the ticked one.
    check(status_after(d, lambda: click(d, "#share_repair"), "the repair") == en["DATABASE_REPAIRED_MESSAGE"],
          "the repair tells that the database is rebuilt")
    check(host_state()["shares"] == ["/srv/media/Music", "/srv/media/Video"], "the repair kept both shares")
    tick(d, "#share_list input[value='/srv/media/Video']")
    click(d, "#share_unregister")
    confirmed(d)
    wait(d, "return document.querySelectorAll('#share_list input[name=share_se]').length == 1", "the list of one")
    check(host_state()["shares"] == ["/srv/media/Music"], "the unticked share stays, the ticked one is gone")

    # Friendly name: a hostile name is set, then shown only as text.
    open_page(d, "setting", "setting_page")
    name_shown(d, "the name")
    check(js(d, "return document.getElementById('server_name').value") == "Fixture Den", "the name page shows the name")
    js(d, "document.getElementById('server_name').value = arguments[0]", HOSTILE_NAME)
    check(status_after(d, lambda: click(d, "#name_apply"), "the name change") == en["SERVER_NAME_CHANGED_MESSAGE"],
          "the name change is told")
    check(host_state()["name"] == HOSTILE_NAME, "the host holds the new name")
    open_subpage(d, "database", "database_page")
    open_subpage(d, "name", "name_form")
    wait(d, "return document.getElementById('server_name').value", "the name again")
    check(js(d, "return document.getElementById('server_name').value") == HOSTILE_NAME,
          "the name page shows the markup as text")
    check(not js(d, "return document.querySelector('img[src=x]') || window.tollamy_pwned"),
          "no element made, no script run")

    # Database rebuild: every share is put back.
    open_subpage(d, "database", "database_page")
    check(status_after(d, lambda: click(d, "#database_rebuild"), "the rebuild") == en["DATABASE_REPAIRED_MESSAGE"],
          "the rebuild is told")
    check(host_state()["shares"] == ["/srv/media/Music"], "the rebuild kept the share")

    # File types: the invalid extension, register, edit, unregister, reset.
    open_subpage(d, "mimetype", "mime_page")
    wait(d, "return document.querySelectorAll('#mime_list input[name=mime_se]').length == 2", "the two file types")
    before = host_state()["types"]

    def register(ext, mime, refused=False):
        # A refusal is told on the status line; a success closes the form.
        js(d, "document.getElementById('mime_extention').value = arguments[0];"
              "document.getElementById('mime_mimetype').value = arguments[1]", ext, mime)
        if refused:
            return status_after(d, lambda: click(d, "#mime_register"), "the answer to " + ext)
        click(d, "#mime_register")
        wait(d, "return !document.getElementById('mime_register_form')", "the form closed after " + ext)

    click(d, "#mime_add")
    shown(d, "#mime_register_form", "the register form")
    check(register("a.b", "video/x-t", True) == en["MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_EXTENSION"],
          "an extension with a full stop is refused with its text")
    check(host_state()["types"] == before, "the refused type was not sent")
    register("xyz", "video/x-t")
    shown(d, "#mime_list input[value=xyz]", "the new type in the list")
    check(("xyz", "video/x-t") in host_state()["types"], "the host holds the registered type")
    tick(d, "#mime_list input[value=xyz]")
    click(d, "#mime_edit")
    wait(d, "var f = document.getElementById('mime_edit_flag'); return f && f.value == '1'",
         "the edit form")
    check(js(d, "return document.getElementById('mime_mimetype').value") == "video/x-t", "the edit form holds the type")
    register("xyw", "video/x-u")
    shown(d, "#mime_list input[value=xyw]", "the edited type in the list")
    types = host_state()["types"]
    check(("xyw", "video/x-u") in types and not any(t[0] == "xyz" for t in types), "the edit replaced the type")
    tick(d, "#mime_list input[value=xyw]")
    click(d, "#mime_unregister")
    confirmed(d)
    settle(lambda: host_state()["types"] == before, "unregister took the type away")
    click(d, "#mime_reset")
    confirmed(d)
    defaults = ET.parse(os.path.join(res, "default_filetype.xml")).getroot()
    want = sorted((f.findtext("extention"), f.findtext("mimetype")) for f in defaults.iter("filetype"))
    settle(lambda: host_state()["types"] == want, "reset restored the default list")

    # Password: a refused one, then a new one in the login file.
    open_subpage(d, "password", "password_form")

    def password(p):
        js(d, "document.getElementById('password_1').value = arguments[0];"
              "document.getElementById('password_2').value = arguments[0]", p)
        return status_after(d, lambda: click(d, "#password_apply"), "the password answer")

    login_file = os.path.join(res, "login", "password")
    check(password("not_alnum") == en["PASSWORD_INVALIDCHAR_MESSAGE"], "a password with an underscore is refused")
    check(open(login_file, "rb").read() == hashlib.sha1(PASSWORD.encode()).digest(), "the login file is unchanged")
    check(password("Newpass7") == en["PASSWORD_CHANGED_MESSAGE"], "the password change is told")
    check(open(login_file, "rb").read() == hashlib.sha1(b"Newpass7").digest(), "the login file holds the new digest")
    password(PASSWORD)

    # Design, kept in the browser; language, kept in its settings file.
    open_subpage(d, "view", "view_form")
    js(d, "document.getElementById('view_design').value = 'none'")
    click(d, "#view_apply")
    wait(d, "return document.getElementById('tollamy_style').disabled", "the plain design")
    d.refresh()
    shown(d, "#share_page", "the share page after a reload")
    check(js(d, "return document.getElementById('tollamy_style').disabled"), "the design choice outlives a reload")
    open_page(d, "setting", "setting_page")
    open_subpage(d, "view", "view_form")
    js(d, "document.getElementById('view_design').value = 'default';"
          "document.getElementById('view_language').value = 'ja'")
    click(d, "#view_apply")
    menu_in = "var t = document.getElementById('tab_share'); return t && t.textContent == arguments[0]"
    wait(d, menu_in, "the Japanese menu", 20, ja["MENU_TITLE_SHARE"])
    name_shown(d, "the setting page the menu opens")
    check(open(os.path.join(res, "lang.conf")).read() == 'LANGUAGE="ja"\n', "the language is kept in lang.conf")
    open_page(d, "security", "security_page")
    check(js(d, "return document.querySelector('#security_page h2').textContent") == ja["SECURITY_TITLE"],
          "the Japanese security page loads")
    wait(d, "return document.querySelectorAll('#sec_a_list input').length == 1", "the Japanese client list")
    open_page(d, "setting", "setting_page")
    open_subpage(d, "view", "view_form")
    js(d, "document.getElementById('view_language').value = 'en'")
    click(d, "#view_apply")
    wait(d, menu_in, "the English menu", 20, en["MENU_TITLE_SHARE"])
    name_shown(d, "the setting page the menu opens")
    check(not js(d, "return document.getElementById('tollamy_style').disabled"), "the default design is back")

    # Security: a client moved and one removed, the default, the dialog.
    open_page(d, "security", "security_page")
    wait(d, "return document.querySelectorAll('#sec_a_list input').length == 1 &&"
            " document.querySelectorAll('#sec_d_list input').length == 1", "both client lists")
    tick(d, "#sec_a_list input[name=sec_a_se]")
    click(d, "#sec_to_deny")
    wait(d, "return document.querySelectorAll('#sec_d_list input').length == 2 &&"
            " !document.querySelector('#sec_a_list input')", "the client in the deny list")
    st = host_state()
    check(st["allow"] == [] and sorted(st["deny"]) == ["02:00:00:00:00:01", "02:00:00:00:00:02"],
          "the host moved the client to the deny list")
    tick(d, "#sec_d_list input[value='02:00:00:00:00:02,127.0.0.12']")
    click(d, "#sec_d_remove")
    wait(d, "return document.querySelectorAll('#sec_d_list input').length == 1", "the deny list of one")
    check(host_state()["deny"] == ["02:00:00:00:00:01"], "the host forgot the removed client")
    # Host names handed over by the management tool's page go in as text.
    js(d, "tollamy_data_hosts_update_hosts({'127.0.0.11': '<b>lab-pc</b>'})")
    check(js(d, "var c = document.querySelector('#sec_d_list td.host[data-host-ip=\"127.0.0.11\"]');"
                " return c && !c.firstElementChild && c.textContent") == "<b>lab-pc</b>",
          "a host name from the tool shows as text in its client's row")
    shown(d, "#sec_default_allow", "the default state")
    check(js(d, "return document.getElementById('sec_default_deny').checked"), "the default shows deny")
    click(d, "#sec_default_allow")
    settle(lambda: host_state()["default"] == "allow", "the host's default state is allow")
    view = os.path.join(res, "view.conf")
    check(js(d, "return document.getElementById('sec_show_dialog').checked"), "the dialog setting shows on")
    click(d, "#sec_show_dialog")
    settle(lambda: open(view).read() == 'SHOW_SECURITY_DIALOG="false"\n', "view.conf holds the dialog off")

    # Backup: the server list, its tasks, a task made in a browsed folder
    # and removed again.
    open_page(d, "backup", "backup_page")
    shown(d, "#bu_server_list tr.bu_server", "the backup server")
    check("Other & Server" in js(d, "return document.querySelector('#bu_server_list tr.bu_server').textContent"),
          "the server list names the server")
    click(d, "#bu_server_list button[data-act=bu_tasks]")
    shown(d, "#bu_task_area input[name=bu_t_se]", "the task list")
    row = js(d, "return document.querySelector('#bu_task_area input[name=bu_t_se]').closest('tr').textContent")
    check("Music" in row and en["BACKUP_TASK_STATE_WAITING"] in row, "the task row names its folder and state")
    click(d, "#bu_task_area button[data-act=bu_add_task]")
    shown(d, "#bu_container_list button[data-act=bu_open]", "the folders of the server")
    check(rows(d, "#bu_container_list button[data-act=bu_register]") == 1, "the registered folder offers no new task")
    click(d, "#bu_container_list button[data-act=bu_open]")
    wait(d, "var b = document.querySelector('#bu_container_list button[data-act=bu_register]');"
            " return b && b.getAttribute('data-container') == 'c3'", "the folder below")
    click(d, "#bu_container_list button[data-act=bu_register]")
    confirmed(d)
    tasks = settle(lambda: len(host_state()["tasks"]) == 2 and host_state()["tasks"], "the host holds a second task")
    new = [t for t in tasks if t != "t1"][0]
    check(soap(BACKUP, "GetTaskInfo", [("TaskID", new)])["ContainerID"] == "c3", "the new task backs up the folder")
    click(d, "#bu_back")
    shown(d, "#bu_server_list button[data-act=bu_tasks]", "the server list again")
    click(d, "#bu_server_list button[data-act=bu_tasks]")
    wait(d, "return document.querySelectorAll('#bu_task_area input[name=bu_t_se]').length == 2", "two tasks")
    click(d, "#bu_task_area button[data-act=bu_remove_task][data-task-id='%s']" % new)
    confirmed(d)
    settle(lambda: host_state()["tasks"] == ["t1"], "the removed task is gone from the host")
    wait(d, "return document.querySelectorAll('#bu_task_area input[name=bu_t_se]').length == 1", "one task")

    open_page(d, "control", "control_page")
    errors = script_errors(d)
    check(not errors, "no script errors in the console " + repr(errors))


def hostile_requests(d, server, args):
    """The hostile name shows as text on the login page; a page of another
    loopback origin that sends changing requests gets them refused."""
    d.get("http://127.0.0.1:%d/admin/index.html" % FORWARD_PORT)
    shown(d, "#login_server_name", "the login page")
    check(js(d, "return document.getElementById('login_server_name').textContent") == HOSTILE_NAME,
          "the login page shows the name's markup as text")
    check(not js(d, "return document.querySelector('#main img') || window.tollamy_pwned"),
          "no element made, no script run on the login page")

    before = host_state()["name"]
    page = ("<!DOCTYPE html><form id=f method=POST action='http://127.0.0.1:%d/admin/tollamy.cgi'>"
            "<input name=controller value=tollamy_page_name><input name=action value=change_name>"
            "<input name=content value=partial><input name=server_name value=Taken></form><script>"
            "fetch('http://127.0.0.1:%d/admin/tollamy.cgi', {method: 'POST', mode: 'no-cors',"
            " headers: {'Content-Type': 'application/x-www-form-urlencoded'},"
            " body: 'controller=tollamy_page_name&action=change_name&content=partial&server_name=Fetched'})"
            ".finally(function () { document.getElementById('f').submit(); });</script>" % (UPNP_PORT, UPNP_PORT))

    class Other(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            b = page.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(b)))
            self.end_headers()
            self.wfile.write(b)

        def log_message(self, *a):
            pass

    other = http.server.ThreadingHTTPServer(("127.0.0.1", OTHER_PORT), Other)
    threading.Thread(target=other.serve_forever, daemon=True).start()
    try:
        d.get("http://127.0.0.1:%d/" % OTHER_PORT)
        end = time.time() + 15
        while "tollamy.cgi" not in d.current_url or js(d, "return document.readyState") != "complete":
            if time.time() > end:
                raise AssertionError("the other origin's form was never sent")
            time.sleep(0.1)
        check("<state>failure</state>" in d.page_source.replace("&lt;", "<").replace("&gt;", ">"),
              "the program answered the other origin's form with a failure")
    finally:
        other.shutdown()
        other.server_close()
    check(host_state()["name"] == before, "requests from another origin changed nothing")
    # The browser asked /favicon.ico for the bare answer document; no page
    # of the system names it.
    d.get_log("browser")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bin", required=True)
    p.add_argument("--host", required=True)
    p.add_argument("--source", required=True)
    args = p.parse_args()
    signal.signal(signal.SIGALRM, overdue)
    top = tempfile.mkdtemp(prefix="tollamy_browser_")
    server = d = None
    skipped = []
    try:
        private_net()
        say("case: layout")
        signal.alarm(CASE_SECONDS)
        layout(args, top)
        signal.alarm(0)
        server = Server(args, top)
        forwarder(FORWARD_PORT, UPNP_PORT, "127.0.0.3")
        d = browser()
        # The host admits every peer, so the forwarder's 127.0.0.3 is a
        # client from elsewhere; the media server itself admits only
        # clients it knows by their hardware address, so it gets the
        # free-pass run alone.
        for which, cases in (("host", (free_pass, login_flow, every_page, hostile_requests)),
                             ("vennard", (free_pass, server_gone))):
            args.which = which
            server.start(which)
            for case in cases:
                say("case:", which, case.__name__)
                signal.alarm(CASE_SECONDS)
                try:
                    case(d, server, args)
                except Skip as e:
                    skipped.append("%s, %s: %s" % (which, case.__name__, e))
                finally:
                    signal.alarm(0)
            server.stop()
        say("case: run_script")
        signal.alarm(CASE_SECONDS)
        try:
            run_script(d, args, top)
        finally:
            signal.alarm(0)
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
