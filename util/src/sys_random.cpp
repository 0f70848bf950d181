// The process-wide pseudo-random generator, 0..32767.
#include <tarvo_util/sys_str.h>

#include <atomic>

namespace {
std::atomic<uint32_t> g_state{1};
}

extern "C" void sys_random_init(uint32_t seed)
{
  g_state.store(seed, std::memory_order_relaxed);
}

extern "C" int sys_random(void)
{
  // A compare-and-swap step keeps concurrent callers from sharing a value.
  uint32_t cur = g_state.load(std::memory_order_relaxed), next;
  do {
    next = cur * 214013u + 2531011u;
  } while (!g_state.compare_exchange_weak(cur, next, std::memory_order_relaxed));
  return int((next >> 16) & 0x7fff);
}
