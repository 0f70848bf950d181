// The process entry, the service main function and the control handler.
#include "conf_util.h"

#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <tarvo_platform/special_folder.h>
#include <tarvo_platform/svc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

// One service per process: the handler is registered without a context.
service_worker_rec g_worker;
svc_status_handle g_status;
const char *g_service_name;
const char *g_data_home;

void report(uint32_t state, uint32_t accepted, uint32_t exit_code)
{
  svc_status_rec st{state, accepted, exit_code, SERVICE_WAIT_HINT_MS};
  svc_status_set(g_status, &st);
}

void worker_thread(void *arg)
{
  server_worker(static_cast<service_worker_rec *>(arg));
}

// The first line of a file of dir, without its line end.
int file_line(const char *dir, const char *name, sys_stralloc_rec *sa)
{
  own::str path, line;
  return sys_stralloc_copys(sa, dir) && sys_stralloc_cats(sa, "/") && sys_stralloc_cats(sa, name) &&
         conf::path_finish(sa, &path.s) && conf_value_read_path(path.s, &line.s) &&
         sys_stralloc_copys(sa, line.s);
}

}  // namespace

extern "C" {

int service_dir(char **dir)
{
  const char *env = std::getenv("TARVO_SERVICE_DIR");
  if (env && *env) return sys_str_clone(env, dir);
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return 0;
  exe[n] = 0;
  exe[sys_str_rchr(exe, '/')] = 0;
  return sys_str_clone(exe[0] ? exe : "/", dir);
}

int service_files_read(const char *dir, char **service_name, char **data_home)
{
  own::stralloc name, line, home;
  if (!file_line(dir, "service_name", &name.s) || !file_line(dir, "data_home", &line.s)) return 0;
  if (name.s.len > SERVICE_NAME_MAX) name.s.len = SERVICE_NAME_MAX;
  if (!sys_stralloc_append(&line.s, "")) return 0;
  line.s.len--;
  if (utf8file_is_absolute_path(line.s.buf)) {
    if (!sys_stralloc_copy(&home.s, &line.s)) return 0;
  } else {
    char appdata[DATA_HOME_MAX + 1];
    if (!special_folder_common_appdata(appdata, sizeof appdata) || !sys_stralloc_copys(&home.s, appdata) ||
        !sys_stralloc_cats(&home.s, "/") || !sys_stralloc_cat(&home.s, &line.s))
      return 0;
  }
  if (home.s.len > DATA_HOME_MAX) return 0;
  if (!conf::path_finish(&home.s, data_home)) return 0;
  if (conf::path_finish(&name.s, service_name)) return 1;
  sys_alloc_free(*data_home);
  return 0;
}

int service_run(const char *service_name, const char *data_home)
{
  g_service_name = service_name;
  g_data_home = data_home;
  int status = VENNARD_EXIT_CONFIG;
  if (!svc_dispatch(service_name, service_main, &status)) return VENNARD_EXIT_CONFIG;
  return status;
}

void service_main(uint32_t, char **)
{
  g_status = svc_ctrl_handler_register(g_service_name, service_ctrl_handler, nullptr);
  if (!g_status) return;
  report(SVC_START_PENDING, 0, 0);
  if (chdir(g_data_home) != 0) {
    report(SVC_STOPPED, 0, VENNARD_EXIT_DATA_HOME);
    return;
  }
  if (!service_worker_init(&g_worker, g_data_home)) {
    report(SVC_STOPPED, 0, VENNARD_EXIT_WORKER);
    return;
  }
  if (!sys_thread_create(&g_worker.worker, worker_thread, &g_worker)) {
    service_worker_free(&g_worker);
    report(SVC_STOPPED, 0, VENNARD_EXIT_WORKER);
    return;
  }
  report(SVC_RUNNING, SVC_ACCEPT_STOP | SVC_ACCEPT_SHUTDOWN | SVC_ACCEPT_POWEREVENT, 0);
}

uint32_t service_ctrl_handler(uint32_t control, uint32_t event_type, void *, void *)
{
  uint32_t exit_code = VENNARD_EXIT_OK;
  switch (control) {
  case SVC_CONTROL_STOP:
  case SVC_CONTROL_SHUTDOWN:
    report(SVC_STOP_PENDING, 0, 0);
    service_worker_stop(&g_worker);
    sys_thread_join(g_worker.worker);
    exit_code = std::atomic_ref<int32_t>(g_worker.save_lost).load() ? VENNARD_EXIT_SAVE : VENNARD_EXIT_OK;
    service_worker_free(&g_worker);
    report(SVC_STOPPED, 0, exit_code);
    return SVC_NO_ERROR;
  case SVC_CONTROL_POWEREVENT:
    service_power_event(&g_worker, event_type);
    return SVC_NO_ERROR;
  default:
    return SVC_ERROR_CALL_NOT_IMPLEMENTED;
  }
}

}  // extern "C"
