// The whole server started and stopped in a network namespace of its own:
// what a start reads and serves, a start that fails leaving nothing
// behind, service modules, the default shares, and start and stop while
// clients browse and download.
#include <gtest/gtest.h>
#include <vennard/conf_store.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "media_test.h"
#include "scan_test.h"
#include "tarvo_test.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

#define NEED_PRIVATE_NET()                                                               \
  do {                                                                                   \
    if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();  \
  } while (0)

constexpr uint16_t kUpnpPort = 30000, kHttpPort = 30001;

size_t fds_open()
{
  size_t n = 0;
  for ([[maybe_unused]] auto &e : fs::directory_iterator("/proc/self/fd")) n++;
  return n;
}

size_t threads_running()
{
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("Threads:", 0) == 0) return std::stoul(line.substr(8));
  return 0;
}

// A laid-out data folder whose server keeps to its own shares.
struct installation {
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string(), conf = home + "/conf";
  server_rec s{};
  bool running = false;
  installation()
  {
    std::string cmd = tarvo_test::data_dir() + "/../scripts/layout-data '" + home + "' >/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    for (const char *v : {"TARVO_COMMON_MUSIC", "TARVO_COMMON_PICTURES", "TARVO_COMMON_VIDEO"}) setenv(v, "", 1);
  }
  ~installation() { stop(); }
  bool start() { return running = server_start(&s, home.c_str()) != 0; }
  void stop()
  {
    if (running) server_stop(&s);
    running = false;
  }
  std::string get(const std::string &key) const { return tarvo_test::read_file(conf + "/" + key); }
  void put(const std::string &key, const std::string &text) const { tarvo_test::write_file(conf + "/" + key, text); }
  // Replaces the first occurrence of from in the device description.
  void description_edit(const std::string &from, const std::string &to) const
  {
    std::string d = get(CONF_KEY_DESCRIPTION);
    size_t at = d.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    put(CONF_KEY_DESCRIPTION, d.replace(at, from.size(), to));
  }
};

std::string get(uint16_t port, const std::string &path, const std::string &headers = "")
{
  media_test::client::answer a =
      media_test::request(port, "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n" + headers + "\r\n");
  return a.ok ? a.status() + "\n" + a.body : "";
}

TEST(ServerStart, ServesTheRewrittenDescriptionAndItsModules)
{
  NEED_PRIVATE_NET();
  installation in;
  std::string log = in.dir / "sm.log";
  setenv("TARVO_TEST_SM_LOG", log.c_str(), 1);
  const char *bin = std::getenv("TARVO_BIN");
  in.description_edit("</serviceList>", "<service tarvo:serviceModule=\"" + std::string(bin ? bin : ".") +
                                            "/libsm_good.so\"><serviceType>urn:schemas-tarvo-org:service:X_Test:1"
                                            "</serviceType><serviceId>urn:tarvo-org:serviceId:X_Test</serviceId>"
                                            "<SCPDURL>x.xml</SCPDURL><controlURL>control/X_Test</controlURL>"
                                            "<eventSubURL>event/X_Test</eventSubURL></service></serviceList>");
  in.put(CONF_KEY_FRIENDLY_NAME, "Den <&> box");
  ASSERT_TRUE(in.start());
  EXPECT_EQ(tarvo_test::read_file(log), "init good\nstart good\n");
  std::string udn = in.get(CONF_KEY_UDN);
  EXPECT_EQ(udn.size(), 41u);
  EXPECT_EQ(udn.rfind("uuid:", 0), 0u);
  std::string desc = get(kUpnpPort, "/");
  EXPECT_NE(desc.find("<friendlyName>Den &lt;&amp;&gt; box</friendlyName>"), std::string::npos) << desc;
  EXPECT_NE(desc.find("<UDN>" + udn + "</UDN>"), std::string::npos) << desc;
  EXPECT_EQ(get(kUpnpPort, "/ConnectionManager.xml").substr(0, 7), "200 OK\n");
  // The module's handler answers at its control URL (its actions all
  // fail with 401), the server's own at theirs.
  media_test::client::answer a = media_test::request(
      kUpnpPort, scan_test::soap_request("/control/X_Test", "urn:schemas-tarvo-org:service:X_Test:1", "Any", ""));
  EXPECT_NE(a.body.find("<errorCode>401</errorCode>"), std::string::npos) << a.head << a.body;
  a = media_test::request(kUpnpPort, scan_test::browse_request("0"));
  EXPECT_EQ(a.status(), "200 OK");
  EXPECT_NE(a.body.find("Container:UserFiles"), std::string::npos);
  in.stop();
  EXPECT_EQ(tarvo_test::read_file(log), "init good\nstart good\nend good\n");
  EXPECT_EQ(get(kUpnpPort, "/"), "");
  unsetenv("TARVO_TEST_SM_LOG");
}

