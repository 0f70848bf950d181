// Device descriptions: the reader that flattens the device tree, and the
// release and deep copy of the records.
#include <tarvo_util/upnp_desc.h>

#include <new>

#include "upnp_desc_fields.h"
#include "xml_internal.h"

namespace {

// One value of the five-string records, the release and copy shared by
// icons and services.
template <class R> void free_five(R *rec)
{
  if (!rec) return;
  for (auto f : fields_of<R>::v) sys_alloc_free(rec->*f.member);
  sys_alloc_free(rec);
}

template <class R> int clone_five(const R *rec, R **copy)
{
  *copy = nullptr;
  if (!rec) return 1;
  R *c = xml_zalloc<R>();
  if (!c) return 0;
  for (auto f : fields_of<R>::v)
    if (!sys_str_clone(rec->*f.member, &(c->*f.member))) {
      free_five(c);
      return 0;
    }
  *copy = c;
  return 1;
}

template <class R> int clone_array(R *const *src, R ***out, int (*clone)(const R *, R **), void (*release)(R *))
{
  *out = nullptr;
  if (!src) return 1;
  uint32_t n = 0;
  while (src[n]) n++;
  R **a = static_cast<R **>(sys_alloc_zero((size_t(n) + 1) * sizeof *a));
  if (!a) return 0;
  for (uint32_t i = 0; i < n; i++)
    if (!clone(src[i], &a[i])) {
      for (uint32_t k = 0; k < i; k++) release(a[k]);
      sys_alloc_free(a);
      return 0;
    }
  *out = a;
  return 1;
}

template <class R> void free_array(R **a, void (*release)(R *))
{
  if (!a) return;
  for (R **p = a; *p; p++) release(*p);
  sys_alloc_free(a);
}

using icon_list = xml_owned_list<upnp_desc_icon_rec, free_five<upnp_desc_icon_rec>>;
using service_list = xml_owned_list<upnp_desc_service_rec, free_five<upnp_desc_service_rec>>;

void free_device(upnp_desc_device_rec *d) { upnp_desc_device_free(d); }

bool complete(const upnp_desc_device_rec *d)
{
  if (!d->deviceType || !d->friendlyName || !d->manufacturer || !d->modelName || !d->UDN) return false;
  for (upnp_desc_icon_rec **i = d->icons; i && *i; i++)
    for (auto f : fields_of<upnp_desc_icon_rec>::v)
      if (!((*i)->*f.member)) return false;
  for (upnp_desc_service_rec **s = d->services; s && *s; s++)
    for (auto f : fields_of<upnp_desc_service_rec>::v)
      if (!((*s)->*f.member)) return false;
  return true;
}

enum role : uint8_t {
  R_SKIP,
  R_ROOT,
  R_URL_BASE,
  R_DEVICE,
  R_DEVICE_FIELD,
  R_ICONS,
  R_ICON,
  R_ICON_FIELD,
  R_SERVICES,
  R_SERVICE,
  R_SERVICE_FIELD,
  R_DEVICES,
  R_DLNA_DOC,
  R_DLNA_CAP,
  R_DLNA_VIRT
};

// A device while its element is open: its lists are handed to it at its
// end tag.
struct device_build {
  upnp_desc_device_rec *dev;
  icon_list icons;
  service_list services;
  xml_str_list dlna_doc;
};

template <class R> int field_index(const xml_name_rec *name)
{
  const auto &v = fields_of<R>::v;
  for (uint32_t i = 0; i < sizeof v / sizeof v[0]; i++)
    if (xml_name_is(name, UPNP_DESC_DEVICE_NS, v[i].name)) return int(i);
  return -1;
}

struct desc_reader : xml_walk {
  char *url_base = nullptr;
  bool root_device_seen = false;
  xml_owned_list<upnp_desc_device_rec, free_device> devices;  // flat, document order
  sys_ptralloc_rec open{};        // device_build of every open device
  sys_uint32alloc_rec roles{};    // per open element: role | field index << 8

  ~desc_reader() override
  {
    sys_alloc_free(url_base);
    for (uint32_t i = 0; i < open.len; i++) delete static_cast<device_build *>(open.buf[i]);
    sys_ptralloc_free(&open);
    sys_uint32alloc_free(&roles);
  }

  device_build *top() { return static_cast<device_build *>(open.buf[open.len - 1]); }

