// SSDP: the search parser and matcher, announcements and answers seen on
// the group address (searches answered while a set goes out), suspend
// and resume, the address change, and the announcements on every address
// as another host sees them.
#include "gena_test.h"
#include "tarvo_live.h"

#include <algorithm>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

using namespace gena_test;

namespace {

const std::string kDeviceType = "urn:schemas-upnp-org:device:MediaServer:2";
const std::string kOtherType = "urn:schemas-upnp-org:service:Other:1";

struct parsed {
  bool ok = false;
  std::string target;
  uint32_t mx = 0;
};

parsed parse_search(const std::string &d)
{
  parsed p;
  char *t = nullptr;
  p.ok = device_ssdp_search_parse(d.data(), uint32_t(d.size()), &t, &p.mx);
  if (t) p.target = t;
  sys_alloc_free(t);
  return p;
}

TEST(SsdpSearch, AcceptsOnlyWellFormedDiscoveries)
{
  parsed p = parse_search(search("ssdp:all  ", "3"));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.target, "ssdp:all");
  EXPECT_EQ(p.mx, 3u);
  // Header names in any case, the host without its port, a folded line.
  p = parse_search("M-SEARCH * HTTP/1.1\r\nhost:239.255.255.250\r\nman: \"ssdp:discover\"\r\n"
                   "mx:0\r\nst:\r\n upnp:rootdevice\r\n\r\n");
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.target, "upnp:rootdevice");

  const std::string ok_headers = "MAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n";
  const std::string refused[] = {
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: ssdp:discover\r\nMX: 1\r\nST: ssdp:all\r\n\r\n",
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"SSDP:DISCOVER\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n",
      "M-SEARCH * HTTP/1.1\r\nHOST: 10.0.0.1:1900\r\n" + ok_headers + "\r\n",
      "M-SEARCH * HTTP/1.1\r\n" + ok_headers + "\r\n",
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n",
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: x\r\nST: ssdp:all\r\n\r\n",
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST:  \r\n\r\n",
      "M-SEARCH * HTTP/1.0\r\nHOST: 239.255.255.250:1900\r\n" + ok_headers + "\r\n",
      "M-SEARCH / HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n" + ok_headers + "\r\n",
      "m-search * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n" + ok_headers + "\r\n",
      "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n" + ok_headers + "\r\n",
      // A NUL ends the text: the MX and ST after it are not seen.
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n" +
          std::string(1, '\0') + "MX: 1\r\nST: ssdp:all\r\n\r\n",
      "",
  };
  for (const std::string &d : refused) EXPECT_FALSE(parse_search(d).ok) << d;
}

struct answer {
  std::string st, usn;
  bool operator==(const answer &o) const { return st == o.st && usn == o.usn; }
};

std::vector<answer> answers(const upnp_desc_rec *desc, const std::string &target)
{
  std::vector<answer> out;
  uint32_t n = device_ssdp_search_answers(
      desc, target.c_str(),
      [](void *u, const char *st, const char *udn, const char *suffix) {
        static_cast<std::vector<answer> *>(u)->push_back(
            {st, std::string(udn) + (suffix ? std::string("::") + suffix : "")});
        return 1;
      },
      &out);
  EXPECT_EQ(n, out.size());
  return out;
}

TEST(SsdpSearch, AnswersByTargetAgainstTheDescription)
{
  upnp_desc_rec *desc = nullptr;
  ASSERT_TRUE(upnp_desc_parse(description().c_str(), &desc));
  const std::string udn = kUdn;
  EXPECT_EQ(answers(desc, "ssdp:all"),
            (std::vector<answer>{{"upnp:rootdevice", udn + "::upnp:rootdevice"},
                                 {udn, udn},
                                 {kDeviceType, udn + "::" + kDeviceType},
                                 {kServiceType, udn + "::" + kServiceType},
                                 {kOtherType, udn + "::" + kOtherType}}));
  EXPECT_EQ(answers(desc, "upnp:rootdevice"),
            (std::vector<answer>{{"upnp:rootdevice", udn + "::upnp:rootdevice"}}));
  EXPECT_EQ(answers(desc, udn), (std::vector<answer>{{udn, udn}}));
  // Older versions are answered with the version asked for in ST and the
  // served one in USN; newer ones are not answered.
  const std::string ms1 = "urn:schemas-upnp-org:device:MediaServer:1";
  EXPECT_EQ(answers(desc, ms1), (std::vector<answer>{{ms1, udn + "::" + kDeviceType}}));
  const std::string test1 = "urn:schemas-upnp-org:service:Test:1";
  EXPECT_EQ(answers(desc, test1), (std::vector<answer>{{test1, udn + "::" + kServiceType}}));
  for (const char *none : {"urn:schemas-upnp-org:device:MediaServer:3", "uuid:other",
                           "urn:schemas-upnp-org:service:Test:3", "upnp:all", "ssdp:ALL"})
    EXPECT_TRUE(answers(desc, none).empty()) << none;
  upnp_desc_free(desc);
}

