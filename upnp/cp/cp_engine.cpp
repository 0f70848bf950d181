// The engine's life cycle: the context, the job queue and its worker, the
// address check, and the start and end of the SSDP and event threads.
#include "cp_impl.h"

#include <tarvo_util/sys_time.h>

namespace {

upnp_cp_ctx *ctx_get(upnp_cp_ctx **cp)
{
  if (!cp) return nullptr;
  if (!*cp) {
    auto *c = static_cast<upnp_cp_ctx *>(sys_alloc_zero(sizeof(upnp_cp_ctx)));
    if (!c) return nullptr;
    c->self = cp;
    c->search_socket = c->ssdp_socket = c->event_socket = c->stop_fd = -1;
    *cp = c;
  }
  return *cp;
}

void job_free(cp_job *j)
{
  if (j->free_fn) j->free_fn(j->arg);
  sys_alloc_free(j);
}

// Reads the address list again; when it changed, the SSDP thread reopens
// its socket before the handlers hear of it.
void address_check(upnp_cp_ctx *c)
{
  sys_memalloc_rec now{};
  if (!sys_ip4_list2(&now, c->disabled_if)) {
    sys_memalloc_free(&now);
    return;
  }
  uint8_t old_first[4] = {0, 0, 0, 0}, new_first[4] = {0, 0, 0, 0};
  sys_mutex_lock(&c->ip_mutex);
  bool same = now.len == c->ip_list.len && !sys_byte_diff(now.buf, now.len, c->ip_list.buf);
  if (!same) {
    if (c->ip_list.len >= 4) sys_byte_copy(old_first, 4, c->ip_list.buf);
    if (now.len >= 4) sys_byte_copy(new_first, 4, now.buf);
    sys_memalloc_rec gone = c->ip_list;
    c->ip_list = now;
    now = gone;
  }
  sys_mutex_unlock(&c->ip_mutex);
  sys_memalloc_free(&now);
  if (same) return;
  cp_store(c->reopen, 1);
  while (cp_load(c->reopen) && !cp_stopping(c)) sys_thread_sleep(CP_POLL_MS);
  if (c->ip_fn) c->ip_fn(old_first, new_first, c->ip_user);
  if (c->ip_change_fn) c->ip_change_fn(c->ip_change_user);
}

void worker(void *arg)
{
  auto *c = static_cast<upnp_cp_ctx *>(arg);
  int64_t next_check = 0;
  while (!cp_stopping(c)) {
    uintptr_t v = 0;
    if (queue_async_read(&c->queue, CP_WORKER_WAIT_MS, &v)) {
      auto *j = reinterpret_cast<cp_job *>(v);
      if (!cp_stopping(c)) j->run(j->arg);
      job_free(j);
      continue;
    }
    int64_t now = 0;
    sys_time_now(&now);
    if (now > next_check && !cp_stopping(c)) {
      address_check(c);
      next_check = now + CP_ADDRESS_CHECK_S;
    }
  }
}

bool listener_open(upnp_cp_ctx *c, uint16_t port)
{
  uint8_t ip[4];
  return sys_socket_tcp(&c->event_socket) && sys_socket_ndelay_on(c->event_socket) &&
         sys_socket_bind_reuse4(c->event_socket, sys_ip4_any(), port) &&
         sys_socket_listen(c->event_socket, CP_EVENT_BACKLOG) &&
         sys_socket_local4(c->event_socket, ip, &c->event_port);
}

bool search_socket_open(upnp_cp_ctx *c, uint16_t port)
{
  uint8_t ip[4];
  return sys_socket_udp(&c->search_socket) && sys_socket_ndelay_on(c->search_socket) &&
         sys_socket_bind_reuse4(c->search_socket, sys_ip4_any(), port) &&
         sys_socket_local4(c->search_socket, ip, &c->ssdp_port) &&
         sys_socket_mcast_set_ttl(c->search_socket, CP_MSEARCH_TTL);
}

bool start_parts(upnp_cp_ctx *c, uint16_t port, char *const *targets)
{
  platform_init();
  if (targets && !sys_str_list_clone(targets, &c->targets)) return false;
  if (!platform_server_name(&c->server_name)) return false;
  sys_ip4_list2(&c->ip_list, c->disabled_if);
  if (!sys_mutex_create(&c->queue_mutex) || !sys_mutex_create(&c->live_mutex) ||
      !sys_mutex_create(&c->ip_mutex) || !sys_wakefd_open(&c->stop_fd) ||
      !queue_async_create(&c->queue, CP_JOB_QUEUE_SLOTS))
    return false;
  if (!(c->worker_started = sys_thread_create(&c->worker, worker, c))) return false;
  if (!listener_open(c, port) ||
      !(c->event_started = sys_thread_create(&c->event_thread, cp_event_accept_thread, c)))
    return false;
  return search_socket_open(c, port) &&
         (c->ssdp_started = sys_thread_create(&c->ssdp_thread, cp_ssdp_thread, c));
}

void ctx_free(upnp_cp_ctx *c)
{
  cp_store(c->stop, 1);
  if (c->live_mutex) cp_cancel_clients(c);
  if (c->stop_fd >= 0) sys_wakefd_signal(c->stop_fd);
  if (c->queue.slots) queue_async_wake(&c->queue);
  if (c->worker_started) sys_thread_join(c->worker);
  if (c->ssdp_started) sys_thread_join(c->ssdp_thread);
  if (c->event_started) sys_thread_join(c->event_thread);
  // The connection threads are detached: each is cut and then counted out.
  for (;;) {
    sys_mutex_lock(&c->live_mutex);
    uint32_t n = c->live_count;
    sys_mutex_unlock(&c->live_mutex);
    if (!n) break;
    cp_event_cut(c);
    sys_thread_sleep(CP_POLL_MS);
  }
  if (c->queue.slots) {
    uintptr_t v;
    while (queue_async_read(&c->queue, 1, &v)) job_free(reinterpret_cast<cp_job *>(v));
    queue_async_destroy(&c->queue);
  }
  sys_socket_close(c->search_socket);
  sys_socket_close(c->event_socket);
  sys_socket_close(c->stop_fd);
  for (sys_mutex_handle *m : {&c->queue_mutex, &c->live_mutex, &c->ip_mutex})
    if (*m) sys_mutex_destroy(m);
  sys_ptralloc_free(&c->live_conns);
  sys_ptralloc_free(&c->clients);
  sys_memalloc_free(&c->ip_list);
  sys_str_list_free(c->targets);
  sys_alloc_free(c->server_name);
  if (c->self) *c->self = nullptr;
  sys_alloc_free(c);
}

}  // namespace

