// Sleep and wake from the login manager (a stand-in on a bus of its own):
// the server program says byebye on every address before it lets the
// system sleep, and alive again at once after the wake.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "tarvo_test.h"
#include "vennard_run.h"

namespace {

using steady = std::chrono::steady_clock;

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

int ms_since(steady::time_point t)
{
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - t).count());
}

// The header's value in one datagram, "" when it has none.
std::string header(const std::string &d, const std::string &name)
{
  size_t at = d.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return d.substr(at, d.find("\r\n", at) - at);
}

// utime + stime of the process, in clock ticks.
uint64_t cpu_ticks(pid_t pid)
{
  std::string stat = tarvo_test::read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return 0;
  std::istringstream fields(stat.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; i++) fields >> skip;
  uint64_t user = 0, sys = 0;
  fields >> user >> sys;
  return user + sys;
}

// A socket in the SSDP group that takes only what arrives on the
// interface of one address.
struct group_socket : tarvo_test::ssdp_listener {
  explicit group_socket(const char *ip) : ssdp_listener(ip) {}
  // The NT of each NOTIFY with that NTS, and how often it came: those
  // queued already and those that come within ms, until the first one
  // when first is set.
  std::map<std::string, int> take(const std::string &nts, int ms, bool first = false)
  {
    std::map<std::string, int> got;
    auto t0 = steady::now();
    for (int left = ms; left >= 0; left = ms - ms_since(t0)) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) break;
      char buf[2048];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      std::string d(buf, size_t(n > 0 ? n : 0));
      if (header(d, "NTS") != nts) continue;
      got[header(d, "NT")]++;
      if (first) break;
    }
    return got;
  }
};

// The stand-in, fed commands on its input; its output read line by line.
struct login_standin {
  pid_t pid = -1;
  int to = -1, from = -1;
  std::string buf;
  bool start(const std::string &folder)
  {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::string py = "/usr/bin/python3", script = tarvo_test::data_dir() + "/server/logind_standin.py";
    std::string dir = folder;
    char *argv[] = {py.data(), script.data(), dir.data(), nullptr};
    bool ok = posix_spawn(&pid, py.c_str(), &fa, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    to = in[1];
    from = out[0];
    return ok;
  }
  // The next line that begins with prefix within ms, "" when none came.
  std::string line(const std::string &prefix, int ms)
  {
    auto t0 = steady::now();
    for (;;) {
      for (size_t nl; (nl = buf.find('\n')) != std::string::npos;) {
        std::string l = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (l.rfind(prefix, 0) == 0) return l;
      }
      pollfd p{from, POLLIN, 0};
      char chunk[512];
      ssize_t n = poll(&p, 1, std::max(0, ms - ms_since(t0))) > 0 ? read(from, chunk, sizeof chunk) : 0;
      if (n <= 0) return "";
      buf.append(chunk, size_t(n));
    }
  }
  bool say(const std::string &command) { return write(to, (command + "\n").data(), command.size() + 1) > 0; }
  // Input closed: the stand-in and its bus end.
  int stop()
  {
    close(to);
    to = -1;
    return tarvo_test::wait_exit(pid, 5000);
  }
  ~login_standin()
  {
    if (to >= 0) stop();
    if (from >= 0) close(from);
  }
};

TEST(SleepWake, ByebyeOnEveryAddressBeforeTheSystemSleepsAndAliveAfterTheWake)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  int status = -1;
  tarvo_test::command_output("command -v dbus-daemon && /usr/bin/python3 -c 'from gi.repository import Gio'", &status);
  if (status != 0) GTEST_SKIP() << "dbus-daemon or /usr/bin/python3 with python3-gi is missing";
  if (!sh("ip link add slpa0 type veth peer name slpa1 && ip link add slpb0 type veth peer name slpb1"))
    GTEST_SKIP() << "no veth interfaces here";
  struct cleanup {
    ~cleanup()
    {
      sh("ip link del slpa0; ip link del slpb0");
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  } gone;
  ASSERT_TRUE(sh("ip addr add 10.40.0.1/24 dev slpa0 && ip link set slpa0 up && ip link set slpa1 up && "
                 "ip addr add 10.41.0.1/24 dev slpb0 && ip link set slpb0 up && ip link set slpb1 up"));
  tarvo_test::scratch_dir bus_dir;
  login_standin logind;
  ASSERT_TRUE(logind.start(bus_dir.path.string()));
  std::string bus = logind.line("bus ", 5000);
  ASSERT_FALSE(bus.empty());
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.substr(4).c_str(), 1);
  group_socket on[2] = {group_socket("10.40.0.1"), group_socket("10.41.0.1")};

  tarvo_test::vennard_run run(31330);
  ASSERT_GT(run.pid, 0);
  EXPECT_EQ(logind.line("inhibit ", 5000), "inhibit Tarvo_Media_Server sleep delay");
  for (group_socket &g : on) ASSERT_FALSE(g.take("ssdp:alive", 5000, true).empty());
  usleep(1500 * 1000);  // the rest of the start's alive set
  for (group_socket &g : on) g.take("ssdp:alive", 0);

  ASSERT_TRUE(logind.say("sleep"));
  ASSERT_EQ(logind.line("released sleep", 5000), "released sleep");
  // What was sent before the inhibitor went is queued here already: the
  // whole set, twice, on both addresses.
  for (group_socket &g : on) {
    std::map<std::string, int> byebye = g.take("ssdp:byebye", 0);
    EXPECT_EQ(byebye["upnp:rootdevice"], 2);
    EXPECT_EQ(byebye["urn:schemas-upnp-org:service:ContentDirectory:1"], 2);
    EXPECT_GE(byebye.size(), 4u);
    for (const auto &[nt, n] : byebye) EXPECT_EQ(n, 2) << nt;
  }

  ASSERT_TRUE(logind.say("wake"));
  ASSERT_FALSE(logind.line("woke", 2000).empty());
  auto woke = steady::now();
  for (group_socket &g : on) EXPECT_FALSE(g.take("ssdp:alive", 1000 - ms_since(woke), true).empty());
  EXPECT_LE(ms_since(woke), 1000);
  // Held again for the next sleep.
  EXPECT_EQ(logind.line("inhibit ", 2000), "inhibit Tarvo_Media_Server sleep delay");

  // With the bus gone the server neither spins nor misses the signals.
  EXPECT_EQ(logind.stop(), 0);
  usleep(200 * 1000);
  uint64_t cpu = cpu_ticks(run.pid);
  usleep(500 * 1000);
  EXPECT_LE(cpu_ticks(run.pid) - cpu, 5u);
  kill(run.pid, SIGTERM);
  EXPECT_EQ(tarvo_test::wait_exit(run.pid, 5000), 0);
  run.pid = -1;
}

}  // namespace
