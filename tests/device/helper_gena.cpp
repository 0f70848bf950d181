#include "gena_test.h"

#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gena_test {

namespace {

int64_t now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool readable(int s, int timeout_ms)
{
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

sockaddr_in address(const char *ip, uint16_t port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

char *heap(const std::string &s)
{
  char *p = nullptr;
  sys_str_clone(s.c_str(), &p);
  return p;
}

device *of(void *user) { return static_cast<device *>(user); }

uint32_t on_action(const device_request_info *, const char *action, char **names, char **values,
                   void *, char **out)
{
  std::string in;
  for (size_t i = 0; names[i] && values[i]; i++)
    if (std::string(names[i]) == "In") in = values[i];
  *out = heap(std::string("<u:") + action + "Response xmlns:u=\"" + kServiceType + "\">\r\n<Out>" +
              in + "</Out>\r\n</u:" + action + "Response>\r\n");
  return 0;
}

uint32_t on_query(const device_request_info *, const char *, void *, char **) { return 404; }

int on_subscribe(const device_request_info *, void *user, char **initial)
{
  if (of(user)->refuse) return 0;
  *initial = heap(kInitialBody);
  return 1;
}

void on_ip_change(void *user) { of(user)->ip_changes++; }

// Reads one request (head and CONTENT-LENGTH bytes) from s.
bool read_request(int s, std::string *raw, const std::atomic<bool> &stop)
{
  char ch;
  while (raw->size() < 4 || raw->compare(raw->size() - 4, 4, "\r\n\r\n")) {
    if (stop) return false;
    if (!readable(s, 100)) continue;
    if (recv(s, &ch, 1, 0) != 1) return false;
    *raw += ch;
  }
  message m = parse(*raw);
  size_t want = std::strtoul(m.header("CONTENT-LENGTH").c_str(), nullptr, 10);
  char buf[4096];
  size_t have = 0;
  while (have < want && readable(s, 5000)) {
    ssize_t got = recv(s, buf, std::min(sizeof buf, want - have), 0);
    if (got <= 0) return false;
    raw->append(buf, size_t(got));
    have += size_t(got);
  }
  return have == want;
}

}  // namespace

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::string private_net()
{
  static std::string why = [] {
    if (!tarvo_test::private_net().empty()) return tarvo_test::private_net();
    if (!sh("ip link set lo multicast on"))
      return std::string("cannot turn multicast on for lo (iproute2 missing?)");
    return std::string();
  }();
  return why;
}

std::string description()
{
  return device_test::description_of("urn:schemas-upnp-org:device:MediaServer:2",
                                     "urn:schemas-upnp-org:service:Other:1", kOtherId, "other");
}

bool device::start(bool ssdp, uint32_t max_age)
{
  test = device_service_handler{kServiceId, on_action, on_query, on_subscribe,
                                nullptr, nullptr, nullptr, this};
  other = test;
  other.service_id = kOtherId;
  device_service_handler *list[] = {&test, &other, nullptr};
  if (!ssdp) tarvo_device_disable_ssdp(&ctx);
  tarvo_device_set_ip_change_handler(&ctx, on_ip_change, this);
  std::string xml = description();
  started = tarvo_device_start(&ctx, nullptr, 0, nullptr, xml.c_str(), max_age, list);
  return started;
}

device::~device()
{
  if (started) tarvo_device_end(&ctx);
}

std::string message::header(const std::string &name) const
{
  device_test::reply r;
  r.headers = headers;
  return r.header(name);
}

message parse(const std::string &raw)
{
  message m;
  m.raw = raw;
  m.at_ms = now_ms();
  size_t end = raw.find("\r\n\r\n");
  size_t pos = raw.find("\r\n");
  if (end == raw.npos || pos == raw.npos) return m;
  m.start = raw.substr(0, pos);
  while (pos < end) {
    size_t next = raw.find("\r\n", pos + 2);
    m.headers.push_back(raw.substr(pos + 2, next - pos - 2));
    pos = next;
  }
  m.body = raw.substr(end + 4);
  return m;
}

std::string subscribe_request(const std::string &path, const std::string &headers)
{
  return "SUBSCRIBE " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n" + headers + "\r\n";
}

callback_server::callback_server(const char *at) : ip(at)
{
  sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = address(at, 0);
  socklen_t len = sizeof a;
  if (sock < 0 || bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) || listen(sock, 16) ||
      getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len))
    return;
  port = ntohs(a.sin_port);
  th = std::thread([this] {
    std::vector<int> held;
    while (!stop) {
      if (!readable(sock, 100)) continue;
      int c = accept4(sock, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string raw;
      bool ok = read_request(c, &raw, stop);
      if (ok) {
        std::lock_guard<std::mutex> lock(mu);
        got.push_back(parse(raw));
        cv.notify_all();
      }
      if (silent) {
        held.push_back(c);
        continue;
      }
      if (ok) device_test::send_all(c, "HTTP/1.1 " + status + "\r\nCONTENT-LENGTH: 0\r\n\r\n");
      close(c);
    }
    for (int c : held) close(c);
  });
}

callback_server::~callback_server()
{
  stop = true;
  if (th.joinable()) th.join();
  if (sock >= 0) close(sock);
}

std::string callback_server::url(const std::string &path) const
{
  return "http://" + ip + ":" + std::to_string(port) + path;
}

std::vector<message> callback_server::wait(size_t n, int timeout_ms)
{
  std::unique_lock<std::mutex> lock(mu);
  cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return got.size() >= n; });
  return std::vector<message>(got.begin(), got.begin() + std::min(n, got.size()));
}

