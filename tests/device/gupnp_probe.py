# Looks for a service type with an independent UPnP stack on interface
# "lo": prints the device's location, the answer of the Echo action
# (In=hello) and the first value of the evented variable State; exits 0
# once all three arrived, 1 after the time limit.
import sys

import gi

gi.require_version('GUPnP', '1.6')
gi.require_version('GSSDP', '1.6')
from gi.repository import GLib, GObject, GSSDP, GUPnP  # noqa: E402

service_type, limit_s = sys.argv[1], int(sys.argv[2])
context = GUPnP.Context.new_full("lo", None, 0, GSSDP.UDAVersion.VERSION_1_0)
control_point = GUPnP.ControlPoint.new(context, service_type)
loop = GLib.MainLoop()
seen = {}


def done(key, value):
    if key in seen:
        return
    seen[key] = value
    print(key, value, flush=True)
    if len(seen) == 3:
        loop.quit()


def on_state(proxy, variable, value):
    done("event", "%s=%s" % (variable, value))


def on_proxy(cp, proxy):
    done("found", proxy.get_location())
    action = GUPnP.ServiceProxyAction.new_from_list("Echo", ["In"], ["hello"])
    proxy.call_action(action, None)
    ok, values = action.get_result_list(["Out"], [GObject.TYPE_STRING])
    done("action", values[0] if ok else "failed")
    proxy.add_notify("State", GObject.TYPE_STRING, on_state)
    proxy.set_subscribed(True)


control_point.connect("service-proxy-available", on_proxy)
control_point.set_active(True)
GLib.timeout_add_seconds(limit_s, loop.quit)
loop.run()
sys.exit(0 if len(seen) == 3 else 1)
