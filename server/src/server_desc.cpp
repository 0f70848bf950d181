// The server's device description as the start needs it: the devices, their
// names and services, and the service modules the services name.
#include <vennard/server.h>
#include <vennard/server_desc.h>

#include <tarvo_util/sys_str.h>
#include <tarvo_util/upnp_desc.h>
#include <tarvo_util/xml_walk.h>

#include <utility>
#include <vector>

namespace {

template <class R> struct text_field {
  const char *name;
  char *R::*member;
};

using device_rec = server_desc_device_rec;
using service_rec = server_desc_service_rec;

constexpr text_field<device_rec> kDeviceFields[] = {
    {"friendlyName", &device_rec::friendly_name},
    {"modelName", &device_rec::model_name},
};
constexpr text_field<service_rec> kServiceFields[] = {
    {"serviceType", &service_rec::service_type},
    {"serviceId", &service_rec::service_id},
};

template <class R, size_t N> int field_index(const xml_name_rec *name, const text_field<R> (&fields)[N])
{
  for (size_t i = 0; i < N; i++)
    if (xml_name_is(name, UPNP_DESC_DEVICE_NS, fields[i].name)) return int(i);
  return -1;
}

void service_free(service_rec *sv)
{
  if (!sv) return;
  sys_alloc_free(sv->service_module);
  for (const auto &f : kServiceFields) sys_alloc_free(sv->*f.member);
  sys_alloc_free(sv);
}

void device_free(device_rec *d)
{
  if (!d) return;
  for (const auto &f : kDeviceFields) sys_alloc_free(d->*f.member);
  for (service_rec **p = d->services; p && *p; p++) service_free(*p);
  sys_alloc_free(d->services);
  sys_alloc_free(d);
}

// A NULL-terminated heap array of v's pointers, or NULL.
template <class T> T **heap_array(const std::vector<T *> &v)
{
  auto **a = static_cast<T **>(sys_alloc((v.size() + 1) * sizeof(T *)));
  if (!a) return nullptr;
  for (size_t i = 0; i < v.size(); i++) a[i] = v[i];
  a[v.size()] = nullptr;
  return a;
}

enum class role : uint8_t { root, url_base, device, device_field, devices, services, service, service_field };

struct desc_reader : xml_walk {
  server_desc_rec *desc;
  struct open_element {
    role r;
    int field;
  };
  std::vector<open_element> open;                 // every element not skipped
  std::vector<device_rec *> devices;              // flat, in document order
  std::vector<device_rec *> open_devices;
  std::vector<std::vector<service_rec *>> lists;  // services of each open serviceList
  bool root_device_seen = false;

  explicit desc_reader(server_desc_rec *d) : desc(d) {}
  ~desc_reader() override
  {
    for (auto &l : lists)
      for (service_rec *sv : l) service_free(sv);
    for (device_rec *d : devices) device_free(d);
  }

  void enter(role r, int field = -1) { open.push_back({r, field}); }

  void begin_device()
  {
    auto *d = static_cast<device_rec *>(sys_alloc_zero(sizeof(device_rec)));
    if (!d) return fail();
    devices.push_back(d);
    open_devices.push_back(d);
    enter(role::device);
  }

  void begin_service(const xml_name_rec *const *attr_names, const char *const *attr_values)
  {
    auto *sv = static_cast<service_rec *>(sys_alloc_zero(sizeof(service_rec)));
    if (!sv) return fail();
    lists.back().push_back(sv);
    for (uint32_t i = 0; attr_names[i]; i++)
      if (xml_name_is(attr_names[i], SERVER_DESC_MODULE_NS, "serviceModule") &&
          !sys_str_clone(attr_values[i], &sv->service_module))
        return fail();
    enter(role::service);
  }

  void on_start(const xml_name_rec *name, const xml_name_rec *const *attr_names,
                const char *const *attr_values) override
  {
    auto is = [name](const char *local) { return xml_name_is(name, UPNP_DESC_DEVICE_NS, local); };
    if (open.empty()) return is("root") ? enter(role::root) : fail();
    int k;
    switch (open.back().r) {
    case role::root:
      if (is("URLBase")) return enter(role::url_base);
      if (!is("device")) break;
      // One root device: a second one makes the document invalid.
      if (root_device_seen) return fail();
      root_device_seen = true;
      return begin_device();
    case role::devices:
      if (is("device")) return begin_device();
      break;
    case role::device:
      if ((k = field_index(name, kDeviceFields)) >= 0) return enter(role::device_field, k);
      if (is("deviceList")) return enter(role::devices);
      if (!is("serviceList")) break;
      lists.emplace_back();
      return enter(role::services);
    case role::services:
      if (is("service")) return begin_service(attr_names, attr_values);
      break;
    case role::service:
      if ((k = field_index(name, kServiceFields)) >= 0) return enter(role::service_field, k);
      break;
    default:
      break;
    }
    skip();
  }

  void take(char **field)
  {
    char *value = nullptr;
    if (!take_text(&value, true)) return;
    sys_alloc_free(*field);
    *field = value;
  }

  void end_services()
  {
    std::vector<service_rec *> more = std::move(lists.back());
    lists.pop_back();
    // A serviceList must hold a service.
    if (more.empty()) return fail();
    // A second serviceList adds to the first.
    device_rec *d = open_devices.back();
    std::vector<service_rec *> all;
    for (service_rec **p = d->services; p && *p; p++) all.push_back(*p);
    all.insert(all.end(), more.begin(), more.end());
    service_rec **a = heap_array(all);
    if (!a) {
      for (service_rec *sv : more) service_free(sv);
      return fail();
    }
    sys_alloc_free(d->services);
    d->services = a;
  }

  void on_end(const xml_name_rec *) override
  {
    open_element e = open.back();
    open.pop_back();
    switch (e.r) {
    case role::url_base: return take(&desc->url_base);
    case role::device_field: return take(&(open_devices.back()->*kDeviceFields[e.field].member));
    case role::service_field: return take(&(lists.back().back()->*kServiceFields[e.field].member));
    case role::device: return open_devices.pop_back();
    case role::services: return end_services();
    default: return;
    }
  }
};

bool device_complete(const device_rec *d)
{
  for (const auto &f : kDeviceFields)
    if (!(d->*f.member)) return false;
  for (service_rec **sv = d->services; sv && *sv; sv++)
    for (const auto &f : kServiceFields)
      if (!((*sv)->*f.member)) return false;
  return true;
}

}  // namespace

extern "C" {

int description_read(const char *text, uint32_t length, server_desc_rec *desc)
{
  sys_byte_zero(desc, sizeof *desc);
  desc_reader r(desc);
  std::vector<device_rec *> kept;
  if (xml_walk_run(&r, text, length)) {
    for (device_rec *&d : r.devices)
      if (device_complete(d)) kept.push_back(std::exchange(d, nullptr));
  }
  if (kept.empty() || !(desc->devices = heap_array(kept))) {
    for (device_rec *d : kept) device_free(d);
    description_free(desc);
    return 0;
  }
  return 1;
}

void description_free(server_desc_rec *desc)
{
  sys_alloc_free(desc->url_base);
  for (device_rec **d = desc->devices; d && *d; d++) device_free(*d);
  sys_alloc_free(desc->devices);
  sys_byte_zero(desc, sizeof *desc);
}

}  // extern "C"
