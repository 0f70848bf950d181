#include "device_test.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace device_test {

std::string description_of(const std::string &device_type, const std::string &second_type,
                           const std::string &second_id, const std::string &second_name)
{
  return "<?xml version=\"1.0\"?>\r\n"
         "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
         "<specVersion><major>1</major><minor>0</minor></specVersion>\r\n"
         "<device>\r\n"
         "<deviceType>" +
         device_type +
         "</deviceType>\r\n"
         "<friendlyName>Test &amp; Co</friendlyName>\r\n"
         "<manufacturer>Tester</manufacturer><modelName>Model</modelName>\r\n"
         "<UDN>" +
         kUdn +
         "</UDN>\r\n"
         "<serviceList>\r\n"
         "<service><serviceType>" +
         kServiceType + "</serviceType><serviceId>" + kServiceId +
         "</serviceId><SCPDURL>scpd/test.xml</SCPDURL><controlURL>control/test</controlURL>"
         "<eventSubURL>event/test</eventSubURL></service>\r\n"
         "<service><serviceType>" +
         second_type + "</serviceType><serviceId>" + second_id + "</serviceId><SCPDURL>scpd/" +
         second_name + ".xml</SCPDURL><controlURL>control/" + second_name +
         "</controlURL><eventSubURL>event/" + second_name +
         "</eventSubURL></service>\r\n"
         "</serviceList>\r\n"
         "</device>\r\n"
         "</root>\r\n";
}

std::string description()
{
  return description_of("urn:schemas-upnp-org:device:MediaServer:1",
                        "urn:schemas-upnp-org:service:None:1", "urn:upnp-org:serviceId:None", "none");
}

namespace {

calls *of(void *user) { return static_cast<calls *>(user); }

void note_info(calls *c, const device_request_info *info)
{
  char ip[16];
  c->remote.assign(ip, sys_ip4_fmt(ip, info->addr.remote_ip));
  c->udn = info->udn ? info->udn : "";
  c->service_type = info->service_type ? info->service_type : "";
  c->service_id = info->service_id ? info->service_id : "";
}

std::string args_text(const char *action, char **names, char **values)
{
  std::string s = std::string(action) + "(";
  for (size_t i = 0; names && values && names[i] && values[i]; i++)
    s += std::string(i ? "," : "") + names[i] + "=" + values[i];
  return s + ")";
}

char *heap(const std::string &s)
{
  char *p = nullptr;
  sys_str_clone(s.c_str(), &p);
  return p;
}

uint32_t on_action(const device_request_info *info, const char *action, char **names,
                   char **values, void *user, char **out)
{
  calls *c = of(user);
  std::lock_guard<std::mutex> lock(c->mu);
  note_info(c, info);
  if (!names || !values) c->lists_null = true;
  c->actions.push_back(args_text(action, names, values));
  if (std::string(action) == "Fail") return 714;
  std::string in;
  for (size_t i = 0; names && names[i]; i++)
    if (std::string(names[i]) == "In") in = values[i];
  *out = heap(std::string("<u:") + action + "Response xmlns:u=\"" + kServiceType + "\">\r\n<Out>" +
              in + "</Out>\r\n</u:" + action + "Response>\r\n");
  return 0;
}

uint32_t on_query(const device_request_info *info, const char *var, void *user, char **out)
{
  calls *c = of(user);
  std::lock_guard<std::mutex> lock(c->mu);
  note_info(c, info);
  c->actions.push_back(std::string("query:") + var);
  if (std::string(var) != "Var") return 404;
  *out = heap("a<b&c");
  return 0;
}

int on_subscribe(const device_request_info *, void *, char **) { return 0; }

void record_batch(void *user, const std::string &what)
{
  std::lock_guard<std::mutex> lock(of(user)->mu);
  of(user)->batch.push_back(what);
}

uint32_t on_batch(const device_request_info *, const char *action, char **names, char **values,
                  void *user)
{
  record_batch(user, args_text(action, names, values));
  return std::string(action) == "Fail" ? 714 : 0;
}

uint32_t on_accept_batch(const device_request_info *, uint32_t delay, void *user)
{
  record_batch(user, "accept:" + std::to_string(delay));
  return 0;
}

uint32_t on_delete_batch(const device_request_info *, void *user)
{
  record_batch(user, "delete");
  return 0;
}

bool wait_for(int s, short events, int timeout_ms)
{
  pollfd p{s, events, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

}  // namespace

bool device::start(bool with_root)
{
  handler = device_service_handler{kServiceId,      on_action,       on_query,
                                   on_subscribe,    on_batch,        on_accept_batch,
                                   on_delete_batch, &seen};
  device_service_handler *list[] = {&handler, nullptr};
  tarvo_device_disable_ssdp(&ctx);
  std::string xml = desc.empty() ? description() : desc;
  started = tarvo_device_start(&ctx, nullptr, 0, with_root ? root.path.c_str() : nullptr,
                               xml.c_str(), 1800, list);
  return started;
}

bool start_with_stalled_readers(device &d, int socks[2])
{
  const uint32_t size = 64u << 20;
  std::string big(size, 'z');
  if (!tarvo_device_add_static_content(&d.ctx, "/big", "application/octet-stream", big.data(), size))
    return false;
  tarvo_test::write_file(d.root / "big.bin", big);
  if (!d.start()) return false;
  socks[0] = connect_to(d.port());
  socks[1] = connect_to(d.port());
  send_all(socks[0], "GET /big HTTP/1.1\r\nHost: localhost\r\n\r\n");
  send_all(socks[1], "GET /big.bin HTTP/1.1\r\nHost: localhost\r\n\r\n");
  return true;
}

device::~device()
{
  if (started) tarvo_device_end(&ctx);
}

std::string reply::header(const std::string &name) const
{
  for (const std::string &h : headers) {
    size_t colon = h.find(':');
    if (colon == h.npos || colon != name.size()) continue;
    if (!sys_str_case_diffn(h.data(), uint32_t(colon), name.c_str())) {
      size_t v = colon + 1;
      while (v < h.size() && h[v] == ' ') v++;
      return h.substr(v);
    }
  }
  return "";
}

int connect_to(uint16_t port, const char *from_ip)
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, from_ip, &a.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) ||
      connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to)) {
    close(s);
    return -1;
  }
  return s;
}

