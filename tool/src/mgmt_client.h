// The tool's client of the local server's SOAP service: one handle for the
// process, made from UPNP_PORT at start and freed at exit.  Port 0 means no
// client: every call is skipped as failed.
#pragma once

#include "host_watch.h"

// 1 when a client was made or the port is 0 (no client); 0 on failure.
int mgmt_client_init(unsigned upnp_port);
void mgmt_client_free();
// The allowed and denied client lists through the client, for the watcher.
const host_list_source *mgmt_client_host_lists();

// The share calls of the client (UPnP result codes, 0 = done).
struct haldor_share_source {
  uint32_t (*share_list)(sys_str_list *paths);
  uint32_t (*share_state)(const char *path, int *state);
  uint32_t (*share)(const char *path);
};
// The share calls through the client, for the view.
const haldor_share_source *mgmt_client_shares();
