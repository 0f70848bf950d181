# An independent UPnP device made with the GUPnP bindings on interface
# "lo": a MediaServer:1 root device whose Echo:1 service answers the Echo
# action (Out = In) and events its State variable.  Runs for the given
# seconds.
import os
import sys
import tempfile

import gi

gi.require_version('GUPnP', '1.6')
gi.require_version('GSSDP', '1.6')
from gi.repository import GLib, GObject, GSSDP, GUPnP  # noqa: E402

udn, limit_s = sys.argv[1], int(sys.argv[2])
folder = tempfile.mkdtemp()
with open(os.path.join(folder, 'desc.xml'), 'w') as f:
    f.write('<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0">'
            '<specVersion><major>1</major><minor>0</minor></specVersion><device>'
            '<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>'
            '<friendlyName>Independent</friendlyName><manufacturer>m</manufacturer>'
            '<modelName>n</modelName><UDN>%s</UDN><serviceList><service>'
            '<serviceType>urn:schemas-upnp-org:service:Echo:1</serviceType>'
            '<serviceId>urn:upnp-org:serviceId:Echo</serviceId><SCPDURL>/echo.xml</SCPDURL>'
            '<controlURL>/control/echo</controlURL><eventSubURL>/event/echo</eventSubURL>'
            '</service></serviceList></device></root>' % udn)
with open(os.path.join(folder, 'echo.xml'), 'w') as f:
    f.write('<?xml version="1.0"?><scpd xmlns="urn:schemas-upnp-org:service-1-0">'
            '<specVersion><major>1</major><minor>0</minor></specVersion><actionList><action>'
            '<name>Echo</name><argumentList>'
            '<argument><name>In</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_Text</relatedStateVariable></argument>'
            '<argument><name>Out</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Text</relatedStateVariable></argument>'
            '</argumentList></action></actionList><serviceStateTable>'
            '<stateVariable sendEvents="no"><name>A_ARG_TYPE_Text</name><dataType>string</dataType></stateVariable>'
            '<stateVariable sendEvents="yes"><name>State</name><dataType>string</dataType></stateVariable>'
            '</serviceStateTable></scpd>')

context = GUPnP.Context.new_full("lo", None, 0, GSSDP.UDAVersion.VERSION_1_0)
device = GUPnP.RootDevice.new(context, 'desc.xml', folder)
service = device.get_service('urn:schemas-upnp-org:service:Echo:1')


def on_echo(svc, action):
    text = action.get_value('In', GObject.TYPE_STRING)
    action.set_value('Out', text)
    action.return_success()


service.connect('action-invoked::Echo', on_echo)
device.set_available(True)
loop = GLib.MainLoop()
GLib.timeout_add_seconds(limit_s, loop.quit)
loop.run()
