// links: tarvo_cp tarvo_util
// Bytes from a peer through the event listener's request handling: the
// request lines, NOTIFY headers and bodies of one kept connection.
#include "../../upnp/cp/cp_impl.h"

#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sid_check(const char *sid, void *) { return sid && !sys_str_diff(sid, "uuid:ok"); }

struct fixture {
  upnp_cp_ctx c{};
  fixture()
  {
    c.server_name = const_cast<char *>("Fuzz/1.0 UPnP/1.0");
    c.sid_check_fn = sid_check;
    if (!sys_mutex_create(&c.queue_mutex) || !queue_async_create(&c.queue, CP_JOB_QUEUE_SLOTS)) std::abort();
  }
  // Frees the jobs that the input queued.
  void drain()
  {
    uintptr_t v;
    while (c.queue.read_pos != c.queue.write_pos && queue_async_read(&c.queue, 1, &v)) {
      auto *j = reinterpret_cast<cp_job *>(v);
      j->free_fn(j->arg);
      sys_alloc_free(j);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static fixture f;
  if (size > 65536) return 0;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv)) return 0;
  int big = 1 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  if (size) sys_socket_allsend(sv[0], data, uint32_t(size));
  shutdown(sv[0], SHUT_WR);
  auto *conn = static_cast<http_server_conn *>(sys_alloc_zero(sizeof(http_server_conn)));
  conn->owner = &f.c;
  conn->server_name = f.c.server_name;
  conn->socket = sv[1];
  conn->defer_fail_pause = 1;
  sys_socketbuffer_init(&conn->in, sv[1], conn->in_buf, sizeof conn->in_buf, 10);
  sys_socketbuffer_init(&conn->out, sv[1], conn->out_buf, sizeof conn->out_buf, 10);
  cp_event_conn_serve(conn);
  sys_alloc_free(conn);
  close(sv[0]);
  close(sv[1]);
  f.drain();
  return 0;
}