// --- with a running device in the namespace ---

std::string alive(uint16_t port, const std::string &server, const std::string &nt,
                  const std::string &usn, const std::string &host = "127.0.0.1")
{
  return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
         "LOCATION: http://" + host + ":" + std::to_string(port) + "/\r\nNT: " + nt +
         "\r\nNTS: ssdp:alive\r\nSERVER: " + server + "\r\nUSN: " + usn + "\r\n\r\n";
}

std::string byebye(const std::string &nt, const std::string &usn)
{
  return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: " + nt +
         "\r\nNTS: ssdp:byebye\r\nUSN: " + usn + "\r\n\r\n";
}

std::vector<std::string> raw(const std::vector<message> &ms)
{
  std::vector<std::string> out;
  for (const message &m : ms) out.push_back(m.raw);
  return out;
}

size_t count_of(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

size_t count_nts(const std::vector<message> &ms, const std::string &nts)
{
  return size_t(std::count_if(ms.begin(), ms.end(), [&](const message &m) { return m.header("NTS") == nts; }));
}

class Ssdp : public ::testing::Test {
 protected:
  void SetUp() override { GENA_NEED_NET(); }

  void start()
  {
    ASSERT_TRUE(d.start(true));
    server = d.ctx->server_name;
  }

  device d;
  std::string server;
};

TEST_F(Ssdp, StartSaysByebyeThenAliveTwice)
{
  udp group("127.0.0.1", 1900, true);
  ASSERT_GE(group.sock, 0);
  start();
  const std::string udn = kUdn;
  std::vector<std::string> set[2];
  for (int round = 0; round < 2; round++) {
    set[0].push_back(byebye("upnp:rootdevice", udn + "::upnp:rootdevice"));
    set[0].push_back(byebye(udn, udn));
    set[0].push_back(byebye(kDeviceType, udn + "::" + kDeviceType));
    set[0].push_back(byebye(kServiceType, udn + "::" + kServiceType));
    set[0].push_back(byebye(kOtherType, udn + "::" + kOtherType));
    set[1].push_back(alive(d.port(), server, "upnp:rootdevice", udn + "::upnp:rootdevice"));
    set[1].push_back(alive(d.port(), server, udn, udn));
    set[1].push_back(alive(d.port(), server, kDeviceType, udn + "::" + kDeviceType));
    set[1].push_back(alive(d.port(), server, kServiceType, udn + "::" + kServiceType));
    set[1].push_back(alive(d.port(), server, kOtherType, udn + "::" + kOtherType));
  }
  std::vector<std::string> want = set[0];
  want.insert(want.end(), set[1].begin(), set[1].end());
  // How soon the first alive follows the start's byebyes is bench_device_ssdp's.
  EXPECT_EQ(raw(group.collect(tarvo_test::kLiveMs, want.size())), want);
  // The end says byebye again.
  tarvo_device_end(&d.ctx);
  d.started = false;
  EXPECT_EQ(raw(group.collect(1000)), set[0]);
}

TEST_F(Ssdp, SearchForAllIsAnsweredEntryByEntry)
{
  start();
  udp client;
  ASSERT_TRUE(client.send(search("ssdp:all")));
  std::vector<message> got = client.collect(1500);
  ASSERT_EQ(got.size(), 5u);
  const std::string udn = kUdn;
  EXPECT_EQ(got[0].raw, "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://127.0.0.1:" +
                            std::to_string(d.port()) + "/\r\nSERVER: " + server +
                            "\r\nST: upnp:rootdevice\r\nUSN: " + udn + "::upnp:rootdevice\r\n\r\n");
  EXPECT_EQ(got[4].header("ST"), kOtherType);
  EXPECT_EQ(got[4].header("USN"), udn + "::" + kOtherType);
  // Paced: 50 ms after each answer.
  EXPECT_GE(got[4].at_ms - got[0].at_ms, 150);

  ASSERT_TRUE(client.send(search("urn:schemas-upnp-org:device:MediaServer:1")));
  got = client.collect(1000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].header("ST"), "urn:schemas-upnp-org:device:MediaServer:1");
  EXPECT_EQ(got[0].header("USN"), udn + "::" + kDeviceType);
}

