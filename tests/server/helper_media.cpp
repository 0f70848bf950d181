#include "media_test.h"

#include <vennard/connection_manager.h>
#include <vennard/content_directory.h>
#include <vennard/device_manager.h>
#include <vennard/share_scanner.h>

#include <tarvo_util/soap.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace media_test {

namespace {

constexpr const char *kCdsType = "urn:schemas-upnp-org:service:ContentDirectory:1";

// The ARP cache the access control reads: the remote client, and the
// neighbours of the flood tests, are known.
void remote_arp()
{
  static tarvo_test::scratch_dir dir;
  std::string path = dir / "arp";
  std::string table = "IP address       HW type     Flags       HW address            Mask     Device\n";
  for (int n = 2; n <= 110; n++) {
    char mac[3];
    std::snprintf(mac, sizeof mac, "%02x", n);
    table += "127.0.0." + std::to_string(n) + "        0x1         0x2         02:00:00:00:00:" + mac +
             "     *        lo\n";
  }
  tarvo_test::write_file(path, table);
  setenv("TARVO_ARP_FILE", path.c_str(), 1);
}

std::string lower(std::string s)
{
  for (char &ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

const std::string &private_net()
{
  static const std::string problem = [] {
    const std::string &why = tarvo_test::private_net();
    if (why.empty()) remote_arp();
    return why;
  }();
  return problem;
}

client::client(uint16_t port, const char *from)
{
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, from, &a.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return;
  a.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    fd = -1;
  }
}

client::~client()
{
  if (fd >= 0) close(fd);
}

bool client::send(const std::string &data) const
{
  return fd >= 0 && ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == ssize_t(data.size());
}

// More bytes into pending; false at the end of the stream or after ms.
static bool fill(int fd, std::string &pending, int ms)
{
  pollfd p{fd, POLLIN, 0};
  if (fd < 0 || poll(&p, 1, ms) <= 0) return false;
  char buf[65536];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  pending.append(buf, size_t(n));
  return true;
}

client::answer client::read_answer(bool head, int ms)
{
  answer a;
  size_t end;
  while ((end = pending.find("\r\n\r\n")) == std::string::npos)
    if (!fill(fd, pending, ms)) return a;
  a.head = pending.substr(0, end + 4);
  pending.erase(0, end + 4);
  size_t date = a.head.find("\r\nDATE: ");
  if (date != std::string::npos) {
    size_t eol = a.head.find("\r\n", date + 2);
    a.head.replace(date + 8, eol - date - 8, "*");
  }
  std::string length = a.header("content-length");
  size_t want = head || length.empty() ? 0 : std::stoull(length);
  while (pending.size() < want)
    if (!fill(fd, pending, ms)) return a;
  a.body = pending.substr(0, want);
  pending.erase(0, want);
  a.ok = true;
  return a;
}

bool client::closed(int ms)
{
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, ms) > 0) {
    char buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

std::string client::answer::status() const
{
  size_t sp = head.find(' ');
  return sp == std::string::npos ? "" : head.substr(sp + 1, head.find("\r\n") - sp - 1);
}

std::string client::answer::header(const std::string &name) const
{
  std::string h = lower(head), key = "\r\n" + lower(name) + ":";
  size_t at = h.find(key);
  if (at == std::string::npos) return "";
  size_t from = at + key.size();
  while (head[from] == ' ') from++;
  return head.substr(from, head.find("\r\n", from) - from);
}

client::answer request(uint16_t port, const std::string &text, const char *from)
{
  client c(port, from);
  c.send(text);
  return c.read_answer(text.starts_with("HEAD "));
}

std::string soap_result::operator[](const std::string &name) const
{
  auto it = out.find(name);
  return it == out.end() ? "" : it->second;
}

fixture::~fixture() { stop(); }

bool fixture::start(bool with_device)
{
  server_rec *s = &srv.s;
  if (!srv.start()) return false;
  http_port = s->http_port;
  upnp_port = uint16_t(std::stoul(srv.data.get("upnp_port")));
  // The share actions need the scanner's locks; the tests play the
  // scanner's part themselves.
  scanner = share_locks_init(s) != 0;
  if (!scanner || !with_device) return scanner;
  std::string desc = srv.data.get("upnp_root/description/av_msd.xml");
  device_service_handler cds, cm, devmgr;
  cds_handler_init(s, &cds);
  cm_handler_init(s, &cm);
  devmgr_handler_init(s, &devmgr);
  device_service_handler *handlers[] = {&cds, &cm, &devmgr, nullptr};
  if (!(access = access_control_start(s) != 0)) return false;
  tarvo_device_disable_ssdp(&s->device);
  device = tarvo_device_start(&s->device, nullptr, upnp_port, (srv.data.conf + "/upnp_root").c_str(),
                              desc.c_str(), 1800, handlers) != 0;
  if (device) server_device_ready_set(s);
  return device;
}

void fixture::stop()
{
  server_rec *s = &srv.s;
  if (scanner) share_locks_close(s);
  scanner = false;
  if (device) {
    server_device_ready_clear(s);
    tarvo_device_end(&s->device);
  }
  if (access) access_control_stop(s);
  device = access = false;
  srv.stop();
}

soap_result fixture::action(const std::string &name, const std::vector<std::pair<std::string, std::string>> &args,
                            const char *from) const
{
  return cds_action(upnp_port, name, args, from);
}

soap_result cds_action(uint16_t upnp_port, const std::string &name,
                       const std::vector<std::pair<std::string, std::string>> &args, const char *from)
{
  sys_stralloc_rec body{};
  sys_stralloc_copys(&body, soap_xml_begin());
  soap_xml_request_begin(&body, kCdsType, name.c_str());
  for (const auto &a : args) xml_gen_element_append(&body, a.first.c_str(), a.second.c_str());
  soap_xml_request_end(&body, name.c_str());
  sys_stralloc_cats(&body, soap_xml_end());
  std::string envelope(body.buf, body.len);
  sys_stralloc_free(&body);
  std::string text = "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(upnp_port) +
                     "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"" + kCdsType + "#" + name +
                     "\"\r\nCONTENT-LENGTH: " + std::to_string(envelope.size()) + "\r\n\r\n" + envelope;
  client::answer a = request(upnp_port, text, from);
  soap_result r;
  r.code = 1;
  if (!a.ok) return r;
  sys_str_list names = nullptr, values = nullptr;
  if (a.status() == "200 OK" && soap_parse(a.body.c_str(), &names, &values) && names) {
    r.code = 0;
    for (uint32_t i = 0; names[i]; i++) r.out[names[i]] = values[i];
  } else if (uint32_t code = 0; soap_fault_parse(a.body.c_str(), &code)) {
    r.code = code;
  }
  sys_str_list_free(names);
  sys_str_list_free(values);
  return r;
}

std::string didl(const std::string &object_xml)
{
  sys_stralloc_rec sa{};
  didl_xml_begin(&sa, 1);
  std::string text(sa.buf, sa.len);
  sys_stralloc_free(&sa);
  return text + object_xml + "</DIDL-Lite>";
}

std::string fixture::create(const std::string &parent, const std::string &object_xml)
{
  std::string id;
  if (!content_db_lock(&srv.s)) return id;
  char *new_id = nullptr;
  if (content_db_create(&srv.s, parent.c_str(), didl(object_xml).c_str(), 1, &new_id, nullptr) == 0 && new_id)
    id = new_id;
  sys_alloc_free(new_id);
  content_db_unlock(&srv.s);
  return id;
}

std::string fixture::res_path(const std::string &id)
{
  std::string path;
  if (!content_db_lock(&srv.s)) return path;
  const didl_object *o = content_db_get(&srv.s, id.c_str());
  const didl_property *res = o ? didl_property_first(o, DIDL_NAME(EL_RES)) : nullptr;
  if (res && res->text) path = res->text;
  content_db_unlock(&srv.s);
  return path;
}

}  // namespace media_test
