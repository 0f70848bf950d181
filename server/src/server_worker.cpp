// The worker thread and the server's lifecycle: start, stop and power
// events are serialised by one lock, so that a power event never meets a
// server halfway through starting or stopping.
#include <vennard/conf_store.h>
#include <vennard/service.h>

#include <tarvo_platform/svc.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>

#include <atomic>

namespace {

std::atomic_ref<int32_t> running(service_worker_rec *w)
{
  return std::atomic_ref<int32_t>(w->running);
}

struct lifecycle_lock {
  service_worker_rec *w;
  bool held;
  explicit lifecycle_lock(service_worker_rec *rec) : w(rec), held(sys_mutex_lock(&rec->lifecycle)) {}
  ~lifecycle_lock()
  {
    if (held) sys_mutex_unlock(&w->lifecycle);
  }
};

}  // namespace

extern "C" {

int service_server_start(service_worker_rec *w)
{
  lifecycle_lock l(w);
  if (!l.held) return 0;
  if (running(w)) return 1;
  if (!server_start(&w->server, w->data_home)) return 0;
  default_shares_offer(&w->server);
  running(w) = 1;
  return 1;
}

void service_server_stop(service_worker_rec *w)
{
  lifecycle_lock l(w);
  if (!l.held || !running(w)) return;
  // Changes lost at a stop are lost for good: the exit status says so.
  if (!server_stop(&w->server)) std::atomic_ref<int32_t>(w->save_lost).store(1);
  running(w) = 0;
}

void service_power_event(service_worker_rec *w, uint32_t event_type)
{
  lifecycle_lock l(w);
  if (!l.held || !running(w)) return;
  switch (event_type) {
  case SVC_POWER_SUSPEND:
    server_power_suspend(&w->server);
    break;
  case SVC_POWER_RESUME_CRITICAL:
  case SVC_POWER_RESUME_SUSPEND:
  case SVC_POWER_RESUME_AUTOMATIC:
    server_power_resume(&w->server);
    break;
  default:
    break;
  }
}

int service_worker_init(service_worker_rec *w, const char *data_home)
{
  sys_byte_zero(w, sizeof *w);
  w->listen_socket = w->wake = -1;
  w->data_home = data_home;
  if (!sys_mutex_create(&w->lifecycle)) return 0;
  if (sys_wakefd_open(&w->wake)) return 1;
  sys_mutex_destroy(&w->lifecycle);
  return 0;
}

void service_worker_free(service_worker_rec *w)
{
  sys_mutex_destroy(&w->lifecycle);
  sys_socket_close(w->wake);
  w->wake = -1;
}

void service_worker_stop(service_worker_rec *w)
{
  std::atomic_ref<int32_t>(w->stop) = 1;
  // A start still loading the content database gives up the load: the
  // stop would otherwise wait for all of it.
  std::atomic_ref<int32_t>(w->server.content.stopping) = 1;
  sys_wakefd_signal(w->wake);
}

void server_worker(service_worker_rec *w)
{
  platform_init();
  int on = 0;
  if (conf_flag_read(w->data_home, CONF_KEY_AUTO_RUN, &on) && on) service_server_start(w);
  management_port_run(w);
  service_server_stop(w);
}

int is_local_address(const uint8_t *ip)
{
  if (!sys_byte_diff(ip, 4, sys_ip4_loopback())) return 1;
  sys_memalloc_rec list{};
  int found = 0;
  if (sys_ip4_list(&list))
    for (uint32_t i = 0; i + 4 <= list.len && !found; i += 4) found = !sys_byte_diff(list.buf + i, 4, ip);
  sys_memalloc_free(&list);
  return found;
}

}  // extern "C"
