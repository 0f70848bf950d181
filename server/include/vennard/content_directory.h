/* The ContentDirectory:1 service of the media server: Browse, Search, the
 * capabilities and SystemUpdateID, the editing actions for local
 * requesters, and the vendor actions for privacy, searchability, shares
 * and file types. */
#ifndef VENNARD_CONTENT_DIRECTORY_H
#define VENNARD_CONTENT_DIRECTORY_H

#include <stdint.h>
#include <tarvo_device/tarvo_device.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

#define CDS_SERVICE_ID "urn:upnp-org:serviceId:ContentDirectory"

/* Fills the service's handler record; user data the server record. */
void cds_handler_init(struct server_rec *s, device_service_handler *handler);

/* A UPnP error code, 0 with *response the action's response element.
 * CreateObject, DestroyObject, UpdateObject, CreateReference,
 * X_SetPrivate, X_SetSearchable, X_Share, X_Unshare, X_AddFileType and
 * X_RemoveFileType answer 401 to requesters that are not local. */
uint32_t cds_action_dispatch(const device_request_info *info, const char *action, char **names, char **values,
                             void *server, char **response);
/* SystemUpdateID and ContainerUpdateIDs; 404 for other names. */
uint32_t cds_query_state_variable(const device_request_info *info, const char *name, void *server,
                                  char **value);
/* The initial event: SystemUpdateID and ContainerUpdateIDs. */
int cds_subscribe(const device_request_info *info, void *server, char **body);

#ifdef __cplusplus
}
#endif
#endif
