// Threads, mutexes, semaphores, the condition variable and the bounded queue.
#include <tarvo_util/sys_thread.h>

#include <gtest/gtest.h>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "tarvo_live.h"

namespace {

using clk = std::chrono::steady_clock;

int64_t ms_since(clk::time_point t0)
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(clk::now() - t0).count();
}

// Runs a std::function on a new thread.
sys_thread_handle start(std::function<void()> *f)
{
  sys_thread_handle h = 0;
  EXPECT_EQ(sys_thread_create(&h, [](void *p) { (*static_cast<std::function<void()> *>(p))(); }, f), 1);
  return h;
}

// Whether another thread can take the mutex at once (it lets go again).
int trylock_elsewhere(sys_mutex_handle *m)
{
  std::atomic<int> got{-1};
  std::function<void()> f = [&] {
    got = sys_mutex_trylock(m);
    if (got) sys_mutex_unlock(m);
  };
  sys_thread_join(start(&f));
  return got;
}

uint32_t waiting_count(sys_sync_rec *s)
{
  sys_mutex_lock(&s->mutex);
  uint32_t n = s->waiting.len;
  sys_mutex_unlock(&s->mutex);
  return n;
}

TEST(Thread, RunsJoinsAndDetaches)
{
  std::atomic<int> ran{0};
  std::function<void()> f = [&] { ran++; };
  sys_thread_handle a = start(&f), b = start(&f);
  EXPECT_EQ(sys_thread_join(a), 1);
  EXPECT_EQ(sys_thread_detach(b), 1);
  EXPECT_TRUE(tarvo_test::eventually([&] { return ran == 2; }));
}

TEST(Thread, SleepLastsAtLeastItsTime)
{
  auto t0 = clk::now();
  EXPECT_EQ(sys_thread_sleep(60), 1);
  EXPECT_GE(ms_since(t0), 59);
}

TEST(Process, JoinWaitsForTheNamedChildOnly)
{
  pid_t kid = fork();
  if (kid == 0) {
    usleep(50000);
    _exit(3);
  }
  ASSERT_GT(kid, 0);
  // 0 and -1 would reap any child in waitpid; they must not here.
  EXPECT_EQ(sys_process_join(0), 0);
  EXPECT_EQ(sys_process_join(-1), 0);
  EXPECT_EQ(sys_process_join(kid), 1);
  EXPECT_EQ(sys_process_join(kid), 0);  // already gone
}

TEST(Mutex, IsReentrantAndOwnedByOneThread)
{
  sys_mutex_handle m = nullptr;
  ASSERT_EQ(sys_mutex_create(&m), 1);
  ASSERT_EQ(sys_mutex_lock(&m), 1);
  ASSERT_EQ(sys_mutex_trylock(&m), 1);

  std::atomic<int> unlock_other{-1};
  std::function<void()> f = [&] { unlock_other = sys_mutex_unlock(&m); };
  sys_thread_join(start(&f));
  EXPECT_EQ(unlock_other, 0);  // not the owner
  EXPECT_EQ(trylock_elsewhere(&m), 0);

  EXPECT_EQ(sys_mutex_unlock(&m), 1);
  EXPECT_EQ(trylock_elsewhere(&m), 0);  // one level still held
  EXPECT_EQ(sys_mutex_unlock(&m), 1);
  EXPECT_EQ(sys_mutex_unlock(&m), 0);  // nothing left to release
  EXPECT_EQ(trylock_elsewhere(&m), 1);

  EXPECT_EQ(sys_mutex_destroy(&m), 1);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(sys_mutex_lock(&m), 0);
  EXPECT_EQ(sys_mutex_destroy(&m), 0);
}

TEST(Mutex, AbandonedByADeadOwnerFailsOnceAndIsFreeAfterwards)
{
  sys_mutex_handle m = nullptr;
  ASSERT_EQ(sys_mutex_create(&m), 1);
  std::function<void()> f = [&] {
    sys_mutex_lock(&m);
    sys_mutex_lock(&m);
  };
  sys_thread_join(start(&f));
  EXPECT_EQ(sys_mutex_lock(&m), 0);
  // The failed call left it free: another thread can take it.
  EXPECT_EQ(trylock_elsewhere(&m), 1);
  EXPECT_EQ(sys_mutex_lock(&m), 1);
  EXPECT_EQ(sys_mutex_unlock(&m), 1);

  sys_thread_join(start(&f));
  EXPECT_EQ(sys_mutex_trylock(&m), 0);
  EXPECT_EQ(sys_mutex_trylock(&m), 1);
  sys_mutex_unlock(&m);
  sys_mutex_destroy(&m);
}

