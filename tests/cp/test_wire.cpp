// The engine's bytes on the wire and the device list's answers to them,
// against a scripted device on loopback inside a namespace of our own.
#include "cp_test.h"
#include "tarvo_live.h"

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace cp_test;

namespace {

constexpr const char *kMs2 = "urn:schemas-upnp-org:device:MediaServer:2";
constexpr const char *kMs1 = "urn:schemas-upnp-org:device:MediaServer:1";
constexpr const char *kCd1 = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr const char *kUdn = "uuid:11111111-2222-3333-4444-555555555555";

// Entered before any member opens a socket.
struct in_net {
  in_net() { private_net(); }
};

struct Wire : ::testing::Test, in_net {
  fixture_device dev;
  control_point cp;
  void SetUp() override
  {
    CP_NEED_NET();
    dev.docs["/desc.xml"] = description(kUdn);
  }
  void found()
  {
    ASSERT_TRUE(cp.start({kMs2}));
    send_udp("127.0.0.1", "127.0.0.1", cp.search_port(), search_response(dev.url("/desc.xml"), kMs2, std::string(kUdn) + "::" + kMs2));
    ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::added) == 1; }, 5000));
  }
  std::string sub_line() { return "SUBSCRIBE /event HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(dev.port) + "\r\n"; }
};

// The payloads of UDP datagrams to port 1900 seen by a raw socket.
struct raw_capture {
  int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
  raw_capture()
  {
    // Looped multicast is taken in only where the group was joined.
    ip_mreqn m{};
    inet_pton(AF_INET, "239.255.255.250", &m.imr_multiaddr);
    inet_pton(AF_INET, "127.0.0.1", &m.imr_address);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m);
  }
  std::vector<std::string> collect(int ms)
  {
    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[9000];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n < ssize_t(sizeof(iphdr) + sizeof(udphdr))) continue;
      auto *ip = reinterpret_cast<iphdr *>(buf);
      auto *udp = reinterpret_cast<udphdr *>(buf + ip->ihl * 4);
      if (ntohs(udp->dest) == 1900) got.emplace_back(reinterpret_cast<char *>(udp + 1), buf + n);
    }
    return got;
  }
  ~raw_capture() { close(fd); }
};

