// links: tarvo_device tarvo_util
// Control requests over one kept-alive connection to a device on loopback:
// the time per answer for a small and a large answer body, which shows
// whether answers wait for the client's delayed acknowledgement.
//   bench_device_soap [requests]
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kType[] = "urn:schemas-upnp-org:service:Bench:1";
const char kId[] = "urn:upnp-org:serviceId:Bench";

std::string description()
{
  return std::string("<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                     "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                     "<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
                     "<friendlyName>Bench</friendlyName><manufacturer>B</manufacturer><modelName>B</modelName><UDN>uuid:00000000-1111-2222-3333-444444444444</UDN>"
                     "<serviceList><service><serviceType>") +
         kType + "</serviceType><serviceId>" + kId +
         "</serviceId><SCPDURL>scpd.xml</SCPDURL><controlURL>control</controlURL>"
         "<eventSubURL>event</eventSubURL></service></serviceList></device></root>";
}

// Echo answers with <Out> of the size asked for in <N>.
uint32_t on_action(const device_request_info *, const char *, char **names, char **values, void *,
                   char **out)
{
  size_t n = 0;
  for (size_t i = 0; names[i]; i++)
    if (!std::strcmp(names[i], "N")) n = std::strtoul(values[i], nullptr, 10);
  std::string body = std::string("<u:EchoResponse xmlns:u=\"") + kType + "\"><Out>" +
                     std::string(n, 'x') + "</Out></u:EchoResponse>";
  return sys_str_clone(body.c_str(), out) ? 0 : 501;
}

uint32_t on_query(const device_request_info *, const char *, void *, char **) { return 401; }
int on_subscribe(const device_request_info *, void *, char **) { return 0; }

std::string request(size_t n)
{
  std::string body = std::string("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                                 "<s:Body><u:Echo xmlns:u=\"") +
                     kType + "\"><N>" + std::to_string(n) + "</N></u:Echo></s:Body></s:Envelope>";
  return std::string("POST /control HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONTENT-TYPE: text/xml\r\n"
                     "SOAPACTION: \"") +
         kType + "#Echo\"\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Reads one answer by its CONTENT-LENGTH; false at the end of the stream.
bool read_answer(int s, std::string &buf)
{
  for (;;) {
    size_t end = buf.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t at = buf.find("CONTENT-LENGTH: ");
      size_t len = at < end ? std::strtoul(buf.c_str() + at + 16, nullptr, 10) : 0;
      if (buf.size() >= end + 4 + len) {
        buf.erase(0, end + 4 + len);
        return true;
      }
    }
    char chunk[65536];
    ssize_t r = recv(s, chunk, sizeof chunk, 0);
    if (r <= 0) return false;
    buf.append(chunk, size_t(r));
  }
}

void run(uint16_t port, size_t body, int count)
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to)) {
    std::perror("connect");
    return;
  }
  std::string rq = request(body), buf;
  std::vector<double> ms;
  for (int i = 0; i < count; i++) {
    auto t = std::chrono::steady_clock::now();
    if (send(s, rq.data(), rq.size(), MSG_NOSIGNAL) != ssize_t(rq.size()) || !read_answer(s, buf)) {
      std::printf("connection lost after %d answers\n", i);
      break;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count());
  }
  close(s);
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  std::printf("answer body %6zu bytes: %d answers, mean %.3f ms, p50 %.3f ms, p99 %.3f ms\n", body,
              int(ms.size()), sum / double(ms.size()), ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
}

// A port that was free a moment ago.
uint16_t free_port()
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

}  // namespace

int main(int argc, char **argv)
{
  int count = argc > 1 ? std::atoi(argv[1]) : 200;
  device_service_handler h{kId, on_action, on_query, on_subscribe, nullptr, nullptr, nullptr, nullptr};
  device_service_handler *list[] = {&h, nullptr};
  tarvo_device_ctx *ctx = nullptr;
  tarvo_device_disable_ssdp(&ctx);
  std::string xml = description();
  uint16_t port = free_port();
  if (!tarvo_device_start(&ctx, nullptr, port, nullptr, xml.c_str(), 1800, list)) {
    std::fprintf(stderr, "the device did not start\n");
    return 1;
  }
  for (size_t body : {100, 20000}) run(port, body, count);
  tarvo_device_end(&ctx);
  return 0;
}
