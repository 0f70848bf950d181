// The management-port client: one GET a call, the connection closed as
// soon as the status and headers are read.
#include <tarvo_dmsm/dmsm_limits.h>
#include <tarvo_dmsm/tarvo_dmsm.h>

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

namespace {

constexpr const char *AUTO_RUN_HEADER = "X-AUTO-RUN-STATE:";
constexpr const char *STATE_HEADER = "X-DUV-STATE:";

// GET path with the extra line (or none) after "CONNECTION: close"; 1
// when the server answered 200.
int get(tarvo_dmsm_handle *h, const char *path, const char *extra)
{
  if (!h || !h->client) return 0;
  char url[DMSM_URL_MAX];
  uint32_t n = sys_str_copy(url, "http://127.0.0.1:");
  n += sys_str_fmt_uint32(url + n, h->port);
  if (sys_str_len(path) >= DMSM_URL_MAX - n) return 0;
  sys_str_copy(url + n, path);
  if (!http_client_set_url(&h->client, url)) return 0;
  char connection[] = "CONNECTION: close";
  char *lines[] = {connection, const_cast<char *>(extra), nullptr};
  int status = 0;
  if (!http_client_get(&h->client, lines, &status)) return 0;
  // The body, if any, is never read.
  http_client_disconnect(&h->client);
  return status == 200;
}

// A state header of the last answer: 1 with *flag set, 0 when absent.
int read_state(tarvo_dmsm_handle *h, const char *header, int *flag)
{
  const char *v = http_client_header(&h->client, header);
  if (!v) return 0;
  if (flag) *flag = !sys_str_diff(v, "active");
  return 1;
}

}  // namespace

extern "C" {

int tarvo_dmsm_init(tarvo_dmsm_handle *handle, uint16_t port)
{
  if (!handle) return 0;
  platform_init();
  // A live record would otherwise lose its client.
  http_client_free(&handle->client);
  if (!http_client_init2(&handle->client)) return 0;
  handle->port = port;
  return 1;
}

void tarvo_dmsm_free(tarvo_dmsm_handle *handle)
{
  if (handle) http_client_free(&handle->client);
}

int tarvo_dmsm_start_server(tarvo_dmsm_handle *handle) { return get(handle, "/start_server", nullptr); }

int tarvo_dmsm_stop_server(tarvo_dmsm_handle *handle) { return get(handle, "/stop_server", nullptr); }

int tarvo_dmsm_get_server_state(tarvo_dmsm_handle *handle, int *active)
{
  return get(handle, "/get_server_state", nullptr) && read_state(handle, STATE_HEADER, active);
}

int tarvo_dmsm_set_auto_run_state(tarvo_dmsm_handle *handle, int flag)
{
  return get(handle, "/set_auto_run_state", flag ? "X-AUTO-RUN-STATE: active" : "X-AUTO-RUN-STATE: inactive");
}

int tarvo_dmsm_get_auto_run_state(tarvo_dmsm_handle *handle, int *flag)
{
  return get(handle, "/get_auto_run_state", nullptr) && read_state(handle, AUTO_RUN_HEADER, flag);
}

}  // extern "C"