TEST_F(Wire, DiscoveryTakesOnlyWhatPassesItsChecks)
{
  raw_capture raw;
  ASSERT_GE(raw.fd, 0);
  ASSERT_TRUE(cp.start({kMs2}));
  ASSERT_TRUE(tarvo_cp_discovery_search_async(&cp.ctx, 1));
  const std::string msearch = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: " +
                              std::string(kMs2) + "\r\n\r\n";
  EXPECT_EQ(raw.collect(500), (std::vector<std::string>{msearch, msearch}));

  const std::string loc = dev.url("/desc.xml"), usn = std::string(kUdn) + "::" + kMs2;
  uint16_t port = cp.search_port();
  // No EXT; a LOCATION that names another host than the sender, or not
  // http; an announcement of an older version than the target: all dropped
  // without a fetch.
  send_udp("127.0.0.1", "127.0.0.1", port, search_response(loc, kMs2, usn, false));
  std::string elsewhere = "http://10.1.2.3:" + std::to_string(dev.port) + "/desc.xml";
  send_udp("127.0.0.1", "127.0.0.1", port, search_response(elsewhere, kMs2, usn));
  send_udp("127.0.0.1", "127.0.0.1", port, search_response("file:///etc/passwd", kMs2, usn));
  send_udp("127.0.0.1", "239.255.255.250", 1900, alive(loc, kMs1, std::string(kUdn) + "::" + kMs1));
  usleep(500000);
  EXPECT_EQ(cp.seen.count(&recorder::added), 0u);
  EXPECT_TRUE(dev.got().empty());

  // A proper alive is taken once; a second one within the refetch time
  // causes no fetch; a byebye removes the device.
  send_udp("127.0.0.1", "239.255.255.250", 1900, alive(loc, kMs2, usn));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::added) == 1; }, 5000));
  EXPECT_EQ(cp.seen.get(&recorder::added)[0], std::string(kUdn) + " Fixture " + loc);
  send_udp("127.0.0.1", "239.255.255.250", 1900, alive(loc, kMs2, usn));
  send_udp("127.0.0.1", "127.0.0.1", port, search_response(loc, kMs2, std::string(kUdn) + "x::" + kMs2));
  usleep(500000);
  EXPECT_EQ(dev.got("GET").size(), 2u);  // the second for the USN that matches no device
  EXPECT_EQ(cp.seen.count(&recorder::added), 1u);
  sys_str_list udns = nullptr;
  ASSERT_TRUE(tarvo_cp_get_udn_list(&cp.ctx, &udns));
  ASSERT_TRUE(udns[0] && !udns[1]);
  EXPECT_STREQ(udns[0], kUdn);
  sys_str_list_free(udns);
  char *url = nullptr;
  ASSERT_TRUE(tarvo_cp_get_control_url(&cp.ctx, kUdn, kCd1, &url));
  EXPECT_EQ(std::string(url), dev.url("/control"));
  sys_alloc_free(url);
  // Actions go through the shared client to the known device only.
  sys_str_list names = nullptr, values = nullptr;
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, "uuid:nobody", kCd1, "Echo", "", &names, &values), 501u);
  EXPECT_TRUE(dev.got("POST").empty());
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, kUdn, kCd1, "Echo", "", &names, &values), 0u);
  ASSERT_TRUE(values && values[0]);
  EXPECT_STREQ(values[0], "fixture");
  sys_str_list_free(names);
  sys_str_list_free(values);
  EXPECT_EQ(dev.got("POST").size(), 1u);
  send_udp("127.0.0.1", "239.255.255.250", 1900, byebye(kMs2, usn));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::removed) == 1; }, 5000));
}

TEST_F(Wire, SubscriptionRequestsAndEventOrder)
{
  found();
  dev.granted = 0;
  uint16_t ep = cp.event_port();
  // A request for version 1 of a service the device serves as version 2:
  // subscribed once, then renewed, never subscribed again.
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kCd1, 0, recorder::on_event, &cp.seen));
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kCd1, 0, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return dev.got("SUBSCRIBE").size() == 2; }, 5000));
  std::vector<std::string> subs = dev.got("SUBSCRIBE");
  EXPECT_EQ(subs[0], sub_line() + "CALLBACK: <http://127.0.0.1:" + std::to_string(ep) +
                         "/>\r\nNT: upnp:event\r\nTIMEOUT: Second-infinite\r\nCONNECTION: close\r\n\r\n");
  EXPECT_EQ(subs[1], sub_line() + "SID: uuid:sub-1\r\nTIMEOUT: Second-infinite\r\nCONNECTION: close\r\n\r\n");

  // Events in order are delivered; a gap is not, and the subscription
  // starts over.
  const std::string ok = "HTTP/1.1 200 OK\r\nCONNECTION: close\r\nCONTENT-LENGTH: 0\r\n\r\n";
  EXPECT_EQ(http_exchange(ep, notify(ep, "uuid:sub-1", 0, "<e:propertyset>zero</e:propertyset>")), ok);
  EXPECT_EQ(http_exchange(ep, notify(ep, "uuid:sub-1", 1)), ok);
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 2; }, 5000));
  EXPECT_EQ(cp.seen.get(&recorder::events),
            (std::vector<std::string>{std::string(kUdn) + " urn:schemas-upnp-org:service:ContentDirectory:2 0",
                                      std::string(kUdn) + " urn:schemas-upnp-org:service:ContentDirectory:2 1"}));
  EXPECT_EQ(cp.seen.get(&recorder::bodies)[0], "<e:propertyset>zero</e:propertyset>");
  EXPECT_EQ(http_exchange(ep, notify(ep, "uuid:sub-1", 3)), ok);
  ASSERT_TRUE(eventually([&] { return dev.got("SUBSCRIBE").size() == 3; }, 5000));
  std::vector<std::string> all = dev.got();
  EXPECT_EQ(all[all.size() - 2], "UNSUBSCRIBE /event HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(dev.port) +
                                     "\r\nSID: uuid:sub-1\r\nCONNECTION: close\r\n\r\n");
  EXPECT_NE(all.back().find("\r\nCALLBACK: <http://127.0.0.1:"), std::string::npos);
  EXPECT_EQ(cp.seen.count(&recorder::events), 2u);
  // The new subscription takes SEQ 0 again; the old SID is refused.
  EXPECT_EQ(http_exchange(ep, notify(ep, "uuid:sub-2", 0)), ok);
  EXPECT_EQ(http_exchange(ep, notify(ep, "uuid:sub-1", 4)).rfind("HTTP/1.1 412 Invalid SID\r\n", 0), 0u);
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 3; }, 5000));

  // An infinite grant is never renewed; a finite one is, ahead of its end.
  usleep(6500000);
  EXPECT_EQ(dev.got("SUBSCRIBE").size(), 3u);
  ASSERT_TRUE(tarvo_cp_event_unsubscribe(&cp.ctx, kUdn, kCd1));
  dev.granted = 12;
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kCd1, 12, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return dev.got("SUBSCRIBE").size() == 5; }, 9000));
  subs = dev.got("SUBSCRIBE");
  EXPECT_NE(subs[3].find("\r\nTIMEOUT: Second-12\r\n"), std::string::npos);
  EXPECT_EQ(subs[4], sub_line() + "SID: uuid:sub-3\r\nTIMEOUT: Second-12\r\nCONNECTION: close\r\n\r\n");
  EXPECT_EQ(dev.got("UNSUBSCRIBE").size(), 2u);
}

