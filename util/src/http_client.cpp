// The HTTP/1.1 client.
#include <tarvo_util/http_client.h>
#include <tarvo_util/http_message.h>

#include "text_build.h"

#include <algorithm>
#include <atomic>
#include <string_view>

using tarvo::text_build;
using sv = std::string_view;

namespace {

// How the rest of the last answer's body is framed.
enum : int32_t {
  kBodyNone = 0,     // no body, or read to its end
  kBodyLength = 1,   // body_left more bytes
  kBodyChunked = 2,  // the chunk decoder in chunk_state
  kBodyToClose = 3,  // everything up to the end of the stream
};

// Chunk decoder states.
enum : int32_t {
  kChunkSizeFirst = 0,
  kChunkSize = 1,
  kChunkSizeLf = 2,
  kChunkData = 3,
  kChunkDataCr = 4,
  kChunkDataLf = 5,
  kChunkExtension = 6,
  kTrailerStart = 7,
  kTrailerLine = 8,
  kTrailerLf = 9,
  kLastLf = 10,
  kBodyEnd = 11,
  kBodyDone = 12,
};

constexpr char kContentLength[] = "content-length:";
constexpr char kTransferEncoding[] = "transfer-encoding:";
constexpr char kLocation[] = "location:";

std::atomic_ref<int32_t> cancel_flag(http_client_rec *c) { return std::atomic_ref<int32_t>(c->canceled); }

// "" is port 80; otherwise 1-65535 in decimal digits only.
bool parse_port(const char *s, uint16_t *port)
{
  if (!*s) {
    *port = 80;
    return true;
  }
  uint32_t v = 0;
  for (const char *p = s; *p; p++) {
    if (!tarvo::is_digit(*p)) return false;
    v = v * 10 + uint32_t(*p - '0');
    if (v > 65535) return false;
  }
  if (!v) return false;
  *port = uint16_t(v);
  return true;
}

// Both buffers over the socket (or over -1 when disconnected, so that no
// read reaches a descriptor number reused meanwhile).  The timed-out flags
// still tell the caller why the last call failed, and a cancel set before
// survives the reset.
void setup_buffers(http_client_rec *c, int fd)
{
  int32_t in_timed_out = c->in.timed_out, out_timed_out = c->out.timed_out;
  sys_socketbuffer_init(&c->in, fd, c->in_buf, HTTP_CLIENT_BUFFER_SIZE, c->read_timeout_ms);
  sys_socketbuffer_init(&c->out, fd, c->out_buf, HTTP_CLIENT_BUFFER_SIZE, c->write_timeout_ms);
  c->in.timed_out = in_timed_out;
  c->out.timed_out = out_timed_out;
  if (cancel_flag(c).load()) {
    sys_socketbuffer_set_cancel(&c->in, 1);
    sys_socketbuffer_set_cancel(&c->out, 1);
  }
}

void attach(http_client_rec *c, int fd)
{
  c->socket = fd;
  setup_buffers(c, fd);
}

// A non-blocking socket with its connect started; done when it completed
// at once.
bool start_connect(const unsigned char *ip, uint16_t port, int *fd, bool *done)
{
  if (!sys_socket_tcp(fd)) return false;
  if (sys_socket_ndelay_on(*fd) && sys_socket_nodelay_on(*fd)) {
    sys_socket_tryreservein(*fd, HTTP_CLIENT_RECEIVE_BUFFER);
    *done = sys_socket_connect4(*fd, ip, port);
    if (*done || sys_socket_would_block()) return true;
  }
  sys_socket_close(*fd);
  *fd = -1;
  return false;
}

// Waits for a started connect in slices, watching the cancel flag.
bool await_connect(http_client_rec *c, int fd)
{
  if (cancel_flag(c).load()) return false;
  if (sys_socket_write_wait(fd, 0)) return sys_socket_connected(fd);
  for (uint32_t left = c->connect_timeout_ms; left;) {
    if (cancel_flag(c).load()) return false;
    uint32_t slice = std::min<uint32_t>(left, SYS_SOCKET_WAIT_SLICE_MS);
    // Writable also means failed; only a peer tells a finished connect.
    if (sys_socket_write_wait(fd, slice)) return sys_socket_connected(fd);
    left -= slice;
  }
  c->connect_timed_out = 1;
  return false;
}

bool resolve(http_client_rec *c, own::memalloc *ips, uint16_t *port)
{
  return c->url.host && *c->url.host && parse_port(c->url.port, port) && sys_host_ip4(c->url.host, ips) &&
         ips->len >= 4;
}

bool add_uint64(text_build &t, uint64_t v)
{
  char buf[20];
  return t.add(sv(buf, sys_str_fmt_uint64(buf, v)));
}

// Whole seconds, then '.' and three digits when there are milliseconds.
bool add_npt(text_build &t, int64_t ms)
{
  if (!add_uint64(t, uint64_t(ms) / 1000)) return false;
  if (ms % 1000 == 0) return true;
  char buf[3];
  sys_str_fmt_0uint(buf, uint32_t(ms % 1000), 3);
  return t.add('.') && t.add(sv(buf, 3));
}

bool add_time_seek(text_build &t, int64_t start_ms, int64_t end_ms)
{
  if (start_ms < 0 || end_ms < 0) return false;
  if (!t.add("TimeSeekRange.dlna.org: npt=") || !add_npt(t, start_ms) || !t.add('-')) return false;
  return (!end_ms || add_npt(t, end_ms)) && t.add("\r\n");
}

// The request line, HOST, the generated lines, the caller's lines and the
// empty line, flushed.
bool write_head(http_client_rec *c, const char *method, sv generated, char *const *extra)
{
  const uri_rec &u = c->url;
  if (!u.host) return false;
  text_build t;
  bool ok = t.add(method) && t.add(' ') && t.add(u.path) && (!*u.query || (t.add('?') && t.add(u.query))) &&
            t.add(" HTTP/1.1\r\nHOST: ") && t.add(u.host) && (!*u.port || (t.add(':') && t.add(u.port))) &&
            t.add("\r\n") && t.add(generated);
  for (char *const *p = extra; ok && p && *p; p++) ok = t.add(*p) && t.add("\r\n");
  return ok && t.add("\r\n") && sys_socketbuffer_put(&c->out, t.s.buf, t.s.len) && sys_socketbuffer_flush(&c->out);
}

void clear_answer(http_client_rec *c)
{
  sys_str_list_free(c->headers);
  c->headers = nullptr;
  c->te_value = c->cl_value = nullptr;
  c->body_left = 0;
  c->body_mode = kBodyNone;
  c->chunk_state = kChunkSizeFirst;
  c->chunk_line = 0;
}

bool body_finished(const http_client_rec *c)
{
  switch (c->body_mode) {
  case kBodyLength: return c->body_left == 0;
  case kBodyChunked: return c->chunk_state >= kBodyEnd;
  case kBodyToClose: return false;
  default: return true;
  }
}

// A new request: the rest of an unread body would be taken for the next
// answer, so such a connection is dropped first.
void begin_request(http_client *client)
{
  http_client_rec *c = *client;
  if (!body_finished(c)) http_client_disconnect(client);
  clear_answer(c);
}

int fail(http_client *client)
{
  clear_answer(*client);
  http_client_disconnect(client);
  return 0;
}

// Writes the head and reads the status line; a kept connection the server
// has closed meanwhile is opened again once.  A timeout or a cancel is not
// retried: the second attempt would only wait as long again.
bool send_and_status(http_client *client, const char *method, sv generated, char *const *extra, int *code)
{
  http_client_rec *c = *client;
  if (write_head(c, method, generated, extra) && http_client_status(client, code)) return true;
  if (http_client_is_canceled(client) || c->in.timed_out || c->out.timed_out) return false;
  http_client_disconnect(client);
  return http_client_connect(client) && write_head(c, method, generated, extra) && http_client_status(client, code);
}

// Points the client at the answer's Location and connects there.
bool follow_redirect(http_client *client)
{
  const char *loc = http_client_header(client, kLocation);
  if (!loc) return false;
  text_build target;
  if (!http_header_value_get(loc, 0, &target.s) || !target.add('\0')) return false;
  http_client_disconnect(client);
  clear_answer(*client);
  return http_client_set_url(client, target.s.buf) && http_client_connect(client);
}

// One GET or HEAD request with its interim answers and redirects.
int exchange(http_client *client, const char *method, sv generated, char *const *extra, int *status)
{
  *status = 0;
  if (!client || !*client) return 0;
  http_client_rec *c = *client;
  begin_request(client);
  if (!http_client_connect(client)) return 0;
  int code = 0;
  for (uint32_t redirects = 0, interim = 0;;) {
    if (!send_and_status(client, method, generated, extra, &code)) return fail(client);
    for (;;) {
      *status = code;
      if (!http_client_read_response_header(client)) return 0;
      if (code < 100 || code > 199) break;
      if (++interim > HTTP_CLIENT_INTERIM_MAX || !http_client_status(client, &code)) return fail(client);
    }
    if (code < 300 || code > 399 || code == 304) break;
    if (++redirects > HTTP_CLIENT_REDIRECT_MAX || !follow_redirect(client)) return fail(client);
  }
  // These answers end at their headers whatever Content-Length says.
  if (sv(method) == "HEAD" || code == 204 || code == 304) {
    c->body_mode = kBodyNone;
    c->body_left = 0;
  }
  return 1;
}

int get_or_head(http_client *client, bool head, const text_build &generated, bool ok, char *const *extra,
                int *status)
{
  *status = 0;
  if (!ok) return 0;
  return exchange(client, head ? "HEAD" : "GET", sv(generated.s.buf, generated.s.len), extra, status);
}

int if_modified_since(http_client *client, bool head, const char *date, char *const *extra, int *status)
{
  text_build t;
  bool ok = (!date || (t.add("if-modified-since: ") && t.add(date) && t.add("\r\n")));
  return get_or_head(client, head, t, ok, extra, status);
}

int range(http_client *client, bool head, uint64_t offset, uint64_t length, const char *if_range,
          char *const *extra, int *status)
{
  text_build t;
  bool ok = (!length || length - 1 <= UINT64_MAX - offset) && t.add("range: bytes=") && add_uint64(t, offset) &&
            t.add('-') && (!length || add_uint64(t, offset + length - 1)) && t.add("\r\n") &&
            (!if_range || (t.add("if-range: ") && t.add(if_range) && t.add("\r\n")));
  return get_or_head(client, head, t, ok, extra, status);
}

int play_speed(http_client *client, bool head, int32_t num, uint32_t den, int64_t start_ms, int64_t end_ms,
               char *const *extra, int *status)
{
  text_build t;
  char buf[12];
  bool ok = (!start_ms || add_time_seek(t, start_ms, end_ms)) &&
            (!num || (t.add("PlaySpeed.dlna.org: speed=") && t.add(sv(buf, sys_str_fmt_int32(buf, num))) &&
                      (den == 1 || (t.add('/') && add_uint64(t, den))) && t.add("\r\n")));
  return get_or_head(client, head, t, ok, extra, status);
}

int time_seek(http_client *client, bool head, int64_t start_ms, int64_t end_ms, char *const *extra, int *status)
{
  text_build t;
  return get_or_head(client, head, t, add_time_seek(t, start_ms, end_ms), extra, status);
}

bool next_byte(http_client_rec *c, char *b)
{
  uint32_t avail = 0;
  if (!sys_socketbuffer_feed(&c->in, &avail) || !avail) return false;
  *b = *sys_socketbuffer_peek(&c->in);
  sys_socketbuffer_seek(&c->in, 1);
  return true;
}

// One byte outside the chunk data; false on a framing error.
bool chunk_step(http_client_rec *c, char b)
{
  int32_t &s = c->chunk_state;
  int d = sys_str_hex_digit(b);
  switch (s) {
  case kChunkSizeFirst:
    if (d < 0) return false;
    c->body_left = uint64_t(d);
    s = kChunkSize;
    return true;
  case kChunkSize:
    if (d >= 0) {
      if (c->body_left >= HTTP_CLIENT_CHUNK_SIZE_LIMIT) return false;
      c->body_left = c->body_left * 16 + uint64_t(d);
    } else if (b == '\r') {
      s = kChunkSizeLf;
    } else if (b == ';') {
      c->chunk_line = 0;
      s = kChunkExtension;
    } else {
      return false;
    }
    return true;
  case kChunkSizeLf:
    if (b != '\n') return false;
    c->chunk_line = 0;
    s = c->body_left ? kChunkData : kTrailerStart;
    return true;
  case kChunkDataCr:
    s = kChunkDataLf;
    return b == '\r';
  case kChunkDataLf:
    s = kChunkSizeFirst;
    return b == '\n';
  case kChunkExtension:
    if (b == '\r') s = kChunkSizeLf;
    return ++c->chunk_line <= HTTP_HEADER_LINE_MAX;
  case kLastLf:
    s = kBodyEnd;
    return b == '\n';
  default:
    break;
  }
  // The trailer: header lines up to an empty one, bounded like a header
  // block.
  if (s == kTrailerStart && b == '\r') {
    s = kLastLf;
    return true;
  }
  if (s == kTrailerStart) s = kTrailerLine;
  else if (s == kTrailerLine && b == '\r') s = kTrailerLf;
  else if (s == kTrailerLf && b == '\n') s = kTrailerStart;
  return ++c->chunk_line <= HTTP_HEADER_BLOCK_MAX;
}

int read_chunked(http_client_rec *c, void *buf, uint32_t len, uint32_t *got)
{
  for (;;) {
    if (c->chunk_state == kChunkData) {
      uint32_t n = uint32_t(std::min<uint64_t>(len, c->body_left));
      if (!n) return 1;
      if (!sys_socketbuffer_get(&c->in, buf, n, got) || !*got) break;
      c->body_left -= *got;
      if (!c->body_left) c->chunk_state = kChunkDataCr;
      return 1;
    }
    if (c->chunk_state == kBodyEnd) {
      c->chunk_state = kBodyDone;
      return 1;
    }
    if (c->chunk_state == kBodyDone) return 0;
    char b;
    if (!next_byte(c, &b) || !chunk_step(c, b)) break;
  }
  // A broken body stays broken: the stream position is lost.
  *got = 0;
  c->chunk_state = kBodyDone;
  return 0;
}

}  // namespace

