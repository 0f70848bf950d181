// The media HTTP server's listener: start and stop, the accept thread,
// the connection threads and their list, and the base URLs of resources.
#include <vennard/conf_store.h>
#include <vennard/device_manager.h>
#include <vennard/media_http.h>
#include <vennard/server.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

#include <atomic>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

bool stopping(server_rec *s)
{
  return std::atomic_ref<int32_t>(s->content.stopping).load() != 0;
}

conn_slot *conn_new(server_rec *s)
{
  auto *c = static_cast<conn_slot *>(sys_alloc_zero(sizeof(conn_slot)));
  if (!c) return nullptr;
  c->http.owner = s;
  c->http.server_name = s->media.server_name;
  c->http.socket = -1;
  return c;
}

// Takes over a new socket: admitted, non-blocking, with its buffers.
bool conn_setup(server_rec *s, http_server_conn *c, int sock, const uint8_t *ip, uint16_t port)
{
  c->socket = sock;
  sys_byte_copy(c->addr.remote_ip, 4, ip);
  c->addr.remote_port = port;
  // Without TCP_NODELAY a short answer on a kept-alive connection waits
  // for the client's delayed acknowledgement.
  if (!sys_socket_local4(sock, c->addr.local_ip, &c->addr.local_port) || !client_access_check(s, ip) ||
      !sys_socket_ndelay_on(sock) || !sys_socket_nodelay_on(sock))
    return false;
  sys_socketbuffer_init(&c->in, sock, c->in_buf, sizeof c->in_buf, MEDIA_HTTP_IN_TIMEOUT_MS);
  sys_socketbuffer_init(&c->out, sock, c->out_buf, sizeof c->out_buf, MEDIA_HTTP_OUT_TIMEOUT_MS);
  return true;
}

void conn_thread(void *arg)
{
  auto *c = static_cast<conn_slot *>(arg);
  media_http_serve(static_cast<server_rec *>(c->http.owner), &c->http);
  conn_set_leave(c);
}

void accept_thread(void *arg)
{
  auto *s = static_cast<server_rec *>(arg);
  media_http_rec *m = &s->media;
  conn_slot *pending = nullptr;
  while (!stopping(s)) {
    if (!pending && !(pending = conn_new(s))) {
      sys_thread_sleep(MEDIA_HTTP_ALLOC_RETRY_MS);
      continue;
    }
    int ready = conn_set_wait(m->listen_socket, m->wake);
    if (ready < 0) break;
    if (!ready) continue;
    int sock = -1;
    uint8_t ip[4];
    uint16_t port;
    if (!sys_socket_accept4(m->listen_socket, &sock, ip, &port)) continue;
    if (!conn_setup(s, &pending->http, sock, ip, port) || stopping(s)) {
      sys_socket_close(sock);
      continue;
    }
    // A refused connection is answered and closed there; the record
    // serves the next one.
    if (conn_set_admit(&m->conns, pending, conn_thread)) pending = nullptr;
  }
  sys_alloc_free(pending);
}

bool base_append(sys_ptralloc_rec *list, const uint8_t *ip, uint16_t port)
{
  char buf[40] = "http://";
  uint32_t n = 7;
  n += sys_ip4_fmt(buf + n, ip);
  buf[n++] = ':';
  n += sys_str_fmt_uint16(buf + n, port);
  buf[n] = 0;
  char *copy = nullptr;
  if (!sys_str_clone(buf, &copy)) return false;
  if (sys_ptralloc_append(list, copy)) return true;
  sys_alloc_free(copy);
  return false;
}

void media_free(media_http_rec *m)
{
  sys_socket_close(m->listen_socket);
  m->listen_socket = -1;
  sys_socket_close(m->wake);
  m->wake = -1;
  conn_set_close(&m->conns);
  sys_alloc_free(m->server_name);
  m->server_name = nullptr;
}

}  // namespace

extern "C" {

int media_http_start(server_rec *s, const char *data_home, const char *server_name)
{
  media_http_rec *m = &s->media;
  *m = media_http_rec{};
  m->listen_socket = m->wake = -1;
  bool ok = conf_port_read(data_home, CONF_KEY_HTTP_PORT, &s->http_port) &&
            sys_str_clone(server_name ? server_name : "", &m->server_name) &&
            conn_set_init(&m->conns, MEDIA_HTTP_CONNS_MAX, CONN_PER_ADDRESS_MAX,
                          MEDIA_HTTP_REFUSE_TIMEOUT_MS, m->server_name) &&
            sys_wakefd_open(&m->wake) && sys_socket_tcp(&m->listen_socket) &&
            sys_socket_bind_reuse4(m->listen_socket, sys_ip4_any(), s->http_port) &&
            sys_socket_ndelay_on(m->listen_socket) && sys_socket_listen(m->listen_socket, MEDIA_HTTP_BACKLOG);
  if (ok) ok = sys_thread_create(&m->accept_thread, accept_thread, s);
  if (!ok) {
    media_free(m);
    return 0;
  }
  m->accept_running = 1;
  return 1;
}

void media_http_stop(server_rec *s)
{
  media_http_rec *m = &s->media;
  if (!m->accept_running) return;
  sys_wakefd_signal(m->wake);
  sys_thread_join(m->accept_thread);
  m->accept_running = 0;
  media_free(m);
}

int media_base_urls(server_rec *s, const uint8_t *local_ip, int all_interfaces, sys_str_list *out)
{
  sys_ptralloc_rec list{};
  sys_memalloc_rec ips{};
  bool ok = base_append(&list, local_ip, s->http_port);
  if (ok && all_interfaces && sys_ip4_list(&ips))
    for (uint32_t i = 0; ok && i + 4 <= ips.len; i += 4)
      if (sys_byte_diff(ips.buf + i, 4, local_ip) && sys_byte_diff(ips.buf + i, 4, sys_ip4_loopback()))
        ok = base_append(&list, ips.buf + i, s->http_port);
  sys_memalloc_free(&ips);
  ok = ok && sys_ptralloc_append(&list, nullptr);
  if (!ok) {
    for (uint32_t i = 0; i < list.len; i++) sys_alloc_free(list.buf[i]);
    sys_ptralloc_free(&list);
    return 0;
  }
  *out = reinterpret_cast<char **>(list.buf);
  return 1;
}

}  // extern "C"