TEST_F(Wire, ListenerAnswersEachFault)
{
  found();
  uint16_t ep = cp.event_port();
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kCd1, 300, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return dev.got("SUBSCRIBE").size() == 1; }, 5000));
  const std::string host = "HOST: 127.0.0.1\r\n", base = "NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: uuid:sub-1\r\n";
  struct fault {
    std::string request, status;
  };
  std::vector<fault> faults = {
      {"GET / HTTP/1.1\r\n" + host + "\r\n", "501 method not implemented"},
      {"NOTIFY http:// HTTP/1.1\r\n\r\n", "400 bad request"},
      {"NOTIFY / HTTP/1.1\r\n" + base + "SEQ: 0\r\nCONTENT-LENGTH: 0\r\n\r\n", "400 HTTP/1.1 requests must include a host name"},
      {"NOTIFY / HTTP/1.1\r\n" + host + base + "SEQ: 0\r\n\r\n", "411 I need Content-Length"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "TRANSFER-ENCODING: gzip\r\n\r\n", "505 I do not accept Transfer-Encoding"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "CONTENT-LENGTH: x\r\n\r\n", "412 invalid Content-Length"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "NT: upnp:other\r\n\r\n", "412 invalid NT"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "NTS: ssdp:alive\r\n\r\n", "412 invalid NTS"},
      {"NOTIFY / HTTP/1.1\r\n" + host + base + "SEQ: -1\r\n\r\n", "412 invalid SEQ"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "NT: upnp:event\r\nNTS: upnp:propchange\r\nSEQ: 0\r\nCONTENT-LENGTH: 0\r\n\r\n", "412 I need SID"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "SID: uuid:sub-1\r\nSEQ: 0\r\nCONTENT-LENGTH: 0\r\n\r\n", "400 I need NT and NTS"},
      {"NOTIFY / HTTP/1.1\r\n" + host + base + "CONTENT-LENGTH: 0\r\n\r\n", "400 I need SEQ"},
      {"NOTIFY / HTTP/1.1\r\n" + host + "NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: uuid:nobody\r\nSEQ: 0\r\nCONTENT-LENGTH: 0\r\n\r\n",
       "412 Invalid SID"},
      // A body over the cap is refused before it is read, sized or chunked.
      {"NOTIFY / HTTP/1.1\r\n" + host + base + "SEQ: 0\r\nCONTENT-LENGTH: 4194305\r\n\r\n", "400 bad request"},
      {"NOTIFY / HTTP/1.1\r\n" + host + base + "SEQ: 0\r\nTRANSFER-ENCODING: chunked\r\n\r\n400001\r\n", "400 bad request"},
  };
  std::vector<std::future<std::string>> answers;
  for (const fault &f : faults) answers.push_back(std::async(std::launch::async, [&] { return http_exchange(ep, f.request); }));
  for (size_t i = 0; i < faults.size(); i++) {
    std::string a = answers[i].get();
    EXPECT_EQ(a.substr(0, a.find("\r\n")), "HTTP/1.1 " + faults[i].status) << faults[i].request;
    EXPECT_NE(a.find("\r\nCONNECTION: close\r\n"), std::string::npos) << faults[i].request;
  }
  // Kept alive: two messages on one connection, a body of exactly the cap
  // included.
  std::string big(CP_EVENT_BODY_MAX, 'x');
  std::string kept = notify(ep, "uuid:sub-1", 0, big);
  kept.replace(kept.find("CONNECTION: close\r\n"), 19, "");
  std::string two = http_exchange(ep, kept + notify(ep, "uuid:sub-1", 1), 2);
  EXPECT_EQ(two, "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 0\r\n\r\nHTTP/1.1 200 OK\r\nCONNECTION: close\r\nCONTENT-LENGTH: 0\r\n\r\n");
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 2; }, 5000));
  EXPECT_EQ(cp.seen.get(&recorder::bodies)[0].size(), big.size());
}

