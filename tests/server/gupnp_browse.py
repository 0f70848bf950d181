# An independent UPnP control point (GUPnP and GUPnP-AV) on interface
# "lo": finds a MediaServer's ContentDirectory, browses the root and the
# category containers, searches, and downloads part of an item with a
# Range request.  Prints one line per step and exits 0 when every step
# worked, 1 after the time limit.
import sys
import urllib.request

import gi

gi.require_version('GUPnP', '1.6')
gi.require_version('GSSDP', '1.6')
gi.require_version('GUPnPAV', '1.0')
from gi.repository import GLib, GObject, GSSDP, GUPnP, GUPnPAV  # noqa: E402

CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
limit_s = int(sys.argv[1])
context = GUPnP.Context.new_full("lo", None, 0, GSSDP.UDAVersion.VERSION_1_0)
control_point = GUPnP.ControlPoint.new(context, CDS)
loop = GLib.MainLoop()
result = {"ok": False}


def call(proxy, name, args, outs):
    action = GUPnP.ServiceProxyAction.new_from_list(name, list(args.keys()), list(args.values()))
    proxy.call_action(action, None)
    ok, values = action.get_result_list(list(outs), [GObject.TYPE_STRING] * len(outs))
    if not ok:
        raise RuntimeError("%s failed" % name)
    return dict(zip(outs, values))


def objects(didl):
    found = []
    parser = GUPnPAV.DIDLLiteParser()
    parser.connect("object-available", lambda p, o: found.append(o))
    parser.parse_didl(didl)
    return found


def browse(proxy, object_id):
    out = call(proxy, "Browse", {"ObjectID": object_id, "BrowseFlag": "BrowseDirectChildren", "Filter": "*",
                                 "StartingIndex": "0", "RequestedCount": "0", "SortCriteria": ""},
               ["Result", "NumberReturned", "TotalMatches", "UpdateID"])
    found = objects(out["Result"])
    if int(out["NumberReturned"]) != len(found) or int(out["TotalMatches"]) != len(found):
        raise RuntimeError("counts of %s do not match" % object_id)
    return found


def titles(found):
    return ",".join(sorted(o.get_title() for o in found))


def on_proxy(cp, proxy):
    if result["ok"]:
        return
    try:
        print("found", proxy.get_location(), flush=True)
        root = browse(proxy, "0")
        print("root", titles(root), flush=True)
        for o in root:
            if o.get_title() in ("Music", "Video", "Pictures"):
                print("category", o.get_title(), titles(browse(proxy, o.get_id())), flush=True)
        all_music = browse(proxy, "Container:AllMusic")
        print("all music", titles(all_music), flush=True)
        out = call(proxy, "Search", {"ContainerID": "0",
                                     "SearchCriteria": "upnp:class derivedfrom \"object.item.audioItem\"",
                                     "Filter": "*", "StartingIndex": "0", "RequestedCount": "0",
                                     "SortCriteria": "+dc:title"},
                   ["Result", "NumberReturned", "TotalMatches", "UpdateID"])
        found = objects(out["Result"])
        print("search", out["TotalMatches"], titles(found), flush=True)
        resources = [r for o in found for r in o.get_resources() if r.get_uri().startswith("http://")]
        uri = resources[0].get_uri()
        request = urllib.request.Request(uri, headers={"Range": "bytes=10-19"})
        with urllib.request.urlopen(request, timeout=10) as answer:
            body = answer.read()
            print("range", answer.status, answer.headers.get("Content-Range"), len(body), flush=True)
        result["ok"] = True
    except Exception as e:  # noqa: BLE001
        print("error", e, flush=True)
    loop.quit()


control_point.connect("service-proxy-available", on_proxy)
control_point.set_active(True)
GLib.timeout_add_seconds(limit_s, loop.quit)
loop.run()
sys.exit(0 if result["ok"] else 1)
