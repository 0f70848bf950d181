// IPv4 sockets, waits, socket sets and sending file ranges.
#include <tarvo_util/sys_socket.h>

#include "sys_socket_impl.h"
#include <tarvo_util/util_limits.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in sin4(const uint8_t *ip, uint16_t port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  std::memcpy(&a.sin_addr, ip, 4);
  return a;
}

void from_sin4(const sockaddr_in &a, uint8_t *ip, uint16_t *port)
{
  if (ip) std::memcpy(ip, &a.sin_addr, 4);
  if (port) *port = ntohs(a.sin_port);
}

int make_socket(int *sock, int type)
{
  int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  *sock = s;
  return 1;
}

int set_int_opt(int sock, int level, int name, int v)
{
  return setsockopt(sock, level, name, &v, sizeof v) == 0;
}

int ndelay(int sock, bool on)
{
  int fl = fcntl(sock, F_GETFL);
  if (fl < 0) return 0;
  int want = on ? fl | O_NONBLOCK : fl & ~O_NONBLOCK;
  return want == fl || fcntl(sock, F_SETFL, want) == 0;
}

int mcast_membership(int sock, int name, const uint8_t *if_ip, const uint8_t *group_ip)
{
  ip_mreq m{};
  std::memcpy(&m.imr_multiaddr, group_ip, 4);
  std::memcpy(&m.imr_interface, if_ip, 4);
  return setsockopt(sock, IPPROTO_IP, name, &m, sizeof m) == 0;
}

// The local or the peer address of a socket, as getsockname or
// getpeername gives it.
int address4(int (*get)(int, sockaddr *, socklen_t *), int sock, uint8_t *ip, uint16_t *port)
{
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (get(sock, reinterpret_cast<sockaddr *>(&a), &len) != 0 || a.sin_family != AF_INET) return 0;
  from_sin4(a, ip, port);
  return 1;
}

// Room for more within the wait of a file body; a peer that takes nothing
// for so long fails the send.
bool room_within_wait(int sock)
{
  return (errno == EAGAIN || errno == EWOULDBLOCK) && tarvo_impl::wait_socket(sock, POLLOUT, SYS_SOCKET_SEND_WAIT_MS);
}

// All of data; a non-blocking socket is waited on when wait is set.
int send_block(int sock, const char *data, size_t len, bool wait = false)
{
  while (len) {
    ssize_t r = ::send(sock, data, len, MSG_NOSIGNAL);
    if (r < 0) {
      if (errno == EINTR || (wait && room_within_wait(sock))) continue;
      return 0;
    }
    data += r;
    len -= size_t(r);
  }
  return 1;
}

// The fallback of sys_socket_sendfile: the file through a small block.
int copy_blocks(int sock, int file, int64_t *remaining, int64_t *sent)
{
  char block[SYS_FILE_SEND_BLOCK];
  while (*remaining > 0) {
    size_t want = size_t(std::min<int64_t>(*remaining, sizeof block));
    ssize_t r = ::read(file, block, want);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 0;
    if (r == 0) break;
    if (!send_block(sock, block, size_t(r), true)) return 0;
    *sent += r;
    *remaining -= r;
  }
  return 1;
}

}  // namespace

// Signals do not shorten the wait.
int tarvo_impl::wait_socket(int fd, short events, uint32_t ms)
{
  using clock = std::chrono::steady_clock;
  auto end = clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pollfd p{fd, events, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now()).count();
    int r = poll(&p, 1, int(std::clamp<long long>(left, 0, INT32_MAX)));
    if (r > 0) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return 1;
  }
}

