// The server's vendor actions: the ContentDirectory extensions, the
// client manager and the backup tasks, as rows on the action engine.
#include "avcp_action_impl.h"
#include "avcpl_impl.h"

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/tarvo_vendor.h>

#include <tuple>

namespace {

using avcp::action;
using avcp::cds_type;
using avcp::reading;

struct row {
  const char *path;
  action a;
};

constexpr const char *cds = avcpl::cds_path, *backup = avcpl::backup_path, *devmgr = avcpl::devmgr_path;
constexpr char backup_type[] = TARVO_VENDOR_BACKUP_TYPE, devmgr_type[] = TARVO_VENDOR_DEVMGR_TYPE;

constexpr row set_private{cds, {cds_type, "X_SetPrivate", 200, reading::none, "ObjectID Private", ""}};
constexpr row set_searchable{cds, {cds_type, "X_SetSearchable", 200, reading::none, "ContainerID Searchable", ""}};
constexpr row get_file_type_list{cds, {cds_type, "X_GetFileTypeList", 200, reading::multi, "",
                                       "FileExtensionList MimeTypeList NumberOfFileTypes"}};
constexpr row add_file_type{cds, {cds_type, "X_AddFileType", 200, reading::none, "FileExtension MimeType", ""}};
constexpr row remove_file_type{cds, {cds_type, "X_RemoveFileType", 200, reading::none, "FileExtension", ""}};
constexpr row get_description_uris{backup, {backup_type, "GetDescriptionURIs", 200, reading::multi, "",
                                            "DescriptionURIs NumberOfDescriptionURIs"}};
constexpr row create_task{backup, {backup_type, "CreateTask", 300, reading::multi, "UDN ContainerID", "TaskID"}};
constexpr row remove_task{backup, {backup_type, "RemoveTask", 200, reading::none, "TaskID", ""}};
constexpr row get_task_ids{backup, {backup_type, "GetTaskIDs", 200, reading::multi, "UDN", "TaskIDs NumberOfTaskIDs"}};
constexpr row get_all_task_ids{backup,
                               {backup_type, "GetAllTaskIDs", 200, reading::multi, "", "TaskIDs NumberOfTaskIDs"}};
constexpr row get_task_info{backup, {backup_type, "GetTaskInfo", 300, reading::multi, "TaskID",
                                     "UDN ContainerID LastBackuped State"}};
constexpr row set_client_permissions{
    devmgr, {devmgr_type, "SetClientPermissions", 500, reading::none, "MacList IpList ClientState", ""}};
constexpr row unregister_clients{devmgr, {devmgr_type, "UnregisterClients", 500, reading::none, "MacList", ""}};
constexpr row get_allow_list{devmgr, {devmgr_type, "GetAllowList", 200, reading::multi, "",
                                      "AllowMacList AllowIpList NumberOfAllowClients"}};
constexpr row get_deny_list{devmgr, {devmgr_type, "GetDenyList", 200, reading::multi, "",
                                     "DenyMacList DenyIpList NumberOfDenyClients"}};
constexpr row set_default_client_state{
    devmgr, {devmgr_type, "SetDefaultClientState", 500, reading::none, "DefaultClientState", ""}};
constexpr row get_default_client_state{
    devmgr, {devmgr_type, "GetDefaultClientState", 200, reading::multi, "", "DefaultClientState"}};
constexpr row set_friendly_name{devmgr, {devmgr_type, "SetFriendlyName", 500, reading::none, "FriendlyName", ""}};
constexpr row get_friendly_name{devmgr, {devmgr_type, "GetFriendlyName", 200, reading::multi, "", "FriendlyName"}};

// One action: the URL, the IN values in row order, and the OUT pointers
// read from the answer (each argument required, a NULL pointer skipped).
template <class... In, class... Out>
uint32_t run(tarvo_avcpl_handle *handle, const row &r, std::tuple<In...> in, Out... out)
{
  http_client *c = avcpl::client_for(handle, r.path);
  if (!c) return SOAP_ACTION_FAILED;
  return avcp::call(
      c, r.a, [&](char **body) { return std::apply([&](auto... v) { return avcp::build(r.a, body, v...); }, in); },
      [&](char **n, char **v) { return avcp::parse(r.a, n, v, out...); });
}

// A list argument: an empty text is a list without entries.
bool split(const char *text, sys_str_list *out)
{
  if (*text) return csv_split(text, out);
  *out = static_cast<sys_str_list>(sys_alloc_zero(sizeof(char *)));
  return *out != nullptr;
}

// Two list outputs and a count: the texts are read as strings, then split;
// on any failure the caller owns nothing.
uint32_t two_lists(tarvo_avcpl_handle *handle, const row &r, sys_str_list *a, sys_str_list *b, uint32_t *count)
{
  own::str ta, tb;
  uint32_t res = run(handle, r, std::tuple<>{}, a ? &ta.s : static_cast<char **>(nullptr),
                     b ? &tb.s : static_cast<char **>(nullptr), count);
  if (res) return res;
  sys_str_list la = nullptr, lb = nullptr;
  if ((a && !split(ta.s, &la)) || (b && !split(tb.s, &lb))) {
    sys_str_list_free(la);
    return SOAP_ACTION_FAILED;
  }
  if (a) *a = la;
  if (b) *b = lb;
  return 0;
}

const char *flag_text(int flag) { return flag ? "1" : "0"; }

}  // namespace

