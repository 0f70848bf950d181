/* The local server's SOAP client: the ContentDirectory actions (browse,
 * search, editing, shares, file types, private and searchable flags) and
 * the vendor services X_DeviceManager and X_ContentBackup of the server
 * on 127.0.0.1 at its UPnP port.
 *
 * The caller keeps a tarvo_avcpl_handle in a variable and passes the
 * variable's address to every call.  Actions return 0, the server's fault
 * code unchanged, or 501 for every local, transport or parse failure.
 * Outputs are set only on 0 and belong to the caller: strings
 * sys_alloc_free, lists sys_str_list_free, DIDL objects and lists
 * avcp_didl_object_free and avcp_didl_object_list_free.  Each OUT pointer
 * may be NULL; the argument must still be in the answer.  One handle is
 * one connection: calls on it must not overlap, except set_cancel. */
#ifndef TARVO_AVCPL_TARVO_AVCPL_H
#define TARVO_AVCPL_TARVO_AVCPL_H

#include <stdint.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/http_client.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tarvo_avcpl_rec {
  http_client client; /* first: the record's address is the client's */
  uint16_t port;
} tarvo_avcpl_rec;
typedef tarvo_avcpl_rec *tarvo_avcpl_handle;

/* 1 with a new handle in *handle; 0 with *handle NULL. */
int tarvo_avcpl_init(tarvo_avcpl_handle *handle, uint16_t port);
/* Closes the connection, frees the record and sets *handle to NULL; a NULL
 * address or handle does nothing. */
void tarvo_avcpl_free(tarvo_avcpl_handle *handle);

void tarvo_avcpl_set_connect_timeout(tarvo_avcpl_handle *handle, uint32_t ms);
void tarvo_avcpl_set_read_timeout(tarvo_avcpl_handle *handle, uint32_t ms);
void tarvo_avcpl_set_write_timeout(tarvo_avcpl_handle *handle, uint32_t ms);
int tarvo_avcpl_is_connect_timeout(tarvo_avcpl_handle *handle);
int tarvo_avcpl_is_read_timeout(tarvo_avcpl_handle *handle);
int tarvo_avcpl_is_write_timeout(tarvo_avcpl_handle *handle);
/* May be called from another thread while a call runs; the flag stays
 * until cleared. */
void tarvo_avcpl_set_cancel(tarvo_avcpl_handle *handle, int flag);
int tarvo_avcpl_is_canceled(tarvo_avcpl_handle *handle);

/* One action to the control URL the handle's previous call left set (501
 * without traffic when there is none yet). */
uint32_t tarvo_avcpl_action(tarvo_avcpl_handle *handle, const char *service_type, const char *action,
                            const char *body, sys_str_list *names, sys_str_list *values);

/* --- ContentDirectory, at "/control/ContentDirectory" --- */

uint32_t tarvo_avcpl_get_system_update_id(tarvo_avcpl_handle *handle, uint32_t *id);
uint32_t tarvo_avcpl_browse_metadata(tarvo_avcpl_handle *handle, const char *object_id, const char *filter,
                                     avcp_didl_object **object, uint32_t *update_id);
uint32_t tarvo_avcpl_browse_direct_children(tarvo_avcpl_handle *handle, const char *object_id, const char *filter,
                                            uint32_t starting_index, uint32_t requested_count,
                                            const char *sort_criteria, avcp_didl_object_list *list,
                                            uint32_t *number_returned, uint32_t *total_matches,
                                            uint32_t *update_id);
uint32_t tarvo_avcpl_search(tarvo_avcpl_handle *handle, const char *container_id, const char *search_criteria,
                            const char *filter, uint32_t starting_index, uint32_t requested_count,
                            const char *sort_criteria, avcp_didl_object_list *list, uint32_t *number_returned,
                            uint32_t *total_matches, uint32_t *update_id);
/* The editing calls of tarvo_avcp_cds_ (create_item, create_container,
 * the property and attribute edits), same arguments after the handle. */
