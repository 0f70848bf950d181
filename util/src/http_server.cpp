// Reading GET/HEAD requests and request bodies on the server side.
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_thread.h>

#include "http_impl.h"

#include <cstring>

using tarvo_impl::hdr;
using tarvo_impl::http_clock;

namespace {

// The canonical spelling of a known transferMode.dlna.org value, which
// the answer repeats; NULL for anything else.
const char *transfer_mode_of(const char *v)
{
  for (const char *mode : {"Streaming", "Interactive", "Background"})
    if (http_header_value_case_equal(v, 0, mode)) return mode;
  return nullptr;
}

// What the header lines of a GET/HEAD request said.
struct get_request {
  int http11;
  int keep_alive;
  uint32_t hosts = 0;
  bool chunked = false, has_length = false, multi_range = false, bad_seek = false;
  uint64_t length = 0;
  const char *error = nullptr;
  char *field[5] = {};  // if_modified_since, range, if_range, time_seek_range, play_speed
  const char *transfer_mode = nullptr;

  enum { ims, range, if_range, seek, speed };

  ~get_request()
  {
    for (char *f : field) sys_alloc_free(f);
  }

  // Keeps the value of a header; replace says whether a later one wins.
  bool keep(int k, const char *value, bool replace)
  {
    if (field[k] && !replace) return true;
    char *c;
    if (!sys_str_clone(value, &c)) return false;
    sys_alloc_free(field[k]);
    field[k] = c;
    return true;
  }

  bool fail(const char *status)
  {
    error = status;
    return false;
  }

  // Tests one normalised header line; false ends the read.
  bool line(const char *l)
  {
    const char *v = l;
    auto is = [&](const char *name) {
      if (!sys_str_case_start(l, name)) return false;
      v = l + sys_str_len(name);
      return true;
    };
    if (is("expect:")) return fail("417 I do not accept Expect");
    if (is("if-match:")) return fail("412 I do not accept If-Match");
    if (is("if-none-match:")) return fail("412 I do not accept If-None-Match");
    if (is("if-unmodified-since:")) return fail("412 I do not accept If-Unmodified-Since");
    if (is("getcontentFeatures.dlna.org:"))
      return http_header_value_equal(v, 0, "1") || fail("400 bad request");
    if (is("host:")) {
      // A name that only resolves here (DNS rebinding) is refused, and so
      // is a second Host that a proxy in front may have read instead.
      if (hosts++ || !http_host_allowed(v, sys_str_len(v))) return fail("400 Bad Request");
    } else if (is("transfermode.dlna.org:")) {
      transfer_mode = transfer_mode_of(v);
    } else if (is("transfer-encoding:")) {
      if (!http_header_value_case_equal(v, 0, "chunked")) return fail("505 I do not accept Transfer-Encoding");
      chunked = true;
    } else if (is("content-length:")) {
      uint32_t k = tarvo_impl::scan_dec(v, UINT64_MAX, &length);
      if (!k || v[k + http_header_skipspace(v + k)]) return fail("412 invalid Content-Length");
      has_length = true;
    } else if (is("connection:")) {
      keep_alive = http_header_value_case_equal(v, 0, "close") ? 0 : http11;
    } else if (is("if-modified-since:")) {
      return keep(ims, v, true);
    } else if (is("range:")) {
      multi_range = multi_range || field[range] || std::strchr(v, ',');
      return keep(range, v, false);
    } else if (is("if-range:")) {
      return keep(if_range, v, true);
    } else if (is("timeseekrange.dlna.org:")) {
      bad_seek = bad_seek || field[seek] || std::strchr(v, ',');
      return keep(seek, v, false);
    } else if (is("playspeed.dlna.org:")) {
      return keep(speed, v, true);
    }
    return true;
  }
};

bool sb_byte(sys_socketbuffer_rec *sb, char *c)
{
  uint32_t got;
  return sys_socketbuffer_get(sb, c, 1, &got) && got == 1;
}

// Exactly size bytes of the input, appended to sa or dropped.
int read_exact(sys_socketbuffer_rec *sb, uint64_t size, sys_stralloc_rec *sa)
{
  // An array cannot hold more than its 32-bit length counts.
  if (sa && size >= uint64_t(UINT32_MAX) - sa->len) return 0;
  while (size) {
    uint32_t avail;
    if (!sys_socketbuffer_feed(sb, &avail) || !avail) return 0;
    uint32_t k = uint32_t(std::min<uint64_t>(avail, size));
    if (sa && !sys_stralloc_catb(sa, sys_socketbuffer_peek(sb), k)) return 0;
    sys_socketbuffer_seek(sb, k);
    size -= k;
  }
  return 1;
}

// A chunk-size line: at least one hexadecimal digit (anything after the
// digits is ignored), CR LF within HTTP_CHUNK_LINE_MAX bytes.
int chunk_size(sys_socketbuffer_rec *sb, uint64_t *size)
{
  char line[HTTP_CHUNK_LINE_MAX];
  uint32_t n = 0;
  for (;;) {
    if (n == sizeof line || !sb_byte(sb, &line[n])) return 0;
    if (line[n++] == '\n') break;
  }
  if (n < 3 || line[n - 2] != '\r') return 0;
  uint64_t v = 0;
  uint32_t i = 0;
  for (int d; i < n && (d = sys_str_hex_digit(line[i])) >= 0; i++) {
    if (v >> 60) return 0;
    v = v << 4 | uint64_t(d);
  }
  if (!i) return 0;
  *size = v;
  return 1;
}

// After the last chunk: CR LF at once, or trailer lines up to an empty one.
int chunk_trailer(sys_socketbuffer_rec *sb)
{
  uint32_t window = 0;
  for (uint32_t n = 1; n <= HTTP_HEADER_BLOCK_MAX; n++) {
    char c;
    if (!sb_byte(sb, &c)) return 0;
    window = window << 8 | uint8_t(c);
    if ((n == 2 && (window & 0xffff) == 0x0d0a) || window == 0x0d0a0d0a) return 1;
  }
  return 0;
}

int crlf(sys_socketbuffer_rec *sb)
{
  char c1, c2;
  return sb_byte(sb, &c1) && sb_byte(sb, &c2) && c1 == '\r' && c2 == '\n';
}

}  // namespace

