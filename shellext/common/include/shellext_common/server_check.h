/* What both context-menu extensions ask before they offer anything: the
 * server's service runs and the server reports itself active; and the
 * client they talk to it with.  Fixed ports: the extensions read no port
 * files. */
#ifndef SHELLEXT_COMMON_SERVER_CHECK_H
#define SHELLEXT_COMMON_SERVER_CHECK_H

#include <stdint.h>
#include <tarvo_avcpl/tarvo_avcpl.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SHELLEXT_AVCPL_PORT 30000u    /* the server's UPnP port */
#define SHELLEXT_DMSM_PORT 30002u     /* its management port */
#define SHELLEXT_READ_TIMEOUT_MS 600000u

/* 1 only when the service "Tarvo Media Server" runs. */
int shellext_server_service_running(void);
/* 1 only when the management port answers and reports active. */
int shellext_server_active(void);
/* A client of the local server with the extensions' read timeout. */
int shellext_client_open(tarvo_avcpl_handle *handle);
/* 1 when path names a folder strictly below folder ("/" separated, bytes
 * compared exactly). */
int shellext_path_below(const char *path, const char *folder);

#ifdef __cplusplus
}
#endif
#endif
