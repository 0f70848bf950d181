// The vendor service X_DeviceManager: the client allow and deny lists,
// the state of unknown clients and the friendly name.
#include "access_impl.h"
#include "server_util.h"

#include <vennard/conf_store.h>
#include <vennard/service.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/upnp_desc.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

using namespace acl;
using namespace srv;

namespace {

server_rec *server_of(void *user) { return static_cast<server_rec *>(user); }

struct access_lock {
  server_rec *s;
  bool held;
  explicit access_lock(server_rec *srv) : s(srv), held(sys_mutex_lock(&srv->access.mutex)) {}
  ~access_lock()
  {
    if (held) sys_mutex_unlock(&s->access.mutex);
  }
};

// A comma list of MAC addresses, each well-formed, in lower case.
bool macs_parse(const char *text, own::str_list *macs)
{
  if (!text || !*text || !csv_split(text, &macs->l)) return false;
  for (char **m = macs->l; *m; m++) {
    if (!conf_mac_valid(*m)) return false;
    sys_str_case_lower(*m);
  }
  return true;
}

uint32_t list_count(char **l)
{
  uint32_t n = 0;
  while (l[n]) n++;
  return n;
}

bool client_file_path(server_rec *s, bool allow, const char *mac, own::str *path)
{
  return conf_key_item_path(s->data_home, allow ? CONF_KEY_ACCESS_ALLOW : CONF_KEY_ACCESS_DENY, mac, &path->s);
}

// The client's file goes to the allow (or deny) folder: moved from the
// other one, keeping its address, or written with ip.
bool permission_set(server_rec *s, bool allow, const char *mac, const char *ip)
{
  if (client_file_exists(s, allow, mac)) return true;
  access_control_rec &a = s->access;
  if (client_file_exists(s, !allow, mac)) {
    own::str from, to;
    if (!client_file_path(s, !allow, mac, &from) || !client_file_path(s, allow, mac, &to) ||
        !utf8file_rename(from.s, to.s))
      return false;
    flag(allow ? a.deny_changed : a.allow_changed).store(1);
  } else if (!conf_access_write(s->data_home, allow, mac, ip)) {
    return false;
  }
  if (allow) flag(a.allow_changed).store(1);
  else flag(a.deny_changed).store(1);
  return true;
}

uint32_t set_client_permissions(server_rec *s, char **names, char **values)
{
  own::str_list macs, ips;
  const char *mac_list = argument(names, values, "MacList");
  const char *ip_list = argument(names, values, "IpList");
  const char *state = argument(names, values, "ClientState");
  if (!macs_parse(mac_list, &macs) || !ip_list || !*ip_list || !csv_split(ip_list, &ips.l) ||
      list_count(macs.l) != list_count(ips.l) || !state)
    return kInvalidArgs;
  int allow;
  if (!sys_str_diff(state, "allow")) allow = 1;
  else if (!sys_str_diff(state, "deny")) allow = 0;
  else if (sys_str_diff(state, "default")) return kInvalidArgs;
  else if (!conf_access_default_read(s->data_home, &allow)) return kFailed;
  for (uint32_t i = 0; macs.l[i]; i++)
    if (!permission_set(s, allow != 0, macs.l[i], ips.l[i])) return kFailed;
  // A client let in hears of the server at once.
  if (allow && (flag(s->access.allow_changed).load() || flag(s->access.deny_changed).load()) &&
      server_device_enter(s)) {
    tarvo_device_send_alive(&s->device);
    server_device_leave(s);
  }
  return 0;
}

uint32_t unregister_clients(server_rec *s, char **names, char **values)
{
  own::str_list macs;
  if (!macs_parse(argument(names, values, "MacList"), &macs)) return kInvalidArgs;
  for (char **m = macs.l; *m; m++)
    for (bool allow : {true, false}) {
      if (!client_file_exists(s, allow, *m)) continue;
      own::str path;
      if (!client_file_path(s, allow, *m, &path) || !utf8file_remove(path.s)) return kFailed;
      flag(allow ? s->access.allow_changed : s->access.deny_changed).store(1);
    }
  return 0;
}

// The records of access/allow or access/deny as two comma lists and their
// count.
struct client_lists {
  own::str macs, ips;
  char count[12];
  bool read(server_rec *s, bool allow)
  {
    own::str_list names, values;
    if (!conf_folder_list(s->data_home, allow ? CONF_KEY_ACCESS_ALLOW : CONF_KEY_ACCESS_DENY, &names.l, &values.l))
      return false;
    count[sys_str_fmt_uint32(count, list_count(names.l))] = 0;
    return csv_concatenate(names.l, &macs.s) && csv_concatenate(values.l, &ips.s);
  }
};

// The friendly name as stored, else the default one from the description
// file.
bool friendly_name_current(server_rec *s, own::str *name)
{
  if (conf_value_read(s->data_home, CONF_KEY_FRIENDLY_NAME, &name->s)) return true;
  own::stralloc xml;
  upnp_desc_rec *desc = nullptr;
  if (!conf_description_read(s->data_home, &xml.s) || !sys_stralloc_append(&xml.s, "") ||
      !upnp_desc_parse(xml.s.buf, &desc))
    return false;
  const char *described = desc->devices && desc->devices[0] ? desc->devices[0]->friendlyName : nullptr;
  bool ok = described && conf_friendly_name_default(described, &name->s);
  upnp_desc_free(desc);
  return ok;
}

// The device description served at "/" gets the new name, between a
// goodbye and a new announcement.
uint32_t description_rename(server_rec *s, const char *name)
{
  own::str fallback;
  if (!*name) {
    if (!friendly_name_current(s, &fallback)) return kFailed;
    name = fallback.s;
  }
  if (!server_device_enter(s)) return kFailed;
  tarvo_device_send_byebye(&s->device);
  char *element[] = {const_cast<char *>("friendlyName"), nullptr};
  char *value[] = {const_cast<char *>(name), nullptr};
  char *copy = nullptr;
  bool ok = s->description && xml_translate_value(s->description, element, value, 1, &copy) &&
            tarvo_device_replace_static_content(&s->device, "/", copy, sys_str_len(copy));
  if (ok) {
    sys_alloc_free(s->description);
    s->description = copy;
  } else {
    sys_alloc_free(copy);
  }
  tarvo_device_send_alive(&s->device);
  server_device_leave(s);
  return ok ? 0 : kFailed;
}

uint32_t set_friendly_name(server_rec *s, const char *name)
{
  if (!name) return kInvalidArgs;
  own::str stored, path;
  bool has = conf_value_read(s->data_home, CONF_KEY_FRIENDLY_NAME, &stored.s);
  std::atomic_ref<int32_t> changed = flag(s->access.friendly_name_changed);
  if (!*name) {
    if (has) {
      if (!conf_key_path(s->data_home, CONF_KEY_FRIENDLY_NAME, &path.s) || !utf8file_remove(path.s)) return kFailed;
      changed.store(1);
    }
  } else if (!has || sys_str_diff(stored.s, name)) {
    if (!conf_value_write(s->data_home, CONF_KEY_FRIENDLY_NAME, name)) return kFailed;
    changed.store(1);
  }
  return changed.load() ? description_rename(s, name) : 0;
}

uint32_t default_state_set(server_rec *s, const char *state)
{
  if (!state || (sys_str_diff(state, "allow") && sys_str_diff(state, "deny"))) return kInvalidArgs;
  int allow = 0, want = !sys_str_diff(state, "allow");
  if (!conf_access_default_read(s->data_home, &allow)) return kFailed;
  if (!allow == !want) return 0;
  if (!conf_access_default_write(s->data_home, want)) return kFailed;
  flag(s->access.default_changed).store(1);
  return 0;
}

bool default_state_text(server_rec *s, const char **text)
{
  int allow = 0;
  if (!conf_access_default_read(s->data_home, &allow)) return false;
  *text = allow ? "allow" : "deny";
  return true;
}

bool default_state_add(server_rec *s, sys_stralloc_rec *body)
{
  const char *state;
  return default_state_text(s, &state) && property_set_xml_add(body, "A_ARG_TYPE_DefaultClientState", state);
}

bool client_lists_add(server_rec *s, bool allow, sys_stralloc_rec *body)
{
  client_lists l;
  return l.read(s, allow) &&
         property_set_xml_add(body, allow ? "A_ARG_TYPE_AllowMacList" : "A_ARG_TYPE_DenyMacList", l.macs.s) &&
         property_set_xml_add(body, allow ? "A_ARG_TYPE_AllowIpList" : "A_ARG_TYPE_DenyIpList", l.ips.s) &&
         property_set_xml_add(body, allow ? "A_ARG_TYPE_NumberOfAllowClients" : "A_ARG_TYPE_NumberOfDenyClients",
                              l.count);
}

bool allow_lists_add(server_rec *s, sys_stralloc_rec *body) { return client_lists_add(s, true, body); }
bool deny_lists_add(server_rec *s, sys_stralloc_rec *body) { return client_lists_add(s, false, body); }

bool friendly_name_add(server_rec *s, sys_stralloc_rec *body)
{
  own::str name;
  return friendly_name_current(s, &name) && property_set_xml_add(body, "A_ARG_TYPE_FriendlyName", name.s);
}

// The groups of evented variables, in the order an event lists them: the
// flag that marks a group changed and how its values are added.
struct event_group {
  int32_t access_control_rec::*changed;
  bool (*add)(server_rec *, sys_stralloc_rec *);
};

constexpr event_group kEventGroups[] = {
    {&access_control_rec::default_changed, default_state_add},
    {&access_control_rec::allow_changed, allow_lists_add},
    {&access_control_rec::deny_changed, deny_lists_add},
    {&access_control_rec::friendly_name_changed, friendly_name_add},
};
constexpr size_t kGroupCount = sizeof kEventGroups / sizeof kEventGroups[0];

// One action request, as each handler of the table sees it.
struct call {
  const device_request_info *info;
  server_rec *s;
  const char *action;
  char **names, **values;
  char **response;
  const char *arg(const char *name) const { return argument(names, values, name); }
  uint32_t done(uint32_t r) const { return r ? r : respond(info, action, {}, response); }
};

uint32_t do_set_client_permissions(const call &c) { return c.done(set_client_permissions(c.s, c.names, c.values)); }

uint32_t do_unregister_clients(const call &c) { return c.done(unregister_clients(c.s, c.names, c.values)); }

uint32_t client_list_answer(const call &c, bool allow)
{
  client_lists l;
  if (!l.read(c.s, allow)) return kFailed;
  return respond(c.info, c.action,
                 {{allow ? "AllowMacList" : "DenyMacList", l.macs.s},
                  {allow ? "AllowIpList" : "DenyIpList", l.ips.s},
                  {allow ? "NumberOfAllowClients" : "NumberOfDenyClients", l.count}},
                 c.response);
}

uint32_t do_get_allow_list(const call &c) { return client_list_answer(c, true); }
uint32_t do_get_deny_list(const call &c) { return client_list_answer(c, false); }

uint32_t do_set_default_state(const call &c) { return c.done(default_state_set(c.s, c.arg("DefaultClientState"))); }

uint32_t do_get_default_state(const call &c)
{
  const char *state;
  if (!default_state_text(c.s, &state)) return kFailed;
  return respond(c.info, c.action, {{"DefaultClientState", state}}, c.response);
}

uint32_t do_set_friendly_name(const call &c) { return c.done(set_friendly_name(c.s, c.arg("FriendlyName"))); }

uint32_t do_get_friendly_name(const call &c)
{
  own::str name;
  if (!friendly_name_current(c.s, &name)) return kFailed;
  return respond(c.info, c.action, {{"FriendlyName", name.s}}, c.response);
}

struct action_entry {
  const char *name;
  uint32_t (*fn)(const call &);
  bool changing;
};

// Only the management programs on this machine change who may come in;
// a change is evented once its action succeeded.
constexpr action_entry kActions[] = {
    {"SetClientPermissions", do_set_client_permissions, true},
    {"UnregisterClients", do_unregister_clients, true},
    {"GetAllowList", do_get_allow_list, false},
    {"GetDenyList", do_get_deny_list, false},
    {"SetDefaultClientState", do_set_default_state, true},
    {"GetDefaultClientState", do_get_default_state, false},
    {"SetFriendlyName", do_set_friendly_name, true},
    {"GetFriendlyName", do_get_friendly_name, false},
};

}  // namespace

