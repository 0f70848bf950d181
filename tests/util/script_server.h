// A loopback HTTP server for client tests: it answers each request it
// receives with the next scripted reply and records the requests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo_test {

struct script_reply {
  std::string bytes;         // sent as they are, "$PORT" as the server's port
  bool close_after = false;  // then the connection is closed
  bool hang = false;         // nothing is sent and the connection stays open
};

class script_server {
 public:
  // With repeat_last, the last reply answers every further request.  Port 0
  // takes any free port.
  explicit script_server(std::vector<script_reply> script, bool repeat_last = false, uint16_t port = 0)
      : script_(std::move(script)), repeat_last_(repeat_last)
  {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) ||
        listen(listen_fd_, 16) || getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len))
      std::abort();
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~script_server()
  {
    stop_ = true;
    thread_.join();
    for (auto &c : conns_) close(c.first);
    close(listen_fd_);
  }

  uint16_t port() const { return port_; }
  std::string url(const std::string &path = "/") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<std::string> requests()
  {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }
  // The connection (numbered from 1 in accept order) of each request.
  std::vector<int> connections()
  {
    std::lock_guard<std::mutex> l(m_);
    return conn_of_;
  }

 private:
  struct conn {
    int id;
    std::string in;
    bool hung = false;
  };

  void run()
  {
    while (!stop_) {
      std::vector<pollfd> p{{listen_fd_, POLLIN, 0}};
      for (auto &c : conns_) p.push_back({c.first, POLLIN, 0});
      if (poll(p.data(), p.size(), 50) <= 0) continue;
      if (p[0].revents) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) conns_[fd] = conn{++accepted_, {}, false};
      }
      for (size_t i = 1; i < p.size(); i++)
        if (p[i].revents && !serve(p[i].fd)) {
          close(p[i].fd);
          conns_.erase(p[i].fd);
        }
    }
  }

  // false when the connection is done.
  bool serve(int fd)
  {
    conn &c = conns_[fd];
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    if (c.hung) return true;
    c.in.append(buf, size_t(n));
    for (;;) {
      size_t end = c.in.find("\r\n\r\n");
      if (end == std::string::npos) return true;
      size_t total = end + 4 + body_length(c.in.substr(0, end));
      if (c.in.size() < total) return true;
      {
        std::lock_guard<std::mutex> l(m_);
        requests_.push_back(c.in.substr(0, total));
        conn_of_.push_back(c.id);
      }
      c.in.erase(0, total);
      if (next_ >= script_.size() && !(repeat_last_ && !script_.empty())) return false;
      const script_reply &r = script_[next_ < script_.size() ? next_++ : script_.size() - 1];
      if (r.hang) {
        c.hung = true;
        return true;
      }
      std::string out = r.bytes;
      for (size_t at; (at = out.find("$PORT")) != std::string::npos;) out.replace(at, 5, std::to_string(port_));
      if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0 || r.close_after) return false;
    }
  }

  static size_t body_length(const std::string &head)
  {
    for (const char *name : {"\r\nCONTENT-LENGTH:", "\r\nContent-Length:"}) {
      size_t at = head.find(name);
      if (at != std::string::npos) return std::strtoul(head.c_str() + at + std::string(name).size(), nullptr, 10);
    }
    return 0;
  }

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::vector<script_reply> script_;
  bool repeat_last_;
  size_t next_ = 0;
  int accepted_ = 0;
  std::map<int, conn> conns_;
  std::mutex m_;
  std::vector<std::string> requests_;
  std::vector<int> conn_of_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tarvo_test
