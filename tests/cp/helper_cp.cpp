#include "cp_test.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cp_test {

namespace {

sockaddr_in address(const std::string &ip, uint16_t port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

bool readable(int s, int ms)
{
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

std::string header_value(const std::string &req, const std::string &name)
{
  size_t at = req.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return req.substr(at, req.find("\r\n", at) - at);
}

// One request: the head and CONTENT-LENGTH bytes.
bool read_request(int s, std::string *raw)
{
  char buf[4096];
  while (raw->find("\r\n\r\n") == std::string::npos) {
    if (!readable(s, 5000)) return false;
    ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) return false;
    raw->append(buf, size_t(n));
  }
  size_t want = std::strtoul(header_value(*raw, "CONTENT-LENGTH").c_str(), nullptr, 10);
  size_t head = raw->find("\r\n\r\n") + 4;
  while (raw->size() < head + want && readable(s, 5000)) {
    ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) return false;
    raw->append(buf, size_t(n));
  }
  return true;
}

std::string http(const std::string &status, const std::string &headers, const std::string &body)
{
  return "HTTP/1.1 " + status + "\r\n" + headers + "CONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\nCONNECTION: close\r\n\r\n" + body;
}

}  // namespace

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::string private_net()
{
  static std::string why = [] {
    std::string p = tarvo_test::private_net();
    if (!p.empty()) return p;
    if (!sh("ip link set lo multicast on")) return std::string("cannot open lo to multicast (iproute2 missing?)");
    return std::string();
  }();
  return why;
}

bool eventually(const std::function<bool()> &pred, int ms)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    usleep(20000);
  }
  return true;
}

namespace {

recorder *of(void *user) { return static_cast<recorder *>(user); }

void on_added(const upnp_desc_device_rec *d, const char *location, const char *, void *user)
{
  std::lock_guard<std::mutex> l(of(user)->mu);
  of(user)->added.push_back(std::string(d->UDN) + " " + (d->friendlyName ? d->friendlyName : "") + " " + location);
}

void on_updated(const upnp_desc_device_rec *d, const char *, const char *, void *user)
{
  std::lock_guard<std::mutex> l(of(user)->mu);
  of(user)->updated.push_back(d->UDN);
}

void on_removed(const upnp_desc_device_rec *d, void *user)
{
  std::lock_guard<std::mutex> l(of(user)->mu);
  of(user)->removed.push_back(d->UDN);
}

}  // namespace

void recorder::install(tarvo_cp_ctx **ctx) { tarvo_cp_set_discovery_handler(ctx, on_added, on_updated, on_removed, this); }

int recorder::on_event(const char *udn, const char *type, unsigned seq, const char *body, void *user)
{
  std::lock_guard<std::mutex> l(of(user)->mu);
  of(user)->events.push_back(std::string(udn) + " " + type + " " + std::to_string(seq));
  of(user)->bodies.push_back(body);
  return 1;
}

size_t recorder::count(std::vector<std::string> recorder::*list)
{
  std::lock_guard<std::mutex> l(mu);
  return (this->*list).size();
}

std::vector<std::string> recorder::get(std::vector<std::string> recorder::*list)
{
  std::lock_guard<std::mutex> l(mu);
  return this->*list;
}

bool control_point::start(std::vector<std::string> targets)
{
  seen.install(&ctx);
  std::vector<char *> t;
  for (std::string &s : targets) t.push_back(s.data());
  t.push_back(nullptr);
  return tarvo_cp_start(&ctx, nullptr, 0, targets.empty() ? nullptr : t.data());
}

std::string description(const std::string &udn, const std::string &device_type, const std::string &name)
{
  return "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
         "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
         "<deviceType>" + device_type + "</deviceType><friendlyName>" + name + "</friendlyName>"
         "<manufacturer>m</manufacturer><modelName>n</modelName><UDN>" + udn + "</UDN><serviceList>"
         "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:2</serviceType>"
         "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId><SCPDURL>/scpd</SCPDURL>"
         "<controlURL>/control</controlURL><eventSubURL>/event</eventSubURL></service>"
         "</serviceList></device></root>\n";
}

fixture_device::fixture_device()
{
  sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = address("127.0.0.1", 0);
  socklen_t len = sizeof a;
  if (bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) || listen(sock, 64) ||
      getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len))
    std::abort();
  port = ntohs(a.sin_port);
  th = std::thread([this] {
    while (!stop) {
      if (!readable(sock, 50)) continue;
      int s = accept4(sock, nullptr, nullptr, SOCK_CLOEXEC);
      if (s < 0) continue;
      if (silent) {
        std::lock_guard<std::mutex> l(mu);
        held.push_back(s);
        continue;
      }
      serve(s);
      close(s);
    }
  });
}

