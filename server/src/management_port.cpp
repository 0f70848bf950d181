// The management port: one GET a connection from a local client, each
// connection on a thread of its own under a cap.
#include <vennard/conf_store.h>
#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_time.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char *OK = "200 OK";
constexpr const char *BAD_REQUEST = "400 bad request";
constexpr const char *HOST_REFUSED = "400 Bad Request";
constexpr const char *INTERNAL_ERROR = "500 internal server error";
constexpr const char *NOT_IMPLEMENTED = "501 method not implemented";
constexpr const char *UNAVAILABLE = "503 service unavailable";
constexpr const char *AUTO_RUN_HEADER = "X-AUTO-RUN-STATE:";

using conn = http_server_conn;

bool put_date(sys_socketbuffer_rec *sb)
{
  int64_t now = 0;
  char date[64];
  sys_time_now(&now);
  uint32_t n = http_date_fmt(date, &now);
  return sys_socketbuffer_puts(sb, "DATE: ") && sys_socketbuffer_put(sb, date, n) &&
         sys_socketbuffer_puts(sb, "\r\n");
}

// A success answer carries no length and ends with the connection.
void answer_ok(conn &c, const char *state_header, bool active, const char *extra_line = nullptr)
{
  sys_socketbuffer_rec *sb = &c.out;
  bool ok = http_server_write_startline(sb, OK) && put_date(sb);
  if (ok && state_header)
    ok = sys_socketbuffer_puts(sb, state_header) && sys_socketbuffer_puts(sb, active ? " active\r\n" : " inactive\r\n");
  if (ok && extra_line) ok = sys_socketbuffer_puts(sb, extra_line);
  ok = ok && sys_socketbuffer_puts(sb, "\r\n");
  if (ok) sys_socketbuffer_flush(sb);
}

void answer_error(conn &c, const char *status)
{
  static constexpr std::string_view open = "<html><body>", close = "</body></html>\r\n";
  sys_socketbuffer_rec *sb = &c.out;
  char len[16];
  uint32_t n = sys_str_fmt_uint32(len, uint32_t(open.size() + sys_str_len(status) + close.size()));
  bool ok = http_server_write_startline(sb, status) && put_date(sb) && sys_socketbuffer_puts(sb, "CONTENT-LENGTH: ") &&
            sys_socketbuffer_put(sb, len, n) &&
            sys_socketbuffer_puts(sb, "\r\nCONNECTION: close\r\nCONTENT-TYPE: text/html\r\n\r\n") &&
            sys_socketbuffer_put(sb, open.data(), uint32_t(open.size())) && sys_socketbuffer_puts(sb, status) &&
            sys_socketbuffer_put(sb, close.data(), uint32_t(close.size()));
  if (ok) sys_socketbuffer_flush(sb);
}

// Tests only, with TARVO_MGMT_SETTLED set: the state answer also says
// whether the server has settled, so that a test waits for that state
// rather than for a quiet spell.
const char *settled_line(service_worker_rec *w)
{
  const char *hook = std::getenv("TARVO_MGMT_SETTLED");
  if (!hook || !*hook) return nullptr;
  return service_server_settled(w) ? "X-TARVO-SETTLED: yes\r\n" : "X-TARVO-SETTLED: no\r\n";
}

// "active" or "inactive" from the request's X-AUTO-RUN-STATE header; 0 for
// anything else, -1 when the headers could not be read (lines NULL).
int requested_auto_run(char *const *lines, int *on)
{
  if (!lines) return -1;
  uint32_t off = sys_str_len(AUTO_RUN_HEADER);
  for (char *const *l = lines; *l; l++) {
    if (!sys_str_case_start(*l, AUTO_RUN_HEADER)) continue;
    std::string_view v(*l + off);
    if (v != "active" && v != "inactive") return 0;
    *on = v == "active";
    return 1;
  }
  return 0;
}

void dispatch(service_worker_rec *w, conn &c, std::string_view path, char *const *lines)
{
  if (path == "/start_server") {
    if (service_server_start(w))
      answer_ok(c, nullptr, false);
    else
      answer_error(c, UNAVAILABLE);
  } else if (path == "/stop_server") {
    service_server_stop(w);
    answer_ok(c, nullptr, false);
  } else if (path == "/get_server_state") {
    answer_ok(c, "X-DUV-STATE:", std::atomic_ref<int32_t>(w->running) != 0, settled_line(w));
  } else if (path == "/set_auto_run_state") {
    int on = 0;
    int got = requested_auto_run(lines, &on);
    if (got < 0)
      answer_error(c, INTERNAL_ERROR);
    else if (!got)
      answer_error(c, BAD_REQUEST);
    else if (!conf_auto_run_write(w->data_home, on))
      answer_error(c, INTERNAL_ERROR);
    else
      answer_ok(c, nullptr, false);
  } else if (path == "/get_auto_run_state") {
    int on = 0;
    if (conf_flag_read(w->data_home, CONF_KEY_AUTO_RUN, &on))
      answer_ok(c, "X-AUTO-RUN-STATE:", on);
    else
      answer_error(c, INTERNAL_ERROR);
  }
  // Any other path: no answer.
}