int cp_queue(upnp_cp_ctx *c, void (*run)(void *), void (*free_fn)(void *), void *arg)
{
  auto *j = static_cast<cp_job *>(sys_alloc(sizeof(cp_job)));
  if (!j) {
    if (free_fn) free_fn(arg);
    return 0;
  }
  *j = cp_job{run, free_fn, arg};
  int ok = 0;
  sys_mutex_lock(&c->queue_mutex);
  if (!cp_stopping(c)) ok = queue_async_write(&c->queue, CP_JOB_WRITE_WAIT_MS, uintptr_t(j));
  sys_mutex_unlock(&c->queue_mutex);
  if (!ok) job_free(j);
  return ok;
}

extern "C" {

int upnp_cp_set_discovery_handler(upnp_cp_ctx **cp, upnp_cp_alive_handler alive,
                                  upnp_cp_search_response_handler search_response,
                                  upnp_cp_byebye_handler byebye, void *user)
{
  upnp_cp_ctx *c = ctx_get(cp);
  if (!c) return 0;
  c->alive_fn = alive;
  c->search_fn = search_response;
  c->byebye_fn = byebye;
  c->discovery_user = user;
  return 1;
}

int upnp_cp_set_event_handler(upnp_cp_ctx **cp, upnp_cp_event_handler event,
                              upnp_cp_sid_check_handler sid_check, void *user)
{
  upnp_cp_ctx *c = ctx_get(cp);
  if (!c) return 0;
  c->event_fn = event;
  c->sid_check_fn = sid_check;
  c->event_user = user;
  return 1;
}

int upnp_cp_set_ip_handler(upnp_cp_ctx **cp, upnp_cp_ip_handler fn, void *user)
{
  upnp_cp_ctx *c = ctx_get(cp);
  if (!c) return 0;
  c->ip_fn = fn;
  c->ip_user = user;
  return 1;
}

int upnp_cp_set_ip_change_handler(upnp_cp_ctx **cp, upnp_cp_ip_change_handler fn, void *user)
{
  upnp_cp_ctx *c = ctx_get(cp);
  if (!c) return 0;
  c->ip_change_fn = fn;
  c->ip_change_user = user;
  return 1;
}

int upnp_cp_start(upnp_cp_ctx **cp, void *reserved, uint16_t port, char *const *targets)
{
  (void)reserved;
  upnp_cp_ctx *c = ctx_get(cp);
  if (!c) return 0;
  if (start_parts(c, port, targets)) return 1;
  ctx_free(c);
  return 0;
}

void upnp_cp_end(upnp_cp_ctx **cp)
{
  if (cp && *cp) ctx_free(*cp);
}

int upnp_cp_get_ip(upnp_cp_ctx **cp, uint8_t out[4])
{
  sys_byte_zero(out, 4);
  if (!cp || !*cp) return 0;
  upnp_cp_ctx *c = *cp;
  sys_mutex_lock(&c->ip_mutex);
  bool any = c->ip_list.len >= 4;
  if (any) sys_byte_copy(out, 4, c->ip_list.buf);
  sys_mutex_unlock(&c->ip_mutex);
  return any;
}

int upnp_cp_ssdp_open_socket(upnp_cp_ctx **cp)
{
  if (!cp || !*cp) return 0;
  cp_store((*cp)->ssdp_request, 1);
  return 1;
}

void upnp_cp_ssdp_close_socket(upnp_cp_ctx **cp)
{
  if (cp && *cp) cp_store((*cp)->ssdp_request, 2);
}

}  // extern "C"
