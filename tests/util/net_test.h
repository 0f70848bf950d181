// Loopback sockets for the socket and HTTP tests.
#pragma once

#include <tarvo_util/sys_socket.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net_test {

// A connected TCP pair over 127.0.0.1: a is the accepted end, b the
// connecting one.  Both close with the object.
struct tcp_pair {
  int a = -1, b = -1;
  tcp_pair()
  {
    int l;
    uint16_t port;
    if (!sys_socket_tcp(&l)) return;
    if (sys_socket_bind4(l, sys_ip4_loopback(), 0) && sys_socket_listen(l, 4) &&
        sys_socket_local4(l, nullptr, &port) && sys_socket_tcp(&b) &&
        sys_socket_connect4(b, sys_ip4_loopback(), port))
      sys_socket_accept4(l, &a, nullptr, nullptr);
    sys_socket_close(l);
  }
  ~tcp_pair()
  {
    sys_socket_close(a);
    sys_socket_close(b);
  }
  bool ok() const { return a >= 0 && b >= 0; }
};

inline void send_all(int fd, const std::string &s)
{
  ASSERT_TRUE(sys_socket_allsend(fd, s.data(), uint32_t(s.size())));
}

// Everything the peer sends until it closes (or 5 s pass).
inline std::string recv_all(int fd)
{
  std::string out;
  char buf[65536];
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    if (!sys_socket_read_wait(fd, 100)) continue;
    ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r == 0) break;
    if (r > 0) out.append(buf, size_t(r));
  }
  return out;
}

inline long long ms_since(std::chrono::steady_clock::time_point t0)
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
      .count();
}

}  // namespace net_test
