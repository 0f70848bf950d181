/* The device side of the UPnP stack: one process appears on the network as
 * a UPnP device.  It serves its description, static contents and files
 * under a document root over HTTP, runs CGI programs found there, hands
 * SOAP control requests to the caller's service handler records, keeps
 * GENA subscriptions and sends events, and announces itself over SSDP.
 *
 * The caller keeps a pointer variable, NULL at first, and passes its
 * address to every call.  The first call that needs a context makes it
 * zero-filled; tarvo_device_end (and a failed tarvo_device_start) frees it
 * and sets the variable to NULL.  Results are 1/0 unless stated. */
#ifndef TARVO_DEVICE_TARVO_DEVICE_H
#define TARVO_DEVICE_TARVO_DEVICE_H

#include <stdint.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tarvo_device_ctx tarvo_device_ctx;

/* What every handler receives about its request; valid during the call
 * only.  addr leads the record, exactly as in the connection record. */
typedef struct {
  connection_addresses addr;
  const char *udn;          /* the device that owns the addressed service */
  const char *service_type; /* as written in the description */
  const char *service_id;   /* the handler record's service_id */
} device_request_info;

/* Handlers return a UPnP error code, 0 for success, unless stated.  Every
 * string, list and body handed back through an out-parameter is heap
 * memory that the library frees (sys_alloc_free, sys_str_list_free).
 * Argument lists are never NULL: an action without arguments gets empty
 * lists. */

/* *out_body: the whole response element of the action ("<u:XResponse
 * xmlns:u=...>" with its out-arguments). */
typedef uint32_t (*device_action_handler)(const device_request_info *info, const char *action_name,
                                          char **arg_names, char **arg_values, void *user,
                                          char **out_body);
typedef uint32_t (*device_query_handler)(const device_request_info *info, const char *var_name,
                                         void *user, char **out_value);
/* Non-zero accepts the subscription; *out_initial_body is then a property
 * set with the current values of every evented variable. */
typedef int (*device_subscribe_handler)(const device_request_info *info, void *user,
                                        char **out_initial_body);
typedef uint32_t (*device_batch_handler)(const device_request_info *info, const char *action_name,
                                         char **arg_names, char **arg_values, void *user);
typedef uint32_t (*device_accept_batch_handler)(const device_request_info *info,
                                                uint32_t batch_delay, void *user);
typedef uint32_t (*device_delete_batch_handler)(const device_request_info *info, void *user);

/* One per service.  service_id, action, query and subscribe must be
 * filled; batch, accept_batch and delete_batch may be NULL and are then
 * never called.  user is handed back to every slot. */
typedef struct {
  const char *service_id;
  device_action_handler action;
  device_query_handler query;
  device_subscribe_handler subscribe;
  device_batch_handler batch;
  device_accept_batch_handler accept_batch;
  device_delete_batch_handler delete_batch;
  void *user;
} device_service_handler;

/* Called on the accept thread for every connection; remote_ipv4 points at
 * the 4 address bytes, followed by the uint16 port.  0 refuses. */
typedef int (*device_access_handler)(const uint8_t *remote_ipv4, void *user);
/* Called on the timer thread after the local address list changed. */
typedef void (*device_ip_change_handler)(void *user);

/* --- setters; they make the context and may be called before the start --- */

void tarvo_device_set_access_control_handler(tarvo_device_ctx **ctx, device_access_handler fn,
                                             void *user);
void tarvo_device_set_ip_change_handler(tarvo_device_ctx **ctx, device_ip_change_handler fn,
                                        void *user);
/* Replaces the disabled-interface list (interface names or dotted
 * addresses) by a copy of list; NULL clears it. */
int tarvo_device_set_disable_if(tarvo_device_ctx **ctx, char *const *list);
/* Replaces the MIME map by a copy of list: entries <extension>:<type>,
 * the extension without its dot.  NULL clears it. */