size_t callback_server::count()
{
  std::lock_guard<std::mutex> lock(mu);
  return got.size();
}

udp::udp(const char *ip, uint16_t port, bool join)
{
  sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int on = 1, off = 0;
  sockaddr_in a = address(join ? "0.0.0.0" : ip, port);
  in_addr if_addr{};
  inet_pton(AF_INET, ip, &if_addr);
  ip_mreq m{};
  inet_pton(AF_INET, "239.255.255.250", &m.imr_multiaddr);
  m.imr_interface = if_addr;
  if (sock < 0 || setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) ||
      setsockopt(sock, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) ||
      bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) ||
      setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &if_addr, sizeof if_addr) ||
      (join && setsockopt(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m))) {
    if (sock >= 0) close(sock);
    sock = -1;
  }
}

udp::~udp()
{
  if (sock >= 0) close(sock);
}

bool udp::send(const std::string &data, const char *to_ip, uint16_t to_port)
{
  sockaddr_in to = address(to_ip, to_port);
  return sendto(sock, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
         ssize_t(data.size());
}

std::vector<message> udp::collect(int timeout_ms, size_t max)
{
  std::vector<message> out;
  int64_t end = now_ms() + timeout_ms;
  char buf[65536];
  for (int64_t left; out.size() < max && (left = end - now_ms()) > 0;) {
    if (!readable(sock, int(left))) break;
    ssize_t got = recv(sock, buf, sizeof buf, 0);
    if (got > 0) out.push_back(parse(std::string(buf, size_t(got))));
  }
  return out;
}

std::string search(const std::string &st, const std::string &mx)
{
  return "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: " + mx +
         "\r\nST: " + st + "\r\n\r\n";
}

uint16_t closed_port(const char *ip)
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = address(ip, 0);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (s >= 0 && !bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) &&
      !getsockname(s, reinterpret_cast<sockaddr *>(&a), &len))
    port = ntohs(a.sin_port);
  if (s >= 0) close(s);
  return port;
}

std::vector<int> threads()
{
  std::vector<int> ids;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') ids.push_back(std::atoi(e->d_name));
    closedir(d);
  }
  return ids;
}

long wakeups(int tid)
{
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atol(line.c_str() + 24);
  return -1;
}

}  // namespace gena_test
