/* The client of the media server's loopback management port: start and
 * stop the server, read its state, read and switch auto-run.  Each call is
 * one GET to 127.0.0.1 on a fresh connection; results are 1/0. */
#ifndef TARVO_DMSM_TARVO_DMSM_H
#define TARVO_DMSM_TARVO_DMSM_H

#include <stdint.h>
#include <tarvo_util/http_client.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Storage the caller owns; client comes first, so the record's address is
 * also the client handle's.  Zero-fill it before its first init. */
typedef struct {
  http_client client;
  uint16_t port; /* the server's management port */
} tarvo_dmsm_handle;

/* A record that already holds a client has it freed first. */
int tarvo_dmsm_init(tarvo_dmsm_handle *handle, uint16_t port);
/* Frees the client (NULL accepted); the record's storage stays. */
void tarvo_dmsm_free(tarvo_dmsm_handle *handle);

int tarvo_dmsm_start_server(tarvo_dmsm_handle *handle);
int tarvo_dmsm_stop_server(tarvo_dmsm_handle *handle);
/* *active: 1 when the server says exactly "active"; untouched on 0. */
int tarvo_dmsm_get_server_state(tarvo_dmsm_handle *handle, int *active);
/* Any non-zero flag asks for "active". */
int tarvo_dmsm_set_auto_run_state(tarvo_dmsm_handle *handle, int flag);
int tarvo_dmsm_get_auto_run_state(tarvo_dmsm_handle *handle, int *flag);

#ifdef __cplusplus
}
#endif
#endif
