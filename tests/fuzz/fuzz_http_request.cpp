// links: tarvo_util
// A request as a server reads it: the request line, then the header checks
// of a GET/HEAD request with body discarding, and the plain header-block
// reader over the same bytes.  No crash, no overrun, and every header line
// comes out normalised.
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_socket.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

// The pause after a refused request only slows the search down; this
// definition takes the library's place.
extern "C" int sys_thread_sleep(uint32_t) { return 1; }

namespace {

// A socket holding the input and then its end; -1 when none can be made.
int feed(const uint8_t *data, size_t size, int *peer)
{
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  int big = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  if (size && write(sv[1], data, size) != ssize_t(size)) {
    close(sv[0]);
    close(sv[1]);
    return -1;
  }
  shutdown(sv[1], SHUT_WR);
  sys_socket_ndelay_on(sv[0]);
  *peer = sv[1];
  return sv[0];
}

void check_normalised(const char *line)
{
  const char *c = std::strchr(line, ':');
  if (!c) return;
  const char *b = line;
  while (b < c && (*b == ' ' || *b == '\t')) b++;
  if (b == c) return;  // nothing but blanks before the colon: left alone
  if (c[-1] == ' ' || c[-1] == '\t' || c[1] == ' ' || c[1] == '\t') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > 512 * 1024) return 0;
  platform_init();
  int peer, s = feed(data, size, &peer);
  if (s < 0) return 0;
  auto conn = std::make_unique<http_server_conn>();
  conn->server_name = "fuzz";
  conn->socket = s;
  sys_socketbuffer_init(&conn->in, s, conn->in_buf, sizeof conn->in_buf, 50);
  sys_socketbuffer_init(&conn->out, s, conn->out_buf, sizeof conn->out_buf, 50);
  sys_stralloc_rec line{};
  if (http_header_readline(&conn->in, &line)) {
    if (line.len > HTTP_HEADER_LINE_MAX) std::abort();
    http_request_startline_rec rl{};
    if (http_request_startline_parse(&rl, &line)) {
      if (!rl.method || !rl.version || !rl.uri.path) std::abort();
      conn->http11 = std::strcmp(rl.version, "HTTP/1.0") != 0;
      conn->head = !std::strcmp(rl.method, "HEAD");
      http_server_request_rec req{};
      if (http_server_read_get_request(conn.get(), nullptr, nullptr, &req)) {
        if (req.keep_alive && !conn->http11) std::abort();
        if (req.range && std::strchr(req.range, ',')) std::abort();
        http_server_get_request_free(&req);
      }
      http_request_startline_free(&rl);
    }
  }
  sys_stralloc_free(&line);
  close(s);
  close(peer);

  s = feed(data, size, &peer);
  if (s < 0) return 0;
  char store[512];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, s, store, sizeof store, 50);
  sys_str_list lines = nullptr;
  if (http_header_read(&sb, &lines)) {
    uint32_t n = 0;
    for (char **l = lines; *l; l++, n++) check_normalised(*l);
    if (n > HTTP_HEADER_LINES_MAX) std::abort();
    sys_str_list_free(lines);
  }
  close(s);
  close(peer);
  return 0;
}
