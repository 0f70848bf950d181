// The services on a running device stack (loopback, no SSDP): events of
// the content database, the ConnectionManager and X_DeviceManager, access
// control on the device's own connections, and the device gate.
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "didl_test.h"
#include "helper_client.h"
#include "server_test.h"

using namespace server_test;
using namespace std::chrono_literals;

namespace {

const char *kCdsId = "urn:upnp-org:serviceId:ContentDirectory";
const char *kDmType = "urn:schemas-tarvo-org:service:X_DeviceManager:1";

std::string exchange(const char *from, uint16_t port, const std::string &request)
{
  return mgmt_test::exchange(port, request, from);
}

std::string soap(uint16_t port, const char *from, const std::string &action, const std::string &args)
{
  std::string body = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
                     action + " xmlns:u=\"" + kDmType + "\">" + args + "</u:" + action + "></s:Body></s:Envelope>";
  return exchange(from, port,
                  "POST /control/X_DeviceManager HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n"
                  "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"" +
                      std::string(kDmType) + "#" + action + "\"\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body);
}

// Takes NOTIFY requests on 127.0.0.1 and keeps their paths and bodies.
struct callback_server {
  int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<std::string, std::string>> got;
  std::thread th;

  callback_server()
  {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t len = sizeof a;
    bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(sock, 16);
    getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    th = std::thread([this] { run(); });
  }
  ~callback_server()
  {
    stop = true;
    th.join();
    close(sock);
  }
  void run()
  {
    while (!stop) {
      pollfd p{sock, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int c = accept(sock, nullptr, nullptr);
      if (c < 0) continue;
      std::string raw;
      char buf[4096];
      size_t want = std::string::npos;
      while (want == std::string::npos || raw.size() < want) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 5000) <= 0) break;
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, size_t(n));
        size_t end = raw.find("\r\n\r\n");
        if (end != std::string::npos && want == std::string::npos) {
          size_t cl = raw.find("CONTENT-LENGTH:");
          if (cl == std::string::npos) cl = raw.find("Content-Length:");
          want = end + 4 + (cl < end ? std::strtoul(raw.c_str() + cl + 15, nullptr, 10) : 0);
        }
      }
      const char ok[] = "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 0\r\nCONNECTION: close\r\n\r\n";
      send(c, ok, sizeof ok - 1, MSG_NOSIGNAL);
      close(c);
      // A sender that gave up before its request was whole is not kept.
      size_t sp = raw.find(' '), end = raw.find("\r\n\r\n");
      if (sp == std::string::npos || end == std::string::npos || end < sp) continue;
      std::lock_guard<std::mutex> l(mu);
      got.emplace_back(raw.substr(sp + 1, raw.find(' ', sp + 1) - sp - 1), raw.substr(end + 4));
      cv.notify_all();
    }
  }
  // The first body sent to path that contains text, waiting up to ms.
  std::string wait(const std::string &path, const std::string &text, int ms = 8000)
  {
    std::unique_lock<std::mutex> l(mu);
    std::string found;
    cv.wait_for(l, std::chrono::milliseconds(ms), [&] {
      for (const auto &g : got)
        if (g.first == path && g.second.find(text) != std::string::npos) {
          found = g.second;
          return true;
        }
      return false;
    });
    return found;
  }
  size_t count(const std::string &path)
  {
    std::lock_guard<std::mutex> l(mu);
    size_t n = 0;
    for (const auto &g : got) n += g.first == path;
    return n;
  }
};

uint32_t cds_action(const device_request_info *, const char *, char **, char **, void *, char **) { return 401; }
uint32_t cds_query(const device_request_info *, const char *, void *, char **) { return 404; }
int cds_subscribe(const device_request_info *, void *user, char **body)
{
  auto *s = static_cast<server_rec *>(user);
  sys_stralloc_rec sa{};
  if (!content_db_lock(s)) return 0;
  int ok = content_db_event_body(s, &sa);
  content_db_unlock(s);
  *body = sa.buf;
  return ok;
}

struct running : ::testing::Test {
  server srv;
  server_rec *s = &srv.s;
  uint16_t port = mgmt_test::free_port();
  std::string arp = srv.data.home + "/arp";
  callback_server cb;
  device_service_handler cds{}, cm{}, dm{};
  bool device_started = false;

