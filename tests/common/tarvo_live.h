// The one bound on a test's wait for something that must happen at all,
// and the wait on a state read back.  Tests assert no quicker time than
// this: how fast a thing happens is a figure of the programs in bench/.
#pragma once

#include <chrono>
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

}  // namespace tarvo_test