extern "C" {

int http_client_init2(http_client *client)
{
  auto c = static_cast<http_client_rec *>(sys_alloc_zero(sizeof(http_client_rec)));
  *client = c;
  if (!c) return 0;
  c->socket = -1;
  c->connect_timeout_ms = HTTP_CLIENT_CONNECT_TIMEOUT_MS;
  c->read_timeout_ms = HTTP_CLIENT_READ_TIMEOUT_MS;
  c->write_timeout_ms = HTTP_CLIENT_WRITE_TIMEOUT_MS;
  setup_buffers(c, -1);
  return 1;
}

int http_client_init(http_client *client, const char *url)
{
  if (!http_client_init2(client)) return 0;
  if (http_client_set_url(client, url)) return 1;
  http_client_free(client);
  return 0;
}

int http_client_set_url(http_client *client, const char *url)
{
  http_client_rec *c = *client;
  uri_rec u{};
  uint16_t port;
  bool ok = url && uri_parse(&u, url) && !sys_str_case_diff(u.scheme, "http") && *u.host &&
            parse_port(u.port, &port);
  // A blank or control byte would split the request line or its headers.
  for (const char *p = url; ok && *p; p++) ok = static_cast<unsigned char>(*p) > ' ' && *p != 0x7f;
  // The connection serves the new URL only when it goes to the same place.
  if (!ok || !c->url.host || sys_str_diff(c->url.host, u.host) || sys_str_diff(c->url.port, u.port))
    http_client_disconnect(client);
  uri_free(&c->url);
  c->url = uri_rec{};
  if (!ok) {
    uri_free(&u);
    return 0;
  }
  c->url = u;
  return 1;
}

uri_rec *http_client_get_url(http_client *client) { return &(*client)->url; }
int http_client_get_socket(http_client *client) { return (*client)->socket; }
sys_socketbuffer_rec *http_client_get_socketbuffer_in(http_client *client) { return &(*client)->in; }
sys_socketbuffer_rec *http_client_get_socketbuffer_out(http_client *client) { return &(*client)->out; }
void http_client_set_connect_timeout(http_client *client, uint32_t ms) { (*client)->connect_timeout_ms = ms; }

void http_client_set_read_timeout(http_client *client, uint32_t ms)
{
  (*client)->read_timeout_ms = ms;
  sys_socketbuffer_set_timeout(&(*client)->in, ms);
}

void http_client_set_write_timeout(http_client *client, uint32_t ms)
{
  (*client)->write_timeout_ms = ms;
  sys_socketbuffer_set_timeout(&(*client)->out, ms);
}

int http_client_is_connect_timeout(http_client *client) { return (*client)->connect_timed_out != 0; }
int http_client_is_read_timeout(http_client *client) { return sys_socketbuffer_is_timeout(&(*client)->in); }
int http_client_is_write_timeout(http_client *client) { return sys_socketbuffer_is_timeout(&(*client)->out); }

void http_client_set_cancel(http_client *client, int flag)
{
  http_client_rec *c = *client;
  cancel_flag(c).store(flag ? 1 : 0);
  sys_socketbuffer_set_cancel(&c->in, flag);
  sys_socketbuffer_set_cancel(&c->out, flag);
}

int http_client_is_canceled(http_client *client)
{
  http_client_rec *c = *client;
  return cancel_flag(c).load() || sys_socketbuffer_is_canceled(&c->in) || sys_socketbuffer_is_canceled(&c->out);
}

int http_client_connect(http_client *client)
{
  http_client_rec *c = *client;
  c->connect_timed_out = 0;
  c->in.timed_out = 0;
  c->out.timed_out = 0;
  if (http_client_connected(client)) return 1;
  http_client_disconnect(client);
  own::memalloc ips;
  uint16_t port;
  if (!resolve(c, &ips, &port)) return 0;
  for (uint32_t i = 0; i + 4 <= ips.len; i += 4) {
    int fd;
    bool done;
    if (!start_connect(ips.buf + i, port, &fd, &done)) continue;
    if (done || await_connect(c, fd)) {
      attach(c, fd);
      return 1;
    }
    sys_socket_close(fd);
    if (cancel_flag(c).load()) break;
  }
  return 0;
}

int http_client_connect_async(http_client *client)
{
  http_client_rec *c = *client;
  c->connect_timed_out = 0;
  http_client_disconnect(client);
  own::memalloc ips;
  uint16_t port;
  int fd;
  bool done;
  if (!resolve(c, &ips, &port) || !start_connect(ips.buf, port, &fd, &done)) return 0;
  attach(c, fd);
  return 1;
}

int http_client_connected(http_client *client)
{
  int fd = (*client)->socket;
  return fd != -1 && sys_socket_connected(fd);
}

void http_client_disconnect(http_client *client)
{
  http_client_rec *c = *client;
  if (c->socket == -1) return;
  sys_socket_close(c->socket);
  c->socket = -1;
  setup_buffers(c, -1);
}

void http_client_free(http_client *client)
{
  if (!client || !*client) return;
  http_client_rec *c = *client;
  http_client_disconnect(client);
  clear_answer(c);
  uri_free(&c->url);
  sys_alloc_free(c);
  *client = nullptr;
}

int http_client_get(http_client *client, char *const *extra, int *status)
{
  return if_modified_since(client, false, nullptr, extra, status);
}

int http_client_head(http_client *client, char *const *extra, int *status)
{
  return if_modified_since(client, true, nullptr, extra, status);
}

int http_client_get_if_modified_since(http_client *client, const char *date, char *const *extra, int *status)
{
  return if_modified_since(client, false, date, extra, status);
}

int http_client_head_if_modified_since(http_client *client, const char *date, char *const *extra, int *status)
{
  return if_modified_since(client, true, date, extra, status);
}

int http_client_get_range(http_client *client, uint64_t offset, uint64_t length, const char *if_range,
                          char *const *extra, int *status)
{
  return range(client, false, offset, length, if_range, extra, status);
}

int http_client_head_range(http_client *client, uint64_t offset, uint64_t length, const char *if_range,
                           char *const *extra, int *status)
{
  return range(client, true, offset, length, if_range, extra, status);
}

int http_client_get_time_seek_range(http_client *client, int64_t start_ms, int64_t end_ms, char *const *extra,
                                    int *status)
{
  return time_seek(client, false, start_ms, end_ms, extra, status);
}

int http_client_head_time_seek_range(http_client *client, int64_t start_ms, int64_t end_ms, char *const *extra,
                                     int *status)
{
  return time_seek(client, true, start_ms, end_ms, extra, status);
}

int http_client_get_play_speed(http_client *client, int32_t num, uint32_t den, int64_t start_ms, int64_t end_ms,
                               char *const *extra, int *status)
{
  return play_speed(client, false, num, den, start_ms, end_ms, extra, status);
}

int http_client_head_play_speed(http_client *client, int32_t num, uint32_t den, int64_t start_ms, int64_t end_ms,
                                char *const *extra, int *status)
{
  return play_speed(client, true, num, den, start_ms, end_ms, extra, status);
}

int http_client_read(http_client *client, void *buf, uint32_t len, uint32_t *got)
{
  http_client_rec *c = *client;
  *got = 0;
  switch (c->body_mode) {
  case kBodyChunked:
    return read_chunked(c, buf, len, got);
  case kBodyLength: {
    uint32_t n = uint32_t(std::min<uint64_t>(len, c->body_left));
    if (!n) return 1;
    if (!sys_socketbuffer_get(&c->in, buf, n, got) || !*got) {
      *got = 0;
      return 0;
    }
    c->body_left -= *got;
    return 1;
  }
  case kBodyToClose:
    if (!sys_socketbuffer_get(&c->in, buf, len, got)) return 0;
    if (!*got) {
      // The server ended the body by closing: the connection is spent.
      c->body_mode = kBodyNone;
      http_client_disconnect(client);
    }
    return 1;
  default:
    return 1;
  }
}

const char *http_client_header(http_client *client, const char *name)
{
  uint32_t n = sys_str_len(name);
  for (char **p = (*client)->headers; p && *p; p++)
    if (sys_str_case_start(*p, name)) return *p + n;
  return nullptr;
}

int http_client_status(http_client *client, int *code)
{
  http_client_rec *c = *client;
  if (c->socket == -1) return 0;
  text_build line;
  if (!http_header_readline(&c->in, &line.s) || !line.add('\0')) return 0;
  // "HTTP/x.y", blanks, then the code.
  const char *s = line.s.buf;
  if (!sys_str_start(s, "HTTP/")) return 0;
  s += sys_str_chr(s, ' ');
  while (*s == ' ') s++;
  int v = 0, digits = 0;
  for (; tarvo::is_digit(*s); s++) {
    if (++digits > 9) return 0;
    v = v * 10 + (*s - '0');
  }
  if (!digits) return 0;
  *code = v;
  return 1;
}

int http_client_read_response_header(http_client *client)
{
  http_client_rec *c = *client;
  clear_answer(c);
  sys_str_list lines = nullptr;
  if (c->socket == -1 || !http_header_read(&c->in, &lines)) return fail(client);
  c->headers = lines;
  c->body_mode = kBodyToClose;
  if (const char *v = http_client_header(client, kContentLength)) {
    c->cl_value = v;
    uint64_t n;
    if (!http_header_value_scan_uint64(v, 0, &n))
      return fail(client);
    c->body_left = n;
    c->body_mode = kBodyLength;
  }
  if (const char *v = http_client_header(client, kTransferEncoding)) {
    c->te_value = v;
    if (!http_header_value_case_equal(v, 0, "chunked"))
      return fail(client);
    c->body_left = 0;
    c->body_mode = kBodyChunked;
  }
  return 1;
}

int http_client_post_begin(http_client *client, uint64_t length, char *const *extra)
{
  begin_request(client);
  if (!http_client_connect(client)) return 0;
  text_build t;
  if (!t.add("CONTENT-LENGTH: ") || !add_uint64(t, length) || !t.add("\r\n") ||
      !write_head(*client, "POST", sv(t.s.buf, t.s.len), extra))
    return fail(client);
  return 1;
}

int http_client_write(http_client *client, const void *data, uint32_t len)
{
  return sys_socketbuffer_put(&(*client)->out, data, len);
}

int http_client_post_end(http_client *client, int *status)
{
  *status = 0;
  int code;
  if (!sys_socketbuffer_flush(&(*client)->out) || !http_client_status(client, &code)) return fail(client);
  *status = code;
  return 1;
}

}  // extern "C"
