// The one bound on a test's wait for something that must happen at all,
// and the wait on a state read back.  Tests assert no quicker time than
// this: how fast a thing happens is a figure of the programs in bench/.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace tarvo_test {

// Long enough for a sanitizer build on a machine whose every core is busy;
// a hang or a missed event still fails the test.
constexpr int kLiveMs = 30000;
constexpr std::chrono::milliseconds kLive{kLiveMs};

// Whether f() comes to hold within ms, read again every 10 ms.
template <class F>
bool eventually(F &&f, int ms = kLiveMs)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (f()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The connections waiting in the accept queue of the TCP listener on port
// in this network namespace, as the kernel reports them (-1: no such
// listener): 0 once the listener has taken every connection made to it.
inline int accept_queue(uint16_t port)
{
  std::ifstream f("/proc/net/tcp");
  std::string line;
  std::getline(f, line);
  while (std::getline(f, line)) {
    unsigned local = 0, state = 0, tx = 0, rx = 0;
    if (std::sscanf(line.c_str(), " %*u: %*x:%x %*x:%*x %x %x:%x", &local, &state, &tx, &rx) == 4 &&
        local == port && state == 0x0A)
      return int(rx);
  }
  return -1;
}

}  // namespace tarvo_test
