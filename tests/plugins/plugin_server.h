// The server program with plug-ins, as the plug-in tests run it: one
// connection's exchange, Browse, and a laid-out data folder whose filter
// names the plug-ins under test.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "vennard_spawn.h"
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tarvo_test.h"


namespace plugin_test {

namespace fs = std::filesystem;

constexpr uint16_t kUpnpPort = 30000, kHttpPort = 30001;

// What came back on one connection until the server closed it, and how
// long that took.
struct reply {
  std::string text;
  double seconds = 0;
  bool closed = false;  // the server ended the connection
  std::string status() const { return text.substr(0, text.find("\r\n")); }
  std::string body() const
  {
    size_t at = text.find("\r\n\r\n");
    return at == std::string::npos ? "" : text.substr(at + 4);
  }
  std::string header(const std::string &name) const
  {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("\r\n" + name + ": *([^\r]*)\r\n", std::regex::icase))) return "";
    return m[1];
  }
};

inline int connect_loopback(uint16_t port)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends request and reads until the server closes or wait_ms pass without
// a byte.
inline reply talk(uint16_t port, const std::string &request, int wait_ms = 10000)
{
  reply r;
  auto begin = std::chrono::steady_clock::now();
  int fd = connect_loopback(port);
  if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, wait_ms) > 0) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) {
        r.closed = true;
        break;
      }
      r.text.append(buf, size_t(n));
    }
  }
  if (fd >= 0) close(fd);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return r;
}

inline reply get(const std::string &path, const std::string &headers = "")
{
  return talk(kHttpPort, "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n" + headers + "\r\n");
}

inline std::string unescape(std::string s)
{
  for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, std::strlen(from), to);
  return s;
}

// A chunked body's chunks, and whether the final chunk came.
struct chunks {
  std::vector<size_t> sizes;
  std::string data;
  bool ended = false;
};

chunks dechunk(const std::string &body)
{
  chunks c;
  size_t at = 0;
  while (at < body.size()) {
    size_t eol = body.find("\r\n", at);
    if (eol == std::string::npos) break;
    size_t n = std::stoul(body.substr(at, eol - at), nullptr, 16);
    if (!n) {
      c.ended = body.compare(eol, 4, "\r\n\r\n") == 0;
      break;
    }
    if (eol + 2 + n + 2 > body.size()) break;
    c.sizes.push_back(n);
    c.data += body.substr(eol + 2, n);
    at = eol + 2 + n + 2;
  }
  return c;
}

inline std::string browse(const std::string &id)
{
  std::string type = "urn:schemas-upnp-org:service:ContentDirectory:1";
  std::string body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:Browse xmlns:u=\"" +
                     type + "\"><ObjectID>" + id +
                     "</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                     "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>"
                     "</u:Browse></s:Body></s:Envelope>";
  return unescape(talk(kUpnpPort, "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1\r\n"
                                      "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"" + type +
                                          "#Browse\"\r\nCONNECTION: close\r\nCONTENT-LENGTH: " +
                                          std::to_string(body.size()) + "\r\n\r\n" + body)
                      .body());
}

// The server program on a laid-out data folder whose filter names the
// given plug-ins and whose one share is the media folder.
struct running_server {
  tarvo_test::scratch_dir dir;
  std::string service = dir / "service", data = dir / "data", media = dir / "media";
  pid_t pid = -1;
  std::vector<std::string> extra_env;

  explicit running_server(const std::string &filter)
  {
    fs::create_directories(service);
    fs::create_directories(media);
    tarvo_test::write_file(service + "/service_name", "Tarvo Media Server\n");
    tarvo_test::write_file(service + "/data_home", data + "\n");
    EXPECT_EQ(std::system((tarvo_test::data_dir() + "/../scripts/layout-data " + data).c_str()), 0);
    tarvo_test::write_file(data + "/conf/filter", filter);
    tarvo_test::write_file(data + "/conf/auto_run", "");
    tarvo_test::write_file(data + "/conf/sync/share/list", media + "\n");
  }
  ~running_server() { stop(); }
  bool start() { return tarvo_test::spawn_vennard(service, &pid, extra_env); }
  // Stops the server; its exit status (-1 when it had to be killed).
  int stop()
  {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = -1;
    for (int i = 0; i < 500; i++, usleep(20000))
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return status;
      }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
    return -1;
  }
  // The share's children once want(listing) holds, or the last listing
  // after 30 s.
  template <class Pred> std::string children_when(Pred want)
  {
    std::string children;
    for (int i = 0; i < 300; i++, usleep(100000)) {
      std::smatch share;
      std::string shares = browse("Container:UserFiles");
      if (!std::regex_search(shares, share, std::regex("<container id=\"([^\"]+)\""))) continue;
      children = browse(share[1]);
      if (want(children)) break;
    }
    return children;
  }
};

}  // namespace plugin_test
