// Device descriptions written back as XML, and their URLs made absolute.
#include <tarvo_util/upnp_desc.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/util_limits.h>
#include <tarvo_util/xml.h>

#include "upnp_desc_fields.h"

namespace {

// The fields of a record from first to last-1, each as an element; absent
// optional ones are left out.
template <class R> bool fields_xml(sys_stralloc_rec *sa, const R *rec, uint32_t first, uint32_t last)
{
  for (uint32_t i = first; i < last; i++) {
    const named_field<R> &f = fields_of<R>::v[i];
    const char *value = rec->*f.member;
    if ((value || f.always) && !xml_gen_element_append(sa, f.name, value)) return false;
  }
  return true;
}

template <class R> int record_xml(sys_stralloc_rec *sa, const char *name, const R *rec)
{
  return sys_stralloc_cats(sa, "<") && sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, ">\r\n") &&
         fields_xml(sa, rec, 0, 5) && sys_stralloc_cats(sa, "</") && sys_stralloc_cats(sa, name) &&
         sys_stralloc_cats(sa, ">\r\n");
}

// "<list>", every record, "</list>"; nothing for an empty array.
template <class R> bool list_xml(sys_stralloc_rec *sa, const char *list, R *const *a, int (*one)(sys_stralloc_rec *, const R *))
{
  if (!a || !*a) return true;
  if (!sys_stralloc_cats(sa, "<") || !sys_stralloc_cats(sa, list) || !sys_stralloc_cats(sa, ">\r\n")) return false;
  for (; *a; a++)
    if (!one(sa, *a)) return false;
  return sys_stralloc_cats(sa, "</") && sys_stralloc_cats(sa, list) && sys_stralloc_cats(sa, ">\r\n");
}

int write_desc(const upnp_desc_rec *desc, const char *url_base, bool with_url_base, char **out)
{
  sys_stralloc_rec sa{};
  bool ok = sys_stralloc_ready(&sa, UPNP_DESC_XML_RESERVE) &&
            sys_stralloc_cats(&sa, "<?xml version=\"1.0\"?>\r\n"
                                   "<root xmlns=\"" UPNP_DESC_DEVICE_NS "\">\r\n"
                                   "<specVersion>\r\n<major>1</major>\r\n<minor>0</minor>\r\n</specVersion>\r\n") &&
            (!with_url_base || xml_gen_element_append(&sa, "URLBase", url_base)) &&
            (!desc->devices || !desc->devices[0] || upnp_desc_device_xml(&sa, desc->devices, 1)) &&
            sys_stralloc_cats(&sa, "</root>\r\n") && sys_stralloc_append(&sa, "");
  if (!ok) {
    sys_stralloc_free(&sa);
    return 0;
  }
  *out = sa.buf;
  return 1;
}

bool resolve(const char *base, char **field)
{
  if (!*field) return true;
  char *abs;
  if (!uri_resolve(base, *field, &abs)) return false;
  sys_alloc_free(*field);
  *field = abs;
  return true;
}

}  // namespace

extern "C" {

int upnp_desc_xml(const upnp_desc_rec *desc, char **out) { return write_desc(desc, desc->url_base, desc->url_base != nullptr, out); }

int upnp_desc_xml2(const upnp_desc_rec *desc, const char *url_base, char **out)
{
  return write_desc(desc, url_base, true, out);
}

int upnp_desc_device_xml(sys_stralloc_rec *sa, upnp_desc_device_rec *const *device, int with_embedded)
{
  const upnp_desc_device_rec *d = *device;
  if (!sys_stralloc_cats(sa, "<device>\r\n") || !fields_xml(sa, d, 0, 11) ||
      !list_xml(sa, "iconList", d->icons, upnp_desc_icon_xml) ||
      !list_xml(sa, "serviceList", d->services, upnp_desc_service_xml))
    return 0;
  if (with_embedded && device[1]) {
    if (!sys_stralloc_cats(sa, "<deviceList>\r\n")) return 0;
    for (upnp_desc_device_rec *const *e = device + 1; *e; e++)
      if (!upnp_desc_device_xml(sa, e, 0)) return 0;
    if (!sys_stralloc_cats(sa, "</deviceList>\r\n")) return 0;
  }
  return fields_xml(sa, d, 11, 12) && sys_stralloc_cats(sa, "</device>\r\n");
}

int upnp_desc_icon_xml(sys_stralloc_rec *sa, const upnp_desc_icon_rec *icon) { return record_xml(sa, "icon", icon); }

int upnp_desc_service_xml(sys_stralloc_rec *sa, const upnp_desc_service_rec *service)
{
  return record_xml(sa, "service", service);
}

int upnp_desc_absolute_uri(upnp_desc_rec *desc, const char *description_url)
{
  if (!desc) return 0;
  if (!desc->url_base || !*desc->url_base) {
    char *copy;
    if (!sys_str_clone(description_url, &copy)) return 0;
    sys_alloc_free(desc->url_base);
    desc->url_base = copy;
  }
  const char *base = desc->url_base;
  for (upnp_desc_device_rec **d = desc->devices; d && *d; d++) {
    if (!resolve(base, &(*d)->manufacturerURL) || !resolve(base, &(*d)->modelURL) ||
        !resolve(base, &(*d)->presentationURL))
      return 0;
    for (upnp_desc_icon_rec **i = (*d)->icons; i && *i; i++)
      if (!resolve(base, &(*i)->url)) return 0;
    for (upnp_desc_service_rec **s = (*d)->services; s && *s; s++)
      if (!resolve(base, &(*s)->SCPDURL) || !resolve(base, &(*s)->controlURL) ||
          !resolve(base, &(*s)->eventSubURL))
        return 0;
  }
  return 1;
}

}  // extern "C"