extern "C" {

void devmgr_handler_init(server_rec *s, device_service_handler *h)
{
  *h = device_service_handler{};
  h->service_id = DEVMGR_SERVICE_ID;
  h->action = devmgr_action_dispatch;
  h->query = devmgr_query_state_variable;
  h->subscribe = devmgr_subscribe;
  h->user = s;
}

uint32_t devmgr_action_dispatch(const device_request_info *info, const char *action, char **names, char **values,
                                void *server, char **response)
{
  server_rec *s = server_of(server);
  for (const action_entry &e : kActions) {
    if (sys_str_diff(action, e.name)) continue;
    if (e.changing && !is_local_address(info->addr.remote_ip)) return kInvalidAction;
    uint32_t r;
    {
      access_lock lock(s);
      if (!lock.held) return kFailed;
      r = e.fn(call{info, s, e.name, names, values, response});
    }
    if (!r && e.changing) devmgr_event_notify(s);
    return r;
  }
  return kInvalidAction;
}

uint32_t devmgr_query_state_variable(const device_request_info *, const char *, void *, char **)
{
  return kInvalidAction;
}

int devmgr_subscribe(const device_request_info *, void *server, char **body)
{
  server_rec *s = server_of(server);
  access_lock lock(s);
  own::stralloc sa;
  bool ok = lock.held && property_set_xml_begin(&sa.s);
  for (const event_group &g : kEventGroups) ok = ok && g.add(s, &sa.s);
  return ok && property_set_xml_end(&sa.s) && hand_out(&sa.s, body);
}

void devmgr_event_notify(server_rec *s)
{
  if (!server_device_enter(s)) return;
  own::stralloc body;
  bool send = false;
  {
    access_lock lock(s);
    if (lock.held) {
      // Each group's flag is taken before its values are read: a change
      // made meanwhile stays flagged for the next event.
      bool taken[kGroupCount] = {};
      bool ok = property_set_xml_begin(&body.s);
      for (size_t g = 0; g < kGroupCount; g++) {
        taken[g] = flag(s->access.*kEventGroups[g].changed).exchange(0) != 0;
        if (taken[g] && ok) ok = kEventGroups[g].add(s, &body.s);
        send = send || taken[g];
      }
      ok = ok && property_set_xml_end(&body.s) && sys_stralloc_append(&body.s, "");
      if (!ok) {
        for (size_t g = 0; g < kGroupCount; g++)
          if (taken[g]) flag(s->access.*kEventGroups[g].changed).store(1);
        send = false;
      }
    }
  }
  if (send) tarvo_device_event_notify(&s->device, DEVMGR_SERVICE_ID, body.s.buf);
  server_device_leave(s);
}

}  // extern "C"
