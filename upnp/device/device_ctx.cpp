// The device context: the setters, the start and the end.
#include "device_impl.h"

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_time.h>

namespace {

void handlers_free(device_service_handler **list)
{
  if (!list) return;
  for (device_service_handler **h = list; *h; h++) {
    sys_alloc_free(const_cast<char *>((*h)->service_id));
    sys_alloc_free(*h);
  }
  sys_alloc_free(list);
}

// Private copies: the service id cloned, the other words copied.  A
// record without a service id cannot be matched and fails the copy.
int handlers_clone(device_service_handler *const *src, device_service_handler ***out)
{
  uint32_t n = 0;
  while (src && src[n]) n++;
  auto **list = static_cast<device_service_handler **>(
      sys_alloc_zero((size_t(n) + 1) * sizeof(device_service_handler *)));
  if (!list) return 0;
  for (uint32_t i = 0; i < n; i++) {
    char *id = nullptr;
    auto *h = static_cast<device_service_handler *>(sys_alloc(sizeof(device_service_handler)));
    if (!h || !src[i]->service_id || !sys_str_clone(src[i]->service_id, &id)) {
      sys_alloc_free(h);
      handlers_free(list);
      return 0;
    }
    *h = *src[i];
    h->service_id = id;
    list[i] = h;
  }
  *out = list;
  return 1;
}

// Frees the context and everything it holds; no thread of it is left.
void ctx_free(tarvo_device_ctx *c)
{
  device_gena_free(c);
  if (c->listen_socket >= 0) sys_socket_close(c->listen_socket);
  for (int fd : {c->stop_fd, c->wake_fd, c->address_watch})
    if (fd >= 0) sys_socket_close(fd);
  sys_memalloc_free(&c->ip_list);
  sys_str_list_free(c->disabled_if);
  sys_alloc_free(c->document_root);
  sys_str_list_free(c->mime_map);
  device_static_free_all(c);
  upnp_desc_free(c->desc);
  sys_alloc_free(c->server_name);
  handlers_free(c->handlers);
  conn_policy_free(&c->conns);
  for (sys_mutex_handle *m : {&c->ip_mutex, &c->live_mutex, &c->sub_mutex, &c->static_mutex})
    if (*m) sys_mutex_destroy(m);
  tarvo_device_ctx **self = c->self;
  sys_alloc_free(c);
  if (self) *self = nullptr;
}

int listener_open(tarvo_device_ctx *c, uint16_t port)
{
  if (!sys_socket_tcp(&c->listen_socket)) {
    c->listen_socket = -1;
    return 0;
  }
  uint8_t ip[4];
  return sys_socket_ndelay_on(c->listen_socket) &&
         sys_socket_bind_reuse4(c->listen_socket, sys_ip4_any(), port) &&
         sys_socket_listen(c->listen_socket, DEVICE_LISTEN_BACKLOG) &&
         sys_socket_local4(c->listen_socket, ip, &c->http_port);
}

// Steps 2 to 8 of the start; 0 at the first failure, leaving what was
// made in the context for ctx_free.
int start_steps(tarvo_device_ctx **ctx, tarvo_device_ctx *c, uint16_t port,
                const char *document_root, const char *description_xml, uint32_t max_age_s,
                device_service_handler *const *handlers)
{
  if (!description_xml ||
      !tarvo_device_add_static_content(ctx, "/", "text/xml;charset=\"utf-8\"", description_xml,
                                       sys_str_len(description_xml)))
    return 0;
  if (!sys_ip4_list2(&c->ip_list, c->disabled_if)) return 0;
  c->http_port = port;
  if (!sys_str_clone(document_root, &c->document_root)) return 0;
  if (!upnp_desc_parse(description_xml, &c->desc)) return 0;
  c->max_age = max_age_s < DEVICE_MAX_AGE_MIN_S ? DEVICE_MAX_AGE_MIN_S : max_age_s;
  if (!platform_server_name(&c->server_name)) return 0;
  int64_t now = 0;
  sys_time_now(&now);
  device_content_time_set(c, now);
  if (!handlers_clone(handlers, &c->handlers)) return 0;
  if (!sys_mutex_create(&c->ip_mutex) || !sys_mutex_create(&c->live_mutex) || !sys_mutex_create(&c->sub_mutex))
    return 0;
  if (!sys_wakefd_open(&c->stop_fd) || !sys_wakefd_open(&c->wake_fd) || !listener_open(c, port) ||
      !conn_policy_init(&c->conns, DEVICE_CONNS_MAX, CONN_PER_ADDRESS_MAX, &c->live_mutex))
    return 0;
  // Without the watch the timer thread looks at intervals.
  sys_ip4_watch_open(&c->address_watch);
  if (!sys_thread_create(&c->accept_thread, device_accept_loop, c)) return 0;
  c->accept_started = 1;
  if (!device_gena_start(c)) return 0;
  c->timer_started = 1;
  return 1;
}

// Stops whatever of the context runs, waits for its threads and frees it;
// serves the end and a start that failed part-way.
void ctx_end(tarvo_device_ctx *c, bool ssdp_started)
{
  device_store(c->stop, 1);
  // Wakes every wait that includes it (the accept thread's among them).
  sys_wakefd_signal(c->stop_fd);
  // New clients are refused from here on; the socket is closed with the context.
  sys_socket_shutdown(c->listen_socket, 2);
  // Connections blocked on idle or silent clients end while the byebye
  // goes out instead of after it.
  if (c->accept_started) device_conns_cut(c);
  if (ssdp_started) device_ssdp_stop(c);
  if (c->accept_started) sys_thread_join(c->accept_thread);
  if (c->timer_started) device_gena_stop(c);
  // Connection and answer threads exist only once the accept thread ran.
  while (c->accept_started) {
    // Connections blocked on a silent or slow client, or on a CGI program,
    // would hold the end for as long as their timeouts: cut them.
    device_conns_cut(c);
    sys_mutex_lock(&c->live_mutex);
    bool idle = c->conns.count == 0 && c->ssdp_answer_count == 0;
    sys_mutex_unlock(&c->live_mutex);
    if (idle) break;
    sys_thread_sleep(DEVICE_END_POLL_MS);
  }
  ctx_free(c);
}

}  // namespace