// The mutexes a thread holds are on a list that the kernel walks when the
// thread ends; a freed mutex must not stay on it.
bool holds_no_mutex()
{
  robust_list_head *head = nullptr;
  size_t len = 0;
  if (syscall(SYS_get_robust_list, 0, &head, &len) != 0 || !head) return false;
  return head->list.next == &head->list;
}

TEST(Mutex, DestroyedWhileHeldLeavesNothingBehind)
{
  std::atomic<int> before{-1}, after{-1};
  std::function<void()> f = [&] {
    sys_mutex_handle a = nullptr, b = nullptr;
    if (!sys_mutex_create(&a) || !sys_mutex_create(&b)) return;
    sys_mutex_lock(&a);
    sys_mutex_lock(&a);
    sys_mutex_lock(&b);
    sys_mutex_unlock(&b);
    before = holds_no_mutex();
    sys_mutex_destroy(&a);
    after = holds_no_mutex();
    sys_mutex_lock(&b);
    sys_mutex_unlock(&b);
    sys_mutex_destroy(&b);
  };
  sys_thread_join(start(&f));
  EXPECT_EQ(before, 0);
  EXPECT_EQ(after, 1);
}

TEST(Semaphore, CountsWithinItsMaximum)
{
  sys_semaphore_handle s = nullptr;
  EXPECT_EQ(sys_semaphore_create(&s, 0, 0), 0);
  EXPECT_EQ(sys_semaphore_create(&s, 3, 2), 0);
  ASSERT_EQ(sys_semaphore_create(&s, 1, 2), 1);
  EXPECT_EQ(sys_semaphore_increase(&s), 1);
  EXPECT_EQ(sys_semaphore_increase(&s), 0);  // past the maximum
  EXPECT_EQ(sys_semaphore_trywait(&s), 1);
  EXPECT_EQ(sys_semaphore_wait(&s, 0), 1);
  EXPECT_EQ(sys_semaphore_trywait(&s), 0);
  EXPECT_EQ(sys_semaphore_destroy(&s), 1);
  EXPECT_EQ(s, nullptr);
}

TEST(Semaphore, WaitTimesOutAndWakesOnIncrease)
{
  sys_semaphore_handle s = nullptr;
  ASSERT_EQ(sys_semaphore_create(&s, 0, 1), 1);
  auto t0 = clk::now();
  EXPECT_EQ(sys_semaphore_wait(&s, 50), 0);
  int64_t took = ms_since(t0);
  EXPECT_GE(took, 49);
  EXPECT_LT(took, tarvo_test::kLiveMs);

  std::function<void()> f = [&] {
    sys_thread_sleep(50);
    sys_semaphore_increase(&s);
  };
  // The clock starts before the thread: under load it may sleep its 50 ms
  // before this thread runs again.
  t0 = clk::now();
  sys_thread_handle h = start(&f);
  EXPECT_EQ(sys_semaphore_wait(&s, 0), 1);
  EXPECT_GE(ms_since(t0), 40);
  sys_thread_join(h);
  sys_semaphore_destroy(&s);
}

struct sync_fixture : ::testing::Test {
  sys_sync_rec sync{};
  sys_mutex_handle m = nullptr;
  void SetUp() override
  {
    ASSERT_EQ(sys_sync_create(&sync), 1);
    ASSERT_EQ(sys_mutex_create(&m), 1);
  }
  void TearDown() override
  {
    sys_mutex_destroy(&m);
    EXPECT_EQ(sys_sync_destroy(&sync), 1);
  }
};

TEST_F(sync_fixture, TimedWaitTimesOutWithTheMutexHeldAgain)
{
  sys_mutex_lock(&m);
  auto t0 = clk::now();
  EXPECT_EQ(sys_sync_timedwait(&sync, &m, 60), 0);
  EXPECT_GE(ms_since(t0), 59);
  EXPECT_EQ(waiting_count(&sync), 0u);
  EXPECT_EQ(trylock_elsewhere(&m), 0);
  sys_mutex_unlock(&m);
  EXPECT_EQ(trylock_elsewhere(&m), 1);
}

TEST_F(sync_fixture, NotifyWithoutWaitersIsNotKeptForLaterOnes)
{
  EXPECT_EQ(sys_sync_notify(&sync), 1);
  EXPECT_EQ(sys_sync_notify_all(&sync), 1);
  sys_mutex_lock(&m);
  EXPECT_EQ(sys_sync_timedwait(&sync, &m, 50), 0);
  sys_mutex_unlock(&m);
}

