#!/usr/bin/python3
# A login manager stand-in on a bus of its own, for the sleep and wake
# test: starts a bus daemon in the folder given, owns
# org.freedesktop.login1, grants inhibitors as pipes, and sends
# PrepareForSleep when told "sleep" or "wake" on standard input.  Given
# "late" as its third argument, it owns the name only when told "own",
# and says "client <name>" as each other client connects meanwhile.  Like the
# login manager, it sleeps once every delay inhibitor of sleep is released
# or its InhibitDelayMaxSec (the second argument, 5 s by default) has
# passed.  It says "bus <address>", "inhibit <who> <what> <mode>",
# "released <what>", "slept" (or "slept past the delay"), "woke" and "owned" on
# standard output; it ends, the bus daemon with it, when its input closes.
import os
import subprocess
import sys

from gi.repository import Gio, GLib

IFACE = "org.freedesktop.login1.Manager"
PATH = "/org/freedesktop/login1"
NODE = Gio.DBusNodeInfo.new_for_xml(
    '<node><interface name="%s"><method name="Inhibit">'
    '<arg type="s" direction="in"/><arg type="s" direction="in"/>'
    '<arg type="s" direction="in"/><arg type="s" direction="in"/>'
    '<arg type="h" direction="out"/></method>'
    '<signal name="PrepareForSleep"><arg type="b"/></signal>'
    "</interface></node>" % IFACE)
CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=%s/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
"""


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main():
    folder = sys.argv[1]
    delay = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    late = len(sys.argv) > 3 and sys.argv[3] == "late"
    with open(os.path.join(folder, "bus.conf"), "w") as f:
        f.write(CONFIG % folder)
    daemon = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address",
                               "--config-file=" + os.path.join(folder, "bus.conf")],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        serve(daemon.stdout.readline().strip(), delay, late)
    finally:
        daemon.terminate()
        daemon.wait()


def serve(address, delay, late):
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
             Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    loop = GLib.MainLoop()
    delaying = set()  # the read ends of the delay inhibitors of sleep
    going = {"timer": None}

    def slept(line):
        if going["timer"] is not None:
            GLib.source_remove(going["timer"])
            going["timer"] = None
            say(line)

    def past_delay():
        going["timer"] = None
        say("slept past the delay")
        return False

    def released(fd, _cond, what):
        os.close(fd)
        delaying.discard(fd)
        say("released " + what)
        if not delaying:
            slept("slept")
        return False

    def call(_conn, _sender, _path, _iface, method, args, invocation):
        if method != "Inhibit":
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
            return
        what, who, _why, mode = args.unpack()
        r, w = os.pipe()
        GLib.io_add_watch(r, GLib.IO_HUP | GLib.IO_ERR, released, what)
        if what == "sleep" and mode == "delay":
            delaying.add(r)
        fds = Gio.UnixFDList.new_from_array([w])
        # Said before the reply goes: a test that has the reply has the line.
        say("inhibit %s %s %s" % (who.replace(" ", "_"), what, mode))
        invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)), fds)

    bus.register_object(PATH, NODE.interfaces[0], call, None, None)

    def own():
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", GLib.Variant("(su)", ("org.freedesktop.login1", 4)),
                      None, Gio.DBusCallFlags.NONE, -1, None)

    def client(_conn, _sender, _path, _iface, _signal, args):
        name, old, new = args.unpack()
        if name.startswith(":") and not old and new and name != bus.get_unique_name():
            say("client " + name)

    if late:
        bus.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                             "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE, client)
    else:
        own()

    def command(_fd, cond):
        line = sys.stdin.readline() if not cond & (GLib.IO_HUP | GLib.IO_ERR) else ""
        if not line:
            loop.quit()
            return False
        if line.strip() == "own":
            own()
            say("owned")
            return True
        asleep = line.strip() == "sleep"
        bus.emit_signal(None, PATH, IFACE, "PrepareForSleep", GLib.Variant("(b)", (asleep,)))
        bus.flush_sync(None)
        if not asleep:
            say("woke")
        elif not delaying:
            say("slept")
        else:
            going["timer"] = GLib.timeout_add(int(delay * 1000), past_delay)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, command)
    say("bus " + address)
    loop.run()


main()
