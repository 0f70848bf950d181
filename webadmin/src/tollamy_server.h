// The web administration program's bridge to the servers: one-call
// wrappers over the local server's client, other servers' descriptions and
// ContentDirectory Browse, and the list models of the backup pages.
#pragma once

#include <stdint.h>

#include <string>
#include <tarvo_avcp/avcp_didl.h>
#include <vector>

#include "tollamy_config.h"

#define TOLLAMY_BROWSE_PAGE 30u       /* objects asked for in one Browse */
#define TOLLAMY_BROWSE_MAX 10000u     /* children of one container: more is a server that never ends */
#define TOLLAMY_REBUILD_WAIT_MS 1000u /* between taking the shares off and putting them back */

// --- The local server: each call opens a handle of its own on the UPnP
// port, makes its one call and frees the handle.  true when the call
// answered 0.  Outputs are set only on success.

// X_ShareList.
bool tollamy_server_share_list(uint16_t port, std::vector<std::string> *paths);
// X_Share, X_Unshare.
bool tollamy_server_share(uint16_t port, const char *path);
bool tollamy_server_unshare(uint16_t port, const char *path);
// X_GetFileTypeList: extensions and mimetypes paired by position.
bool tollamy_server_file_types(uint16_t port, std::vector<std::string> *exts, std::vector<std::string> *mimes);
// X_AddFileType, X_RemoveFileType.
bool tollamy_server_add_file_type(uint16_t port, const char *ext, const char *mime);
bool tollamy_server_remove_file_type(uint16_t port, const char *ext);
// GetFriendlyName, SetFriendlyName.
bool tollamy_server_friendly_name(uint16_t port, std::string *name);
bool tollamy_server_set_friendly_name(uint16_t port, const char *name);
// GetAllowList, GetDenyList: MACs and IPv4 texts paired by position.
bool tollamy_server_allow_list(uint16_t port, std::vector<std::string> *macs, std::vector<std::string> *ips);
bool tollamy_server_deny_list(uint16_t port, std::vector<std::string> *macs, std::vector<std::string> *ips);
// SetClientPermissions: comma lists (csv_append) of MACs and IPs, state
// "allow" or "deny".
bool tollamy_server_set_client_permissions(uint16_t port, const char *mac_csv, const char *ip_csv, const char *state);
// UnregisterClients: comma list of MACs.
bool tollamy_server_unregister_clients(uint16_t port, const char *mac_csv);
// GetDefaultClientState, SetDefaultClientState ("allow" or "deny").
bool tollamy_server_default_client_state(uint16_t port, std::string *state);
bool tollamy_server_set_default_client_state(uint16_t port, const char *state);
// X_ContentBackup GetDescriptionURIs, split at unescaped commas.
bool tollamy_server_description_uris(uint16_t port, std::vector<std::string> *uris);
// GetTaskIDs(UDN): the ids split at unescaped commas, and the count the
// server reported.
bool tollamy_server_task_ids(uint16_t port, const char *udn, std::vector<std::string> *ids, uint32_t *count);

struct tollamy_task_info {
  std::string udn, container_id, last_backuped, state;
};
// GetTaskInfo(task id).
bool tollamy_server_task_info(uint16_t port, const char *task_id, tollamy_task_info *info);
// CreateTask(UDN, ContainerID), RemoveTask(task id).
bool tollamy_server_create_task(uint16_t port, const char *udn, const char *container_id);
bool tollamy_server_remove_task(uint16_t port, const char *task_id);

// The database rebuild on one handle: the share list, every path unshared,
// a wait of 1000 ms, then every path that was unshared shared again.
// false when the list could not be read or a re-share failed.
bool tollamy_server_rebuild(uint16_t port);

// --- Other servers, at a ContentDirectory control URL.  The results are
// UPnP codes: 0, the server's error code, or 501 for a request that could
// not be built or an answer that could not be read.

// Browse BrowseMetadata: the one object of the answer in *object
// (avcp_didl_object_free).
uint32_t tollamy_browse_metadata(const char *control_url, const char *object_id, avcp_didl_object **object);
// Every child of the container from index 0 (requested 0: all), in pages of
// at most TOLLAMY_BROWSE_PAGE objects; *list holds them in order
// (avcp_didl_object_list_free).  Ends at a page without objects or at
// TotalMatches (0: not known, the pages go on),
// and fails with 501 past TOLLAMY_BROWSE_MAX objects.
uint32_t tollamy_browse_children(const char *control_url, const char *object_id, uint32_t requested,
                                 avcp_didl_object_list *list);

// --- List models of the backup pages.

struct tollamy_backup_server {
  std::string udn, friendly_name, icon_url, control_url;
  int32_t ntask = 0;
};
// Every device of the local server's description URLs that has a
// ContentDirectory with a control URL, by descending task count, then by
// friendly name.  An unreadable description leaves its servers out; a
// failed GetTaskIDs fails the list.
bool tollamy_backup_server_list(const tollamy_config *c, uint16_t port, std::vector<tollamy_backup_server> *out);

struct tollamy_backup_container {
  std::string id, title;
  bool registered = false;
  uint32_t nchildren = 0;
};
// The child containers under container_id of the server, each with its
// registration (a task of this server for it) and its number of child
// containers.
bool tollamy_container_list(uint16_t port, const char *udn, const char *control_url, const char *container_id,
                            std::vector<tollamy_backup_container> *out);
// The "container" elements of "browse_container", attribute values escaped.
std::string tollamy_container_elements(const std::vector<tollamy_backup_container> &list);

// State numbers of a backup task.
enum tollamy_task_state : uint32_t {
  TOLLAMY_TASK_WAITING = 0,
  TOLLAMY_TASK_STANDBY = 1,
  TOLLAMY_TASK_RUNNING = 2,
  TOLLAMY_TASK_DISABLED = 3,
  TOLLAMY_TASK_UNKNOWN = 4,
};
struct tollamy_backup_task {
  std::string last_backuped, task_id, container_id, title;
  uint32_t state = TOLLAMY_TASK_UNKNOWN;
};
// The server's tasks that the local server holds, with their container
// titles; *ntask is the count GetTaskIDs reported.  Tasks of other servers
// and tasks whose info or title cannot be had are left out.
bool tollamy_task_list(uint16_t port, const char *udn, const char *control_url, std::vector<tollamy_backup_task> *out,
                       uint32_t *ntask);
// "-" for an empty LastBackuped, else the local time "YYYY/MM/DD hh:mm";
// false for a date that does not read as an HTTP date.
bool tollamy_task_date(const char *last_backuped, std::string *out);
