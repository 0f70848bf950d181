// The device list against the media server program, in a namespace of its
// own: discovery, control, events, and the ends of a device's life.
#include "cp_test.h"

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace cp_test;

namespace {

constexpr const char *kCd1 = "urn:schemas-upnp-org:service:ContentDirectory:1";

// The server on a laid-out data folder that starts serving at once.
struct server_run {
  tarvo_test::scratch_dir dir;
  pid_t pid = -1;
  bool start()
  {
    std::string service = dir / "service", data = dir / "data";
    std::filesystem::create_directories(service);
    tarvo_test::write_file(service + "/service_name", "Tarvo Media Server\n");
    tarvo_test::write_file(service + "/data_home", data + "\n");
    if (std::system((tarvo_test::data_dir() + "/../scripts/layout-data " + data + " >/dev/null").c_str())) return false;
    tarvo_test::write_file(data + "/conf/auto_run", "");
    const char *bin = std::getenv("TARVO_BIN");
    std::string prog = std::string(bin ? bin : "bin") + "/vennard", env0 = "TARVO_SERVICE_DIR=" + service;
    std::vector<char *> envp{env0.data()};
    for (char **e = environ; *e; e++) envp.push_back(*e);
    envp.push_back(nullptr);
    char *argv[] = {prog.data(), nullptr};
    return posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv, envp.data()) == 0;
  }
  void stop()
  {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~server_run()
  {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }
};

std::string between(const std::string &s, const std::string &a, const std::string &b)
{
  size_t at = s.find(a);
  if (at == std::string::npos) return "";
  at += a.size();
  return s.substr(at, s.find(b, at) - at);
}

std::string value_of(sys_str_list names, sys_str_list values, const std::string &name)
{
  for (size_t i = 0; names && names[i]; i++)
    if (name == names[i]) return values[i];
  return "";
}

TEST(Vennard, FoundControlledFollowedAndLost)
{
  CP_NEED_NET();
  server_run server;
  ASSERT_TRUE(server.start());
  std::string desc;
  ASSERT_TRUE(eventually([&] { return !(desc = http_exchange(30000, "GET / HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n", 0, 500)).empty(); }, 20000));
  const std::string udn = between(desc, "<UDN>", "</UDN>"), name = between(desc, "<friendlyName>", "</friendlyName>");
  ASSERT_FALSE(udn.empty());

  control_point cp;
  ASSERT_TRUE(cp.start({"urn:schemas-upnp-org:device:MediaServer:1"}));
  ASSERT_TRUE(tarvo_cp_discovery_search_async(&cp.ctx, 1));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::added) == 1; }, 10000));
  usleep(1500000);  // every answer to both copies of the search is in
  EXPECT_EQ(cp.seen.get(&recorder::added), (std::vector<std::string>{udn + " " + name + " http://127.0.0.1:30000/"}));

  char *url = nullptr;
  ASSERT_TRUE(tarvo_cp_get_control_url(&cp.ctx, udn.c_str(), kCd1, &url));
  EXPECT_EQ(std::string(url), "http://127.0.0.1:30000/control/ContentDirectory");
  sys_alloc_free(url);
  const std::string browse = std::string("<u:Browse xmlns:u=\"") + kCd1 +
                             "\"><ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                             "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse>";
  sys_str_list names = nullptr, values = nullptr;
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, udn.c_str(), kCd1, "Browse", browse.c_str(), &names, &values), 0u);
  EXPECT_EQ(value_of(names, values, "Result").rfind("<DIDL-Lite", 0), 0u);
  sys_str_list_free(names);
  sys_str_list_free(values);
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, "uuid:nobody", kCd1, "Browse", browse.c_str(), &names, &values), 501u);
  EXPECT_EQ(names, nullptr);

  // The first event, then one for a share added.
  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, udn.c_str(), kCd1, 300, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 1; }, 10000));
  tarvo_test::scratch_dir media;
  tarvo_test::write_file(media / "a.txt", "x");
  const std::string share = std::string("<u:X_Share xmlns:u=\"") + kCd1 + "\"><Path>" + media.path.string() + "</Path></u:X_Share>";
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, udn.c_str(), kCd1, "X_Share", share.c_str(), nullptr, nullptr), 0u);
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 2; }, 20000));
  EXPECT_EQ(cp.seen.get(&recorder::events),
            (std::vector<std::string>{udn + " " + kCd1 + " 0", udn + " " + kCd1 + " 1"}));

  // A new address: every device goes, and comes back on the next search.
  if (!sh("ip link add cpv0 type veth peer name cpv1")) GTEST_SKIP() << "no veth interfaces here";
  struct cleanup {
    ~cleanup() { sh("ip link del cpv0"); }
  } c;
  ASSERT_TRUE(sh("ip addr add 10.77.0.1/24 dev cpv0 && ip link set cpv0 up && ip link set cpv1 up"));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::removed) == 1; }, 15000));
  ASSERT_TRUE(eventually([&] {
    tarvo_cp_discovery_search_async(&cp.ctx, 1);
    return eventually([&] { return cp.seen.count(&recorder::added) == 2; }, 2000);
  }, 20000));
  EXPECT_EQ(cp.seen.get(&recorder::added)[1].rfind(udn + " " + name + " http://", 0), 0u);

  // The server stops: its goodbye removes it.
  server.stop();
  EXPECT_TRUE(eventually([&] { return cp.seen.count(&recorder::removed) == 2; }, 10000));
}

}  // namespace