TEST_F(Wire, ShortLivedAnnouncementsKeepTheDevice)
{
  ASSERT_TRUE(cp.start({kMs2}));
  const std::string loc = dev.url("/desc.xml"), usn = std::string(kUdn) + "::" + kMs2;
  // Max-age 3 renewed every second: never expires, fetched once.
  for (int i = 0; i < 9; i++) {
    send_udp("127.0.0.1", "239.255.255.250", 1900, alive(loc, kMs2, usn, 3));
    usleep(1000000);
  }
  EXPECT_EQ(cp.seen.count(&recorder::added), 1u);
  EXPECT_EQ(cp.seen.count(&recorder::removed), 0u);
  EXPECT_EQ(dev.got("GET").size(), 1u);
  // Silence: the device expires.
  EXPECT_TRUE(eventually([&] { return cp.seen.count(&recorder::removed) == 1; }, 10000));
}

TEST_F(Wire, TheListHoldsAtMost256Devices)
{
  ASSERT_TRUE(cp.start({kMs2}));
  auto udn = [](int i) { return "uuid:dev-" + std::to_string(i); };
  for (int i = 0; i <= 256; i++) dev.docs["/d" + std::to_string(i)] = description(udn(i));
  for (int i = 0; i <= 256; i++) {
    send_udp("127.0.0.1", "127.0.0.1", cp.search_port(),
             search_response(dev.url("/d" + std::to_string(i)), kMs2, udn(i) + "::" + kMs2));
    if (i % 32 == 31) usleep(100000);  // the socket's buffer is not flooded
  }
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::added) == 256; }, 20000));
  usleep(500000);
  EXPECT_EQ(cp.seen.count(&recorder::added), 256u);
  // One goes; the one left out now gets in.
  send_udp("127.0.0.1", "239.255.255.250", 1900, byebye(kMs2, udn(0) + "::" + kMs2));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::removed) == 1; }, 5000));
  send_udp("127.0.0.1", "127.0.0.1", cp.search_port(), search_response(dev.url("/d256"), kMs2, udn(256) + "::" + kMs2));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::added) == 257; }, 5000));
}