extern "C" {

int sys_socket_tcp(int *sock) { return make_socket(sock, SOCK_STREAM); }
int sys_socket_udp(int *sock) { return make_socket(sock, SOCK_DGRAM); }

int sys_socket_bind4(int sock, const uint8_t *ip, uint16_t port)
{
  sockaddr_in a = sin4(ip, port);
  return ::bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

int sys_socket_bind_reuse4(int sock, const uint8_t *ip, uint16_t port)
{
  return set_int_opt(sock, SOL_SOCKET, SO_REUSEADDR, 1) && sys_socket_bind4(sock, ip, port);
}

int sys_socket_listen(int sock, uint32_t backlog)
{
  return ::listen(sock, int(std::min<uint32_t>(backlog, SOMAXCONN))) == 0;
}

int sys_socket_accept4(int sock, int *new_sock, uint8_t *ip, uint16_t *port)
{
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int s;
  do s = ::accept4(sock, reinterpret_cast<sockaddr *>(&a), &len, SOCK_CLOEXEC);
  while (s < 0 && errno == EINTR);
  if (s < 0) return 0;
  *new_sock = s;
  from_sin4(a, ip, port);
  return 1;
}

int sys_socket_connect4(int sock, const uint8_t *ip, uint16_t port)
{
  sockaddr_in a = sin4(ip, port);
  return ::connect(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

int sys_socket_connected(int sock)
{
  sockaddr_in a{};
  socklen_t len = sizeof a;
  return getpeername(sock, reinterpret_cast<sockaddr *>(&a), &len) == 0;
}

int sys_socket_local4(int sock, uint8_t *ip, uint16_t *port) { return address4(getsockname, sock, ip, port); }
int sys_socket_remote4(int sock, uint8_t *ip, uint16_t *port) { return address4(getpeername, sock, ip, port); }

int sys_socket_send(int sock, const void *data, uint32_t len, uint32_t *sent)
{
  ssize_t r;
  do r = ::send(sock, data, len, MSG_NOSIGNAL);
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  *sent = uint32_t(r);
  return 1;
}

int sys_socket_allsend(int sock, const void *data, uint32_t len)
{
  return send_block(sock, static_cast<const char *>(data), len);
}

int sys_socket_recv(int sock, void *buf, uint32_t size, uint32_t *got)
{
  ssize_t r;
  do r = ::recv(sock, buf, size, 0);
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  *got = uint32_t(r);
  return 1;
}

int sys_socket_sendto4(int sock, const void *data, uint32_t len, const uint8_t *ip, uint16_t port,
                       uint32_t *sent)
{
  sockaddr_in a = sin4(ip, port);
  ssize_t r;
  do r = ::sendto(sock, data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&a), sizeof a);
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  if (sent) *sent = uint32_t(r);
  return 1;
}

int sys_socket_recvfrom4(int sock, void *buf, uint32_t size, uint8_t *ip, uint16_t *port,
                         uint32_t *got)
{
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t r;
  do r = ::recvfrom(sock, buf, size, 0, reinterpret_cast<sockaddr *>(&a), &len);
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  from_sin4(a, ip, port);
  *got = uint32_t(r);
  return 1;
}

int sys_socket_shutdown(int sock, int how)
{
  return ::shutdown(sock, how) == 0;
}

int sys_socket_close(int sock)
{
  if (sock == -1) return 1;
  // Linux releases the descriptor even when close reports EINTR.
  return ::close(sock) == 0 || errno == EINTR;
}

void sys_socket_linger(int sock)
{
  if (sock == -1 || !sys_socket_read_wait(sock, 0)) return;
  ::shutdown(sock, SHUT_WR);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SYS_SOCKET_LINGER_MS);
  char buf[16384];
  for (uint32_t total = 0; total < SYS_SOCKET_LINGER_MAX;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !sys_socket_read_wait(sock, uint32_t(left.count()))) return;
    ssize_t n = ::recv(sock, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return;
    if (n > 0) total += uint32_t(n);
  }
}

void sys_socket_close_drained(int sock)
{
  if (sock == -1) return;
  ::shutdown(sock, SHUT_WR);
  char buf[4096];
  for (uint32_t total = 0; total < SYS_SOCKET_LINGER_MAX;) {
    ssize_t n = ::recv(sock, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += uint32_t(n);
  }
  sys_socket_close(sock);
}

int sys_socket_ndelay_on(int sock) { return ndelay(sock, true); }
int sys_socket_nodelay_on(int sock) { return set_int_opt(sock, IPPROTO_TCP, TCP_NODELAY, 1); }

int sys_socket_ndelay_off(int sock) { return ndelay(sock, false); }

int sys_socket_would_block(void)
{
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS;
}

int sys_socket_read_wait(int sock, uint32_t ms) { return tarvo_impl::wait_socket(sock, POLLIN, ms); }
int sys_socket_write_wait(int sock, uint32_t ms) { return tarvo_impl::wait_socket(sock, POLLOUT, ms); }

int sys_socket_peer_closed(int sock)
{
  pollfd p{sock, POLLRDHUP, 0};
  int r;
  while ((r = poll(&p, 1, 0)) < 0 && errno == EINTR) {
  }
  return r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

int sys_socket_input_pending(int sock)
{
  int n = 0;
  return ioctl(sock, FIONREAD, &n) == 0 && n > 0;
}

void sys_socket_tryreservein(int sock, uint32_t size)
{
  while (!set_int_opt(sock, SOL_SOCKET, SO_RCVBUF, int(std::min<uint32_t>(size, INT32_MAX))) &&
         size >= 1024)
    size -= size / 32;
}

int sys_socket_cork(int sock, int on) { return set_int_opt(sock, IPPROTO_TCP, TCP_CORK, on ? 1 : 0); }

int sys_wakefd_open(int *fd)
{
  int e = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (e < 0) return 0;
  *fd = e;
  return 1;
}

void sys_wakefd_signal(int fd)
{
  uint64_t one = 1;
  // It only fails when the counter is full, which is readable already: the
  // wake is not lost.
  if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) return;
}

void sys_wakefd_clear(int fd)
{
  uint64_t n;
  if (fd >= 0 && ::read(fd, &n, sizeof n) < 0) return;
}

int sys_socket_bcast_on(int sock) { return set_int_opt(sock, SOL_SOCKET, SO_BROADCAST, 1); }

int sys_socket_mcast_set_if(int sock, const uint8_t *ip)
{
  in_addr a;
  std::memcpy(&a, ip, 4);
  return setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) == 0;
}

int sys_socket_mcast_get_if(int sock, uint8_t *ip)
{
  in_addr a{};
  socklen_t len = sizeof a;
  if (getsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &a, &len) != 0) return 0;
  std::memcpy(ip, &a, 4);
  return 1;
}

int sys_socket_mcast_join4(int sock, const uint8_t *if_ip, const uint8_t *group_ip)
{
  return mcast_membership(sock, IP_ADD_MEMBERSHIP, if_ip, group_ip);
}

int sys_socket_mcast_leave4(int sock, const uint8_t *if_ip, const uint8_t *group_ip)
{
  return mcast_membership(sock, IP_DROP_MEMBERSHIP, if_ip, group_ip);
}

int sys_socket_mcast_set_ttl(int sock, uint32_t ttl)
{
  return set_int_opt(sock, IPPROTO_IP, IP_MULTICAST_TTL, int(std::min<uint32_t>(ttl, 255)));
}

int sys_socket_sendfile(int sock, int file, int64_t offset, int64_t length, int64_t *sent)
{
  int64_t done = 0;
  if (sent) *sent = 0;
  if (offset != 0 && lseek(file, offset, SEEK_SET) != offset) return 0;
  if (!sys_socket_ndelay_on(sock)) return 0;
  int64_t remaining = length;
  int ok = 1;
  while (remaining > 0) {
    // sendfile reads from and advances the file position, as the block
    // copy does.
    ssize_t r = ::sendfile(sock, file, nullptr, size_t(std::min<int64_t>(remaining, SYS_SOCKET_SENDFILE_STEP)));
    if (r > 0) {
      done += r;
      remaining -= r;
      continue;
    }
    if (r == 0) break;
    if (errno == EINTR || room_within_wait(sock)) continue;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
      ok = copy_blocks(sock, file, &remaining, &done);
    else
      ok = 0;
    break;
  }
  if (sent) *sent = done;
  return ok;
}

void sys_select_init(sys_select_rec *set)
{
  set->count = 0;
}

void sys_select_set(sys_select_rec *set, int sock)
{
  if (sys_select_is_set(set, sock) || set->count >= SYS_SELECT_MAX) return;
  set->fd[set->count++] = sock;
}

int sys_select_is_set(const sys_select_rec *set, int sock)
{
  return std::find(set->fd, set->fd + set->count, sock) != set->fd + set->count;
}

int sys_select_check(sys_select_rec *rd, sys_select_rec *wr, sys_select_rec *er, uint32_t ms,
                     uint32_t *n)
{
  sys_select_rec *sets[3] = {rd, wr, er};
  const short want[3] = {POLLIN, POLLOUT, POLLPRI};
  pollfd p[3 * SYS_SELECT_MAX];
  nfds_t np = 0;
  for (int k = 0; k < 3; k++) {
    if (!sets[k]) continue;
    for (uint32_t i = 0; i < sets[k]->count; i++) {
      int fd = sets[k]->fd[i];
      pollfd *e = std::find_if(p, p + np, [fd](const pollfd &q) { return q.fd == fd; });
      if (e == p + np) {
        p[np] = pollfd{fd, 0, 0};
        e = &p[np++];
      }
      e->events = short(e->events | want[k]);
    }
  }
  int r;
  do r = poll(p, np, int(std::min<uint32_t>(ms, INT32_MAX)));
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  // Which revents make a socket ready for each set, as select reports it.
  const short ready[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI | POLLERR};
  uint32_t total = 0;
  for (int k = 0; k < 3; k++) {
    if (!sets[k]) continue;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < sets[k]->count; i++) {
      int fd = sets[k]->fd[i];
      const pollfd *e = std::find_if(p, p + np, [fd](const pollfd &q) { return q.fd == fd; });
      if (e->revents & POLLNVAL) return 0;
      if (e->revents & ready[k]) sets[k]->fd[kept++] = fd;
    }
    sets[k]->count = kept;
    total += kept;
  }
  *n = total;
  return 1;
}

}  // extern "C"
