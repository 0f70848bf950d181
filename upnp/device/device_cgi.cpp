// CGI/1.1 programs under the document root: a request path that names a
// ".cgi" file starts it with the request's environment, hands it the
// body, and relays its answer to the client.
#include "device_impl.h"

#include <initializer_list>
#include <string_view>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_socket.h>

namespace {

// The environment: NUL-terminated NAME=value strings one after another.
bool env_add(sys_stralloc_rec *block, std::initializer_list<std::string_view> parts)
{
  for (std::string_view p : parts)
    if (!sys_stralloc_catb(block, p.data(), uint32_t(p.size()))) return false;
  return sys_stralloc_append(block, "");
}

std::string_view ip_text(const uint8_t *ip, char *buf)
{
  return std::string_view(buf, sys_ip4_fmt(buf, ip));
}

bool is_token_char(char ch)
{
  if ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(ch) != std::string_view::npos;
}

// name and value of a header line; false for a line whose name is empty or
// holds anything but token characters (it could not become a variable).
bool header_split(const char *line, std::string_view *name, std::string_view *value)
{
  std::string_view l(line);
  size_t colon = l.find(':');
  if (colon == l.npos || colon == 0) return false;
  *name = l.substr(0, colon);
  for (char ch : *name)
    if (!is_token_char(ch)) return false;
  *value = l.substr(colon + 1);
  while (!value->empty() && (value->front() == ' ' || value->front() == '\t'))
    value->remove_prefix(1);
  return true;
}

// One HTTP_ variable per request header, and CONTENT_TYPE and
// CONTENT_LENGTH from the first headers of exactly those names.
bool env_headers(sys_stralloc_rec *block, char *const *headers)
{
  bool type_seen = false, length_seen = false;
  for (char *const *h = headers; h && *h; h++) {
    std::string_view name, value;
    if (!header_split(*h, &name, &value)) continue;
    if (!type_seen && device_case_equal(name, "Content-Type")) {
      type_seen = true;
      if (!env_add(block, {"CONTENT_TYPE=", value})) return false;
    }
    if (!length_seen && device_case_equal(name, "Content-Length")) {
      length_seen = true;
      if (!env_add(block, {"CONTENT_LENGTH=", value})) return false;
    }
    uint32_t start = block->len;
    if (!env_add(block, {"HTTP_", name, "=", value})) return false;
    for (uint32_t i = start + 5; i < start + 5 + name.size(); i++) {
      char &ch = block->buf[i];
      if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
      if (ch == '-') ch = '_';
    }
  }
  return true;
}

// The body length from the first Content-Length header; 0 without one.
// false when that value is no decimal or does not fit.
bool body_length(char *const *headers, uint64_t *length)
{
  *length = 0;
  for (char *const *h = headers; h && *h; h++) {
    std::string_view name, value;
    if (!header_split(*h, &name, &value) || !device_case_equal(name, "Content-Length")) continue;
    return device_header_decimal(value.data(), 0, length);
  }
  return true;
}

struct cgi_request {
  tarvo_device_ctx *c;
  http_server_conn *conn;
  const http_request_startline_rec *start;
  char *const *headers;
  std::string_view script_part;
  std::string_view path_info;
  const char *script_file;
};

int env_build(const cgi_request &r, sys_stralloc_rec *block, char ***envp)
{
  char local[16], remote[16], port[8];
  port[sys_str_fmt_uint(port, r.conn->addr.local_port)] = '\0';
  own::str translated;
  if (!device_docroot_join(r.c->document_root, r.path_info.data(), uint32_t(r.path_info.size()),
                           &translated.s))
    return 0;
  bool ok = env_add(block, {"GATEWAY_INTERFACE=CGI/1.1"}) &&
            env_add(block, {"SERVER_PROTOCOL=HTTP/1.1"}) &&
            env_add(block, {"SERVER_SOFTWARE=", r.conn->server_name}) &&
            env_add(block, {"SERVER_NAME=", ip_text(r.conn->addr.local_ip, local)}) &&
            env_add(block, {"SERVER_PORT=", port}) &&
            env_add(block, {"REQUEST_METHOD=", r.start->method}) &&
            env_add(block, {"PATH_INFO=", r.path_info}) &&
            env_add(block, {"PATH_TRANSLATED=", translated.s}) &&
            env_add(block, {"SCRIPT_NAME=", r.script_file}) &&
            env_add(block, {"QUERY_STRING=", r.start->uri.query}) &&
            env_add(block, {"REMOTE_ADDR=", ip_text(r.conn->addr.remote_ip, remote)}) &&
            env_headers(block, r.headers);
  if (!ok) return 0;
  uint32_t n = 0;
  for (uint32_t i = 0; i < block->len; i++) n += block->buf[i] == '\0';
  auto **list = static_cast<char **>(sys_alloc_zero((size_t(n) + 1) * sizeof(char *)));
  if (!list) return 0;
  for (uint32_t i = 0, k = 0; k < n; i += sys_str_len(block->buf + i) + 1) list[k++] = block->buf + i;
  *envp = list;
  return 1;
}

// The client's body, length bytes, into the program's standard input.
bool body_copy(http_server_conn *conn, int child_in, uint64_t length)
{
  char buf[DEVICE_CGI_BLOCK];
  while (length) {
    uint32_t got = 0;
    uint32_t want = uint32_t(length < sizeof buf ? length : sizeof buf);
    if (!sys_socketbuffer_get(&conn->in, buf, want, &got) || !got ||
        !sys_file_allwrite(child_in, buf, got))
      return false;
    length -= got;
  }
  return true;
}

bool output_copy(sys_filebuffer_rec *fb, sys_socketbuffer_rec *out)
{
  char buf[DEVICE_CGI_BLOCK];
  for (;;) {
    uint32_t got = 0;
    if (!sys_filebuffer_get(fb, buf, sizeof buf, &got)) return false;
    if (!got) return sys_socketbuffer_flush(out);
    if (!sys_socketbuffer_put(out, buf, got)) return false;
  }
}

bool answer_relay(http_server_conn *conn, int child_out, bool raw)
{
  char fbuf[DEVICE_CGI_BLOCK];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, child_out, fbuf, sizeof fbuf);
  if (raw) return output_copy(&fb, &conn->out);
  own::str_list lines;
  const char *status = nullptr;
  if (!device_cgi_answer_read(&fb, &lines.l, &status) ||
      !http_server_write_common_header(&conn->out, status, conn->server_name))
    return false;
  for (char **l = lines.l; *l; l++)
    if (!sys_socketbuffer_puts(&conn->out, *l) || !sys_socketbuffer_puts(&conn->out, "\r\n"))
      return false;
  if (!sys_socketbuffer_puts(&conn->out, "\r\n")) return false;
  return conn->head ? sys_socketbuffer_flush(&conn->out) : output_copy(&fb, &conn->out);
}

