/* The device-addressed layer: every action of a device that the control
 * point has discovered, named by its UDN, in one call on the control
 * point's shared HTTP client; and the ContentDirectory calls on a
 * caller's client that hand back Browse and Search results as parsed
 * DIDL-Lite objects.
 *
 * tarvo_avcp_<a>(&ctx, udn, ...) takes the arguments of its client form
 * (avcp_<s>_<a>2, or the tarvo_avcp_cds_ call of the same name) after the
 * client, in the same order.  It finds the control URL of the device's
 * service, holds the control point's "hc" lock while it sets the URL,
 * runs the client form and closes the connection, and returns the client
 * form's code unchanged: 0, the device's fault code, or 501 (no context,
 * unknown UDN, the device lacks the service, the control point stopping,
 * and every local, transport or parse failure).  Outputs belong to the
 * caller: strings sys_alloc_free, lists sys_str_list_free, objects
 * avcp_didl_object_free, object lists avcp_didl_object_list_free. */
#ifndef TARVO_AVCP_TARVO_AVCP_H
#define TARVO_AVCP_TARVO_AVCP_H

#include <stdint.h>
#include <tarvo_avcp/avcp_action.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_cp/tarvo_cp.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- ContentDirectory on the caller's client (its URL the control URL) --- */

/* *object: the one object of the Result (exactly one, else 501).  Every
 * output may be NULL; without an object output the Result is not parsed. */
uint32_t tarvo_avcp_cds_browse_metadata(http_client *client, const char *object_id, const char *filter,
                                        avcp_didl_object **object, uint32_t *update_id);
uint32_t tarvo_avcp_cds_browse_direct_children(http_client *client, const char *object_id, const char *filter,
                                               uint32_t starting_index, uint32_t requested_count,
                                               const char *sort_criteria, avcp_didl_object_list *list,
                                               uint32_t *number_returned, uint32_t *total_matches,
                                               uint32_t *update_id);
uint32_t tarvo_avcp_cds_search(http_client *client, const char *container_id, const char *search_criteria,
                               const char *filter, uint32_t starting_index, uint32_t requested_count,
                               const char *sort_criteria, avcp_didl_object_list *list, uint32_t *number_returned,
                               uint32_t *total_matches, uint32_t *update_id);

/* --- device-addressed members --- */

/* Rows X(service, action, (parameters after the client), (their names)).
 * The members whose client form is avcp_<service>_<action>2 come from the
 * action tables; these are the ones with a client form of this layer. */
#define TARVO_AVCP_CDS_DIDL(X)                                                                               \
  X(cds, browse_metadata,                                                                                     \
    (const char *object_id, const char *filter, avcp_didl_object **object, uint32_t *update_id),              \
    (object_id, filter, object, update_id))                                                                   \
  X(cds, browse_direct_children,                                                                              \
    (const char *object_id, const char *filter, uint32_t starting_index, uint32_t requested_count,            \
     const char *sort_criteria, avcp_didl_object_list *list, uint32_t *number_returned,                       \
     uint32_t *total_matches, uint32_t *update_id),                                                           \
    (object_id, filter, starting_index, requested_count, sort_criteria, list, number_returned, total_matches,  \
     update_id))                                                                                              \
  X(cds, search,                                                                                              \
    (const char *container_id, const char *search_criteria, const char *filter, uint32_t starting_index,      \
     uint32_t requested_count, const char *sort_criteria, avcp_didl_object_list *list,                        \
     uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id),                                \
    (container_id, search_criteria, filter, starting_index, requested_count, sort_criteria, list,             \
     number_returned, total_matches, update_id))

/* The editing calls: CreateObject from a title and class (a container of
 * a storageFolder class with upnp:storageUsed -1), UpdateObject edits of
 * one object's properties and attributes, and the storage figures of a
 * storage container (all three outputs required).  Every list argument is
 * NULL-terminated and may be NULL (empty); value lists run parallel to
 * their name lists.  *object (may be NULL): the created object. */
