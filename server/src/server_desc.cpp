// The server's device description as the start needs it: the devices, their
// names and services, and the service modules the services name.
#include <vennard/server.h>
#include <vennard/server_desc.h>

#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <vector>

namespace {

enum class frame { root, device, device_list, service_list, service, text, skip };

struct desc_parse {
  server_desc_rec *desc;
  explicit desc_parse(server_desc_rec *d) : desc(d) {}
  struct level {
    explicit level(frame k) : kind(k) {}
    frame kind;
    server_desc_device_rec *device = nullptr;   // device, device_list, service_list
    server_desc_service_rec *service = nullptr; // service
    char **field = nullptr;                     // text
    std::vector<server_desc_service_rec *> services; // service_list
  };
  std::vector<level> stack;
  std::vector<server_desc_device_rec *> devices;
  sys_stralloc_rec text{};
  bool root_device_seen = false;
  bool invalid = false;
  bool failed = false;  // memory ran out

  ~desc_parse() { sys_stralloc_free(&text); }
};

bool in_device_ns(const xml_name_rec *name)
{
  return name->ns && !std::strcmp(name->ns, SERVER_DESC_DEVICE_NS);
}

bool named(const xml_name_rec *name, const char *local) { return !std::strcmp(name->local, local); }

void service_free(server_desc_service_rec *sv)
{
  if (!sv) return;
  sys_alloc_free(sv->service_module);
  sys_alloc_free(sv->service_type);
  sys_alloc_free(sv->service_id);
  sys_alloc_free(sv);
}

void services_free(server_desc_service_rec **list)
{
  for (server_desc_service_rec **p = list; p && *p; p++) service_free(*p);
  sys_alloc_free(list);
}

void device_free(server_desc_device_rec *d)
{
  if (!d) return;
  sys_alloc_free(d->friendly_name);
  sys_alloc_free(d->model_name);
  services_free(d->services);
  sys_alloc_free(d);
}

// Appends services to a NULL-terminated heap array.
bool services_attach(server_desc_device_rec *d, std::vector<server_desc_service_rec *> &more)
{
  uint32_t n = 0;
  while (d->services && d->services[n]) n++;
  auto **list = static_cast<server_desc_service_rec **>(sys_alloc((n + more.size() + 1) * sizeof(void *)));
  if (!list) return false;
  for (uint32_t i = 0; i < n; i++) list[i] = d->services[i];
  for (size_t i = 0; i < more.size(); i++) list[n + i] = more[i];
  list[n + more.size()] = nullptr;
  sys_alloc_free(d->services);
  d->services = list;
  more.clear();
  return true;
}

template <class T> T *zeroed() { return static_cast<T *>(sys_alloc_zero(sizeof(T))); }

void on_start(const xml_name_rec *name, const xml_name_rec *const *attr_names, const char *const *attr_values,
              void *user)
{
  auto *p = static_cast<desc_parse *>(user);
  if (p->invalid || p->failed) return;
  using level = desc_parse::level;
  frame top = p->stack.empty() ? frame::skip : p->stack.back().kind;
  bool ours = in_device_ns(name);
  if (p->stack.empty()) {
    if (!ours || !named(name, "root")) p->invalid = true;
    else p->stack.push_back(level{frame::root});
    return;
  }
  if (!ours || top == frame::skip || top == frame::text) {
    p->stack.push_back(level{frame::skip});
    return;
  }
  level next{frame::skip};
  level &cur = p->stack.back();
  switch (top) {
  case frame::root:
    if (named(name, "URLBase")) {
      next = level{frame::text};
      next.field = &p->desc->url_base;
    } else if (named(name, "device")) {
      if (p->root_device_seen) {
        p->invalid = true;
        return;
      }
      p->root_device_seen = true;
      next = level{frame::device};
    }
    break;
  case frame::device_list:
    if (named(name, "device")) next = level{frame::device};
    break;
  case frame::device:
    if (named(name, "friendlyName") || named(name, "modelName")) {
      next = level{frame::text};
      next.field = named(name, "modelName") ? &cur.device->model_name : &cur.device->friendly_name;
    } else if (named(name, "deviceList")) {
      next = level{frame::device_list};
    } else if (named(name, "serviceList")) {
      next = level{frame::service_list};
      next.device = cur.device;
    }
    break;
  case frame::service_list:
    if (named(name, "service")) {
      next = level{frame::service};
      if (!(next.service = zeroed<server_desc_service_rec>())) {
        p->failed = true;
        return;
      }
      cur.services.push_back(next.service);
      for (uint32_t i = 0; attr_names[i]; i++) {
        const xml_name_rec *a = attr_names[i];
        if (a->ns && !std::strcmp(a->ns, SERVER_DESC_MODULE_NS) && !std::strcmp(a->local, "serviceModule") &&
            !sys_str_clone(attr_values[i], &next.service->service_module))
          p->failed = true;
      }
    }
    break;
  case frame::service:
    if (named(name, "serviceType") || named(name, "serviceId")) {
      next = level{frame::text};
      next.field = named(name, "serviceId") ? &cur.service->service_id : &cur.service->service_type;
    }
    break;
  default:
    break;
  }
  if (next.kind == frame::device) {
    if (!(next.device = zeroed<server_desc_device_rec>())) {
      p->failed = true;
      return;
    }
    p->devices.push_back(next.device);
  }
  if (next.kind == frame::text) p->text.len = 0;
  p->stack.push_back(std::move(next));
}

void on_end(const xml_name_rec *, void *user)
{
  auto *p = static_cast<desc_parse *>(user);
  if (p->invalid || p->failed || p->stack.empty()) return;
  desc_parse::level &cur = p->stack.back();
  if (cur.kind == frame::text) {
    xml_gen_text_trim(&p->text);
    char *value = nullptr;
    if (!sys_stralloc_append(&p->text, "") || !sys_str_clone(p->text.buf, &value)) {
      p->failed = true;
      return;
    }
    sys_alloc_free(*cur.field);
    *cur.field = value;
  } else if (cur.kind == frame::service_list) {
    if (cur.services.empty()) p->invalid = true;
    else if (!services_attach(cur.device, cur.services)) p->failed = true;
  }
  p->stack.pop_back();
}

void on_text(const char *data, uint32_t len, void *user)
{
  auto *p = static_cast<desc_parse *>(user);
  if (p->invalid || p->failed || p->stack.empty() || p->stack.back().kind != frame::text) return;
  if (!sys_stralloc_catb(&p->text, data, len)) p->failed = true;
}

bool device_complete(const server_desc_device_rec *d)
{
  if (!d->friendly_name || !d->model_name) return false;
  for (server_desc_service_rec **sv = d->services; sv && *sv; sv++)
    if (!(*sv)->service_type || !(*sv)->service_id) return false;
  return true;
}

}  // namespace