tarvo_device_ctx *device_ctx_get(tarvo_device_ctx **ctx)
{
  if (!ctx) return nullptr;
  if (*ctx) return *ctx;
  auto *c = static_cast<tarvo_device_ctx *>(sys_alloc_zero(sizeof(tarvo_device_ctx)));
  if (!c) return nullptr;
  if (!sys_mutex_create(&c->static_mutex)) {
    sys_alloc_free(c);
    return nullptr;
  }
  c->self = ctx;
  c->listen_socket = c->stop_fd = c->wake_fd = c->address_watch = -1;
  *ctx = c;
  return c;
}

void device_content_time_set(tarvo_device_ctx *c, int64_t t) { device_store(c->content_time, t); }

extern "C" {

void tarvo_device_set_access_control_handler(tarvo_device_ctx **ctx, device_access_handler fn,
                                             void *user)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (!c) return;
  c->access_fn = fn;
  c->access_user = user;
}

void tarvo_device_set_ip_change_handler(tarvo_device_ctx **ctx, device_ip_change_handler fn,
                                        void *user)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (!c) return;
  c->ip_change_fn = fn;
  c->ip_change_user = user;
}

int tarvo_device_set_disable_if(tarvo_device_ctx **ctx, char *const *list)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  sys_str_list copy = nullptr;
  if (!c || !sys_str_list_clone(list, &copy)) return 0;
  // The timer thread reads the list under the address-list mutex.
  if (c->ip_mutex) sys_mutex_lock(&c->ip_mutex);
  sys_str_list old = c->disabled_if;
  c->disabled_if = copy;
  if (c->ip_mutex) sys_mutex_unlock(&c->ip_mutex);
  sys_str_list_free(old);
  return 1;
}

int tarvo_device_set_mimetype(tarvo_device_ctx **ctx, char *const *list)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  sys_str_list copy = nullptr;
  if (!c || !sys_str_list_clone(list, &copy)) return 0;
  sys_str_list_free(c->mime_map);
  c->mime_map = copy;
  return 1;
}

void tarvo_device_set_suspend_control(tarvo_device_ctx **ctx, int flag)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (c) device_store(c->suspend_control, flag);
}

int tarvo_device_get_suspend_control(tarvo_device_ctx **ctx, int *flag)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (!c) return 0;
  *flag = device_load(c->suspend_control);
  return 1;
}

void tarvo_device_disable_ssdp(tarvo_device_ctx **ctx)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (c) c->ssdp_disabled = 1;
}

int tarvo_device_impl_get_ip_list(tarvo_device_ctx *c, sys_memalloc_rec *out)
{
  if (!c || !out || !c->ip_mutex) return 0;
  sys_mutex_lock(&c->ip_mutex);
  int ok = sys_memalloc_copy(out, &c->ip_list);
  sys_mutex_unlock(&c->ip_mutex);
  return ok;
}

int tarvo_device_start(tarvo_device_ctx **ctx, void *reserved, uint16_t port,
                       const char *document_root, const char *description_xml,
                       uint32_t max_age_s, device_service_handler *const *handlers)
{
  (void)reserved;
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (!c) return 0;
  if (platform_init() &&
      start_steps(ctx, c, port, document_root, description_xml, max_age_s, handlers) &&
      (c->ssdp_disabled || device_ssdp_start(c)))
    return 1;
  ctx_end(c, false);
  *ctx = nullptr;
  return 0;
}

void tarvo_device_end(tarvo_device_ctx **ctx)
{
  if (!ctx || !*ctx) return;
  ctx_end(*ctx, !(*ctx)->ssdp_disabled);
  *ctx = nullptr;
}

}  // extern "C"
