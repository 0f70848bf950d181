// Stand-ins for GENA and SSDP until their sources join the library: no
// events, no announcements.
#include "device_impl.h"

int device_gena_start(tarvo_device_ctx *) { return 1; }
void device_gena_stop(tarvo_device_ctx *) {}
void device_gena_clear(tarvo_device_ctx *) {}
void device_gena_free(tarvo_device_ctx *ctx) { sockalloc_free(&ctx->ssdp_sockets); }

void device_gena_serve(http_server_conn *conn, const http_request_startline_rec *)
{
  http_server_write_error_response(&conn->out, "501 method not implemented", conn->server_name, 1);
}

int device_ssdp_start(tarvo_device_ctx *) { return 1; }
void device_ssdp_stop(tarvo_device_ctx *) {}
