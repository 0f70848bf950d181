// links: tarvo_util
// The HTTP client's chunked-body reader over arbitrary bytes: the first
// byte picks the read size, the rest follows a chunked answer's headers.
// No crash, no overrun, and never more bytes out than came in.
#include <tarvo_util/http_client.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1 || size > 65536) return 0;
  uint32_t step = uint32_t(data[0] % 64) + 1;
  std::string in = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  in.append(reinterpret_cast<const char *>(data + 1), size - 1);

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv)) return 0;
  int buf_size = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &buf_size, sizeof buf_size);
  if (write(sv[1], in.data(), in.size()) != ssize_t(in.size())) std::abort();
  shutdown(sv[1], SHUT_WR);

  http_client c = nullptr;
  if (!http_client_init2(&c)) std::abort();
  c->socket = sv[0];
  sys_socketbuffer_init(&c->in, sv[0], c->in_buf, HTTP_CLIENT_BUFFER_SIZE, 1000);
  int code = 0;
  if (!http_client_status(&c, &code) || code != 200 || !http_client_read_response_header(&c)) std::abort();
  char buf[64];
  size_t total = 0;
  for (;;) {
    uint32_t got = 0;
    if (!http_client_read(&c, buf, step, &got) || !got) break;
    if (got > step) std::abort();
    total += got;
    if (total > size) std::abort();
  }
  http_client_free(&c);
  close(sv[1]);
  return 0;
}
