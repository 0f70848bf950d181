// The listener for event messages: the accept thread, one thread per
// connection, and the checks and answers of each NOTIFY.
#include "cp_impl.h"

#include <string_view>

namespace {

upnp_cp_ctx *owner(const http_server_conn *conn) { return static_cast<upnp_cp_ctx *>(conn->owner); }

// An error answer; the connection ends after a pause that the end cuts
// short (or that the owner waits out, see defer_fail_pause).
void fail(http_server_conn *conn, const char *status)
{
  http_server_write_error_response(&conn->out, status, conn->server_name, !conn->head);
  conn->keep_alive = 0;
  if (conn->defer_fail_pause) {
    conn->fail_paused = 1;
    return;
  }
  for (uint32_t waited = 0; waited < CP_EVENT_FAIL_PAUSE_MS && !cp_stopping(owner(conn)); waited += 100)
    sys_thread_sleep(100);
}

bool decimal(const char *line, uint32_t offset, uint64_t *n)
{
  const char *v = line + offset;
  v += http_header_skipspace(v);
  uint32_t k = http_header_value_scan_uint64(v, 0, n);
  if (!k) return false;
  for (v += k; *v == ' ' || *v == '\t'; v++) {
  }
  return !*v;
}

// One header line; NULL, or the status of the answer.
const char *header(const char *l, cp_event_request *rq)
{
  uint64_t n = 0;
  if (sys_str_case_start(l, "host:")) {
    rq->has_host = 1;
  } else if (sys_str_case_start(l, "transfer-encoding:")) {
    if (!http_header_value_case_equal(l, 18, "chunked")) return "505 I do not accept Transfer-Encoding";
    rq->chunked = 1;
  } else if (sys_str_case_start(l, "content-length:")) {
    if (!decimal(l, 15, &n)) return "412 invalid Content-Length";
    rq->has_length = 1;
    rq->length = n;
  } else if (sys_str_case_start(l, "connection:")) {
    if (http_header_value_case_equal(l, 11, "close")) rq->close = 1;
  } else if (sys_str_case_start(l, "nt:")) {
    if (!http_header_value_equal(l, 3, "upnp:event")) return "412 invalid NT";
    rq->has_nt = 1;
  } else if (sys_str_case_start(l, "nts:")) {
    if (!http_header_value_equal(l, 4, "upnp:propchange")) return "412 invalid NTS";
    rq->has_nts = 1;
  } else if (sys_str_case_start(l, "sid:")) {
    sys_stralloc_rec sa{};
    sys_alloc_free(rq->sid);
    rq->sid = nullptr;
    if (!http_header_value_get(l, 4, &sa) || !sys_stralloc_append(&sa, "")) {
      sys_stralloc_free(&sa);
      return "500 Internal Server Error";
    }
    rq->sid = sa.buf;
  } else if (sys_str_case_start(l, "seq:")) {
    if (!decimal(l, 4, &n) || n > UINT32_MAX) return "412 invalid SEQ";
    rq->has_seq = 1;
    rq->seq = uint32_t(n);
  }
  return nullptr;
}

struct event_job {
  upnp_cp_ctx *c;
  char *sid;
  uint32_t seq;
  char *body;
};

void event_run(void *arg)
{
  auto *j = static_cast<event_job *>(arg);
  if (j->c->event_fn) j->c->event_fn(j->sid, j->seq, j->body, j->c->event_user);
}

void event_free(void *arg)
{
  auto *j = static_cast<event_job *>(arg);
  sys_alloc_free(j->sid);
  sys_alloc_free(j->body);
  sys_alloc_free(j);
}

// The body, at most CP_EVENT_BODY_MAX bytes, NUL-terminated; NULL, or the
// status of the answer ("" when the connection just ends).
const char *read_body(http_server_conn *conn, const cp_event_request &rq, sys_stralloc_rec *sa)
{
  if (rq.chunked) {
    int too_large = 0;
    if (!http_server_read_chunked_max(conn, CP_EVENT_BODY_MAX, sa, &too_large))
      return too_large ? "400 bad request" : "";
  } else {
    if (rq.length > CP_EVENT_BODY_MAX) return "400 bad request";
    if (!http_server_read(conn, rq.length, sa)) return "";
  }
  return sys_stralloc_append(sa, "") ? nullptr : "500 Internal Server Error";
}

void answer_ok(http_server_conn *conn)
{
  sys_socketbuffer_rec *out = &conn->out;
  if (http_server_write_startline(out, "200 OK") &&
      (conn->keep_alive || sys_socketbuffer_puts(out, "CONNECTION: close\r\n")) &&
      sys_socketbuffer_puts(out, "CONTENT-LENGTH: 0\r\n\r\n") && sys_socketbuffer_flush(out))
    return;
  conn->keep_alive = 0;
}

void notify(http_server_conn *conn, cp_event_request *rq)
{
  upnp_cp_ctx *c = owner(conn);
  sys_stralloc_rec body{};
  conn->keep_alive = conn->http11 && !rq->close;
  const char *err = read_body(conn, *rq, &body);
  if (!err && c->sid_check_fn && !c->sid_check_fn(rq->sid, c->event_user)) err = "412 Invalid SID";
  if (err) {
    if (err[0]) fail(conn, err);
    conn->keep_alive = 0;
    sys_stralloc_free(&body);
    return;
  }
  answer_ok(conn);
  auto *j = static_cast<event_job *>(sys_alloc(sizeof(event_job)));
  if (!j) {
    sys_stralloc_free(&body);
    return;
  }
  *j = event_job{c, rq->sid, rq->seq, body.buf};
  rq->sid = nullptr;
  cp_queue(c, event_run, event_free, j);
}

// --- connections ---

void serve_one(http_server_conn *conn)
{
  upnp_cp_ctx *c = owner(conn);
  sys_stralloc_rec line{};
  if (!http_server_read_request_line(conn, CP_EVENT_LINE_TIMEOUT_MS, CP_EVENT_LINE_ATTEMPTS, &c->stop, &line)) {
    sys_stralloc_free(&line);
    return;
  }
  http_request_startline_rec start{};
  bool parsed = http_request_startline_parse(&start, &line);
  sys_stralloc_free(&line);
  if (!parsed) {
    conn->head = 0;
    http_server_write_error_response(&conn->out, "400 bad request", conn->server_name, 1);
  } else if (sys_str_start(start.version, "HTTP/")) {
    conn->http11 = sys_str_diff(start.version, "HTTP/1.0") != 0;
    conn->head = !sys_str_diff(start.method, "HEAD");
    sys_socketbuffer_set_timeout(&conn->in, CP_EVENT_REQUEST_TIMEOUT_MS);
    if (!sys_str_diff(start.method, "NOTIFY"))
      cp_event_serve(conn, &start);
    else
      http_server_write_error_response(&conn->out, "501 method not implemented", conn->server_name,
                                       !conn->head);
  }
  http_request_startline_free(&start);
}

void conn_thread(void *arg)
{
  auto *conn = static_cast<http_server_conn *>(arg);
  upnp_cp_ctx *c = owner(conn);
  cp_event_conn_serve(conn);
  sys_socket_linger(conn->socket);
  sys_mutex_lock(&c->live_mutex);
  for (uint32_t i = 0; i < c->live_conns.len; i++)
    if (c->live_conns.buf[i] == conn) {
      sys_ptralloc_remove(&c->live_conns, i);
      break;
    }
  // Closed under the mutex, so that the end never shuts down a number
  // the system has handed out again.
  sys_socket_close(conn->socket);
  c->live_count--;
  sys_mutex_unlock(&c->live_mutex);
  sys_alloc_free(conn);
}

void accept_one(upnp_cp_ctx *c)
{
  uint8_t ip[4];
  uint16_t port;
  int s = -1;
  if (!sys_socket_accept4(c->event_socket, &s, ip, &port)) return;
  auto *conn = static_cast<http_server_conn *>(sys_alloc_zero(sizeof(http_server_conn)));
  bool taken = false;
  if (conn && sys_socket_local4(s, conn->addr.local_ip, &conn->addr.local_port) &&
      sys_socket_ndelay_on(s) && sys_socket_nodelay_on(s)) {
    conn->owner = c;
    conn->server_name = c->server_name;
    conn->socket = s;
    sys_byte_copy(conn->addr.remote_ip, 4, ip);
    conn->addr.remote_port = port;
    sys_socketbuffer_init(&conn->in, s, conn->in_buf, sizeof conn->in_buf, CP_EVENT_LINE_TIMEOUT_MS);
    sys_socketbuffer_init(&conn->out, s, conn->out_buf, sizeof conn->out_buf, CP_EVENT_OUTPUT_TIMEOUT_MS);
    sys_mutex_lock(&c->live_mutex);
    sys_thread_handle t;
    if (!cp_stopping(c) && c->live_count < CP_EVENT_CONNS_MAX && sys_ptralloc_append(&c->live_conns, conn)) {
      if (sys_thread_create(&t, conn_thread, conn)) {
        sys_thread_detach(t);
        c->live_count++;
        taken = true;
      } else {
        sys_ptralloc_remove(&c->live_conns, c->live_conns.len - 1);
      }
    }
    sys_mutex_unlock(&c->live_mutex);
  }
  if (taken) return;
  sys_socket_close_drained(s);
  sys_alloc_free(conn);
}

}  // namespace

