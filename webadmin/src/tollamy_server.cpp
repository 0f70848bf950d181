// The local server's one-call wrappers, other servers' Browse and the
// backup list models; see tollamy_server.h.
#include "tollamy_server.h"

#include <tarvo_avcp/avcp_action.h>
#include <tarvo_cp/upnp_cp.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/upnp_desc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tollamy_request.h"
#include "tollamy_server_call.h"

namespace {

bool split(const char *csv, std::vector<std::string> *out)
{
  own::str_list l;
  if (!csv_split(csv ? csv : "", &l.l)) return false;
  tollamy_strings(l.l, out);
  return true;
}

bool pairs(uint16_t port, bool allow, std::vector<std::string> *macs, std::vector<std::string> *ips)
{
  own::str_list m, i;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) {
        return allow ? tarvo_avcpl_get_allow_list(h, &m.l, &i.l, nullptr)
                     : tarvo_avcpl_get_deny_list(h, &m.l, &i.l, nullptr);
      }))
    return false;
  tollamy_strings(m.l, macs);
  tollamy_strings(i.l, ips);
  return true;
}

std::string text(const char *s) { return s ? s : ""; }

}  // namespace

void tollamy_strings(const char *const *list, std::vector<std::string> *out)
{
  out->clear();
  for (; list && *list; list++) out->push_back(*list);
}

bool tollamy_server_share_list(uint16_t port, std::vector<std::string> *paths)
{
  own::str_list l;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_share_list(h, &l.l); })) return false;
  tollamy_strings(l.l, paths);
  return true;
}

bool tollamy_server_share(uint16_t port, const char *path)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_share(h, path); });
}

bool tollamy_server_unshare(uint16_t port, const char *path)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_unshare(h, path); });
}

bool tollamy_server_add_file_type(uint16_t port, const char *ext, const char *mime)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_add_file_type(h, ext, mime); });
}

bool tollamy_server_remove_file_type(uint16_t port, const char *ext)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_remove_file_type(h, ext); });
}

bool tollamy_server_set_friendly_name(uint16_t port, const char *name)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_set_friendly_name(h, name); });
}

bool tollamy_server_allow_list(uint16_t port, std::vector<std::string> *macs, std::vector<std::string> *ips)
{
  return pairs(port, true, macs, ips);
}

bool tollamy_server_deny_list(uint16_t port, std::vector<std::string> *macs, std::vector<std::string> *ips)
{
  return pairs(port, false, macs, ips);
}

bool tollamy_server_set_client_permissions(uint16_t port, const char *mac_csv, const char *ip_csv, const char *state)
{
  return tollamy_server_call(
      port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_set_client_permissions(h, mac_csv, ip_csv, state); });
}

bool tollamy_server_unregister_clients(uint16_t port, const char *mac_csv)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_unregister_clients(h, mac_csv); });
}

bool tollamy_server_default_client_state(uint16_t port, std::string *state)
{
  own::str s;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_default_client_state(h, &s.s); }))
    return false;
  *state = text(s.s);
  return true;
}

bool tollamy_server_set_default_client_state(uint16_t port, const char *state)
{
  return tollamy_server_call(port,
                             [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_set_default_client_state(h, state); });
}

bool tollamy_server_description_uris(uint16_t port, std::vector<std::string> *uris)
{
  own::str s;
  return tollamy_server_call(
             port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_description_uris(h, &s.s, nullptr); }) &&
         split(s.s, uris);
}

bool tollamy_server_task_ids(uint16_t port, const char *udn, std::vector<std::string> *ids, uint32_t *count)
{
  own::str s;
  uint32_t n = 0;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_task_ids(h, udn, &s.s, &n); }) ||
      !split(s.s, ids))
    return false;
  if (count) *count = n;
  return true;
}

bool tollamy_server_task_info(uint16_t port, const char *task_id, tollamy_task_info *info)
{
  own::str udn, container, last, state;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) {
        return tarvo_avcpl_get_task_info(h, task_id, &udn.s, &container.s, &last.s, &state.s);
      }))
    return false;
  *info = {text(udn.s), text(container.s), text(last.s), text(state.s)};
  return true;
}