TEST_F(sync_fixture, NotifyWakesTheLongestWaitingFirst)
{
  std::atomic<int> order{0}, a_done{0}, b_done{0};
  std::function<void()> fa = [&] {
    sys_mutex_lock(&m);
    if (sys_sync_wait(&sync, &m)) a_done = ++order;
    sys_mutex_unlock(&m);
  };
  std::function<void()> fb = [&] {
    sys_mutex_lock(&m);
    if (sys_sync_timedwait(&sync, &m, 10000)) b_done = ++order;
    sys_mutex_unlock(&m);
  };
  sys_thread_handle ha = start(&fa);
  ASSERT_TRUE(tarvo_test::eventually([&] { return waiting_count(&sync) == 1; }));
  sys_thread_handle hb = start(&fb);
  ASSERT_TRUE(tarvo_test::eventually([&] { return waiting_count(&sync) == 2; }));

  sys_mutex_lock(&m);
  sys_sync_notify(&sync);
  sys_mutex_unlock(&m);
  sys_thread_join(ha);
  EXPECT_EQ(a_done, 1);
  sys_thread_sleep(50);
  EXPECT_EQ(b_done, 0);  // still waiting: one notify, one waiter
  EXPECT_EQ(waiting_count(&sync), 1u);

  sys_mutex_lock(&m);
  sys_sync_notify(&sync);
  sys_mutex_unlock(&m);
  sys_thread_join(hb);
  EXPECT_EQ(b_done, 2);
}

TEST_F(sync_fixture, NotifyAllWakesEveryWaiter)
{
  constexpr int n = 6;
  std::atomic<int> woke{0};
  std::function<void()> f = [&] {
    sys_mutex_lock(&m);
    if (sys_sync_timedwait(&sync, &m, 10000)) woke++;
    sys_mutex_unlock(&m);
  };
  std::vector<sys_thread_handle> hs;
  for (int i = 0; i < n; i++) hs.push_back(start(&f));
  ASSERT_TRUE(tarvo_test::eventually([&] { return waiting_count(&sync) == n; }));
  sys_mutex_lock(&m);
  sys_sync_notify_all(&sync);
  sys_mutex_unlock(&m);
  for (auto h : hs) sys_thread_join(h);
  EXPECT_EQ(woke, n);
}

TEST_F(sync_fixture, TimedWaitKeepsItsLimitWhileOthersAreWoken)
{
  // Five older waiters are notified one by one while a younger one waits
  // with a limit: waking for the others must not restart its limit.
  std::function<void()> old = [&] {
    sys_mutex_lock(&m);
    sys_sync_wait(&sync, &m);
    sys_mutex_unlock(&m);
  };
  std::vector<sys_thread_handle> hs;
  for (int i = 0; i < 5; i++) hs.push_back(start(&old));
  ASSERT_TRUE(tarvo_test::eventually([&] { return waiting_count(&sync) == 5; }));

  std::atomic<int> result{-1}, notified{0}, notified_at_return{-1};
  std::atomic<int64_t> took{0};
  std::function<void()> young = [&] {
    sys_mutex_lock(&m);
    auto t0 = clk::now();
    result = sys_sync_timedwait(&sync, &m, 400);
    took = ms_since(t0);
    notified_at_return = notified.load();
    sys_mutex_unlock(&m);
  };
  sys_thread_handle hy = start(&young);
  ASSERT_TRUE(tarvo_test::eventually([&] { return waiting_count(&sync) == 6; }));
  for (int i = 0; i < 5; i++) {
    sys_thread_sleep(150);
    sys_mutex_lock(&m);
    sys_sync_notify(&sync);
    notified++;
    sys_mutex_unlock(&m);
  }
  sys_thread_join(hy);
  for (auto h : hs) sys_thread_join(h);
  EXPECT_EQ(result, 0);
  EXPECT_GE(took, 399);
  // Its limit ran out among the notifications (after the second of the
  // 750 ms of them); one restarted by each would outlast them all.
  EXPECT_LT(notified_at_return, 5);
}

TEST_F(sync_fixture, NoWakeUpIsLostUnderLoad)
{
  // Consumers take tokens that a producer hands out one notify each; a
  // notified waiter that fails to return leaves tokens behind.
  constexpr int consumers = 4, tokens = 4000;
  int avail = 0, taken = 0;
  std::atomic<int> stalls{0};
  bool done = false;
  std::function<void()> consume = [&] {
    sys_mutex_lock(&m);
    for (;;) {
      while (avail == 0 && !done)
        if (!sys_sync_timedwait(&sync, &m, 5000)) stalls++;
      if (avail == 0) break;
      avail--;
      taken++;
    }
    sys_mutex_unlock(&m);
  };
  std::vector<sys_thread_handle> hs;
  for (int i = 0; i < consumers; i++) hs.push_back(start(&consume));
  for (int i = 0; i < tokens; i++) {
    sys_mutex_lock(&m);
    avail++;
    sys_sync_notify(&sync);
    sys_mutex_unlock(&m);
  }
  sys_mutex_lock(&m);
  done = true;
  sys_sync_notify_all(&sync);
  sys_mutex_unlock(&m);
  for (auto h : hs) sys_thread_join(h);
  EXPECT_EQ(taken, tokens);
  EXPECT_EQ(stalls, 0);
}