#define TARVO_AVCP_CDS_EDIT(X)                                                                               \
  X(cds, create_item, (const char *parent_id, const char *title, const char *cls, avcp_didl_object **object), \
    (parent_id, title, cls, object))                                                                          \
  X(cds, create_container,                                                                                    \
    (const char *parent_id, const char *title, const char *cls, avcp_didl_object **object),                   \
    (parent_id, title, cls, object))                                                                          \
  X(cds, add_property,                                                                                        \
    (const char *object_id, const char *element, const char *text, const char *const *attribute_names,        \
     const char *const *attribute_values),                                                                    \
    (object_id, element, text, attribute_names, attribute_values))                                            \
  X(cds, remove_property, (const char *object_id, const avcp_didl_property *property), (object_id, property)) \
  X(cds, modify_property, (const char *object_id, const avcp_didl_property *property, const char *text),      \
    (object_id, property, text))                                                                              \
  X(cds, update_property,                                                                                     \
    (const char *object_id, const char *const *add_names, const char *const *add_texts,                       \
     avcp_didl_property *const *remove, avcp_didl_property *const *change, const char *const *change_texts),  \
    (object_id, add_names, add_texts, remove, change, change_texts))                                          \
  X(cds, add_attribute,                                                                                       \
    (const char *object_id, const avcp_didl_property *property, const char *name, const char *value),         \
    (object_id, property, name, value))                                                                       \
  X(cds, remove_attribute, (const char *object_id, const avcp_didl_property *property, const char *name),     \
    (object_id, property, name))                                                                              \
  X(cds, modify_attribute,                                                                                    \
    (const char *object_id, const avcp_didl_property *property, const char *name, const char *value),         \
    (object_id, property, name, value))                                                                       \
  X(cds, update_attribute,                                                                                    \
    (const char *object_id, const avcp_didl_property *property, const char *const *add_names,                 \
     const char *const *add_values, const char *const *remove_names, const char *const *change_names,         \
     const char *const *change_values),                                                                       \
    (object_id, property, add_names, add_values, remove_names, change_names, change_values))                  \
  X(cds, storage_usage, (const char *object_id, int64_t *total, int64_t *used, int64_t *free_bytes),          \
    (object_id, total, used, free_bytes))

#define TARVO_AVCP_CLIENT_DECLARE_(s, a, IP, IA) uint32_t tarvo_avcp_cds_##a(http_client *client AVCP_LEAD_LIST(IP));
TARVO_AVCP_CDS_EDIT(TARVO_AVCP_CLIENT_DECLARE_)

/* A CreateObject of a copy of source under parent_id: its element and
 * properties, without searchClass, createClass, writeStatus, and each res
 * without its text and importUri. */
uint32_t tarvo_avcp_cds_copy_object(http_client *client, const char *parent_id, const avcp_didl_object *source,
                                    avcp_didl_object **object);

/* ContentDirectory rows of the action tables that are device members; the
 * others (browse, search, create_object, update_object) are reached
 * through the calls of this layer. */
#define TARVO_AVCP_PICK_get_search_capabilities(row) row
#define TARVO_AVCP_PICK_get_sort_capabilities(row) row
#define TARVO_AVCP_PICK_get_system_update_id(row) row
#define TARVO_AVCP_PICK_browse_metadata(row)
#define TARVO_AVCP_PICK_browse_direct_children(row)
#define TARVO_AVCP_PICK_search(row)
#define TARVO_AVCP_PICK_create_object(row)
#define TARVO_AVCP_PICK_import_resource(row) row
#define TARVO_AVCP_PICK_export_resource(row) row
#define TARVO_AVCP_PICK_get_transfer_progress(row) row
#define TARVO_AVCP_PICK_create_reference(row) row
#define TARVO_AVCP_PICK_share_list(row) row
#define TARVO_AVCP_PICK_share_state(row) row
#define TARVO_AVCP_PICK_destroy_object(row) row
#define TARVO_AVCP_PICK_update_object(row)
#define TARVO_AVCP_PICK_stop_transfer_resource(row) row
#define TARVO_AVCP_PICK_delete_resource(row) row
#define TARVO_AVCP_PICK_share(row) row
#define TARVO_AVCP_PICK_unshare(row) row

#define TARVO_AVCP_DEVICE_DECLARE_(s, a, IP, IA)                                                \
  uint32_t tarvo_avcp_##a(tarvo_cp_ctx **ctx, const char *udn AVCP_LEAD_LIST(IP));
#define TARVO_AVCP_DEVICE_DECLARE_OUT_(s, a, IP, IA, OP, OA)                                    \
  uint32_t tarvo_avcp_##a(tarvo_cp_ctx **ctx, const char *udn AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP));
#define TARVO_AVCP_DEVICE_DECLARE_CDS_OUT_(s, a, IP, IA, OP, OA)                                \
  TARVO_AVCP_PICK_##a(TARVO_AVCP_DEVICE_DECLARE_OUT_(s, a, IP, IA, OP, OA))
#define TARVO_AVCP_DEVICE_DECLARE_CDS_NONE_(s, a, IP, IA) TARVO_AVCP_PICK_##a(TARVO_AVCP_DEVICE_DECLARE_(s, a, IP, IA))

AVCP_CDS_ACTIONS_OUT(TARVO_AVCP_DEVICE_DECLARE_CDS_OUT_)
AVCP_CDS_ACTIONS_NONE(TARVO_AVCP_DEVICE_DECLARE_CDS_NONE_)
TARVO_AVCP_CDS_DIDL(TARVO_AVCP_DEVICE_DECLARE_)
TARVO_AVCP_CDS_EDIT(TARVO_AVCP_DEVICE_DECLARE_)
AVCP_AVTS_ACTIONS_OUT(TARVO_AVCP_DEVICE_DECLARE_OUT_)
AVCP_AVTS_ACTIONS_NONE(TARVO_AVCP_DEVICE_DECLARE_)
AVCP_CMS_ACTIONS_OUT(TARVO_AVCP_DEVICE_DECLARE_OUT_)
AVCP_CMS_ACTIONS_NONE(TARVO_AVCP_DEVICE_DECLARE_)
AVCP_RCS_ACTIONS_OUT(TARVO_AVCP_DEVICE_DECLARE_OUT_)
AVCP_RCS_ACTIONS_NONE(TARVO_AVCP_DEVICE_DECLARE_)

