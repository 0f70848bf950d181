// A loopback stand-in of the server's management port: it answers the
// state, auto-run, start and stop requests from its own flags and records
// each request's path.  A start can fail (500) or be left unanswered, and
// the whole port can fall silent (connections closed without an answer).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo_test {

struct management_peer {
  std::atomic<bool> active{false}, auto_run{false}, fail_start{false}, hang_start{false}, silent{false};
  // While set, a start is answered only once it is cleared (within 10 s).
  std::atomic<bool> hold_start{false};
  uint16_t port = 0;

  management_peer()
  {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) || listen(fd_, 16) ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len))
      std::abort();
    port = ntohs(a.sin_port);
    t_ = std::thread([this] { run(); });
  }
  ~management_peer()
  {
    stop_ = true;
    t_.join();
    for (int c : hung_) close(c);
    close(fd_);
  }
  management_peer(const management_peer &) = delete;
  management_peer &operator=(const management_peer &) = delete;

  // How many requests for path came so far.
  int count(const std::string &path)
  {
    std::lock_guard<std::mutex> g(m_);
    int n = 0;
    for (auto &p : paths_) n += p == path;
    return n;
  }

 private:
  void run()
  {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) serve(c);
    }
  }
  void serve(int c)
  {
    std::string in;
    char buf[1024];
    while (in.find("\r\n\r\n") == std::string::npos) {
      pollfd p{c, POLLIN, 0};
      ssize_t n = poll(&p, 1, 1000) == 1 ? recv(c, buf, sizeof buf, 0) : 0;
      if (n <= 0) return (void)close(c);
      in.append(buf, size_t(n));
    }
    std::string path = in.size() > 4 ? in.substr(4, in.find(' ', 4) - 4) : "", extra, status = "200 OK";
    {
      std::lock_guard<std::mutex> g(m_);
      paths_.push_back(path);
    }
    if (path == "/start_server" && hang_start) return hung_.push_back(c);
    for (int i = 0; path == "/start_server" && hold_start && i < 1000; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (path == "/start_server" && fail_start) status = "500 Internal Server Error";
    else if (path == "/start_server") active = true;
    if (path == "/stop_server") active = false;
    if (path == "/set_auto_run_state") auto_run = in.find("X-AUTO-RUN-STATE: active") != std::string::npos;
    if (path == "/get_server_state") extra = std::string("X-DUV-STATE: ") + (active ? "active" : "inactive") + "\r\n";
    if (path == "/get_auto_run_state")
      extra = std::string("X-AUTO-RUN-STATE: ") + (auto_run ? "active" : "inactive") + "\r\n";
    std::string answer = "HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: 0\r\n\r\n";
    if (!silent) send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(c);
  }

  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::vector<std::string> paths_;
  std::vector<int> hung_;  // only the serving thread touches it until the end
  int fd_ = -1;
  std::thread t_;
};

}  // namespace tarvo_test