bool tollamy_server_create_task(uint16_t port, const char *udn, const char *container_id)
{
  return tollamy_server_call(
      port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_create_task(h, udn, container_id, nullptr); });
}

bool tollamy_server_remove_task(uint16_t port, const char *task_id)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_remove_task(h, task_id); });
}

bool tollamy_server_rebuild(uint16_t port)
{
  tollamy_avcpl a;
  own::str_list paths;
  if (!tarvo_avcpl_init(&a.h, port) || tarvo_avcpl_share_list(&a.h, &paths.l) != 0) return false;
  // Only what was taken off is put back; a path that could not be put
  // back is a lost share, and the rebuild says so.
  std::vector<const char *> unshared;
  for (char **p = paths.l; p && *p; p++)
    if (tarvo_avcpl_unshare(&a.h, *p) == 0) unshared.push_back(*p);
  sys_thread_sleep(TOLLAMY_REBUILD_WAIT_MS);
  bool ok = true;
  for (const char *p : unshared)
    if (tarvo_avcpl_share(&a.h, p) != 0) ok = false;
  return ok;
}

namespace {

// One Browse on the control URL: the answer's argument lists.
uint32_t browse(const char *control_url, char *body, own::str_list *names, own::str_list *values)
{
  own::str b(body);
  if (!body) return 501;
  return upnp_cp_action(control_url, avcp_type_cds(), "Browse", body, &names->l, &values->l);
}

using object_array = own::ptr_array<avcp_didl_object, avcp_didl_object_free>;

// Hands the objects out as one NULL-terminated list.
uint32_t hand_out(object_array *objects, avcp_didl_object_list *list)
{
  if (!sys_ptralloc_append(&objects->pa, nullptr)) return 501;
  *list = reinterpret_cast<avcp_didl_object_list>(objects->pa.buf);
  objects->pa = sys_ptralloc_rec{};
  return 0;
}

bool is_container(const avcp_didl_object *o)
{
  const avcp_didl_property *p = avcp_didl_property_find(o, AVCP_DIDL_NAME(EL_UPNP_CLASS));
  return p && p->text && std::string_view(p->text).starts_with("object.container");
}

const char *title_of(const avcp_didl_object *o)
{
  const avcp_didl_property *p = avcp_didl_property_find(o, AVCP_DIDL_NAME(EL_DC_TITLE));
  return p ? p->text : nullptr;
}

using object_list = own::ptr<avcp_didl_object *, avcp_didl_object_list_free>;

}  // namespace

uint32_t tollamy_browse_metadata(const char *control_url, const char *object_id, avcp_didl_object **object)
{
  char *body = nullptr;
  own::str_list names, values;
  own::str result;
  if (!avcp_cds_make_browse_metadata_request(object_id, "", &body)) return 501;
  uint32_t code = browse(control_url, body, &names, &values);
  if (code) return code;
  object_list list;
  if (!avcp_cds_parse_browse_metadata_response(names.l, values.l, &result.s, nullptr) ||
      !avcp_didl_parse(result.s, &list.p) || !list.p || !list.p[0] || list.p[1])
    return 501;
  *object = list.p[0];
  list.p[0] = nullptr;  // the list now ends before it
  return 0;
}

