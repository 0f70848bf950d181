/* The control-point engine: SSDP listening and search, description, SCPD
 * and SOAP calls, event subscriptions and the NOTIFY listener.  What it
 * learns reaches the handlers on one worker thread, in arrival order.
 *
 * Callers hold an upnp_cp_ctx pointer variable and pass its address; the
 * setters and the start make the context.  Results are 1/0 unless stated. */
#ifndef TARVO_CP_UPNP_CP_H
#define TARVO_CP_UPNP_CP_H

#include <stdint.h>
#include <tarvo_util/http_client.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/upnp_desc.h>
#include <tarvo_util/upnp_desc_scpd.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct upnp_cp_ctx upnp_cp_ctx;

typedef void (*upnp_cp_alive_handler)(unsigned max_age, const char *location, const char *server,
                                      const char *nt, const char *usn, void *user);
typedef void (*upnp_cp_search_response_handler)(unsigned max_age, const char *location,
                                                const char *server, const char *st,
                                                const char *usn, void *user);
typedef void (*upnp_cp_byebye_handler)(const char *nt, const char *usn, void *user);
typedef int (*upnp_cp_event_handler)(const char *sid, unsigned seq, const char *body, void *user);
/* Nonzero when the SID belongs to a live subscription. */
typedef int (*upnp_cp_sid_check_handler)(const char *sid, void *user);
typedef void (*upnp_cp_ip_handler)(const uint8_t old_first_ipv4[4], const uint8_t new_first_ipv4[4],
                                   void *user);
typedef void (*upnp_cp_ip_change_handler)(void *user);

int upnp_cp_set_discovery_handler(upnp_cp_ctx **cp, upnp_cp_alive_handler alive,
                                  upnp_cp_search_response_handler search_response,
                                  upnp_cp_byebye_handler byebye, void *user);
int upnp_cp_set_event_handler(upnp_cp_ctx **cp, upnp_cp_event_handler event,
                              upnp_cp_sid_check_handler sid_check, void *user);
int upnp_cp_set_ip_handler(upnp_cp_ctx **cp, upnp_cp_ip_handler fn, void *user);
int upnp_cp_set_ip_change_handler(upnp_cp_ctx **cp, upnp_cp_ip_change_handler fn, void *user);

/* port serves the search socket (UDP) and the event listener (TCP), 0 a
 * free port for each; targets NULL-terminated or NULL (every NT passes).
 * On failure the context is freed and *cp cleared. */
int upnp_cp_start(upnp_cp_ctx **cp, void *reserved, uint16_t port, char *const *targets);
/* Stops every thread (open event connections are cut), drops the queued
 * jobs and frees the context; *cp becomes NULL. */
void upnp_cp_end(upnp_cp_ctx **cp);

/* An M-SEARCH for target, twice on every local address. */
int upnp_cp_discovery_search_async(upnp_cp_ctx **cp, const char *target, uint32_t mx);
/* Fetches the description at location now and queues search-response
 * jobs as if its devices had answered a search for target. */
int upnp_cp_discovery_static_async(upnp_cp_ctx **cp, const char *target, const char *location);

/* Stateless: an HTTP GET of a description or SCPD (at most
 * CP_FETCH_BODY_MAX bytes), parsed; the description's URLs made absolute. */
int upnp_cp_get_desc(const char *location, upnp_desc_rec **desc);
int upnp_cp_get_desc_scpd(const char *url, upnp_desc_scpd_rec **scpd);
/* The UPnP code: 0, the fault's errorCode, or 501 for a failed exchange. */
uint32_t upnp_cp_action(const char *control_url, const char *service_type, const char *action,
                        const char *body, sys_str_list *names, sys_str_list *values);
/* The same on a client whose URL is set. */
uint32_t upnp_cp_action2(http_client *client, const char *service_type, const char *action,
                         const char *body, sys_str_list *names, sys_str_list *values);
/* QueryStateVariable; *value a heap copy on 0. */
uint32_t upnp_cp_query(const char *control_url, const char *var_name, char **value);

/* *timeout: in the seconds asked for (0 = infinite), out those granted. */
int upnp_cp_event_subscribe(upnp_cp_ctx **cp, const char *event_url, uint32_t *timeout, char **sid);
/* 1 only when the answer carries the same SID. */
int upnp_cp_event_subscribe_renewal(upnp_cp_ctx **cp, const char *event_url, const char *sid,
                                    uint32_t *timeout);
/* 1 when the device answered 200. */
int upnp_cp_event_unsubscribe(upnp_cp_ctx **cp, const char *event_url, const char *sid);

/* The first local address, or 0.0.0.0 (then 0). */
int upnp_cp_get_ip(upnp_cp_ctx **cp, uint8_t out[4]);
/* The SSDP socket, joined to the group on every local address but
 * 127.0.0.1, or none. */
int upnp_cp_ssdp_open_socket(upnp_cp_ctx **cp);
void upnp_cp_ssdp_close_socket(upnp_cp_ctx **cp);

#ifdef __cplusplus
}
#endif
#endif