  bool begin_device()
  {
    auto *dev = xml_zalloc<upnp_desc_device_rec>();
    if (!dev || !devices.add(dev)) return false;
    auto *b = new (std::nothrow) device_build{dev, {}, {}, {}};
    if (b && sys_ptralloc_append(&open, b)) return true;
    delete b;
    return false;
  }

  template <class R> bool begin_record(xml_owned_list<R, free_five<R>> &list)
  {
    R *r = xml_zalloc<R>();
    return r && list.add(r);
  }

  // The role of the element just opened, from its parent's.
  uint32_t place(const xml_name_rec *name)
  {
    auto is = [name](const char *local) { return xml_name_is(name, UPNP_DESC_DEVICE_NS, local); };
    auto dlna = [name](const char *local) { return xml_name_is(name, UPNP_DESC_DLNA_NS, local); };
    if (depth == 1) return is("root") ? R_ROOT : R_SKIP;
    int k;
    switch (roles.buf[roles.len - 1] & 0xff) {
    case R_ROOT:
      if (is("URLBase")) return R_URL_BASE;
      if (!is("device")) return R_SKIP;
      if (root_device_seen) return fail(), R_SKIP;
      root_device_seen = true;
      return begin_device() ? R_DEVICE : (fail(), R_SKIP);
    case R_DEVICE:
      if ((k = field_index<upnp_desc_device_rec>(name)) >= 0) return R_DEVICE_FIELD | uint32_t(k) << 8;
      if (is("iconList")) return R_ICONS;
      if (is("serviceList")) return R_SERVICES;
      if (is("deviceList")) return R_DEVICES;
      if (dlna("X_DLNADOC")) return R_DLNA_DOC;
      if (dlna("X_DLNACAP")) return R_DLNA_CAP;
      if (dlna("X_DLNAVIRT")) return R_DLNA_VIRT;
      return R_SKIP;
    case R_DEVICES:
      if (!is("device")) return R_SKIP;
      return begin_device() ? R_DEVICE : (fail(), R_SKIP);
    case R_ICONS:
      if (!is("icon")) return R_SKIP;
      return begin_record(top()->icons) ? R_ICON : (fail(), R_SKIP);
    case R_SERVICES:
      if (!is("service")) return R_SKIP;
      return begin_record(top()->services) ? R_SERVICE : (fail(), R_SKIP);
    case R_ICON:
      k = field_index<upnp_desc_icon_rec>(name);
      return k >= 0 ? R_ICON_FIELD | uint32_t(k) << 8 : uint32_t(R_SKIP);
    case R_SERVICE:
      k = field_index<upnp_desc_service_rec>(name);
      return k >= 0 ? R_SERVICE_FIELD | uint32_t(k) << 8 : uint32_t(R_SKIP);
    default: return R_SKIP;
    }
  }

  void on_start(const xml_name_rec *name, const xml_name_rec *const *, const char *const *) override
  {
    uint32_t r = place(name);
    if (failed) return;
    if (depth == 1 && r != R_ROOT) return fail();
    if (r == R_SKIP) return skip();
    if (!sys_uint32alloc_append(&roles, r)) fail();
  }

  // Replaces *field with the element's trimmed text.
  void store(char **field)
  {
    char *s;
    if (!take_text(&s, true)) return;
    sys_alloc_free(*field);
    *field = s;
  }

  template <class R> void store_last(xml_owned_list<R, free_five<R>> &list, uint32_t k)
  {
    R *r = static_cast<R *>(list.pa.buf[list.pa.len - 1]);
    store(&(r->*fields_of<R>::v[k].member));
  }

  void end_device()
  {
    device_build *b = top();
    upnp_desc_device_rec *d = b->dev;
    bool ok = (!b->icons.present || b->icons.finish(&d->icons)) &&
              (!b->services.present || b->services.finish(&d->services)) &&
              (!b->dlna_doc.pa.len || b->dlna_doc.finish(&d->X_DLNADOC));
    delete b;
    open.len--;
    if (!ok) fail();
  }

