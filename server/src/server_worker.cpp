// The worker thread and the server's lifecycle: start and stop are
// serialised by one lock; power events go to the server through its
// device gate without waiting for them, so that a suspend is said before
// the system sleeps even while a long start runs.
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

// Brings the server to the state of the last power event.  Each caller
// stores the event before it settles, and the calls take turns, so the
// last one sees the last event.
void power_settle(service_worker_rec *w)
{
  if (!sys_mutex_lock(&w->power)) return;
  if (std::atomic_ref<int32_t>(w->asleep).load())
    server_power_suspend(&w->server);
  else
    server_power_resume(&w->server);
  sys_mutex_unlock(&w->power);
}

}  // namespace

extern "C" {

int service_server_start(service_worker_rec *w)
{
  lifecycle_lock l(w);
  if (!l.held) return 0;
  if (running(w)) return 1;
  if (!server_start(&w->server, w->data_home)) return 0;
  // A suspend that came before the device stack ran.
  power_settle(w);
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

int service_server_settled(service_worker_rec *w)
{
  lifecycle_lock l(w);
  return l.held && (!running(w) || server_settled(&w->server));
}

void service_power_event(service_worker_rec *w, uint32_t event_type)
{
  switch (event_type) {
  case SVC_POWER_SUSPEND:
    std::atomic_ref<int32_t>(w->asleep).store(1);
    break;
  case SVC_POWER_RESUME_CRITICAL:
  case SVC_POWER_RESUME_SUSPEND:
  case SVC_POWER_RESUME_AUTOMATIC:
    std::atomic_ref<int32_t>(w->asleep).store(0);
    break;
  default:
    return;
  }
  power_settle(w);
}

int service_worker_init(service_worker_rec *w, const char *data_home)
{
  sys_byte_zero(w, sizeof *w);
  w->listen_socket = w->wake = -1;
  w->data_home = data_home;
  if (!sys_mutex_create(&w->lifecycle)) return 0;
  if (sys_mutex_create(&w->power)) {
    if (sys_wakefd_open(&w->wake)) return 1;
    sys_mutex_destroy(&w->power);
  }
  sys_mutex_destroy(&w->lifecycle);
  return 0;
}

void service_worker_free(service_worker_rec *w)
{
  sys_mutex_destroy(&w->power);
  sys_mutex_destroy(&w->lifecycle);
  sys_socket_close(w->wake);
  w->wake = -1;
}

void service_worker_stop(service_worker_rec *w)
{
  std::atomic_ref<int32_t>(w->stop) = 1;
  // A start still loading the content database gives up the load: the
  // stop would otherwise wait for all of it.
  std::atomic_ref<int32_t>(w->server.stop_asked) = 1;
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
