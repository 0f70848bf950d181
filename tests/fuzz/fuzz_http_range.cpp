// links: tarvo_util
// The Range evaluation of the file answers: 8 bytes of entity size, one
// byte of options, then the Range value.  The range handed back always
// lies inside the entity and matches the headers written.
#include <tarvo_util/http_server.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 9) return 0;
  uint64_t entity;
  std::memcpy(&entity, data, 8);
  uint8_t opt = data[8];
  if (opt & 0x10) entity %= 100000;
  std::string value(reinterpret_cast<const char *>(data + 9), size - 9);
  value = value.c_str();
  static const char kDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";
  std::string if_range = opt & 1 ? kDate : "Mon, 07 Nov 1994 08:49:37 GMT";

  http_server_request_rec req{};
  req.keep_alive = opt & 4;
  req.range = value.data();
  if (opt & 2) req.if_range = if_range.data();
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  char store[256];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, sv[0], store, sizeof store, 100);
  http_server_range_rec r{0, 0, entity};
  int send_body = -1;
  int ok = opt & 8 ? http_server_write_get_response_header_transcoding(&sb, 1, 0, &req, "f", "a/b", 784111777,
                                                                       &send_body, &r)
                   : http_server_write_get_response_header(&sb, 1, 0, &req, "f", "a/b", 784111777, &send_body, &r);
  char out[2048];
  ssize_t n = recv(sv[1], out, sizeof out - 1, MSG_DONTWAIT);
  close(sv[0]);
  close(sv[1]);
  if (n < 12) std::abort();
  out[n] = 0;
  if (std::strncmp(out, "HTTP/1.1 ", 9)) std::abort();
  int code = std::atoi(out + 9);
  if (ok != (code < 400) || send_body != ok) std::abort();
  if (!ok) return 0;
  if (code == 200 && (r.offset != 0 || r.length != entity)) std::abort();
  if (code == 206) {
    if (!r.length || r.offset >= entity || r.length > entity - r.offset) std::abort();
    std::string cr = "CONTENT-RANGE: bytes " + std::to_string(r.offset) + "-" +
                     std::to_string(r.offset + r.length - 1) + "/" + std::to_string(entity) + "\r\n";
    if (!std::strstr(out, cr.c_str())) std::abort();
  }
  return 0;
}
