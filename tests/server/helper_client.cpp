#include "helper_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace mgmt_test {

namespace {

sockaddr_in addr_of(const char *ip, uint16_t port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

}  // namespace

std::string exchange(uint16_t port, const std::string &request, const char *from, bool *refused)
{
  if (refused) *refused = true;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_in local = addr_of(from, 0), peer = addr_of("127.0.0.1", port);
  if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
    close(fd);
    return {};
  }
  if (refused) *refused = false;
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  std::string got;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  close(fd);
  return got;
}

std::string get(uint16_t port, const std::string &path, const std::string &headers)
{
  return exchange(port, "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n" + headers + "\r\n");
}

// Below the kernel's ephemeral range, so that no client connection of the
// tests takes the port between this check and the server's bind, and never
// the same one twice in a process.
uint16_t free_port()
{
  static std::mutex m;
  static std::set<uint16_t> given;
  static std::mt19937 rng(uint32_t(getpid()) * 2654435761u ^ uint32_t(time(nullptr)));
  std::lock_guard<std::mutex> lock(m);
  for (;;) {
    uint16_t port = uint16_t(20000 + rng() % 12000);
    if (given.count(port)) continue;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = addr_of("0.0.0.0", port);
    bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    if (!ok) continue;
    given.insert(port);
    return port;
  }
}

bool wait_listening(uint16_t port, int ms)
{
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = addr_of("127.0.0.1", port);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace mgmt_test
