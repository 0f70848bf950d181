// The management tool as a child process of a test: started through the
// shell with extra environment, and waited for with a bound.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