#define TARVO_AVCPL_PICK_create_item(row) row
#define TARVO_AVCPL_PICK_create_container(row) row
#define TARVO_AVCPL_PICK_add_property(row) row
#define TARVO_AVCPL_PICK_remove_property(row) row
#define TARVO_AVCPL_PICK_modify_property(row) row
#define TARVO_AVCPL_PICK_update_property(row) row
#define TARVO_AVCPL_PICK_add_attribute(row) row
#define TARVO_AVCPL_PICK_remove_attribute(row) row
#define TARVO_AVCPL_PICK_modify_attribute(row) row
#define TARVO_AVCPL_PICK_update_attribute(row) row
#define TARVO_AVCPL_PICK_storage_usage(row)
#define TARVO_AVCPL_EDIT_DECLARE_(s, a, IP, IA) \
  TARVO_AVCPL_PICK_##a(uint32_t tarvo_avcpl_##a(tarvo_avcpl_handle *handle AVCP_LEAD_LIST(IP));)
TARVO_AVCP_CDS_EDIT(TARVO_AVCPL_EDIT_DECLARE_)

uint32_t tarvo_avcpl_destroy_object(tarvo_avcpl_handle *handle, const char *object_id);
uint32_t tarvo_avcpl_create_reference(tarvo_avcpl_handle *handle, const char *container_id, const char *object_id,
                                      char **new_id);
/* The shared folder paths. */
uint32_t tarvo_avcpl_share_list(tarvo_avcpl_handle *handle, sys_str_list *paths);
/* *state 0: the path is not published. */
uint32_t tarvo_avcpl_share_state(tarvo_avcpl_handle *handle, const char *path, int *state);
uint32_t tarvo_avcpl_share(tarvo_avcpl_handle *handle, const char *path);
uint32_t tarvo_avcpl_unshare(tarvo_avcpl_handle *handle, const char *path);

/* Vendor ContentDirectory actions; a nonzero flag sends "1". */
uint32_t tarvo_avcpl_set_private(tarvo_avcpl_handle *handle, const char *object_id, int flag);
uint32_t tarvo_avcpl_set_searchable(tarvo_avcpl_handle *handle, const char *container_id, int flag);
uint32_t tarvo_avcpl_get_file_type_list(tarvo_avcpl_handle *handle, sys_str_list *extensions,
                                        sys_str_list *mime_types, uint32_t *count);
uint32_t tarvo_avcpl_add_file_type(tarvo_avcpl_handle *handle, const char *extension, const char *mime_type);
uint32_t tarvo_avcpl_remove_file_type(tarvo_avcpl_handle *handle, const char *extension);

/* --- X_ContentBackup, at "/control/ContentBackup"; the texts as sent --- */

uint32_t tarvo_avcpl_get_description_uris(tarvo_avcpl_handle *handle, char **uris, uint32_t *count);
uint32_t tarvo_avcpl_create_task(tarvo_avcpl_handle *handle, const char *udn, const char *container_id,
                                 char **task_id);
uint32_t tarvo_avcpl_remove_task(tarvo_avcpl_handle *handle, const char *task_id);
uint32_t tarvo_avcpl_get_task_ids(tarvo_avcpl_handle *handle, const char *udn, char **task_ids, uint32_t *count);
uint32_t tarvo_avcpl_get_all_task_ids(tarvo_avcpl_handle *handle, char **task_ids, uint32_t *count);
uint32_t tarvo_avcpl_get_task_info(tarvo_avcpl_handle *handle, const char *task_id, char **udn,
                                   char **container_id, char **last_backuped, char **state);

/* --- X_DeviceManager, at "/control/X_DeviceManager" --- */

/* Comma-separated lists of equal length; state "default", "allow" or
 * "deny". */
uint32_t tarvo_avcpl_set_client_permissions(tarvo_avcpl_handle *handle, const char *mac_list, const char *ip_list,
                                            const char *client_state);
uint32_t tarvo_avcpl_unregister_clients(tarvo_avcpl_handle *handle, const char *mac_list);
uint32_t tarvo_avcpl_get_allow_list(tarvo_avcpl_handle *handle, sys_str_list *macs, sys_str_list *ips,
                                    uint32_t *count);
uint32_t tarvo_avcpl_get_deny_list(tarvo_avcpl_handle *handle, sys_str_list *macs, sys_str_list *ips,
                                   uint32_t *count);
/* "allow" or "deny". */
uint32_t tarvo_avcpl_set_default_client_state(tarvo_avcpl_handle *handle, const char *state);
uint32_t tarvo_avcpl_get_default_client_state(tarvo_avcpl_handle *handle, char **state);
uint32_t tarvo_avcpl_set_friendly_name(tarvo_avcpl_handle *handle, const char *name);
uint32_t tarvo_avcpl_get_friendly_name(tarvo_avcpl_handle *handle, char **name);

#ifdef __cplusplus
}
#endif
#endif