void child_set(tarvo_device_ctx *c, device_conn *dc, sys_process_handle child)
{
  sys_mutex_lock(&c->live_mutex);
  dc->cgi_child = child;
  sys_mutex_unlock(&c->live_mutex);
}

// Starts the program, feeds it, relays its answer and waits for it.
void run(device_conn *dc, const cgi_request &r, const char *workdir, uint64_t length, bool raw)
{
  own::stralloc block;
  char **envp = nullptr;
  if (!env_build(r, &block.s, &envp)) return;
  char *argv[] = {const_cast<char *>(r.script_file), nullptr};
  sys_process_handle child = 0;
  int child_out = -1, child_in = -1;
  int started = sys_process_create(&child, &child_out, &child_in, r.script_file, argv, envp, workdir);
  sys_alloc_free(envp);
  if (!started) return;
  // The end call kills a program that is still running.
  child_set(r.c, dc, child);
  bool ok = body_copy(r.conn, child_in, length);
  // A program that reads its input to the end would otherwise wait for
  // more while we wait for its answer.
  sys_file_close(child_in);
  ok = ok && answer_relay(r.conn, child_out, raw);
  if (!ok) {
    char drop[DEVICE_CGI_DRAIN_BLOCK];
    uint32_t got = 0;
    while (sys_file_read(child_out, drop, sizeof drop, &got) && got) {
    }
  }
  sys_file_close(child_out);
  child_set(r.c, dc, 0);
  sys_process_join(child);
}

}  // namespace

uint32_t device_cgi_split(const char *path)
{
  std::string_view p(path);
  for (size_t i = p.find(".cgi"); i != p.npos; i = p.find(".cgi", i + 1))
    if (i + 4 == p.size() || p[i + 4] == '/') return uint32_t(i + 4);
  return 0;
}

int device_cgi_answer_read(sys_filebuffer_rec *fb, sys_str_list *lines, const char **status)
{
  if (!http_header_readf(fb, lines)) return 0;
  *status = "200 OK";
  bool explicit_status = false;
  for (char **l = *lines; *l; l++) {
    const char *line = *l;
    if (sys_str_case_start(line, "status:")) {
      const char *v = line + 7;
      v += http_header_skipspace(v);
      // Only a three-digit code makes a status line.
      if (v[0] >= '0' && v[0] <= '9' && v[1] >= '0' && v[1] <= '9' && v[2] >= '0' && v[2] <= '9') {
        *status = v;
        explicit_status = true;
      }
    } else if (sys_str_case_start(line, "location:") && !explicit_status) {
      *status = "301 moved permanently";
    }
  }
  return 1;
}

void device_cgi_serve(device_conn *dc, const http_request_startline_rec *start, uint32_t script_len)
{
  http_server_conn *conn = &dc->conn;
  tarvo_device_ctx *c = device_conn_ctx(conn);
  conn->keep_alive = 0;
  own::str_list headers;
  if (!device_request_headers(conn, &headers.l)) return;
  std::string_view path(start->uri.path);
  std::string_view script_part = path.substr(0, script_len);
  own::str script, workdir;
  sys_file_stat_rec st{};
  if (!c->document_root ||
      !device_docroot_join(c->document_root, script_part.data(), script_len, &script.s) ||
      !sys_file_stat(script.s, &st) || st.is_dir) {
    http_server_write_error_response(&conn->out, "404 file does not exist", conn->server_name,
                                     !conn->head);
    return;
  }
  std::string_view folder = script_part.substr(0, script_part.rfind('/') + 1);
  std::string_view name = script_part.substr(folder.size());
  uint64_t length = 0;
  if (!device_docroot_join(c->document_root, folder.data(), uint32_t(folder.size()), &workdir.s) ||
      !body_length(headers.l, &length))
    return;
  cgi_request r{c, conn, start, headers.l, script_part, path.substr(script_len), script.s};
  run(dc, r, workdir.s, length, name.starts_with("nph-"));
}