fixture_device::~fixture_device()
{
  stop = true;
  th.join();
  close(sock);
  for (int s : held) close(s);
}

void fixture_device::serve(int s)
{
  std::string req;
  if (!read_request(s, &req)) return;
  std::string line = req.substr(0, req.find("\r\n")), answer;
  {
    std::lock_guard<std::mutex> l(mu);
    requests.push_back(req);
    std::string path = line.substr(line.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    std::string timeout = granted ? "Second-" + std::to_string(granted.load()) : "Second-infinite";
    if (line.rfind("GET ", 0) == 0)
      answer = docs.count(path) ? http("200 OK", "CONTENT-TYPE: text/xml\r\n", docs[path]) : http("404 Not Found", "", "");
    else if (line.rfind("SUBSCRIBE ", 0) == 0) {
      std::string sid = header_value(req, "SID");
      if (sid.empty()) sid = "uuid:sub-" + std::to_string(++next_sid);
      answer = http("200 OK", "SID: " + sid + "\r\nTIMEOUT: " + timeout + "\r\n", "");
    } else if (line.rfind("UNSUBSCRIBE ", 0) == 0)
      answer = http("200 OK", "", "");
    else if (line.rfind("POST ", 0) == 0)
      answer = http("200 OK", "CONTENT-TYPE: text/xml\r\n",
                    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                    "<u:EchoResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:2\">"
                    "<Out>fixture</Out></u:EchoResponse></s:Body></s:Envelope>");
  }
  if (delay_ms) usleep(useconds_t(delay_ms) * 1000);
  send(s, answer.data(), answer.size(), MSG_NOSIGNAL);
}

std::vector<std::string> fixture_device::got()
{
  std::lock_guard<std::mutex> l(mu);
  return requests;
}

std::vector<std::string> fixture_device::got(const std::string &method)
{
  std::vector<std::string> out;
  for (const std::string &r : got())
    if (r.rfind(method + " ", 0) == 0) out.push_back(r);
  return out;
}

void send_udp(const std::string &from_ip, const std::string &ip, uint16_t port, const std::string &data)
{
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in from = address(from_ip, 0), to = address(ip, port);
  bind(s, reinterpret_cast<sockaddr *>(&from), sizeof from);
  in_addr ifa{};
  inet_pton(AF_INET, from_ip.c_str(), &ifa);
  setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &ifa, sizeof ifa);
  sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  close(s);
}

std::string search_response(const std::string &location, const std::string &st, const std::string &usn, bool ext,
                            uint32_t max_age)
{
  return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=" + std::to_string(max_age) + "\r\n" + (ext ? "EXT:\r\n" : "") +
         "LOCATION: " + location + "\r\nSERVER: Fixture/1.0 UPnP/1.0 Test/1.0\r\nST: " + st + "\r\nUSN: " + usn +
         "\r\n\r\n";
}

std::string alive(const std::string &location, const std::string &nt, const std::string &usn, uint32_t max_age)
{
  return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=" + std::to_string(max_age) +
         "\r\nLOCATION: " + location + "\r\nNT: " + nt + "\r\nNTS: ssdp:alive\r\nSERVER: Fixture/1.0\r\nUSN: " + usn +
         "\r\n\r\n";
}

std::string byebye(const std::string &nt, const std::string &usn)
{
  return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: " + nt + "\r\nNTS: ssdp:byebye\r\nUSN: " + usn +
         "\r\n\r\n";
}

std::string http_exchange(uint16_t port, const std::string &request, int answers, int timeout_ms)
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = address("127.0.0.1", port);
  std::string out;
  if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      send(s, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[4096];
    auto count = [&] {
      int n = 0;
      for (size_t at = 0; (at = out.find("\r\n\r\n", at)) != std::string::npos; at += 4) n++;
      return n;
    };
    while ((!answers || count() < answers) && readable(s, timeout_ms)) {
      ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, size_t(n));
    }
  }
  close(s);
  return out;
}

std::string notify(uint16_t port, const std::string &sid, uint32_t seq, const std::string &body)
{
  return "NOTIFY / HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(port) +
         "\r\nCONTENT-TYPE: text/xml\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\nSID: " + sid +
         "\r\nSEQ: " + std::to_string(seq) + "\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\nCONNECTION: close\r\n\r\n" + body;
}

}  // namespace cp_test