// The headers, due with the request line's, the Host check and the
// action.  Headers that cannot be read cannot be checked: only the
// auto-run setting answers then.
void request(service_worker_rec *w, conn &c, std::string_view path, int64_t due_ms)
{
  sys_str_list lines = nullptr;
  conn_header_wait(&c, due_ms);
  bool read = http_header_read(&c.in, &lines);
  // A web page whose name resolves to this machine (DNS rebinding) must
  // not start or stop the server.
  if (read && !http_header_host_allowed(lines))
    answer_error(c, HOST_REFUSED);
  else if (read || path == "/set_auto_run_state")
    dispatch(w, c, path, read ? lines : nullptr);
  sys_str_list_free(lines);
}

void serve(service_worker_rec *w, conn_slot &slot)
{
  conn &c = slot.http;
  sys_stralloc_rec line{};
  int64_t due_ms = 0;
  if (!conn_request_line(&slot.policy, 1, 0, &due_ms, &line)) {
    sys_stralloc_free(&line);
    return;
  }
  http_request_startline_rec req{};
  if (!http_request_startline_parse(&req, &line)) {
    answer_error(c, BAD_REQUEST);
  } else if (sys_str_start(req.version, "HTTP/")) {
    if (sys_str_diff(req.method, "GET"))
      answer_error(c, NOT_IMPLEMENTED);
    else
      request(w, c, req.uri.path, due_ms);
  }
  http_request_startline_free(&req);
  sys_stralloc_free(&line);
}

void conn_init(service_worker_rec *w, conn &c, int sock)
{
  c.owner = w;
  c.socket = sock;
  sys_socket_local4(sock, c.addr.local_ip, &c.addr.local_port);
  sys_socket_remote4(sock, c.addr.remote_ip, &c.addr.remote_port);
  sys_socketbuffer_init(&c.in, sock, c.in_buf, sizeof c.in_buf, MGMT_IN_TIMEOUT_MS);
  sys_socketbuffer_init(&c.out, sock, c.out_buf, sizeof c.out_buf, MGMT_OUT_TIMEOUT_MS);
}

void conn_thread(void *arg)
{
  auto *slot = static_cast<conn_slot *>(arg);
  serve(static_cast<service_worker_rec *>(slot->http.owner), *slot);
  conn_set_leave(slot);
}

bool listen_open(service_worker_rec *w, int *s)
{
  if (!conf_port_read(w->data_home, CONF_KEY_DMSM_PORT, &w->port) || !sys_socket_tcp(s)) return false;
  if (sys_socket_ndelay_on(*s) && sys_socket_bind_reuse4(*s, sys_ip4_any(), w->port) &&
      sys_socket_listen(*s, MGMT_BACKLOG))
    return true;
  sys_socket_close(*s);
  return false;
}

// A connection from this host gets a thread of its own, so that one slow
// client does not hold the port for the others.
void accept_one(service_worker_rec *w, conn_set_rec *set, int s)
{
  int c = -1;
  uint8_t peer[4], local[4];
  uint16_t peer_port, local_port;
  if (!sys_socket_accept4(s, &c, peer, &peer_port)) return;
  auto *slot = static_cast<conn_slot *>(sys_alloc_zero(sizeof(conn_slot)));
  if (!slot || !sys_socket_local4(c, local, &local_port) || !is_local_address(peer) ||
      !sys_socket_ndelay_on(c) || !sys_socket_nodelay_on(c)) {
    sys_alloc_free(slot);
    sys_socket_close(c);
    return;
  }
  conn_init(w, slot->http, c);
  // The 503 of a connection that waited in vain for a slot names us.
  slot->http.server_name = set->server_name;
  if (!conn_set_admit(set, slot, conn_thread)) sys_alloc_free(slot);
}

}  // namespace

extern "C" {

void management_port_serve(service_worker_rec *w, int sock)
{
  // In a slot of no set, as every connection serve() sees: it has its
  // slot at once and marks itself busy at its first byte.
  conn_slot slot{};
  conn_init(w, slot.http, sock);
  slot.policy.conn = &slot.http;
  serve(w, slot);
  sys_socket_close(sock);
}

void management_port_run(service_worker_rec *w)
{
  int s = -1;
  if (!listen_open(w, &s)) return;
  conn_set_rec set{};
  char *name = nullptr;
  if (!platform_server_name(&name) ||
      !conn_set_init(&set, MGMT_CONNS_MAX, MGMT_CONNS_MAX, MGMT_REFUSE_TIMEOUT_MS, name)) {
    sys_alloc_free(name);
    sys_socket_close(s);
    return;
  }
  w->listen_socket = s;
  std::atomic_ref<int32_t> stop(w->stop);
  while (!stop) {
    int ready = conn_set_wait(s, w->wake);
    if (ready < 0 || stop) break;
    if (ready) accept_one(w, &set, s);
  }
  // Requests under way end before the worker stops the server.
  conn_set_close(&set);
  sys_alloc_free(name);
  w->listen_socket = -1;
  sys_socket_close(s);
}

}  // extern "C"
