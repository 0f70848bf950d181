// The device's HTTP server: the accept thread, one thread per connection,
// the reading and dispatch of each request, and the answers to GET and
// HEAD from static contents and from files under the document root.
#include "device_impl.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string_view>
#include <sys/socket.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/utf8file.h>

namespace {

int64_t now_ms()
{
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Under the live-count mutex: a refused connection's socket joins the
// paused list, whose first entry the accept thread waits for.  false when
// the list is full or the device stops.
bool pause_take(tarvo_device_ctx *c, int s)
{
  if (device_stopping(c) || c->paused_len == DEVICE_PAUSED_MAX) return false;
  c->paused[c->paused_len++] = device_paused{s, now_ms() + DEVICE_FAIL_PAUSE_MS};
  if (c->paused_len == 1) sys_wakefd_signal(c->wake_fd);
  return true;
}

void conn_close(tarvo_device_ctx *c, device_conn *dc)
{
  bool paused = dc->conn.fail_paused;
  sys_mutex_lock(&c->live_mutex);
  // Served: its slot is free for the client's next connection at once.
  conn_policy_served(&dc->policy);
  sys_mutex_unlock(&c->live_mutex);
  // Still listed, so that the end can cut the wait short.
  if (!paused) sys_socket_linger(dc->conn.socket);
  sys_mutex_lock(&c->live_mutex);
  // Out of the list before the descriptor goes, so that the end never
  // shuts down a number the system has handed out again.
  conn_policy_remove(&c->conns, &dc->policy);
  if (!paused || !pause_take(c, dc->conn.socket)) sys_socket_close_drained(dc->conn.socket);
  sys_mutex_unlock(&c->live_mutex);
  sys_alloc_free(dc);
}

// The header is whole: the body gets the long waits.
void header_done(http_server_conn *conn)
{
  sys_socketbuffer_set_timeout(&conn->in, DEVICE_REQUEST_TIMEOUT_MS);
}

// --- GET and HEAD ---

const char *mime_from_map(char *const *map, const char *file)
{
  std::string_view name(file);
  name.remove_prefix(name.rfind('/') + 1);
  size_t dot = name.rfind('.');
  std::string_view ext = dot == name.npos ? std::string_view() : name.substr(dot + 1);
  for (char *const *e = map; e && *e; e++) {
    std::string_view entry(*e);
    if (entry.size() > ext.size() && entry.starts_with(ext) && entry[ext.size()] == ':')
      return *e + ext.size() + 1;
  }
  return mimetype_from_path_static(file);
}

int not_found(http_server_conn *conn)
{
  http_server_write_error_response(&conn->out, "404 file does not exist", conn->server_name,
                                   !conn->head);
  return 0;
}

int serve_static(http_server_conn *conn, const http_server_request_rec *req, const char *mime,
                 static_content_body *body)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  http_server_range_rec range{0, 0, body->length};
  int send_body = 0;
  if (!http_server_write_get_response_header(&conn->out, conn->http11, conn->head, req,
                                             conn->server_name, mime,
                                             device_load(c->content_time), &send_body, &range))
    return 0;
  if (!send_body || !range.length) return 1;
  return sys_socketbuffer_put(&conn->out, body->bytes + range.offset, uint32_t(range.length)) &&
         sys_socketbuffer_flush(&conn->out);
}

// length bytes of the file from offset.  The send bounds every wait for
// the client, so a client that stops reading cannot hold the thread, and a
// file that ends early fails the answer, whose length was promised.
int send_file_range(http_server_conn *conn, int fd, uint64_t offset, uint64_t length)
{
  int64_t sent = 0;
  return sys_socket_sendfile(conn->socket, fd, int64_t(offset), int64_t(length), &sent) && uint64_t(sent) == length;
}

int serve_file(http_server_conn *conn, const http_server_request_rec *req, const char *path)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  char *file = nullptr;
  if (!c->document_root || !device_docroot_join(c->document_root, path, sys_str_len(path), &file))
    return not_found(conn);
  int fd = -1;
  sys_file_stat_rec st{};
  int ok = 0;
  if (!sys_file_open_read(&fd, file) || !sys_file_fstat(fd, &st) || st.is_dir) {
    not_found(conn);
  } else {
    http_server_range_rec range{0, 0, st.size};
    int send_body = 0;
    ok = http_server_write_get_response_header(&conn->out, conn->http11, conn->head, req,
                                               conn->server_name, mime_from_map(c->mime_map, file),
                                               st.mtime, &send_body, &range);
    if (ok && send_body) ok = send_file_range(conn, fd, range.offset, range.length);
  }
  if (fd >= 0) sys_file_close(fd);
  sys_alloc_free(file);
  return ok;
}