TEST_F(Wire, SlowDevicesHoldNeitherReadersNorTheEnd)
{
  found();
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kCd1, 300, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return dev.got("SUBSCRIBE").size() == 1; }, 5000));
  // From now on the device takes connections and never answers; the
  // worker is fetching from it again (a new location) when a reader asks.
  dev.silent = true;
  send_udp("127.0.0.1", "127.0.0.1", cp.search_port(),
           search_response(dev.url("/desc.xml?moved"), kMs2, std::string(kUdn) + "::" + kMs2));
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard<std::mutex> l(dev.mu);
        return !dev.held.empty();
      },
      tarvo_test::kLiveMs));
  // Not a speed: neither the reader nor the end waits for the fetch's
  // read to time out, as they once did.
  auto fetching = std::chrono::steady_clock::now();
  auto before_the_fetch_gives_up = [&] {
    EXPECT_LT(std::chrono::steady_clock::now() - fetching, std::chrono::milliseconds(CP_FETCH_READ_TIMEOUT_MS));
  };
  char *url = nullptr;
  ASSERT_TRUE(tarvo_cp_get_control_url(&cp.ctx, kUdn, kCd1, &url));
  sys_alloc_free(url);
  before_the_fetch_gives_up();
  // An event connection left open.
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(cp.event_port());
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_TRUE(eventually([&] { return tarvo_test::accept_queue(cp.event_port()) == 0; }, tarvo_test::kLiveMs)) << "not taken";
  tarvo_cp_end(&cp.ctx);
  before_the_fetch_gives_up();
  EXPECT_EQ(cp.ctx, nullptr);
  close(s);
}

TEST(WireStateless, DescriptionsAreCappedAndTargetsChecked)
{
  CP_NEED_NET();
  fixture_device dev;
  std::string xml = description(kUdn);
  std::string pad(CP_FETCH_BODY_MAX - xml.size() - 7, ' ');
  dev.docs["/max"] = xml + "<!--" + pad + "-->";
  dev.docs["/over"] = xml + "<!--" + pad + " -->";
  ASSERT_EQ(dev.docs["/max"].size(), CP_FETCH_BODY_MAX);
  upnp_desc_rec *d = nullptr;
  ASSERT_TRUE(upnp_cp_get_desc(dev.url("/max").c_str(), &d));
  EXPECT_STREQ(d->devices[0]->UDN, kUdn);
  EXPECT_STREQ(d->devices[0]->services[0]->eventSubURL, dev.url("/event").c_str());
  upnp_desc_free(d);
  EXPECT_FALSE(upnp_cp_get_desc(dev.url("/over").c_str(), &d));
  EXPECT_EQ(d, nullptr);
  dev.docs["/scpd"] = "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
                      "<specVersion><major>1</major><minor>0</minor></specVersion><actionList><action>"
                      "<name>Echo</name></action></actionList><serviceStateTable><stateVariable><name>S</name>"
                      "<dataType>string</dataType></stateVariable></serviceStateTable></scpd>";
  upnp_desc_scpd_rec *scpd = nullptr;
  ASSERT_TRUE(upnp_cp_get_desc_scpd(dev.url("/scpd").c_str(), &scpd));
  upnp_desc_scpd_free(scpd);
  EXPECT_EQ(upnp_cp_action(dev.url("/control").c_str(), "urn:schemas-upnp-org:service:ContentDirectory:2", "Echo", "", nullptr, nullptr), 0u);
  // Only device URNs and UDNs are targets of the device list.
  tarvo_cp_ctx *ctx = nullptr;
  char all[] = "ssdp:all";
  char *targets[] = {all, nullptr};
  EXPECT_FALSE(tarvo_cp_start(&ctx, nullptr, 0, targets));
  EXPECT_EQ(ctx, nullptr);
}

}  // namespace