/* The buffer forms: the Result's DIDL-Lite text, NUL-terminated, at the
 * start of buf (size bytes); a Result that does not fit gives 501. */
uint32_t tarvo_avcp_browse_metadata_buf(tarvo_cp_ctx **ctx, const char *udn, const char *object_id,
                                        const char *filter, char *buf, uint32_t size, uint32_t *update_id);
uint32_t tarvo_avcp_browse_direct_children_buf(tarvo_cp_ctx **ctx, const char *udn, const char *object_id,
                                               const char *filter, uint32_t starting_index,
                                               uint32_t requested_count, const char *sort_criteria, char *buf,
                                               uint32_t size, uint32_t *number_returned, uint32_t *total_matches,
                                               uint32_t *update_id);
uint32_t tarvo_avcp_search_buf(tarvo_cp_ctx **ctx, const char *udn, const char *container_id,
                               const char *search_criteria, const char *filter, uint32_t starting_index,
                               uint32_t requested_count, const char *sort_criteria, char *buf, uint32_t size,
                               uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id);

/* Copies the object source_id of one server into dest_parent_id of
 * another, both known to the control point, under one hold of the "hc"
 * lock. */
uint32_t tarvo_avcp_copy_object(tarvo_cp_ctx **ctx, const char *source_udn, const char *source_id,
                                const char *dest_udn, const char *dest_parent_id, avcp_didl_object **object);

/* --- one Browse or Search to many servers at once --- */

/* One server's answer: a copy of its UDN, its Result's objects in document
 * order and (Browse forms only; 0 in Search records) the UpdateID. */
typedef struct tarvo_avcp_search_result {
  char *udn;
  avcp_didl_object_list objects;
  uint32_t update_id;
} tarvo_avcp_search_result;

/* *results: a NULL-terminated array with one record per server of the
 * UDN list that answered usefully, in the order of the list; servers that
 * are unknown, lack a ContentDirectory, time out, fail, fault or answer
 * unreadably are left out.  The request goes to every ContentDirectory at
 * once through the control point's parallel SOAP client (neither the "hc"
 * lock nor the shared client is used).  0, or 501 for a local failure
 * (no context, no memory, no request, the parallel client could not
 * start); on 501 nothing is handed out.  The _all forms ask every device
 * of the control point's list. */
uint32_t tarvo_avcp_browse_metadata_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *object_id,
                                         const char *filter, tarvo_avcp_search_result ***results);
uint32_t tarvo_avcp_browse_direct_children_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *object_id,
                                                const char *filter, tarvo_avcp_search_result ***results);
uint32_t tarvo_avcp_search_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *search_criteria,
                                const char *filter, tarvo_avcp_search_result ***results);
uint32_t tarvo_avcp_browse_metadata_all(tarvo_cp_ctx **ctx, const char *object_id, const char *filter,
                                        tarvo_avcp_search_result ***results);
uint32_t tarvo_avcp_browse_direct_children_all(tarvo_cp_ctx **ctx, const char *object_id, const char *filter,
                                               tarvo_avcp_search_result ***results);
uint32_t tarvo_avcp_search_all(tarvo_cp_ctx **ctx, const char *search_criteria, const char *filter,
                               tarvo_avcp_search_result ***results);
/* Both take NULL. */
void tarvo_avcp_search_result_free(tarvo_avcp_search_result *result);
void tarvo_avcp_search_result_list_free(tarvo_avcp_search_result **results);

/* --- resource streams over plain HTTP --- */

typedef struct tarvo_avcp_resource_stream {
  int32_t mode;      /* 0 read, 1 write */
  int64_t remaining; /* write: bytes still to write */
  http_client client;
} tarvo_avcp_resource_stream;

/* 1 when the GET was answered 200; *length (may be NULL) the
 * Content-Length, -1 without one (a negative header value fails).  On
 * failure *stream is NULL. */
int tarvo_avcp_open_resource_read(tarvo_avcp_resource_stream **stream, char *const *extra_lines, const char *url,
                                  int64_t *length);
int tarvo_avcp_read_resource(tarvo_avcp_resource_stream **stream, void *buf, uint32_t size, uint32_t *got);
/* POSTs length bytes (not negative) to url; 1 when the header went out. */
int tarvo_avcp_open_resource_write(tarvo_avcp_resource_stream **stream, const char *url, int64_t length);
/* Refused beyond the declared length. */
int tarvo_avcp_write_resource(tarvo_avcp_resource_stream **stream, const void *data, uint32_t size);
/* Frees the stream and sets *stream to NULL.  A write stream closes with 1
 * only when exactly its length was written and the answer was 200, 201 or
 * 204.  Read, write and close of a NULL stream return 0. */
int tarvo_avcp_close_resource(tarvo_avcp_resource_stream **stream);

#ifdef __cplusplus
}
#endif
#endif
