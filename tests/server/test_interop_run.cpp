// The server as scripts/run starts it, seen by an independent UPnP
// control point (the GUPnP and GUPnP-AV Python bindings): discovery,
// description, Browse of the root and the category containers, Search,
// and a ranged download; then the power events on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "media_test.h"
#include "scan_test.h"
#include "tarvo_test.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

// scripts/run in the foreground, on a state folder of the test's.
struct run_script {
  tarvo_test::scratch_dir state;
  pid_t pid = -1;
  bool start()
  {
    const char *bin = std::getenv("TARVO_BIN");
    std::vector<std::string> env = {"TARVO_RUN_NO_SETUP=1",
                                    "TARVO_BUILD_DIR=" + fs::path(bin ? bin : "bin").parent_path().string(),
                                    "XDG_STATE_HOME=" + state.path.string(), "HOME=" + state.path.string(),
                                    "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string script = tarvo_test::data_dir() + "/../scripts/run", sh = "/bin/sh";
    std::string log = state / "run.log";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    char *argv[] = {sh.data(), script.data(), nullptr};
    int r = posix_spawn(&pid, sh.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0;
  }
  int stop()
  {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int st = 0;
    for (int i = 0; i < 1000 && waitpid(pid, &st, WNOHANG) != pid; i++) usleep(20000);
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  ~run_script()
  {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST(InteropRun, AnIndependentControlPointFindsBrowsesAndStreams)
{
  if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
  int status = -1;
  tarvo_test::command_output("/usr/bin/python3 -c \"import gi; gi.require_version('GUPnP', '1.6'); "
                             "gi.require_version('GUPnPAV', '1.0'); from gi.repository import GUPnP, GUPnPAV\" 2>&1",
                             &status);
  if (status != 0) GTEST_SKIP() << "/usr/bin/python3 with python3-gi and the GUPnP and GUPnP-AV typelibs is missing";
  ASSERT_EQ(std::system("ip link set lo multicast on"), 0);

  run_script run;
  ASSERT_TRUE(run.start());
  // The first scan has filed the samples (made with ffmpeg where it is
  // there) into the music categories.
  auto filed = [] {
    return media_test::request(30000, scan_test::browse_request("Container:AllMusic")).body.find("&lt;item") !=
           std::string::npos;
  };
  ASSERT_TRUE(tarvo_test::eventually(filed)) << tarvo_test::read_file(run.state / "run.log");

  std::string out = tarvo_test::command_output(
      "/usr/bin/python3 " + tarvo_test::data_dir() + "/server/gupnp_browse.py 30 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  for (const char *line : {"found http://127.0.0.1:30000/\n", "root Folders,Music,Pictures,Video\n",
                           "category Music Album,All Music,Artist,Genre,Playlists\n",
                           "category Video Actor,Album,All Video,Genre\n", "category Pictures Album,All Pictures\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  // Search finds every track that Container:AllMusic refers to (and the
  // entries of playlists), and a track's resource serves the range asked
  // for.
  auto rest_of = [&](const std::string &head) {
    size_t at = out.find("\n" + head);
    if (at == std::string::npos) return std::string();
    at += 1 + head.size();
    return out.substr(at, out.find('\n', at) - at);
  };
  std::string music = rest_of("all music "), search = rest_of("search ");
  EXPECT_FALSE(music.empty()) << out;
  std::string found = "," + search.substr(search.find(' ') + 1) + ",";
  for (size_t at = 0; at < music.size();) {
    size_t comma = std::min(music.find(',', at), music.size());
    EXPECT_NE(found.find("," + music.substr(at, comma - at) + ","), std::string::npos) << out;
    at = comma + 1;
  }
  std::string range = rest_of("range ");
  EXPECT_EQ(range.rfind("206 bytes 10-19/", 0), 0u) << out;
  EXPECT_EQ(range.substr(range.rfind(' ')), " 10") << out;

  // Suspend: goodbye, and no more answers; resume: presence again.
  tarvo_test::ssdp_listener ssdp;
  kill(run.pid, SIGUSR1);
  EXPECT_TRUE(ssdp.hears("ssdp:byebye", 5000));
  kill(run.pid, SIGUSR2);
  EXPECT_TRUE(ssdp.hears("ssdp:alive", 5000));
  EXPECT_EQ(run.stop(), 0);
}

}  // namespace