TEST_F(Ssdp, ASearchDuringTheAliveSetIsAnsweredBeforeTheSetIsOut)
{
  udp group("127.0.0.1", 1900, true);
  start();
  udp client;
  // The start's byebyes are out; the ten alives take 450 ms at least.
  ASSERT_EQ(count_nts(group.collect(tarvo_test::kLiveMs, 10), "ssdp:byebye"), 10u);
  ASSERT_TRUE(client.send(search("upnp:rootdevice")));
  std::vector<message> answer = client.collect(tarvo_test::kLiveMs, 1);
  ASSERT_EQ(answer.size(), 1u);
  // Taken between two alives: it comes before the last one.  The group
  // carries the search too.
  std::vector<message> rest = group.collect(tarvo_test::kLiveMs, 11);
  ASSERT_EQ(count_nts(rest, "ssdp:alive"), 10u);
  int64_t last_alive = 0;
  for (const message &m : rest)
    if (m.header("NTS") == "ssdp:alive") last_alive = m.at_ms;
  EXPECT_LT(answer[0].at_ms, last_alive);
  EXPECT_TRUE(client.collect(100).empty());
}

TEST_F(Ssdp, AnswersWaitARandomTimeBelowMx)
{
  start();
  udp client;
  for (int i = 0; i < 3; i++) {
    int64_t sent = parse("").at_ms;
    ASSERT_TRUE(client.send(search("upnp:rootdevice", "1")));
    std::vector<message> got = client.collect(3000);
    ASSERT_EQ(got.size(), 1u);
    // Below 1000 ms, with room for a busy machine.
    EXPECT_LT(got[0].at_ms - sent, 2500);
  }
}

TEST_F(Ssdp, DropsWhatItMustNotAnswer)
{
  start();
  udp low("127.0.0.1", 1000), ssdp_port("127.0.0.1", 1900), client;
  ASSERT_GE(low.sock, 0);
  ASSERT_GE(ssdp_port.sock, 0);
  low.send(search("upnp:rootdevice"));
  ssdp_port.send(search("upnp:rootdevice"));
  std::string full = search("upnp:rootdevice");
  full.insert(full.size() - 2, "X: " + std::string(8192 - full.size() - 5, 'x') + "\r\n");
  ASSERT_EQ(full.size(), 8192u);
  client.send(full);
  client.send(search("urn:schemas-upnp-org:device:MediaServer:3"));
  EXPECT_TRUE(low.collect(1200).empty());
  EXPECT_TRUE(client.collect(100).empty());
  // One byte less fits.
  full.erase(full.size() - 5, 1);
  client.send(full);
  EXPECT_EQ(client.collect(1000).size(), 1u);
}

TEST_F(Ssdp, ConcurrentAnswersAreCapped)
{
  start();
  udp client;
  for (int i = 0; i < 40; i++) client.send(search("upnp:rootdevice", "5"));
  size_t n = client.collect(6500).size();
  EXPECT_GE(n, size_t(DEVICE_SSDP_ANSWERS_MAX));
  EXPECT_LE(n, size_t(DEVICE_SSDP_ANSWERS_MAX) + 4);
}