uint32_t tollamy_browse_children(const char *control_url, const char *object_id, uint32_t requested,
                                 avcp_didl_object_list *list)
{
  uint32_t page = requested >= 1 && requested <= TOLLAMY_BROWSE_PAGE ? requested : TOLLAMY_BROWSE_PAGE;
  uint32_t index = 0;
  object_array objects;
  for (;;) {
    char *body = nullptr;
    own::str_list names, values;
    own::str result;
    uint32_t returned = 0, total = 0;
    if (!avcp_cds_make_browse_direct_children_request(object_id, "", index, page, "", &body)) return 501;
    uint32_t code = browse(control_url, body, &names, &values);
    if (code) return code;
    if (!avcp_cds_parse_browse_direct_children_response(names.l, values.l, &result.s, &returned, &total, nullptr))
      return 501;
    if (returned == 0) break;
    object_list got;
    if (!avcp_didl_parse(result.s, &got.p)) return 501;
    // A page without objects would be asked for again and again.
    if (!got.p || !got.p[0]) break;
    uint32_t n = 0;
    while (got.p[n]) n++;
    // Room first: the page's objects move over all at once or not at all.
    if (n > TOLLAMY_BROWSE_MAX - objects.pa.len || !sys_ptralloc_readyplus(&objects.pa, n)) return 501;
    for (uint32_t i = 0; i < n; i++) {
      sys_ptralloc_append(&objects.pa, got.p[i]);
      got.p[i] = nullptr;
    }
    index = returned > UINT32_MAX - index ? UINT32_MAX : index + returned;
    if (requested) {
      if (index >= requested) break;
      if (requested - index < TOLLAMY_BROWSE_PAGE) page = requested - index;
    }
    // TotalMatches 0 is a total the server does not know: the pages go on
    // until one brings no objects, and the object cap ends a server that
    // never stops.
    if (total && index >= total) break;
  }
  return hand_out(&objects, list);
}

namespace {

// The smallest icon's URL, the first of equal widths; the default icon
// without any.
std::string icon_of(const tollamy_config *c, const upnp_desc_device_rec *d)
{
  const char *url = nullptr;
  uint32_t best = UINT32_MAX;
  for (upnp_desc_icon_rec **i = d->icons; i && *i; i++) {
    if (!(*i)->url) continue;
    uint16_t w = 0;
    if ((*i)->width) sys_str_scan_uint16((*i)->width, &w);
    if (w < best) {
      best = w;
      url = (*i)->url;
    }
  }
  if (url) return url;
  const char *file = tollamy_param_get(c, TOLLAMY_DEFAULT_SERVER_ICON_FILE);
  return tollamy_param_path(c, TOLLAMY_IMAGE_RESOURCE_DIR, file ? file : "");
}

const char *cds_control_url(const upnp_desc_device_rec *d)
{
  for (upnp_desc_service_rec **s = d->services; s && *s; s++)
    if ((*s)->serviceType && std::strcmp((*s)->serviceType, avcp_type_cds()) == 0)
      return (*s)->controlURL && *(*s)->controlURL ? (*s)->controlURL : nullptr;
  return nullptr;
}

using desc_owner = own::ptr<upnp_desc_rec, upnp_desc_free>;

}  // namespace

bool tollamy_backup_server_list(const tollamy_config *c, uint16_t port, std::vector<tollamy_backup_server> *out)
{
  std::vector<std::string> urls;
  if (!tollamy_server_description_uris(port, &urls)) return false;
  std::vector<tollamy_backup_server> list;
  for (const std::string &url : urls) {
    desc_owner desc;
    if (url.empty() || !upnp_cp_get_desc(url.c_str(), &desc.p)) continue;
    for (upnp_desc_device_rec **d = desc.p->devices; d && *d; d++) {
      const char *control = cds_control_url(*d);
      if (!control) continue;
      tollamy_backup_server s{text((*d)->UDN), text((*d)->friendlyName), icon_of(c, *d), control, 0};
      std::vector<std::string> ids;
      uint32_t n = 0;
      if (!tollamy_server_task_ids(port, s.udn.c_str(), &ids, &n)) return false;
      s.ntask = int32_t(n);
      list.push_back(std::move(s));
    }
  }
  std::stable_sort(list.begin(), list.end(), [](const tollamy_backup_server &a, const tollamy_backup_server &b) {
    return a.ntask != b.ntask ? a.ntask > b.ntask : a.friendly_name < b.friendly_name;
  });
  *out = std::move(list);
  return true;
}

