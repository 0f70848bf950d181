/* The ConnectionManager:1 service of the media server: a pure source with
 * one fixed connection, whose source protocol list grows as resources
 * enter the content database. */
#ifndef VENNARD_CONNECTION_MANAGER_H
#define VENNARD_CONNECTION_MANAGER_H

#include <stdint.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_thread.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

#define CM_SERVICE_ID "urn:upnp-org:serviceId:ConnectionManager"

typedef struct cm_state_rec {
  sys_mutex_handle mutex;
  int32_t stopping;        /* set under the mutex; the lock is refused then */
  sys_ptralloc_rec source; /* distinct protocolInfo heap strings */
  int32_t changed;         /* the list grew since the last event */
} cm_state_rec;

/* Fills the service's handler record; user data the server record. */
void cm_handler_init(struct server_rec *s, device_service_handler *handler);

uint32_t cm_action_dispatch(const device_request_info *info, const char *action, char **names, char **values,
                            void *server, char **response);
uint32_t cm_query_state_variable(const device_request_info *info, const char *name, void *server,
                                 char **value);
int cm_subscribe(const device_request_info *info, void *server, char **body);

/* Adds a protocolInfo to the source list (profiled http-get entries
 * first); 0 for NULL or when the lock is refused. */
int cm_protocol_info_add(struct server_rec *s, const char *protocol_info);
/* Sends SourceProtocolInfo when the list changed since the last event. */
void cm_event_notify(struct server_rec *s);

int cm_state_start(struct server_rec *s);
void cm_state_stop(struct server_rec *s);

#ifdef __cplusplus
}
#endif
#endif