void serve_get(http_server_conn *conn, const char *path)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  http_server_request_rec req{};
  if (http_server_read_get_request(conn, nullptr, &c->stop, &req)) {
    header_done(conn);
    conn->keep_alive = req.keep_alive;
    const char *mime = nullptr;
    static_content_body *body = nullptr;
    int ok;
    if (device_static_find(c, path, &mime, &body)) {
      ok = serve_static(conn, &req, mime, body);
      device_static_release(body);
    } else {
      ok = serve_file(conn, &req, path);
    }
    if (!ok) conn->keep_alive = 0;
  }
  http_server_get_request_free(&req);
}

// --- one request ---

void serve_one(device_conn *dc, bool first)
{
  http_server_conn *conn = &dc->conn;
  own::stralloc line;
  int64_t due_ms = 0;
  if (!conn_request_line(&dc->policy, first, DEVICE_KEEP_ALIVE_MS, &due_ms, &line.s)) return;
  http_request_startline_rec start{};
  if (!http_request_startline_parse(&start, &line.s)) {
    conn->head = 0;
    http_server_write_error_response(&conn->out, "400 bad request", conn->server_name, 1);
    return;
  }
  std::string_view method(start.method);
  if (sys_str_start(start.version, "HTTP/")) {
    uint32_t path_len = 0;
    uri_percent_decode(start.uri.path, 0, &path_len);
    conn->http11 = sys_str_diff(start.version, "HTTP/1.0") != 0;
    conn->head = method == "HEAD";
    conn_header_wait(conn, due_ms);
    // A path is never served cut at a decoded NUL, nor with any control byte.
    if (!http_path_allowed(start.uri.path, path_len))
      http_server_write_error_response(&conn->out, "400 Bad Request", conn->server_name,
                                       !conn->head);
    else if (uint32_t script = device_cgi_split(start.uri.path))
      device_cgi_serve(dc, &start, script);
    else if (method == "GET" || conn->head)
      serve_get(conn, start.uri.path);
    else if (method == "POST")
      device_soap_serve(conn, &start);
    else if (method == "SUBSCRIBE" || method == "UNSUBSCRIBE")
      device_gena_serve(conn, &start);
    else
      http_server_write_error_response(&conn->out, "501 method not implemented",
                                       conn->server_name, 1);
  }
  http_request_startline_free(&start);
}

void conn_loop(void *arg)
{
  auto *dc = static_cast<device_conn *>(arg);
  tarvo_device_ctx *c = device_conn_ctx(&dc->conn);
  bool awake = false, first = true;
  do {
    dc->conn.keep_alive = 0;
    serve_one(dc, first);
    first = false;
    if (!awake && device_load(c->suspend_control)) {
      device_awake_hold();
      awake = true;
    }
  } while (dc->conn.keep_alive && !dc->conn.fail_paused);
  if (awake) device_awake_release();
  conn_close(c, dc);
}

device_conn *conn_new(tarvo_device_ctx *c)
{
  auto *dc = static_cast<device_conn *>(sys_alloc_zero(sizeof(device_conn)));
  if (!dc) return nullptr;
  dc->conn.owner = c;
  dc->conn.server_name = c->server_name;
  dc->conn.socket = -1;
  dc->conn.defer_fail_pause = 1;
  dc->policy.conn = &dc->conn;
  return dc;
}

// --- connection slots ---

// The answer to a connection beyond the caps, from the accept thread: it
// must never wait for the client.
void busy_answer(tarvo_device_ctx *c, int s)
{
  char buf[512];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, s, buf, sizeof buf, 0);
  http_server_write_error_response(&sb, "503 Service Unavailable", c->server_name, 1);
  sys_socket_close_drained(s);
}