bool send_all(int s, const std::string &data)
{
  size_t done = 0;
  while (done < data.size()) {
    ssize_t r = send(s, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (r <= 0) return false;
    done += size_t(r);
  }
  return true;
}

std::string read_all(int s, int timeout_ms)
{
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[65536];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !wait_for(s, POLLIN, int(left))) break;
    ssize_t r = recv(s, buf, sizeof buf, 0);
    if (r <= 0) break;
    out.append(buf, size_t(r));
  }
  return out;
}

reply parse_reply(const std::string &raw)
{
  reply r;
  size_t end = raw.find("\r\n\r\n");
  if (end == raw.npos) return r;
  size_t pos = raw.find("\r\n");
  std::string first = raw.substr(0, pos);
  if (first.rfind("HTTP/1.1 ", 0) != 0) return r;
  r.ok = true;
  r.status = first.substr(9);
  while (pos < end) {
    size_t next = raw.find("\r\n", pos + 2);
    r.headers.push_back(raw.substr(pos + 2, next - pos - 2));
    pos = next;
  }
  r.body = raw.substr(end + 4);
  return r;
}

reply read_reply(int s, int timeout_ms)
{
  std::string raw;
  char ch;
  while (raw.size() < 4 || raw.compare(raw.size() - 4, 4, "\r\n\r\n")) {
    if (!wait_for(s, POLLIN, timeout_ms) || recv(s, &ch, 1, 0) != 1) return parse_reply(raw);
    raw += ch;
  }
  reply r = parse_reply(raw);
  std::string length = r.header("CONTENT-LENGTH");
  if (length.empty()) {
    r.body = read_all(s, timeout_ms);
    return r;
  }
  size_t want = std::stoul(length);
  char buf[65536];
  while (r.body.size() < want && wait_for(s, POLLIN, timeout_ms)) {
    ssize_t got = recv(s, buf, std::min(sizeof buf, want - r.body.size()), 0);
    if (got <= 0) break;
    r.body.append(buf, size_t(got));
  }
  return r;
}

reply exchange(uint16_t port, const std::string &request)
{
  int s = connect_to(port);
  if (s < 0) return reply{};
  send_all(s, request);
  reply r = read_reply(s);
  close(s);
  return r;
}

std::string soap_request(const std::string &path, const std::string &type,
                         const std::string &action, const std::string &args,
                         const std::string &extra_headers)
{
  std::string body = std::string("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                                 "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                                 "<s:Body><u:") +
                     action + " xmlns:u=\"" + type + "\">" + args + "</u:" + action +
                     "></s:Body></s:Envelope>";
  return "POST " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n"
         "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
         "SOAPACTION: \"" + type + "#" + action + "\"\r\n" + extra_headers +
         "CONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace device_test