extern "C" {

int http_server_read_request_line(http_server_conn *conn, uint32_t timeout_ms, uint32_t attempts,
                                  const int *stop_flag, sys_stralloc_rec *line)
{
  sys_socketbuffer_set_timeout(&conn->in, timeout_ms);
  uint32_t waits = 0;
  while (!__atomic_load_n(stop_flag, __ATOMIC_ACQUIRE)) {
    if (http_header_readline(&conn->in, line)) {
      if (line->len) return 1;
      waits = 0;
    } else if (!sys_socketbuffer_is_timeout(&conn->in) || line->len || ++waits >= attempts) {
      // A line that began must come whole within one wait: a client that
      // trickles it cannot hold the connection for every attempt.
      return 0;
    }
  }
  return 0;
}

int http_server_read_get_request(http_server_conn *conn, void *reserved, const int *stop_flag,
                                 http_server_request_rec *req)
{
  (void)reserved;
  get_request g;
  g.http11 = g.keep_alive = conn->http11;
  auto end = http_clock::now() + std::chrono::milliseconds(conn->in.timeout_ms);
  hdr r = tarvo_impl::read_block(
      [&](sys_stralloc_rec *sa, uint32_t max, uint32_t *consumed) {
        return tarvo_impl::sb_line(&conn->in, sa, end, max, consumed);
      },
      [&](const char *line, uint32_t) { return g.line(line); },
      stop_flag);
  if (r == hdr::too_large) g.error = "400 bad request";
  if (r == hdr::ok) {
    if (conn->http11 && !g.hosts) g.error = "400 HTTP/1.1 requests must include a host name";
    else if (g.multi_range || (g.bad_seek && !g.field[get_request::range]))
      g.error = "400 multipart range not supported";
  }
  bool ok = r == hdr::ok && !g.error;
  if (ok && g.chunked) ok = http_server_read_chunked(conn, nullptr);
  else if (ok && g.has_length) ok = http_server_read(conn, g.length, nullptr);
  if (!ok) {
    if (g.error) http_server_write_error_response(&conn->out, g.error, conn->server_name, !conn->head);
    if (conn->defer_fail_pause)
      conn->fail_paused = 1;
    else
      sys_thread_sleep(HTTP_SERVER_FAIL_PAUSE_MS);
    return 0;
  }
  req->keep_alive = g.keep_alive;
  req->if_modified_since = g.field[get_request::ims];
  req->range = g.field[get_request::range];
  req->if_range = g.field[get_request::if_range];
  req->time_seek_range = g.field[get_request::seek];
  req->play_speed = g.field[get_request::speed];
  req->transfer_mode = g.transfer_mode;
  for (char *&f : g.field) f = nullptr;
  return 1;
}

void http_server_get_request_free(http_server_request_rec *req)
{
  if (!req) return;
  for (char **f : {&req->if_modified_since, &req->range, &req->if_range, &req->time_seek_range,
                   &req->play_speed}) {
    sys_alloc_free(*f);
    *f = nullptr;
  }
  sys_alloc_free(req->reserved);
  req->reserved = nullptr;
}

int http_server_read(http_server_conn *conn, uint64_t size, sys_stralloc_rec *sa)
{
  return read_exact(&conn->in, size, sa);
}

int http_server_read_chunked(http_server_conn *conn, sys_stralloc_rec *sa)
{
  return http_server_read_chunked_max(conn, UINT64_MAX, sa, nullptr);
}

int http_server_read_chunked_max(http_server_conn *conn, uint64_t max, sys_stralloc_rec *sa,
                                 int *too_large)
{
  if (too_large) *too_large = 0;
  for (uint64_t total = 0;;) {
    uint64_t size;
    if (!chunk_size(&conn->in, &size)) return 0;
    if (!size) return chunk_trailer(&conn->in);
    if (size > max - total) {
      if (too_large) *too_large = 1;
      return 0;
    }
    total += size;
    if (!read_exact(&conn->in, size, sa) || !crlf(&conn->in)) return 0;
  }
}

int http_server_read_chunked_0(sys_socketbuffer_rec *sb)
{
  uint64_t size;
  return chunk_size(sb, &size) && size == 0 && chunk_trailer(sb);
}

}  // extern "C"
