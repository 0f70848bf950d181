// The server program end to end, inside a network namespace of its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "helper_client.h"
#include "media_test.h"
#include "tarvo_test.h"
#include "vennard_spawn.h"

namespace fs = std::filesystem;


namespace {

constexpr uint16_t DMSM_PORT = 30002;

// Enters a network namespace with only loopback, once for this program;
// an empty text when that worked, else why not.
const std::string &namespace_problem()
{
  return tarvo_test::private_net();
}

struct daemon_run {
  tarvo_test::scratch_dir dir;
  std::string service_dir = dir / "service";
  std::string data = dir / "data";
  std::string notify = dir / "notify";
  int notify_fd = -1;
  pid_t pid = -1;

  daemon_run()
  {
    fs::create_directories(service_dir);
    tarvo_test::write_file(service_dir + "/service_name", "Tarvo Media Server\n");
    tarvo_test::write_file(service_dir + "/data_home", data + "\n");
    std::string layout = tarvo_test::data_dir() + "/../scripts/layout-data " + data;
    EXPECT_EQ(std::system(layout.c_str()), 0);
    notify_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    notify.copy(sa.sun_path, sizeof sa.sun_path - 1);
    EXPECT_EQ(bind(notify_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  }
  ~daemon_run()
  {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(notify_fd);
  }

  void start(std::vector<std::string> extra_env = {})
  {
    extra_env.insert(extra_env.begin(), "NOTIFY_SOCKET=" + notify);
    ASSERT_TRUE(tarvo_test::spawn_vennard(service_dir, &pid, extra_env));
  }

  // The next notification within ms, or "" when none came.
  std::string notification(int ms = 10000)
  {
    pollfd p{notify_fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return "";
    char buf[256];
    ssize_t n = recv(notify_fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : "";
  }

  bool wait_ready()
  {
    for (std::string n; !(n = notification()).empty();)
      if (n.find("READY=1") != std::string::npos) return true;
    return false;
  }

  // The exit status, or -1 when the program did not exit by itself.
  int wait_exit(int ms = 20000)
  {
    for (int waited = 0; waited < ms; waited += 20) {
      int st = 0;
      if (waitpid(pid, &st, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      }
      usleep(20 * 1000);
    }
    return -1;
  }

  bool conf_exists(const std::string &key) { return fs::exists(data + "/conf/" + key); }
};

bool state_is(const std::string &answer, const std::string &line)
{
  return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace

TEST(daemon, serves_the_management_port_and_stops_on_sigterm)
{
  if (!namespace_problem().empty()) GTEST_SKIP() << namespace_problem();
  daemon_run d;
  d.start();
  ASSERT_TRUE(d.wait_ready());
  ASSERT_TRUE(mgmt_test::wait_listening(DMSM_PORT, 5000));
  EXPECT_TRUE(state_is(mgmt_test::get(DMSM_PORT, "/get_server_state"), "X-DUV-STATE: inactive"));
  EXPECT_EQ(mgmt_test::get(DMSM_PORT, "/start_server").rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_TRUE(state_is(mgmt_test::get(DMSM_PORT, "/get_server_state"), "X-DUV-STATE: active"));
  EXPECT_TRUE(state_is(mgmt_test::get(DMSM_PORT, "/get_auto_run_state"), "X-AUTO-RUN-STATE: inactive"));
  EXPECT_EQ(mgmt_test::get(DMSM_PORT, "/set_auto_run_state", "X-AUTO-RUN-STATE: active\r\n")
                .rfind("HTTP/1.1 200 OK\r\n", 0),
            0u);
  EXPECT_TRUE(d.conf_exists("auto_run"));
  EXPECT_EQ(mgmt_test::exchange(DMSM_PORT, "GET /get_server_state HTTP/1.1\r\n\r\n", "127.0.0.2"), "");

  // Power events and a control the service does not take leave it running.
  kill(d.pid, SIGUSR1);
  kill(d.pid, SIGUSR2);
  kill(d.pid, SIGHUP);
  EXPECT_TRUE(state_is(mgmt_test::get(DMSM_PORT, "/get_server_state"), "X-DUV-STATE: active"));

  kill(d.pid, SIGTERM);
  EXPECT_EQ(d.wait_exit(), 0);
  std::string rest;
  for (std::string n; !(n = d.notification(100)).empty();) rest += n + "|";
  EXPECT_NE(rest.find("STOPPING=1"), std::string::npos) << rest;

  // Started again, auto-run brings the server up at once.
  d.start();
  ASSERT_TRUE(d.wait_ready());
  ASSERT_TRUE(mgmt_test::wait_listening(DMSM_PORT, 5000));
  EXPECT_TRUE(state_is(mgmt_test::get(DMSM_PORT, "/get_server_state"), "X-DUV-STATE: active"));
  kill(d.pid, SIGINT);
  EXPECT_EQ(d.wait_exit(), 0);
}

TEST(daemon, exit_statuses_of_start_failures)
{
  // None of these reaches the network, so they need no namespace.
  {
    daemon_run d;
    fs::remove(d.service_dir + "/service_name");
    d.start();
    EXPECT_EQ(d.wait_exit(), 1);
  }
  {
    daemon_run d;
    tarvo_test::write_file(d.service_dir + "/data_home", "/" + std::string(300, 'x'));
    d.start();
    EXPECT_EQ(d.wait_exit(), 1);
  }
  {
    daemon_run d;
    tarvo_test::write_file(d.service_dir + "/data_home", "missing-folder");
    d.start({"TARVO_COMMON_APPDATA=" + d.dir.path.string()});
    EXPECT_EQ(d.wait_exit(), 2);
  }
}

// A stop that cannot save the content database (a full disk at SIGTERM)
// must not pass for a clean one: it is logged and the exit status says so,
// and the file on disk stays the last good one.
TEST(daemon, a_stop_that_cannot_save_exits_with_an_error)
{
  tarvo_test::scratch_dir logs;
  tarvo_test::small_tmpfs disk(4 << 20);
  if (!disk.problem.empty()) GTEST_SKIP() << disk.problem;
  if (!namespace_problem().empty()) GTEST_SKIP() << namespace_problem();
  setenv("TMPDIR", disk.path.c_str(), 1);
  daemon_run d;
  unsetenv("TMPDIR");
  std::string log = logs / "log";
  d.start({"SYS_LOG_LEVEL=3", "SYS_LOG_OUTPUT=" + log});
  ASSERT_TRUE(d.wait_ready());
  ASSERT_TRUE(mgmt_test::wait_listening(DMSM_PORT, 5000));
  ASSERT_EQ(mgmt_test::get(DMSM_PORT, "/start_server").rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  std::string data = d.data + "/conf/data.xml", before = tarvo_test::read_file(data);
  ASSERT_FALSE(before.empty());

  ASSERT_TRUE(disk.fill());
  std::string elements = media_test::didl(
      "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>lost</dc:title>"
      "<upnp:class>object.item.audioItem.musicTrack</upnp:class></item>");
  std::string escaped;
  for (char c : elements)
    escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  std::string body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:CreateObject "
                     "xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ContainerID>Container:UserFiles"
                     "</ContainerID><Elements>" + escaped + "</Elements></u:CreateObject></s:Body></s:Envelope>";
  std::string answer = mgmt_test::exchange(
      30000, "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1:30000\r\nCONTENT-TYPE: text/xml; "
             "charset=\"utf-8\"\r\nSOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#CreateObject\"\r\n"
             "Connection: close\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  kill(d.pid, SIGTERM);
  EXPECT_EQ(d.wait_exit(), 4);
  EXPECT_EQ(tarvo_test::read_file(data), before);
  EXPECT_NE(tarvo_test::read_file(log).find("lost at the stop"), std::string::npos) << tarvo_test::read_file(log);
}
