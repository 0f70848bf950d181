// Drives the login manager stand-in (logind_standin.py) for the tests of
// sleep and wake and of the keep-awake lock, and stands in for a system
// bus that never answers.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "tarvo_live.h"
#include "tarvo_test.h"

namespace tarvo_test {

// Why the stand-in cannot run here; empty when it can.
inline std::string login_standin_problem()
{
  int status = -1;
  command_output("command -v dbus-daemon && /usr/bin/python3 -c 'from gi.repository import Gio'", &status);
  return status == 0 ? "" : "dbus-daemon or /usr/bin/python3 with python3-gi is missing";
}

// The stand-in, fed commands on its input; its output read line by line.
struct login_standin {
  pid_t pid = -1;
  int to = -1, from = -1;
  std::string buf;
  // delay_s: the stand-in's InhibitDelayMaxSec; late: the login manager's
  // name owned only when told "own".
  bool start(const std::string &folder, int delay_s, bool late = false)
  {
    if (from >= 0) close(from);
    buf.clear();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::string py = "/usr/bin/python3", script = data_dir() + "/server/logind_standin.py";
    std::string dir = folder, delay = std::to_string(delay_s), mode = late ? "late" : "";
    char *argv[] = {py.data(), script.data(), dir.data(), delay.data(), mode.data(), nullptr};
    bool ok = posix_spawn(&pid, py.c_str(), &fa, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    to = in[1];
    from = out[0];
    return ok;
  }
  // The next line that begins with prefix within ms, "" when none came;
  // the lines before it go to passed when given.
  std::string line(const std::string &prefix, int ms, std::vector<std::string> *passed = nullptr)
  {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (size_t nl; (nl = buf.find('\n')) != std::string::npos;) {
        std::string l = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (l.rfind(prefix, 0) == 0) return l;
        if (passed) passed->push_back(l);
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{from, POLLIN, 0};
      char chunk[512];
      ssize_t n = poll(&p, 1, int(std::max<int64_t>(0, left.count()))) > 0 ? read(from, chunk, sizeof chunk) : 0;
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
    return wait_exit(pid, kLiveMs);
  }
  ~login_standin()
  {
    if (to >= 0) stop();
    if (from >= 0) close(from);
  }
};

// DBUS_SYSTEM_BUS_ADDRESS names the socket at path while it lives.
struct bus_address {
  explicit bus_address(const std::string &path)
  {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
  }
  ~bus_address() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

// The stand-in on a bus in a scratch folder of its own, which
// DBUS_SYSTEM_BUS_ADDRESS names while it lives.
struct login_bus {
  scratch_dir dir;
  bus_address address{dir / "bus"};
  login_standin logind;
  // Started, and its bus up.
  bool up(int delay_s = 60, bool late = false)
  {
    return logind.start(dir.path.string(), delay_s, late) && !logind.line("bus ", kLiveMs).empty();
  }
};

// A system bus that takes connections and never answers, not even with
// its greeting; DBUS_SYSTEM_BUS_ADDRESS names it while it lives.
struct silent_bus {
  scratch_dir dir;
  bus_address address{dir / "bus"};
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool listening = false;
  silent_bus()
  {
    std::string path = dir / "bus";
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    path.copy(sa.sun_path, sizeof sa.sun_path - 1);
    listening = bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 && listen(fd, 16) == 0;
  }
  ~silent_bus() { close(fd); }
  // Whether a client has connected (and waits for its greeting) within ms.
  bool connected(int ms) const
  {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
  }
};

}  // namespace tarvo_test