  void on_end(const xml_name_rec *) override
  {
    uint32_t r = roles.buf[--roles.len];
    uint32_t k = r >> 8;
    switch (r & 0xff) {
    case R_URL_BASE: store(&url_base); break;
    case R_DEVICE_FIELD: store(&(top()->dev->*fields_of<upnp_desc_device_rec>::v[k].member)); break;
    case R_ICON_FIELD: store_last(top()->icons, k); break;
    case R_SERVICE_FIELD: store_last(top()->services, k); break;
    case R_DLNA_CAP: store(&top()->dev->X_DLNACAP); break;
    case R_DLNA_VIRT: store(&top()->dev->X_DLNAVIRT); break;
    case R_DLNA_DOC: {
      char *s;
      if (take_text(&s, true) && !top()->dlna_doc.add(s)) fail();
      break;
    }
    case R_ICONS: top()->icons.present = true; break;
    case R_SERVICES: top()->services.present = true; break;
    case R_DEVICE: end_device(); break;
    default: break;
    }
  }
};

}  // namespace

extern "C" {

int upnp_desc_parse(const char *xml, upnp_desc_rec **desc)
{
  *desc = nullptr;
  desc_reader r;
  if (!xml_walk_run(&r, xml)) return 0;
  // Only complete devices are kept.
  sys_ptralloc_rec &a = r.devices.pa;
  for (uint32_t i = 0; i < a.len;) {
    auto *d = static_cast<upnp_desc_device_rec *>(a.buf[i]);
    if (complete(d)) {
      i++;
      continue;
    }
    upnp_desc_device_free(d);
    sys_ptralloc_remove(&a, i);
  }
  if (!a.len) return 0;
  auto *out = xml_zalloc<upnp_desc_rec>();
  if (!out) return 0;
  if (!r.devices.finish(&out->devices)) {
    sys_alloc_free(out);
    return 0;
  }
  out->url_base = r.url_base;
  r.url_base = nullptr;
  *desc = out;
  return 1;
}

void upnp_desc_free(upnp_desc_rec *desc)
{
  if (!desc) return;
  sys_alloc_free(desc->url_base);
  free_array(desc->devices, free_device);
  sys_alloc_free(desc);
}

int upnp_desc_clone(const upnp_desc_rec *desc, upnp_desc_rec **copy)
{
  *copy = nullptr;
  if (!desc) return 1;
  auto *c = xml_zalloc<upnp_desc_rec>();
  if (!c) return 0;
  if (!sys_str_clone(desc->url_base, &c->url_base) ||
      !clone_array<upnp_desc_device_rec>(desc->devices, &c->devices, upnp_desc_device_clone, free_device)) {
    upnp_desc_free(c);
    return 0;
  }
  *copy = c;
  return 1;
}

void upnp_desc_device_free(upnp_desc_device_rec *d)
{
  if (!d) return;
  for (auto f : fields_of<upnp_desc_device_rec>::v) sys_alloc_free(d->*f.member);
  free_array(d->icons, free_five<upnp_desc_icon_rec>);
  free_array(d->services, free_five<upnp_desc_service_rec>);
  sys_str_list_free(d->X_DLNADOC);
  sys_alloc_free(d->X_DLNACAP);
  sys_alloc_free(d->X_DLNAVIRT);
  sys_alloc_free(d);
}

int upnp_desc_device_clone(const upnp_desc_device_rec *d, upnp_desc_device_rec **copy)
{
  *copy = nullptr;
  if (!d) return 1;
  auto *c = xml_zalloc<upnp_desc_device_rec>();
  if (!c) return 0;
  bool ok = true;
  for (auto f : fields_of<upnp_desc_device_rec>::v) ok = ok && sys_str_clone(d->*f.member, &(c->*f.member));
  ok = ok && clone_array<upnp_desc_icon_rec>(d->icons, &c->icons, clone_five, free_five) &&
       clone_array<upnp_desc_service_rec>(d->services, &c->services, clone_five, free_five) &&
       sys_str_list_clone(d->X_DLNADOC, &c->X_DLNADOC) && sys_str_clone(d->X_DLNACAP, &c->X_DLNACAP) &&
       sys_str_clone(d->X_DLNAVIRT, &c->X_DLNAVIRT);
  if (!ok) {
    upnp_desc_device_free(c);
    return 0;
  }
  *copy = c;
  return 1;
}

void upnp_desc_icon_free(upnp_desc_icon_rec *icon) { free_five(icon); }
void upnp_desc_service_free(upnp_desc_service_rec *service) { free_five(service); }
int upnp_desc_icon_clone(const upnp_desc_icon_rec *icon, upnp_desc_icon_rec **copy) { return clone_five(icon, copy); }
int upnp_desc_service_clone(const upnp_desc_service_rec *service, upnp_desc_service_rec **copy)
{
  return clone_five(service, copy);
}

}  // extern "C"