// Closes the paused connections that are due (all of them when all is
// set); the time until the next one is due, UINT32_MAX for none.
uint32_t paused_close(tarvo_device_ctx *c, bool all)
{
  int due[DEVICE_PAUSED_MAX];
  uint32_t n = 0, kept = 0;
  int64_t now = now_ms(), next = INT64_MAX;
  sys_mutex_lock(&c->live_mutex);
  for (uint32_t i = 0; i < c->paused_len; i++) {
    device_paused p = c->paused[i];
    if (all || p.due_ms <= now)
      due[n++] = p.socket;
    else {
      c->paused[kept++] = p;
      next = std::min(next, p.due_ms);
    }
  }
  c->paused_len = kept;
  sys_mutex_unlock(&c->live_mutex);
  for (uint32_t i = 0; i < n; i++) sys_socket_close_drained(due[i]);
  return next == INT64_MAX ? UINT32_MAX : uint32_t(next - now);
}

// Accepts one connection into *spare and hands it to a thread of its own;
// *spare becomes NULL when the thread took it.  Beyond the caps the
// connection is answered at once, without a thread.
void accept_one(tarvo_device_ctx *c, device_conn **spare)
{
  http_server_conn *conn = &(*spare)->conn;
  int s = -1;
  if (!sys_socket_accept4(c->listen_socket, &s, conn->addr.remote_ip, &conn->addr.remote_port))
    return;
  bool taken = false, busy = false;
  if (sys_socket_local4(s, conn->addr.local_ip, &conn->addr.local_port) &&
      (!c->access_fn || c->access_fn(conn->addr.remote_ip, c->access_user)) &&
      sys_socket_ndelay_on(s) && sys_socket_nodelay_on(s)) {
    conn->socket = s;
    sys_socketbuffer_init(&conn->in, s, conn->in_buf, sizeof conn->in_buf, DEVICE_REQUEST_TIMEOUT_MS);
    sys_socketbuffer_init(&conn->out, s, conn->out_buf, sizeof conn->out_buf,
                          DEVICE_OUTPUT_TIMEOUT_MS);
    sys_mutex_lock(&c->live_mutex);
    // Started under the live-count mutex, so that the end cannot miss it.
    sys_thread_handle t;
    if (device_stopping(c)) {
    } else if (!conn_policy_admit(&c->conns, &(*spare)->policy)) {
      busy = true;
    } else if (sys_thread_create(&t, conn_loop, *spare)) {
      sys_thread_detach(t);
      taken = true;
    } else {
      conn_policy_remove(&c->conns, &(*spare)->policy);
    }
    sys_mutex_unlock(&c->live_mutex);
  }
  if (taken)
    *spare = nullptr;
  else if (busy)
    busy_answer(c, s);
  else
    sys_socket_close(s);
}

bool is_sep(char ch) { return ch == '/' || ch == utf8file_separator()[0]; }

}  // namespace

void device_accept_loop(void *arg)
{
  auto *c = static_cast<tarvo_device_ctx *>(arg);
  device_conn *spare = nullptr;
  uint32_t wait = UINT32_MAX;
  while (!device_stopping(c)) {
    if (!spare && !(spare = conn_new(c))) {
      sys_thread_sleep(DEVICE_NOMEM_PAUSE_MS);
      continue;
    }
    // No wake-up without work: a connection, a paused one falling due, or the end.
    sys_select_rec rd;
    sys_select_init(&rd);
    for (int fd : {c->listen_socket, c->stop_fd, c->wake_fd}) sys_select_set(&rd, fd);
    if (c->address_watch >= 0) sys_select_set(&rd, c->address_watch);
    uint32_t ready = 0;
    if (!sys_select_check(&rd, nullptr, nullptr, wait, &ready)) {
      sys_thread_sleep(DEVICE_NOMEM_PAUSE_MS);
      continue;
    }
    if (device_stopping(c)) break;
    if (sys_select_is_set(&rd, c->wake_fd)) sys_wakefd_clear(c->wake_fd);
    if (c->address_watch >= 0 && sys_select_is_set(&rd, c->address_watch)) {
      sys_ip4_watch_clear(c->address_watch);
      device_addresses_stale(c);
    }
    if (sys_select_is_set(&rd, c->listen_socket)) accept_one(c, &spare);
    wait = paused_close(c, false);
  }
  paused_close(c, true);
  device_gena_clear(c);
  sys_alloc_free(spare);
}

