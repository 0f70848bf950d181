// The local server's one-call wrappers, other servers' Browse and the
// backup list models; see tollamy_server.h.
#include "tollamy_server.h"

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_thread.h>

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
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_share_list(h, &l.l); }))
    return false;
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
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) {
    return tarvo_avcpl_set_client_permissions(h, mac_csv, ip_csv, state);
  });
}

bool tollamy_server_unregister_clients(uint16_t port, const char *mac_csv)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_unregister_clients(h, mac_csv); });
}

bool tollamy_server_default_client_state(uint16_t port, std::string *state)
{
  own::str s;
  if (!tollamy_server_call(port,
                           [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_default_client_state(h, &s.s); }))
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
  return tollamy_server_call(port,
                             [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_description_uris(h, &s.s, nullptr); }) &&
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
  return tollamy_server_call(port,
                             [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_create_task(h, udn, container_id, nullptr); });
}

bool tollamy_server_remove_task(uint16_t port, const char *task_id)
{
  return tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_remove_task(h, task_id); });
}

bool tollamy_server_rebuild(uint16_t) { return false; }

uint32_t tollamy_browse_metadata(const char *, const char *, avcp_didl_object **) { return 501; }

uint32_t tollamy_browse_children(const char *, const char *, uint32_t, avcp_didl_object_list *) { return 501; }

bool tollamy_backup_server_list(const tollamy_config *, uint16_t, std::vector<tollamy_backup_server> *) { return false; }

bool tollamy_container_list(uint16_t, const char *, const char *, const char *, std::vector<tollamy_backup_container> *)
{
  return false;
}

std::string tollamy_container_elements(const std::vector<tollamy_backup_container> &) { return {}; }

bool tollamy_task_list(uint16_t, const char *, const char *, std::vector<tollamy_backup_task> *, uint32_t *)
{
  return false;
}

bool tollamy_task_date(const char *, std::string *) { return false; }