void cp_event_conn_serve(http_server_conn *conn)
{
  do {
    conn->keep_alive = 0;
    serve_one(conn);
  } while (conn->keep_alive && !conn->fail_paused && !cp_stopping(owner(conn)));
}

const char *cp_event_headers(char *const *lines, int http11, cp_event_request *rq)
{
  for (char *const *l = lines; l && *l; l++)
    if (const char *err = header(*l, rq)) return err;
  if (http11 && !rq->has_host) return "400 HTTP/1.1 requests must include a host name";
  if (!rq->has_length && !rq->chunked) return "411 I need Content-Length";
  if (!rq->sid) return "412 I need SID";
  if (!rq->has_nt || !rq->has_nts) return "400 I need NT and NTS";
  if (!rq->has_seq) return "400 I need SEQ";
  return nullptr;
}

void cp_event_serve(http_server_conn *conn, const http_request_startline_rec *start)
{
  (void)start;
  sys_str_list lines = nullptr;
  if (!http_header_read(&conn->in, &lines)) {
    sys_str_list_free(lines);
    return;
  }
  cp_event_request rq{};
  const char *err = cp_event_headers(lines, conn->http11, &rq);
  sys_str_list_free(lines);
  if (err)
    fail(conn, err);
  else
    notify(conn, &rq);
  sys_alloc_free(rq.sid);
}

void cp_event_accept_thread(void *arg)
{
  auto *c = static_cast<upnp_cp_ctx *>(arg);
  while (!cp_stopping(c)) {
    sys_select_rec rd;
    sys_select_init(&rd);
    sys_select_set(&rd, c->event_socket);
    sys_select_set(&rd, c->stop_fd);
    uint32_t n = 0;
    if (!sys_select_check(&rd, nullptr, nullptr, CP_SSDP_WAIT_MS, &n)) {
      sys_thread_sleep(CP_POLL_MS);
      continue;
    }
    if (!cp_stopping(c) && sys_select_is_set(&rd, c->event_socket)) accept_one(c);
  }
}

void cp_event_cut(upnp_cp_ctx *c)
{
  sys_mutex_lock(&c->live_mutex);
  for (uint32_t i = 0; i < c->live_conns.len; i++)
    sys_socket_shutdown(static_cast<http_server_conn *>(c->live_conns.buf[i])->socket, 2);
  sys_mutex_unlock(&c->live_mutex);
}
