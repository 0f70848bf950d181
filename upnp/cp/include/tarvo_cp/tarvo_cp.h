/* The control point with a device list: devices found on the network with
 * their parsed descriptions, reported as they appear, change and go;
 * event subscriptions kept alive and their order checked; actions sent to
 * a device named by its UDN through one shared HTTP client.
 *
 * Callers hold a tarvo_cp_ctx pointer variable and pass its address.
 * Results are 1/0 unless stated. */
#ifndef TARVO_CP_TARVO_CP_H
#define TARVO_CP_TARVO_CP_H

#include <stdint.h>
#include <tarvo_cp/upnp_cp.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tarvo_cp_ctx tarvo_cp_ctx;

/* The record stays the list's. */
typedef void (*cp_discovery_added_handler)(const upnp_desc_device_rec *device, const char *location,
                                           const char *server, void *user);
typedef void (*cp_discovery_updated_handler)(const upnp_desc_device_rec *device,
                                             const char *location, const char *server, void *user);
/* The record is freed after the call. */
typedef void (*cp_discovery_removed_handler)(const upnp_desc_device_rec *device, void *user);
typedef int (*cp_ip_handler)(const uint8_t old_ipv4[4], const uint8_t new_ipv4[4], void *user);
typedef int (*cp_ip_change_handler)(void *user);
typedef int (*cp_event_handler)(const char *udn, const char *service_type, unsigned seq,
                                const char *body, void *user);

int tarvo_cp_set_discovery_handler(tarvo_cp_ctx **ctx, cp_discovery_added_handler added,
                                   cp_discovery_updated_handler updated,
                                   cp_discovery_removed_handler removed, void *user);
/* Each address change first reports every device removed. */
int tarvo_cp_set_ip_handler(tarvo_cp_ctx **ctx, cp_ip_handler fn, void *user);
int tarvo_cp_set_ip_change_handler(tarvo_cp_ctx **ctx, cp_ip_change_handler fn, void *user);

/* Every target a device URN or "uuid:..."; NULL-terminated or NULL. */
int tarvo_cp_start(tarvo_cp_ctx **ctx, void *reserved, uint16_t port, char *const *targets);
void tarvo_cp_end(tarvo_cp_ctx **ctx);
upnp_cp_ctx **tarvo_cp_get_cp(tarvo_cp_ctx **ctx);

/* A NULL-terminated list of UDN copies in list order. */
int tarvo_cp_get_udn_list(tarvo_cp_ctx **ctx, sys_str_list *list);
/* A deep copy of the device with exactly that UDN. */
int tarvo_cp_get_desc_device(tarvo_cp_ctx **ctx, const char *udn, upnp_desc_device_rec **device);
/* The controlURL of its first service of that type at an equal or higher
 * version; the caller frees it. */
int tarvo_cp_get_control_url(tarvo_cp_ctx **ctx, const char *udn, const char *service_type,
                             char **url);

int tarvo_cp_discovery_search_async(tarvo_cp_ctx **ctx, uint32_t mx);
int tarvo_cp_discovery_static_async(tarvo_cp_ctx **ctx, const char *location);
/* Every known device is reported removed and dropped. */
int tarvo_cp_discovery_flush(tarvo_cp_ctx **ctx);

/* timeout in seconds, 0 = infinite.  1 when queued. */
int tarvo_cp_event_subscribe(tarvo_cp_ctx **ctx, const char *udn, const char *service_type,
                             uint32_t timeout, cp_event_handler handler, void *user);
int tarvo_cp_event_unsubscribe(tarvo_cp_ctx **ctx, const char *udn, const char *service_type);

/* The UPnP code; 501 when the device or service is not known. */
uint32_t tarvo_cp_action(tarvo_cp_ctx **ctx, const char *udn, const char *service_type,
                         const char *action, const char *body, sys_str_list *names,
                         sys_str_list *values);

void tarvo_cp_set_connect_timeout(tarvo_cp_ctx **ctx, uint32_t ms);
void tarvo_cp_set_write_timeout(tarvo_cp_ctx **ctx, uint32_t ms);
/* Also the parallel SOAP client's timeout. */
void tarvo_cp_set_read_timeout(tarvo_cp_ctx **ctx, uint32_t ms);
int tarvo_cp_is_connect_timeout(tarvo_cp_ctx **ctx);
int tarvo_cp_is_read_timeout(tarvo_cp_ctx **ctx);
int tarvo_cp_is_write_timeout(tarvo_cp_ctx **ctx);
/* Both clients. */
void tarvo_cp_set_cancel(tarvo_cp_ctx **ctx, int flag);
int tarvo_cp_is_canceled(tarvo_cp_ctx **ctx);

/* The shared client's lock, taking the context itself: 0 with no lock
 * held when the control point is stopping. */
int tarvo_cp_impl_hc_lock(tarvo_cp_ctx *ctx);
void tarvo_cp_impl_hc_unlock(tarvo_cp_ctx *ctx);

int tarvo_cp_get_ip(tarvo_cp_ctx **ctx, uint8_t out[4]);

#ifdef __cplusplus
}
#endif
#endif
