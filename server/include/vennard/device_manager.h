/* The vendor service X_DeviceManager (the client allow and deny lists,
 * the state of unknown clients, the friendly name) and the access
 * decision that admits or refuses every connection to the device stack
 * and to the media HTTP server. */
#ifndef VENNARD_DEVICE_MANAGER_H
#define VENNARD_DEVICE_MANAGER_H

#include <stdint.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/tarvo_vendor.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

#define DEVMGR_SERVICE_ID TARVO_VENDOR_DEVMGR_ID

typedef struct access_control_rec {
  sys_mutex_handle mutex;
  /* What changed since the last event; accessed atomically. */
  int32_t default_changed;
  int32_t allow_changed;
  int32_t deny_changed;
  int32_t friendly_name_changed;
  /* An access file could not be written since the last that could: the
   * failure is logged once for the spell.  Accessed atomically. */
  int32_t write_failing;
} access_control_rec;

/* Fills the service's handler record; user data the server record. */
void devmgr_handler_init(struct server_rec *s, device_service_handler *handler);

/* The changing actions (SetClientPermissions, UnregisterClients,
 * SetDefaultClientState, SetFriendlyName) are answered 401 unless the
 * requester is local; the others are open to every admitted client. */
uint32_t devmgr_action_dispatch(const device_request_info *info, const char *action, char **names,
                                char **values, void *server, char **response);
uint32_t devmgr_query_state_variable(const device_request_info *info, const char *name, void *server,
                                     char **value);
int devmgr_subscribe(const device_request_info *info, void *server, char **body);
/* Sends the groups of variables that changed since the last event. */
void devmgr_event_notify(struct server_rec *s);

/* Creates the access-control mutex and hands client_access_callback to
 * the device stack.  access_control_stop destroys the mutex. */
int access_control_start(struct server_rec *s);
void access_control_stop(struct server_rec *s);
int client_access_callback(const uint8_t *remote_ip, void *server);
/* 1 admits the client at remote_ip (4 bytes), 0 refuses it: local
 * addresses always; others by their MAC address in the ARP cache and the
 * files access/allow, access/deny and access/default, recording new
 * clients. */
int client_access_check(struct server_rec *s, const uint8_t *remote_ip);

#ifdef __cplusplus
}
#endif
#endif