TEST_F(Ssdp, SuspendAndResume)
{
  udp group("127.0.0.1", 1900, true);
  start();
  group.collect(2500);
  udp client;
  EXPECT_TRUE(tarvo_device_send_byebye(&d.ctx));
  tarvo_device_ssdp_close_socket(&d.ctx);
  EXPECT_EQ(count_nts(group.collect(1000), "ssdp:byebye"), 10u);
  client.send(search("upnp:rootdevice"));
  EXPECT_TRUE(client.collect(1500).empty());

  tarvo_device_ssdp_open_socket(&d.ctx);
  tarvo_device_ssdp_open_socket(&d.ctx);  // opening again replaces, never doubles
  EXPECT_TRUE(tarvo_device_send_alive(&d.ctx));
  EXPECT_EQ(count_nts(group.collect(1000), "ssdp:alive"), 10u);
  client.send(search("upnp:rootdevice"));
  EXPECT_EQ(client.collect(1000).size(), 1u);
  EXPECT_EQ(d.ctx->ssdp_sockets.len, 1u);

  tarvo_device_ctx *none = nullptr;
  EXPECT_FALSE(tarvo_device_send_alive(&none));
  EXPECT_FALSE(tarvo_device_send_byebye(nullptr));
  tarvo_device_ssdp_close_socket(&none);
}

TEST_F(Ssdp, ASuspendDuringTheAliveSetIsTheLastWordUntilTheResume)
{
  udp group("127.0.0.1", 1900, true);
  start();
  std::vector<message> got = group.collect(150);  // the start's byebyes, then the first alives
  ASSERT_GT(count_nts(got, "ssdp:alive"), 0u);
  ASSERT_LT(count_nts(got, "ssdp:alive"), 10u);
  tarvo_device_ssdp_suspend(&d.ctx);
  got = group.collect(1000);
  auto bye = std::find_if(got.begin(), got.end(), [](const message &m) { return m.header("NTS") == "ssdp:byebye"; });
  std::vector<message> after(bye, got.end());
  EXPECT_EQ(count_nts(after, "ssdp:byebye"), 10u);
  EXPECT_EQ(count_nts(after, "ssdp:alive"), 0u);
  udp client;
  client.send(search("upnp:rootdevice"));
  EXPECT_TRUE(client.collect(1000).empty());
  // Nor does a caller's alive set go out while suspended.
  tarvo_device_send_alive(&d.ctx);
  EXPECT_EQ(count_nts(group.collect(300), "ssdp:alive"), 0u);

  tarvo_device_ssdp_resume(&d.ctx);
  EXPECT_EQ(count_nts(group.collect(1500), "ssdp:alive"), 10u);
  client.send(search("upnp:rootdevice"));
  EXPECT_EQ(client.collect(1000).size(), 1u);
}

TEST_F(Ssdp, DisabledStaysSilent)
{
  udp group("127.0.0.1", 1900, true);
  ASSERT_TRUE(d.start(false));
  udp client;
  client.send(search("ssdp:all"));
  EXPECT_TRUE(client.collect(1200).empty());
  EXPECT_TRUE(group.collect(100).size() <= 1u);  // only the search itself
  EXPECT_FALSE(tarvo_device_send_alive(&d.ctx));
  EXPECT_FALSE(tarvo_device_send_byebye(&d.ctx));
}

TEST_F(Ssdp, NewAddressTakesOverFromLoopback)
{
  udp lo_group("127.0.0.1", 1900, true);
  start();
  EXPECT_EQ(count_nts(lo_group.collect(tarvo_test::kLiveMs, 20), "ssdp:alive"), 10u);  // after ten byebyes
  if (!sh("ip link add gena0 type veth peer name gena1"))
    GTEST_SKIP() << "no veth interfaces here";
  struct cleanup {
    ~cleanup() { sh("ip link del gena0"); }
  } c;
  ASSERT_TRUE(sh("ip addr add 10.9.0.1/24 dev gena0 && ip link set gena0 up && ip link set gena1 up"));
  udp v_group("10.9.0.1", 1900, true);
  ASSERT_GE(v_group.sock, 0);
  // The timer thread sees the new list within seconds; then the SSDP
  // thread says byebye and alive over it, loopback left out.
  std::vector<std::string> got = raw(v_group.collect(6000));
  EXPECT_GE(d.ip_changes.load(), 1);
  const std::string udn = kUdn;
  EXPECT_NE(std::find(got.begin(), got.end(),
                      alive(d.port(), server, "upnp:rootdevice", udn + "::upnp:rootdevice", "10.9.0.1")),
            got.end());
  EXPECT_EQ(count_nts(lo_group.collect(100), "ssdp:alive"), 0u);
  // Searches on the new address are answered with its location.
  udp client("10.9.0.1");
  client.send(search("upnp:rootdevice"));
  std::vector<message> answers = client.collect(1000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].header("LOCATION"), "http://10.9.0.1:" + std::to_string(d.port()) + "/");
}