TEST(Sync, DestroyAcceptsNull)
{
  EXPECT_EQ(sys_sync_destroy(nullptr), 1);
}

TEST(Queue, WakeEndsAWaitingReadAndLosesNoValue)
{
  queue_async_rec q;
  ASSERT_EQ(queue_async_create(&q, 2), 1);
  auto t0 = clk::now();
  std::thread waker([&] {
    sys_thread_sleep(50);
    queue_async_wake(&q);
  });
  uintptr_t v = 0;
  EXPECT_EQ(queue_async_read(&q, tarvo_test::kLiveMs, &v), 0);
  EXPECT_LT(ms_since(t0), tarvo_test::kLiveMs);  // not waited out
  waker.join();
  // A wake that meets a full queue costs one read and no value.
  EXPECT_EQ(queue_async_write(&q, 0, 1), 1);
  EXPECT_EQ(queue_async_write(&q, 0, 2), 1);
  queue_async_wake(&q);
  std::vector<uintptr_t> got;
  for (int i = 0; i < 4; i++)
    if (queue_async_read(&q, 1, &v)) got.push_back(v);
  EXPECT_EQ(got, (std::vector<uintptr_t>{1, 2}));
  queue_async_destroy(&q);
}

TEST(Queue, KeepsOrderAndBlocksWhenFullOrEmpty)
{
  queue_async_rec q;
  ASSERT_EQ(queue_async_create(&q, 2), 1);
  uintptr_t v = 99;
  auto t0 = clk::now();
  EXPECT_EQ(queue_async_read(&q, 50, &v), 0);
  EXPECT_GE(ms_since(t0), 49);
  EXPECT_EQ(v, 99u);

  EXPECT_EQ(queue_async_write(&q, 0, 1), 1);
  EXPECT_EQ(queue_async_write(&q, 0, 2), 1);
  t0 = clk::now();
  EXPECT_EQ(queue_async_write(&q, 50, 3), 0);  // full
  EXPECT_GE(ms_since(t0), 49);

  std::vector<uintptr_t> got;
  std::function<void()> reader = [&] {
    sys_thread_sleep(50);
    for (int i = 0; i < 3; i++) {
      uintptr_t x;
      if (queue_async_read(&q, 0, &x)) got.push_back(x);
    }
  };
  // The clock starts before the reader, which may sleep its 50 ms before
  // this thread runs again.
  t0 = clk::now();
  sys_thread_handle h = start(&reader);
  EXPECT_EQ(queue_async_write(&q, 0, 3), 1);  // waits for the reader
  EXPECT_GE(ms_since(t0), 40);
  sys_thread_join(h);
  EXPECT_EQ(got, (std::vector<uintptr_t>{1, 2, 3}));
  EXPECT_EQ(queue_async_read(&q, 10, &v), 0);
  EXPECT_EQ(queue_async_destroy(&q), 1);
}

TEST(Queue, CarriesPointersInOrderBetweenTwoThreads)
{
  queue_async_rec q;
  ASSERT_EQ(queue_async_create(&q, 7), 1);
  constexpr int n = 20000;
  std::vector<int> items(n);
  std::function<void()> writer = [&] {
    for (int i = 0; i < n; i++) {
      items[i] = i;
      queue_async_write(&q, 0, reinterpret_cast<uintptr_t>(&items[i]));
    }
  };
  sys_thread_handle h = start(&writer);
  int bad = 0;
  for (int i = 0; i < n; i++) {
    uintptr_t v = 0;
    if (!queue_async_read(&q, 5000, &v) || reinterpret_cast<int *>(v) != &items[i] || items[i] != i) bad++;
  }
  sys_thread_join(h);
  EXPECT_EQ(bad, 0);
  queue_async_destroy(&q);
}

TEST(Queue, CapacityZeroIsRefusedAndLeavesNothingOpen)
{
  queue_async_rec q;
  EXPECT_EQ(queue_async_create(&q, 0), 0);
  EXPECT_EQ(q.items, nullptr);
  EXPECT_EQ(q.free_slots, nullptr);
  EXPECT_EQ(q.slots, nullptr);
  EXPECT_EQ(queue_async_destroy(&q), 1);
}

}  // namespace
