// links: tarvo_avcp tarvo_util
// Search criteria on arbitrary text, matched against a few fixed objects.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

avcp_didl_object_list objects()
{
  static avcp_didl_object_list list = [] {
    avcp_didl_object_list l = nullptr;
    avcp_didl_parse("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
                    " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
                    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                    "<item id=\"1\" refID=\"2\"><dc:title>Abc</dc:title><upnp:class>object.item.audioItem"
                    "</upnp:class><upnp:artist>x</upnp:artist><upnp:artist>y</upnp:artist>"
                    "<res size=\"5000000000\" protocolInfo=\"p\">u</res><res>v</res></item>"
                    "<container id=\"3\" childCount=\"-4\"><dc:title></dc:title></container></DIDL-Lite>",
                    &l);
    return l;
  }();
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string text(reinterpret_cast<const char *>(data), size);
  avcp_didl_search_criteria *c = nullptr;
  if (!avcp_didl_search_criteria_parse(&c, text.c_str())) return 0;
  for (avcp_didl_object **o = objects(); o && *o; o++) avcp_didl_search_criteria_match(&c, *o);
  avcp_didl_search_criteria_free(&c);
  return 0;
}