// A host behind two interfaces of the device's: a thread in a network
// namespace of its own holding the far ends of two veth pairs, with a
// socket in the group on each.
struct far_host {
  std::thread th;
  std::atomic<pid_t> tid{0};
  std::atomic<int> state{0};  // 1 namespace made, 2 links moved, 3 listening, -1 failed
  std::atomic<bool> done{false};
  std::vector<message> got[2];
  std::atomic<size_t> heard{0};  // on both links

  far_host()
  {
    th = std::thread([this] {
      if (unshare(CLONE_NEWNET) != 0) {
        state = -1;
        return;
      }
      tid = gettid();
      state = 1;
      while (state == 1) usleep(10000);
      if (state < 0 || !sh("ip link set lo up && ip addr add 10.20.0.2/24 dev ssdpa1 && ip link set ssdpa1 up && "
                           "ip addr add 10.21.0.2/24 dev ssdpb1 && ip link set ssdpb1 up")) {
        state = -1;
        return;
      }
      udp a("10.20.0.2", 1900, true), b("10.21.0.2", 1900, true);
      state = a.sock >= 0 && b.sock >= 0 ? 3 : -1;
      while (!done) {
        for (int k = 0; k < 2; k++) {
          std::vector<message> m = (k ? b : a).collect(50);
          got[k].insert(got[k].end(), m.begin(), m.end());
          heard += m.size();
        }
      }
    });
  }
  ~far_host()
  {
    done = true;
    if (state == 1) state = -1;
    if (th.joinable()) th.join();
  }
  bool wait(int want)
  {
    return tarvo_test::eventually([&] { return state == want || state < 0; }) && state == want;
  }
};

TEST_F(Ssdp, AliveAndByebyeGoOutOnEveryAddress)
{
  if (!sh("ip link add ssdpa0 type veth peer name ssdpa1 && ip link add ssdpb0 type veth peer name ssdpb1"))
    GTEST_SKIP() << "no veth interfaces here";
  struct cleanup {
    ~cleanup() { sh("ip link del ssdpa0 2>/dev/null; ip link del ssdpb0 2>/dev/null"); }
  } c;
  far_host far;
  ASSERT_TRUE(far.wait(1));
  std::string tid = std::to_string(far.tid);
  bool moved = sh("ip link set ssdpa1 netns " + tid + " && ip link set ssdpb1 netns " + tid);
  far.state = moved ? 2 : -1;
  ASSERT_TRUE(moved);
  ASSERT_TRUE(sh("ip addr add 10.20.0.1/24 dev ssdpa0 && ip link set ssdpa0 up && "
                 "ip addr add 10.21.0.1/24 dev ssdpb0 && ip link set ssdpb0 up"));
  ASSERT_TRUE(far.wait(3));
  ASSERT_TRUE(tarvo_test::eventually([] {
    int status = -1;
    std::string links = tarvo_test::command_output("ip -o link show ssdpa0; ip -o link show ssdpb0", &status);
    return count_of(links, "state UP ") == 2;
  })) << "the links do not carry";
  start();
  std::string port = std::to_string(d.port());
  // On each link: ten byebyes and ten alives at the start, ten byebyes at the end.
  EXPECT_TRUE(tarvo_test::eventually([&] { return far.heard >= 40; })) << far.heard;
  tarvo_device_end(&d.ctx);
  d.started = false;
  EXPECT_TRUE(tarvo_test::eventually([&] { return far.heard >= 60; })) << far.heard;
  far.done = true;
  far.th.join();
  const char *ips[2] = {"10.20.0.1", "10.21.0.1"};
  for (int k = 0; k < 2; k++) {
    size_t alive = 0;
    for (const message &m : far.got[k])
      if (m.header("NTS") == "ssdp:alive") {
        alive++;
        EXPECT_EQ(m.header("LOCATION"), "http://" + std::string(ips[k]) + ":" + port + "/");
      }
    // Twice the five entries; byebye twice at the start and twice at the end.
    EXPECT_EQ(alive, 10u) << ips[k];
    EXPECT_EQ(count_nts(far.got[k], "ssdp:byebye"), 20u) << ips[k];
  }
}

}  // namespace
