// The server checks and the client set-up both extensions share.
#include <shellext_common/server_check.h>
#include <tarvo_dmsm/tarvo_dmsm.h>
#include <tarvo_platform/scm.h>

#include <cstring>

extern "C" {

int shellext_server_service_running(void)
{
  int running = 0;
  return scm_service_running(SCM_SERVER_SERVICE, &running) && running;
}

int shellext_server_active(void)
{
  tarvo_dmsm_handle h{};
  int active = 0;
  int ok = tarvo_dmsm_init(&h, SHELLEXT_DMSM_PORT) && tarvo_dmsm_get_server_state(&h, &active);
  tarvo_dmsm_free(&h);
  return ok && active;
}

int shellext_client_open(tarvo_avcpl_handle *handle)
{
  if (!tarvo_avcpl_init(handle, SHELLEXT_AVCPL_PORT)) return 0;
  tarvo_avcpl_set_read_timeout(handle, SHELLEXT_READ_TIMEOUT_MS);
  return 1;
}

int shellext_path_below(const char *path, const char *folder)
{
  size_t n = std::strlen(folder);
  // The root's entries follow it directly.
  if (n == 1 && folder[0] == '/') return path[0] == '/' && path[1] != '\0';
  return !std::strncmp(path, folder, n) && path[n] == '/' && path[n + 1] != '\0';
}

}  // extern "C"
