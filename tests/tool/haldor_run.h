// The management tool as a child process of a test: started through the
// shell with extra environment, and waited for with a bound.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#include "tarvo_test.h"

namespace haldor_run {

inline std::string bin(const char *name) { return std::string(std::getenv("TARVO_BIN")) + "/" + name; }

// haldor with env ("NAME=value ...") added to the test's environment.
inline pid_t start(const std::string &env)
{
  pid_t pid = fork();
  if (pid == 0) {
    std::string cmd = "exec env " + env + " " + bin("haldor");
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

using tarvo_test::wait_exit;

// A program folder for haldor (its settings naming the management and
// UPnP ports, by default ports nothing listens on, its texts, the program
// linked in) and its data folder's ini.
inline void lay_out(const std::filesystem::path &prog, const std::filesystem::path &data, const std::string &lang,
                    uint16_t dmsm_port = 1, uint16_t upnp_port = 1)
{
  namespace fs = std::filesystem;
  fs::path b = std::getenv("TARVO_BIN");
  std::string setting = tarvo_test::read_file(b / "setting.xml");
  setting.replace(setting.find("30002"), 5, std::to_string(dmsm_port));
  setting.replace(setting.find("30000"), 5, std::to_string(upnp_port));
  tarvo_test::write_file(prog / "setting.xml", setting);
  fs::copy(b / "text", prog / "text", fs::copy_options::recursive);
  fs::create_symlink(b / "haldor", prog / "haldor");
  fs::create_directories(data / "tarvo/haldor");
  tarvo_test::write_file(data / "tarvo/haldor/haldor.ini", "[General]\r\nLang=" + lang + "\r\n");
}

// A started haldor that a failed assertion does not leave running (a frozen
// one would keep the test's output open).
struct running {
  pid_t pid;
  explicit running(pid_t p) : pid(p) {}
  running(const running &) = delete;
  running &operator=(const running &) = delete;
  ~running()
  {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  int wait_exit(int ms) { return tarvo_test::wait_exit(std::exchange(pid, -1), ms); }
};

}  // namespace haldor_run