TEST(ServerStart, AFailedStartLeavesNothingBehind)
{
  NEED_PRIVATE_NET();
  {
    // The first start makes what lives as long as the process.
    installation warm;
    ASSERT_TRUE(warm.start());
  }
  size_t fds = fds_open(), threads = threads_running();
  const std::string good = "<friendlyName>F</friendlyName><modelName>M</modelName>";
  struct broken {
    const char *what;
    std::function<void(installation &)> make;
  } cases[] = {
      {"no upnp_port", [](installation &in) { fs::remove(in.conf + "/upnp_port"); }},
      {"an empty serviceList",
       [](installation &in) {
         std::string d = in.get(CONF_KEY_DESCRIPTION);
         in.put(CONF_KEY_DESCRIPTION, d.substr(0, d.find("<serviceList>")) + "<serviceList></serviceList></device></root>");
       }},
      {"two root devices",
       [&](installation &in) { in.description_edit("</device>", "</device><device>" + good + "</device>"); }},
      {"a module that does not start",
       [](installation &in) {
         const char *bin = std::getenv("TARVO_BIN");
         in.description_edit("<service>", "<service tarvo:serviceModule=\"" + std::string(bin ? bin : ".") +
                                              "/libsm_nostart.so\">");
       }},
      {"the device stack's port taken",
       [](installation &in) {
         // By the media server, which started before it.
         in.put("upnp_port", "30001");
       }},
  };
  for (broken &c : cases) {
    installation in;
    c.make(in);
    EXPECT_FALSE(in.start()) << c.what;
    EXPECT_EQ(in.s.data_home, nullptr) << c.what;
    EXPECT_EQ(in.s.device, nullptr) << c.what;
    EXPECT_EQ(fds_open(), fds) << c.what;
    EXPECT_TRUE(tarvo_test::eventually([&] { return threads_running() == threads; })) << c.what;
  }
}

TEST(ServerStart, DefaultSharesAreOfferedOnce)
{
  NEED_PRIVATE_NET();
  installation in;
  std::string music = in.dir / "Music";
  fs::create_directories(music);
  setenv("TARVO_COMMON_MUSIC", music.c_str(), 1);
  setenv("TARVO_COMMON_PICTURES", (in.dir / "missing").c_str(), 1);
  ASSERT_TRUE(in.start());
  EXPECT_EQ(default_shares_offer(&in.s), 1);
  EXPECT_EQ(in.get("sync/share/list"), music + "\n");
  EXPECT_EQ(in.get(CONF_KEY_SHARE_DONE), music + "\n");
  ASSERT_TRUE(share_scanner_lock(&in.s));
  EXPECT_TRUE(content_db_unshare(&in.s, music.c_str()));
  share_scanner_unlock(&in.s);
  in.stop();
  ASSERT_TRUE(in.start());
  EXPECT_EQ(default_shares_offer(&in.s), 1);
  EXPECT_EQ(in.get("sync/share/list"), "");
  EXPECT_EQ(in.get(CONF_KEY_SHARE_DONE), music + "\n");
  unsetenv("TARVO_COMMON_MUSIC");
  unsetenv("TARVO_COMMON_PICTURES");
}

// Clients keep browsing and downloading while the server starts and stops
// fifty times: nothing crashes, and no thread or descriptor stays.
TEST(ServerStart, FiftyStartsAndStopsUnderLoad)
{
  NEED_PRIVATE_NET();
  installation in;
  std::string media = in.dir / "media";
  fs::create_directories(media);
  scan_test::wav_write(media + "/tone.wav", 200000);
  in.put("sync/share/list", media + "\n");
  ASSERT_TRUE(in.start());
  std::string res;
  ASSERT_TRUE(tarvo_test::eventually([&] {
    std::string root = scan_test::child_titled(&in.s, "Container:UserFiles", "media");
    std::string tone = root.empty() ? "" : scan_test::child_titled(&in.s, root, "tone");
    scan_test::node n;
    if (tone.empty() || !scan_test::object_of(&in.s, tone, &n)) return false;
    for (const auto &[element, text] : n.props)
      if (element == "res") res = text;
    return !res.empty();
  }));
  in.stop();
  size_t fds = fds_open(), threads = threads_running();

  std::atomic<bool> stop{false};
  std::atomic<int> browsed{0}, downloaded{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 2; i++) {
    clients.emplace_back([&] {
      while (!stop) {
        if (media_test::request(kUpnpPort, scan_test::browse_request("Container:AllMusic")).status() == "200 OK") browsed++;
        else std::this_thread::sleep_for(5ms);
      }
    });
    clients.emplace_back([&] {
      while (!stop) {
        media_test::client c(kHttpPort);
        if (c.send("GET " + res + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nRANGE: bytes=100-\r\n\r\n") &&
            c.read_answer(false, 2000).status() == "206 partial content")
          downloaded++;
        else
          std::this_thread::sleep_for(5ms);
      }
    });
  }
  for (int i = 0; i < 50; i++) {
    ASSERT_TRUE(in.start()) << i;
    std::this_thread::sleep_for(50ms);
    in.stop();
  }
  stop = true;
  for (std::thread &t : clients) t.join();
  EXPECT_GT(browsed, 0);
  EXPECT_GT(downloaded, 0);
  EXPECT_EQ(fds_open(), fds);
  EXPECT_TRUE(tarvo_test::eventually([&] { return threads_running() == threads; }));
}

}  // namespace