void device_conns_cut(tarvo_device_ctx *c)
{
  sys_mutex_lock(&c->live_mutex);
  conn_policy_cut(&c->conns);
  for (uint32_t i = 0; i < c->conns.conns.len; i++) {
    auto *dc = reinterpret_cast<device_conn *>(static_cast<conn_policy_entry *>(c->conns.conns.buf[i])->conn);
    // The child is reaped only after its thread cleared this under the
    // same mutex, so the number still names our child.
    if (dc->cgi_child > 0) kill(pid_t(dc->cgi_child), SIGKILL);
  }
  sys_mutex_unlock(&c->live_mutex);
}

int device_service_find(const http_server_conn *conn, const char *path, int event_url,
                        device_request_info *info, const device_service_handler **handler)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  if (!c->desc || !c->desc->devices) return 0;
  const char *want = path[0] ? path + 1 : path;
  for (upnp_desc_device_rec **d = c->desc->devices; *d; d++) {
    for (upnp_desc_service_rec **s = (*d)->services; s && *s; s++) {
      const char *url = event_url ? (*s)->eventSubURL : (*s)->controlURL;
      // A URL is relative to the root ("control/x") or an absolute path.
      if (!url || sys_str_diff(url, url[0] == '/' ? path : want)) continue;
      // Only the first service with that URL counts.
      for (device_service_handler **h = c->handlers; h && *h && (*s)->serviceId; h++) {
        if (sys_str_diff((*h)->service_id, (*s)->serviceId)) continue;
        info->addr = conn->addr;
        info->udn = (*d)->UDN;
        info->service_type = (*s)->serviceType;
        info->service_id = (*h)->service_id;
        *handler = *h;
        return 1;
      }
      return 0;
    }
  }
  return 0;
}

std::string_view device_header_value(const char *line, uint32_t offset)
{
  std::string_view v(line + offset);
  v.remove_prefix(std::min(v.size(), size_t(http_header_skipspace(v.data()))));
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

bool device_case_equal(std::string_view a, const char *b)
{
  return a.size() == sys_str_len(b) && !sys_str_case_diffn(a.data(), uint32_t(a.size()), b);
}

bool device_header_decimal(const char *line, uint32_t offset, uint64_t *n)
{
  std::string_view v = device_header_value(line, offset);
  uint32_t k = http_header_value_scan_uint64(v.data(), 0, n);
  return k && k == v.size();
}

int device_clone_view(std::string_view v, char **out)
{
  sys_stralloc_rec sa{};
  if (!sys_stralloc_copyb(&sa, v.data(), uint32_t(v.size())) || !sys_stralloc_append(&sa, "")) {
    sys_stralloc_free(&sa);
    return 0;
  }
  *out = sa.buf;
  return 1;
}

void device_fail_answer(http_server_conn *conn, const char *status)
{
  http_server_write_error_response(&conn->out, status, conn->server_name, !conn->head);
  conn->keep_alive = 0;
  // Waited out by the accept thread once the connection thread ends.
  conn->fail_paused = 1;
}

int device_request_headers(http_server_conn *conn, sys_str_list *lines)
{
  *lines = nullptr;
  if (!http_header_read(&conn->in, lines)) return 0;
  header_done(conn);
  if (http_header_host_allowed(*lines)) return 1;
  sys_str_list_free(*lines);
  *lines = nullptr;
  device_fail_answer(conn, "400 Bad Request");
  return 0;
}

int device_docroot_join(const char *root, const char *path, uint32_t path_len, char **out)
{
  if (path_len && path[0] != '/') return 0;
  sys_stralloc_rec sa{};
  uint32_t root_len = sys_str_len(root);
  if (root_len && is_sep(root[root_len - 1])) root_len--;
  bool ok = sys_stralloc_ready(&sa, root_len + path_len + 1) &&
            sys_stralloc_copyb(&sa, root, root_len);
  bool after_sep = false;
  for (uint32_t i = 0; ok && i < path_len; i++) {
    char ch = path[i];
    bool sep = is_sep(ch);
    if (i > 0 && sep && after_sep) continue;
    // No component may begin with a dot: ".." cannot climb out of the root
    // and hidden files stay hidden.
    if (i > 0 && ch == '.' && after_sep) ch = ':';
    after_sep = sep;
    ok = sys_stralloc_append(&sa, &ch);
  }
  if (ok) ok = sys_stralloc_append(&sa, "");
  if (!ok) {
    sys_stralloc_free(&sa);
    return 0;
  }
  *out = sa.buf;
  return 1;
}
