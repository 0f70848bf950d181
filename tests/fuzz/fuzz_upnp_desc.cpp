// links: tarvo_util
// Device descriptions: parse, copy, resolve and write back; what was
// written must parse again to the same text.
#include <tarvo_util/upnp_desc.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string xml(reinterpret_cast<const char *>(data), size);
  upnp_desc_rec *d = nullptr;
  if (!upnp_desc_parse(xml.c_str(), &d)) return 0;
  upnp_desc_rec *c = nullptr;
  if (!upnp_desc_clone(d, &c)) std::abort();
  char *a = nullptr, *b = nullptr;
  if (!upnp_desc_xml(d, &a) || !upnp_desc_xml(c, &b) || std::strcmp(a, b)) std::abort();
  upnp_desc_rec *again = nullptr;
  char *a2 = nullptr;
  if (!upnp_desc_parse(a, &again) || !upnp_desc_xml(again, &a2) || std::strcmp(a, a2)) std::abort();
  upnp_desc_absolute_uri(c, "http://192.168.0.2:8080/dev/desc.xml");
  sys_stralloc_rec sa{};
  for (upnp_desc_device_rec **p = c->devices; *p; p++) upnp_desc_device_xml(&sa, p, 1);
  sys_stralloc_free(&sa);
  sys_alloc_free(a);
  sys_alloc_free(b);
  sys_alloc_free(a2);
  upnp_desc_free(again);
  upnp_desc_free(c);
  upnp_desc_free(d);
  return 0;
}