int tarvo_device_set_mimetype(tarvo_device_ctx **ctx, char *const *list);
/* With the flag set, the system is kept awake while clients are served. */
void tarvo_device_set_suspend_control(tarvo_device_ctx **ctx, int flag);
/* A process-wide counted hold that keeps the system awake; the device
 * stack takes it while it serves clients with suspend control on, other
 * servers of the process while they stream. */
void tarvo_device_awake_hold(void);
void tarvo_device_awake_release(void);
/* 0 when no context can be made. */
int tarvo_device_get_suspend_control(tarvo_device_ctx **ctx, int *flag);
/* The device then neither announces itself nor answers searches. */
void tarvo_device_disable_ssdp(tarvo_device_ctx **ctx);
/* Serves length bytes of type mime_type at exactly path; copies are kept.
 * The first content registered for a path is the one served. */
int tarvo_device_add_static_content(tarvo_device_ctx **ctx, const char *path,
                                    const char *mime_type, const void *bytes, uint32_t length);
/* Replaces the bytes of the static content at path (its type stays), also
 * while the device runs: answers already being sent finish with the old
 * bytes.  0 when there is no content at path or memory runs out (nothing
 * changed). */
int tarvo_device_replace_static_content(tarvo_device_ctx **ctx, const char *path,
                                        const void *bytes, uint32_t length);

/* --- life cycle --- */

/* reserved is not read (pass 0).  port 0 binds any free port.  Without a
 * document root files and CGI programs answer 404.  description_xml is the
 * device description, served at "/".  max_age_s is raised to 60 when
 * smaller.  handlers (NULL-terminated, NULL for none) are copied.  0 after
 * freeing the context (*ctx NULL). */
int tarvo_device_start(tarvo_device_ctx **ctx, void *reserved, uint16_t port,
                       const char *document_root, const char *description_xml,
                       uint32_t max_age_s, device_service_handler *const *handlers);
/* Stops everything and frees the context; only for a started context.
 * Connections still open are cut. */
void tarvo_device_end(tarvo_device_ctx **ctx);

/* Takes the context itself: copies the current local IPv4 list (4 bytes
 * per address) into out. */
int tarvo_device_impl_get_ip_list(tarvo_device_ctx *ctx, sys_memalloc_rec *out);

/* --- events --- */

/* Queues one event with a copy of body (a property set, NUL-terminated)
 * for every subscription of service_id; returns before anything is
 * sent.  0 without a context, while stopping, on exhaustion, or when the
 * queue stayed full. */
int tarvo_device_event_notify(tarvo_device_ctx **ctx, const char *service_id, const char *body);
/* Property sets: begin replaces sa's contents, add appends one property
 * (value escaped), end closes the set; the caller NUL-terminates. */
int property_set_xml_begin(sys_stralloc_rec *sa);
int property_set_xml_add(sys_stralloc_rec *sa, const char *name, const char *value);
int property_set_xml_end(sys_stralloc_rec *sa);

/* --- SSDP, for suspend and resume --- */

/* 0 without a context or with SSDP disabled. */
int tarvo_device_send_alive(tarvo_device_ctx **ctx);
int tarvo_device_send_byebye(tarvo_device_ctx **ctx);
void tarvo_device_ssdp_open_socket(tarvo_device_ctx **ctx);
/* Closed, nothing is announced (address changes are noted) until the next
 * open or resume. */
void tarvo_device_ssdp_close_socket(tarvo_device_ctx **ctx);
/* The system's sleep as one request of the SSDP thread: the alive set it
 * paces is dropped, the whole byebye set goes out at the stop's pace, and
 * the sockets close as tarvo_device_ssdp_close_socket closes them.
 * Returns once that is done. */
void tarvo_device_ssdp_suspend(tarvo_device_ctx **ctx);
/* The wake: the sockets open for the current address list and the SSDP
 * thread paces the alive set out.  Returns once the set is under way. */
void tarvo_device_ssdp_resume(tarvo_device_ctx **ctx);

#ifdef __cplusplus
}
#endif
#endif