  void SetUp() override
  {
    tarvo_test::write_file(arp, "127.0.0.2 0x1 0x2 00:11:22:aa:bb:cc * lo\n");
    setenv("TARVO_ARP_FILE", arp.c_str(), 1);
    ASSERT_TRUE(srv.start());
    ASSERT_TRUE(access_control_start(s));
    std::string description = srv.data.get("upnp_root/description/av_msd.xml");
    ASSERT_TRUE(sys_str_clone(description.c_str(), &s->description));
  }
  void device_start()
  {
    cds = device_service_handler{kCdsId, cds_action, cds_query, cds_subscribe, nullptr, nullptr, nullptr, s};
    cm_handler_init(s, &cm);
    devmgr_handler_init(s, &dm);
    device_service_handler *list[] = {&cds, &cm, &dm, nullptr};
    tarvo_device_disable_ssdp(&s->device);
    ASSERT_TRUE(tarvo_device_start(&s->device, nullptr, port, nullptr, s->description, 1800, list));
    device_started = true;
    server_device_ready_set(s);
  }
  void device_end()
  {
    if (!device_started) return;
    server_device_ready_clear(s);
    tarvo_device_end(&s->device);
    device_started = false;
  }
  void TearDown() override
  {
    device_end();
    access_control_stop(s);
    srv.stop();
    unsetenv("TARVO_ARP_FILE");
  }
  void subscribe(const std::string &service)
  {
    std::string answer = exchange("127.0.0.1", port,
                                  "SUBSCRIBE /event/" + service + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n"
                                  "CALLBACK: <http://127.0.0.1:" + std::to_string(cb.port) + "/" + service +
                                  ">\r\nNT: upnp:event\r\nTIMEOUT: Second-300\r\nCONNECTION: close\r\n\r\n");
    ASSERT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  }
  void change(const char *title, bool with_res = false)
  {
    ASSERT_TRUE(content_db_lock(s));
    std::string body = std::string("<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>") + title +
                       "</dc:title><upnp:class>object.item</upnp:class>" +
                       (with_res ? "<res protocolInfo=\"http-get:*:video/mpeg:*\">http://x/v</res>" : "") + "</item>";
    EXPECT_EQ(content_db_create(s, "Container:UserFiles", didl_test::doc(body).c_str(), 1, nullptr, nullptr), 0u);
    content_db_unlock(s);
  }
};

TEST_F(running, ChangesAreEventedOnceTheDeviceRuns)
{
  // Before the device runs the save thread keeps its events.
  change("before");
  std::this_thread::sleep_for(2500ms);
  {
    // Read under the lock: the save thread writes them.
    held lock(s);
    EXPECT_NE(s->content.evented_update_id, s->content.system_update_id);
  }
  // Not evented: the save thread still has work.
  EXPECT_TRUE(content_db_work_pending(s));

  device_start();
  subscribe("ContentDirectory");
  subscribe("ConnectionManager");
  std::string id = std::to_string(s->content.system_update_id);
  std::string first = cb.wait("/ContentDirectory", "<SystemUpdateID>" + id + "</SystemUpdateID>");
  EXPECT_FALSE(first.empty());

  change("with a resource", true);
  std::string next = std::to_string(s->content.system_update_id);
  std::string event = cb.wait("/ContentDirectory", "<SystemUpdateID>" + next + "<");
  EXPECT_NE(event.find("<ContainerUpdateIDs>Container:UserFiles,"), std::string::npos) << event;
  EXPECT_FALSE(cb.wait("/ConnectionManager", "http-get:*:video/mpeg:*").empty());

  // After the gate closes nothing reaches the device stack.
  device_end();
  size_t sent = cb.count("/ContentDirectory");
  change("after");
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(cb.count("/ContentDirectory"), sent);
}

TEST_F(running, RemoteClientsAreCheckedAndMayOnlyRead)
{
  device_start();
  subscribe("X_DeviceManager");
  srv.data.put("access/default", "allow");
  std::string answer = soap(port, "127.0.0.2", "SetFriendlyName", "<FriendlyName>Mine</FriendlyName>");
  EXPECT_NE(answer.find("<errorCode>401</errorCode>"), std::string::npos) << answer;
  EXPECT_EQ(srv.data.get("access/allow/00-11-22-aa-bb-cc"), "127.0.0.2");
  EXPECT_FALSE(cb.wait("/X_DeviceManager", "<A_ARG_TYPE_AllowMacList>00-11-22-aa-bb-cc<").empty());
  answer = soap(port, "127.0.0.2", "GetFriendlyName", "");
  EXPECT_NE(answer.find("Tarvo Media Server</FriendlyName>"), std::string::npos) << answer;

  // A denied client's connection is dropped unanswered.
  EXPECT_NE(soap(port, "127.0.0.1", "SetClientPermissions",
                 "<MacList>00-11-22-aa-bb-cc</MacList><IpList>127.0.0.2</IpList><ClientState>deny</ClientState>")
                .find("200 OK"),
            std::string::npos);
  EXPECT_EQ(soap(port, "127.0.0.2", "GetFriendlyName", ""), "");
}

TEST_F(running, ANewFriendlyNameIsServedAndEvented)
{
  device_start();
  subscribe("X_DeviceManager");
  std::string answer = soap(port, "127.0.0.1", "SetFriendlyName", "<FriendlyName>Den &amp; Co</FriendlyName>");
  ASSERT_NE(answer.find("200 OK"), std::string::npos) << answer;
  EXPECT_EQ(srv.data.get("friendly_name"), "Den & Co");
  std::string description = exchange("127.0.0.1", port, "GET / HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n");
  EXPECT_NE(description.find("<friendlyName>Den &amp; Co</friendlyName>"), std::string::npos) << description;
  EXPECT_FALSE(cb.wait("/X_DeviceManager", "<A_ARG_TYPE_FriendlyName>Den &amp; Co<").empty());

  answer = soap(port, "127.0.0.1", "SetFriendlyName", "<FriendlyName></FriendlyName>");
  ASSERT_NE(answer.find("200 OK"), std::string::npos) << answer;
  EXPECT_FALSE(srv.data.exists("friendly_name"));
  description = exchange("127.0.0.1", port, "GET / HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n");
  EXPECT_NE(description.find(" Tarvo Media Server</friendlyName>"), std::string::npos) << description;
}

}  // namespace
