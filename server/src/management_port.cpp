// The management port: one GET a connection from a local client, served on
// the worker thread.
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
#include <string_view>

namespace {

constexpr const char *OK = "200 OK";
constexpr const char *BAD_REQUEST = "400 bad request";
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
void answer_ok(conn &c, const char *state_header, bool active)
{
  sys_socketbuffer_rec *sb = &c.out;
  bool ok = http_server_write_startline(sb, OK) && put_date(sb);
  if (ok && state_header)
    ok = sys_socketbuffer_puts(sb, state_header) && sys_socketbuffer_puts(sb, active ? " active\r\n" : " inactive\r\n");
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

// "active" or "inactive" from the request's X-AUTO-RUN-STATE header; 0 for
// anything else, -1 when the headers cannot be read.
int requested_auto_run(conn &c, int *on)
{
  sys_str_list lines = nullptr;
  if (!http_header_read(&c.in, &lines)) return -1;
  int found = 0;
  uint32_t off = sys_str_len(AUTO_RUN_HEADER);
  for (char **l = lines; *l && !found; l++) {
    if (!sys_str_case_start(*l, AUTO_RUN_HEADER)) continue;
    std::string_view v(*l + off);
    if (v == "active" || v == "inactive") {
      *on = v == "active";
      found = 1;
    }
    break;
  }
  sys_str_list_free(lines);
  return found;
}

void dispatch(service_worker_rec *w, conn &c, std::string_view path)
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
    answer_ok(c, "X-DUV-STATE:", std::atomic_ref<int32_t>(w->running) != 0);
  } else if (path == "/set_auto_run_state") {
    int on = 0;
    int got = requested_auto_run(c, &on);
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

void serve(service_worker_rec *w, conn &c)
{
  sys_stralloc_rec line{};
  uint32_t empty = 0;
  bool got = false;
  while (empty <= MGMT_EMPTY_LINES_MAX && (got = http_header_readline(&c.in, &line)) && !line.len) empty++;
  if (!got || !line.len) {
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
      dispatch(w, c, req.uri.path);
  }
  http_request_startline_free(&req);
  sys_stralloc_free(&line);
}

}  // namespace

extern "C" {

void management_port_serve(service_worker_rec *w, int sock)
{
  conn c{};
  c.owner = w;
  c.socket = sock;
  sys_socket_local4(sock, c.addr.local_ip, &c.addr.local_port);
  sys_socket_remote4(sock, c.addr.remote_ip, &c.addr.remote_port);
  sys_socketbuffer_init(&c.in, sock, c.in_buf, sizeof c.in_buf, MGMT_IN_TIMEOUT_MS);
  sys_socketbuffer_init(&c.out, sock, c.out_buf, sizeof c.out_buf, MGMT_OUT_TIMEOUT_MS);
  serve(w, c);
  sys_socket_close(sock);
}

void management_port_run(service_worker_rec *w)
{
  if (!conf_port_read(w->data_home, CONF_KEY_DMSM_PORT, &w->port)) return;
  int s = -1;
  if (!sys_socket_tcp(&s)) return;
  if (!sys_socket_ndelay_on(s) || !sys_socket_bind_reuse4(s, sys_ip4_any(), w->port) ||
      !sys_socket_listen(s, MGMT_BACKLOG)) {
    sys_socket_close(s);
    return;
  }
  w->listen_socket = s;
  std::atomic_ref<int32_t> stop(w->stop);
  while (!stop) {
    if (!sys_socket_read_wait(s, MGMT_ACCEPT_WAIT_MS) || stop) continue;
    int c = -1;
    uint8_t peer[4], local[4];
    uint16_t peer_port, local_port;
    if (!sys_socket_accept4(s, &c, peer, &peer_port)) continue;
    if (!sys_socket_local4(c, local, &local_port) || !is_local_address(peer) || !sys_socket_ndelay_on(c)) {
      sys_socket_close(c);
      continue;
    }
    management_port_serve(w, c);
  }
  w->listen_socket = -1;
  sys_socket_close(s);
}

}  // extern "C"