namespace {

// A task of this server for the container; false when a task's info cannot
// be had or names another server.
bool registered(uint16_t port, const char *udn, const char *container_id, bool *found)
{
  std::vector<std::string> ids;
  *found = false;
  if (!tollamy_server_task_ids(port, udn, &ids, nullptr)) return false;
  for (const std::string &id : ids) {
    if (id.empty()) break;
    tollamy_task_info info;
    if (!tollamy_server_task_info(port, id.c_str(), &info) || info.udn != udn) return false;
    if (info.container_id == container_id) {
      *found = true;
      break;
    }
  }
  return true;
}

}  // namespace

bool tollamy_container_list(uint16_t port, const char *udn, const char *control_url, const char *container_id,
                            std::vector<tollamy_backup_container> *out)
{
  object_list children;
  if (tollamy_browse_children(control_url, container_id, 0, &children.p) != 0) return false;
  std::vector<tollamy_backup_container> list;
  for (avcp_didl_object **o = children.p; o && *o; o++) {
    if (!is_container(*o)) continue;
    const char *id = avcp_didl_attribute_find((*o)->attribute_names, (*o)->attribute_values, AVCP_DIDL_NAME(AT_ID));
    const char *title = title_of(*o);
    if (!id || !title) return false;
    tollamy_backup_container r{id, title, false, 0};
    if (!registered(port, udn, id, &r.registered)) return false;
    object_list grand;
    if (tollamy_browse_children(control_url, id, 0, &grand.p) != 0) return false;
    for (avcp_didl_object **g = grand.p; g && *g; g++)
      if (is_container(*g)) r.nchildren++;
    list.push_back(std::move(r));
  }
  *out = std::move(list);
  return true;
}

std::string tollamy_container_elements(const std::vector<tollamy_backup_container> &list)
{
  static const char *const names[] = {"id", "dc_title", "registered", "nchildren", nullptr};
  std::string out;
  for (const tollamy_backup_container &r : list) {
    std::string n = std::to_string(r.nchildren);
    const char *values[] = {r.id.c_str(), r.title.c_str(), r.registered ? "true" : "false", n.c_str()};
    tollamy_element(&out, "container", nullptr, names, values, true);
  }
  return out;
}

bool tollamy_task_list(uint16_t port, const char *udn, const char *control_url, std::vector<tollamy_backup_task> *out,
                       uint32_t *ntask)
{
  static const char *const states[] = {"WAITING", "STANDBY", "RUNNING", "DISABLED"};
  std::vector<std::string> ids;
  uint32_t n = 0;
  if (!tollamy_server_task_ids(port, udn, &ids, &n)) return false;
  std::vector<tollamy_backup_task> list;
  for (const std::string &id : ids) {
    if (id.empty()) break;
    tollamy_task_info info;
    if (!tollamy_server_task_info(port, id.c_str(), &info) || info.udn != udn) continue;
    own::ptr<avcp_didl_object, avcp_didl_object_free> object;
    if (tollamy_browse_metadata(control_url, info.container_id.c_str(), &object.p) != 0) continue;
    const char *title = title_of(object.p);
    if (!title) continue;
    uint32_t state = TOLLAMY_TASK_UNKNOWN;
    for (uint32_t i = 0; i < TOLLAMY_TASK_UNKNOWN; i++)
      if (info.state == states[i]) state = i;
    list.push_back({info.last_backuped, id, info.container_id, title, state});
  }
  *out = std::move(list);
  if (ntask) *ntask = n;
  return true;
}

bool tollamy_task_date(const char *last_backuped, std::string *out)
{
  if (!last_backuped || !*last_backuped) {
    *out = "-";
    return true;
  }
  int64_t t;
  sys_caltime_rec cal;
  if (http_date_scan(last_backuped, &t) != std::strlen(last_backuped) || !sys_caltime_local_from(&cal, &t))
    return false;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d", int(cal.year), int(cal.month), int(cal.day), int(cal.hour),
                int(cal.minute));
  *out = buf;
  return true;
}
