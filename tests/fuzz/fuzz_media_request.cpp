// links: vennard_core
// Requests on a media connection from arbitrary bytes: the request line,
// the path, Range, TimeSeekRange.dlna.org, PlaySpeed.dlna.org and the rest
// of the headers, served over a socket pair against a small database.  The
// first byte says whether the requester is local.  An empty line follows
// the bytes, so that most header blocks end.
#include <vennard/media_http.h>

#include "fuzz_server.h"

#include <cstdint>
#include <ctime>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

thread_local bool serving;

}  // namespace

// The header reader pauses a second after every refused request; while an
// input is served, pauses end at once, or a run would see a few inputs a
// minute.  Other threads (the fuzzer's own) sleep as usual.
extern "C" int nanosleep(const struct timespec *req, struct timespec *rem)
{
  return serving ? 0 : clock_nanosleep(CLOCK_REALTIME, 0, req, rem);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1 || size > 65536) return 0;
  server_rec *s = fuzz_server::server();
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  // The answers are read and dropped while the request is served.
  std::thread drain([peer = sv[0], data, size] {
    send(peer, data + 1, size - 1, MSG_NOSIGNAL);
    send(peer, "\r\n\r\n", 4, MSG_NOSIGNAL);
    shutdown(peer, SHUT_WR);
    char buf[65536];
    while (recv(peer, buf, sizeof buf, 0) > 0) {
    }
  });
  // The server hands its connections over in a slot of a connection set.
  auto *slot = new conn_slot{};
  http_server_conn *conn = &slot->http;
  slot->policy.conn = conn;  // as conn_set_admit fills it in
  conn->owner = s;
  conn->server_name = "fuzz";
  conn->socket = sv[1];
  const uint8_t local[4] = {127, 0, 0, 1}, remote[4] = {10, 9, 8, 7};
  for (int i = 0; i < 4; i++) conn->addr.remote_ip[i] = data[0] & 1 ? local[i] : remote[i];
  sys_socketbuffer_init(&conn->in, sv[1], conn->in_buf, sizeof conn->in_buf, 100);
  sys_socketbuffer_init(&conn->out, sv[1], conn->out_buf, sizeof conn->out_buf, 1000);
  sys_socket_ndelay_on(sv[1]);
  serving = true;
  media_http_serve(s, conn);
  serving = false;
  shutdown(sv[1], SHUT_RDWR);
  drain.join();
  close(sv[0]);
  close(sv[1]);
  delete slot;
  return 0;
}