extern "C" {

int description_read(const char *text, uint32_t length, server_desc_rec *desc)
{
  sys_byte_zero(desc, sizeof *desc);
  desc_parse p(desc);
  xml_parse_rec rec{};
  if (!xml_parse_create(&rec, &p)) return 0;
  xml_parse_set_element_handler(&rec, on_start, on_end);
  xml_parse_set_text_handler(&rec, on_text);
  bool parsed = xml_parse_feed(&rec, text, length, 1) != 0;
  xml_parse_free(&rec);
  // Services of a serviceList left open by a broken document belong to no
  // device yet.
  for (desc_parse::level &l : p.stack)
    for (server_desc_service_rec *sv : l.services) service_free(sv);
  std::vector<server_desc_device_rec *> kept;
  for (server_desc_device_rec *d : p.devices) {
    if (parsed && !p.invalid && !p.failed && device_complete(d)) kept.push_back(d);
    else device_free(d);
  }
  if (kept.empty()) {
    description_free(desc);
    return 0;
  }
  auto **list = static_cast<server_desc_device_rec **>(sys_alloc((kept.size() + 1) * sizeof(void *)));
  if (!list) {
    for (server_desc_device_rec *d : kept) device_free(d);
    description_free(desc);
    return 0;
  }
  for (size_t i = 0; i < kept.size(); i++) list[i] = kept[i];
  list[kept.size()] = nullptr;
  desc->devices = list;
  return 1;
}

void description_free(server_desc_rec *desc)
{
  sys_alloc_free(desc->url_base);
  for (server_desc_device_rec **d = desc->devices; d && *d; d++) device_free(*d);
  sys_alloc_free(desc->devices);
  sys_byte_zero(desc, sizeof *desc);
}

}  // extern "C"