extern "C" {

uint32_t tarvo_avcpl_set_private(tarvo_avcpl_handle *handle, const char *object_id, int flag)
{
  return run(handle, set_private, std::tuple(object_id, flag_text(flag)));
}

uint32_t tarvo_avcpl_set_searchable(tarvo_avcpl_handle *handle, const char *container_id, int flag)
{
  return run(handle, set_searchable, std::tuple(container_id, flag_text(flag)));
}

uint32_t tarvo_avcpl_get_file_type_list(tarvo_avcpl_handle *handle, sys_str_list *extensions,
                                        sys_str_list *mime_types, uint32_t *count)
{
  return two_lists(handle, get_file_type_list, extensions, mime_types, count);
}

uint32_t tarvo_avcpl_add_file_type(tarvo_avcpl_handle *handle, const char *extension, const char *mime_type)
{
  return run(handle, add_file_type, std::tuple(extension, mime_type));
}

uint32_t tarvo_avcpl_remove_file_type(tarvo_avcpl_handle *handle, const char *extension)
{
  return run(handle, remove_file_type, std::tuple(extension));
}

uint32_t tarvo_avcpl_get_description_uris(tarvo_avcpl_handle *handle, char **uris, uint32_t *count)
{
  return run(handle, get_description_uris, std::tuple<>{}, uris, count);
}

uint32_t tarvo_avcpl_create_task(tarvo_avcpl_handle *handle, const char *udn, const char *container_id,
                                 char **task_id)
{
  return run(handle, create_task, std::tuple(udn, container_id), task_id);
}

uint32_t tarvo_avcpl_remove_task(tarvo_avcpl_handle *handle, const char *task_id)
{
  return run(handle, remove_task, std::tuple(task_id));
}

uint32_t tarvo_avcpl_get_task_ids(tarvo_avcpl_handle *handle, const char *udn, char **task_ids, uint32_t *count)
{
  return run(handle, get_task_ids, std::tuple(udn), task_ids, count);
}

uint32_t tarvo_avcpl_get_all_task_ids(tarvo_avcpl_handle *handle, char **task_ids, uint32_t *count)
{
  return run(handle, get_all_task_ids, std::tuple<>{}, task_ids, count);
}

uint32_t tarvo_avcpl_get_task_info(tarvo_avcpl_handle *handle, const char *task_id, char **udn,
                                   char **container_id, char **last_backuped, char **state)
{
  return run(handle, get_task_info, std::tuple(task_id), udn, container_id, last_backuped, state);
}

uint32_t tarvo_avcpl_set_client_permissions(tarvo_avcpl_handle *handle, const char *mac_list, const char *ip_list,
                                            const char *client_state)
{
  return run(handle, set_client_permissions, std::tuple(mac_list, ip_list, client_state));
}

uint32_t tarvo_avcpl_unregister_clients(tarvo_avcpl_handle *handle, const char *mac_list)
{
  return run(handle, unregister_clients, std::tuple(mac_list));
}

uint32_t tarvo_avcpl_get_allow_list(tarvo_avcpl_handle *handle, sys_str_list *macs, sys_str_list *ips,
                                    uint32_t *count)
{
  return two_lists(handle, get_allow_list, macs, ips, count);
}

uint32_t tarvo_avcpl_get_deny_list(tarvo_avcpl_handle *handle, sys_str_list *macs, sys_str_list *ips,
                                   uint32_t *count)
{
  return two_lists(handle, get_deny_list, macs, ips, count);
}

uint32_t tarvo_avcpl_set_default_client_state(tarvo_avcpl_handle *handle, const char *state)
{
  return run(handle, set_default_client_state, std::tuple(state));
}

uint32_t tarvo_avcpl_get_default_client_state(tarvo_avcpl_handle *handle, char **state)
{
  return run(handle, get_default_client_state, std::tuple<>{}, state);
}

uint32_t tarvo_avcpl_set_friendly_name(tarvo_avcpl_handle *handle, const char *name)
{
  return run(handle, set_friendly_name, std::tuple(name));
}

uint32_t tarvo_avcpl_get_friendly_name(tarvo_avcpl_handle *handle, char **name)
{
  return run(handle, get_friendly_name, std::tuple<>{}, name);
}

}  // extern "C"
