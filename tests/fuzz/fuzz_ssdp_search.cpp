// links: tarvo_device tarvo_util
// An SSDP datagram through the search parser and, when it is accepted,
// through the answers of a description with an embedded device.
#include "../../upnp/device/device_gena_ssdp.h"

#include <cstdlib>

namespace {

const char kDescription[] =
    "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
    "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
    "<deviceType>urn:schemas-upnp-org:device:MediaServer:2</deviceType>"
    "<friendlyName>f</friendlyName><manufacturer>m</manufacturer><modelName>n</modelName>"
    "<UDN>uuid:00000000-1111-2222-3333-444444444444</UDN><serviceList>"
    "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
    "<serviceId>a</serviceId><SCPDURL>s</SCPDURL><controlURL>c</controlURL><eventSubURL>e</eventSubURL></service>"
    "<service><serviceType>urn:schemas-upnp-org:service:ConnectionManager:2</serviceType>"
    "<serviceId>b</serviceId><SCPDURL>t</SCPDURL><controlURL>d</controlURL><eventSubURL>f</eventSubURL></service>"
    "</serviceList><deviceList><device>"
    "<deviceType>urn:schemas-upnp-org:device:Basic:1</deviceType><friendlyName>g</friendlyName>"
    "<manufacturer>m</manufacturer><modelName>n</modelName><UDN>uuid:1</UDN>"
    "</device></deviceList></device></root>";

struct fixture {
  tarvo_device_ctx ctx{};
  sys_stralloc_rec msg{};
  fixture()
  {
    if (!upnp_desc_parse(kDescription, &ctx.desc)) std::abort();
    ctx.max_age = 1800;
    ctx.server_name = const_cast<char *>("Fuzz/1.0 UPnP/1.0");
  }
};

int build(void *user, const char *target, const char *udn, const char *suffix)
{
  auto *f = static_cast<fixture *>(user);
  return device_ssdp_message(&f->msg, DEVICE_SSDP_ANSWER, &f->ctx, "http://10.0.0.1:1/", target,
                             udn, suffix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static fixture f;
  if (size >= DEVICE_SSDP_DATAGRAM_MAX) return 0;
  char *target = nullptr;
  uint32_t mx = 0;
  if (device_ssdp_search_parse(reinterpret_cast<const char *>(data), uint32_t(size), &target, &mx)) {
    if (!target || !target[0]) std::abort();
    device_ssdp_search_answers(f.ctx.desc, target, build, &f);
    sys_alloc_free(target);
  }
  return 0;
}
